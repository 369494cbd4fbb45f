#include <tiffio.h>

#include <QDir>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "AcquisitionBlocks.h"
#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "PlaneView.h"
#include "SaveGroup.h"
#include "WindowTest.h"

using namespace korvane::testsupport;

namespace {

struct TiffPlane {
    int bits = 0;
    int format = 0;
    QSize size;
    std::vector<double> values;  // row by row
    QString description;
};

std::vector<TiffPlane> readTiff(const QString& aPath) {
    std::vector<TiffPlane> planes;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(aPath.toLocal8Bit().constData(), "r"), TIFFClose);
    if (!tiff) return planes;
    do {
        TiffPlane plane;
        uint32_t width = 0, height = 0;
        uint16_t bits = 0, format = SAMPLEFORMAT_UINT;
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
        plane.bits = bits;
        plane.format = format;
        plane.size = QSize(int(width), int(height));
        const char* description = nullptr;
        if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEDESCRIPTION, &description) && description)
            plane.description = QString::fromUtf8(description);
        std::vector<unsigned char> row(size_t(TIFFScanlineSize(tiff.get())));
        for (uint32_t y = 0; y < height; ++y) {
            TIFFReadScanline(tiff.get(), row.data(), y);
            for (uint32_t x = 0; x < width; ++x) {
                double v = 0;
                if (format == SAMPLEFORMAT_IEEEFP)
                    v = reinterpret_cast<const float*>(row.data())[x];
                else if (bits == 32)
                    v = reinterpret_cast<const uint32_t*>(row.data())[x];
                else if (bits == 16)
                    v = reinterpret_cast<const uint16_t*>(row.data())[x];
                else
                    v = row[x];
                plane.values.push_back(v);
            }
        }
        planes.push_back(plane);
    } while (TIFFReadDirectory(tiff.get()));
    return planes;
}

}  // namespace

// The Save group: the view as shown, the plane's values, the whole file, replacing and failing.
class SaveGroupTest : public WindowTest {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> mFolder;

    void open(const LsmSpec& aSpec) { openStack(aSpec); }
    // Saves under aName as the user does: the name typed, then Return.
    void saveAs(const QString& aName, bool aFullFile = false) {
        (aFullFile ? mWindow->mSaveAllRadioButton : mWindow->mSaveCurrentRadioButton)->setChecked(true);
        mWindow->mSaveFileNameLineEdit->setFocus();
        mWindow->mSaveFileNameLineEdit->setText(aName);
        QTest::keyClick(mWindow->mSaveFileNameLineEdit, Qt::Key_Return);
    }
    FullFileExport& fullFile() { return mWindow->findChild<SaveGroup*>()->fullFileExport(); }
    QString path(const QString& aName) const { return mFolder->filePath(aName); }
    QStringList leftovers() const { return QDir(mFolder->path()).entryList(QDir::Files | QDir::Hidden); }

  private slots:
    void init() {
        QVERIFY(showWindow(false));
        mFolder = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { mWindow.reset(); }

    void currentPlaneWritesThePictureOrTheValuesInTheirType_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("loadAs");
        QTest::addColumn<bool>("scaleBar");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("format");
        QTest::newRow("png") << "plane.png"
                             << "TYPE_UINT16" << false << 0 << 0;
        QTest::newRow("png with scale bar") << "plane.PNG"
                                            << "TYPE_UINT16" << true << 0 << 0;
        QTest::newRow("16-bit values") << "plane.ome.tif"
                                       << "TYPE_UINT16" << false << 16 << SAMPLEFORMAT_UINT;
        QTest::newRow("loaded as 32-bit") << "plane.tiff"
                                          << "TYPE_UINT32" << false << 32 << SAMPLEFORMAT_UINT;
        QTest::newRow("loaded as float") << "plane.tif"
                                         << "TYPE_FLOAT" << false << 32 << SAMPLEFORMAT_IEEEFP;
    }
    void currentPlaneWritesThePictureOrTheValuesInTheirType() {
        QFETCH(QString, name);
        QFETCH(QString, loadAs);
        QFETCH(bool, scaleBar);
        QFETCH(int, bits);
        QFETCH(int, format);
        LsmSpec recipe = lsmSpec(300, 200, 3, 2, 1, {kLsmUint16, kLsmUint16});
        recipe.blocks = timeBlocks(1, 0);
        recipe.blocks.push_back({lsmrecord::kOffsetScanInformation, quirkyScanInformation()});
        open(recipe);
        mWindow->mChannelSpinBox->setValue(1);
        mWindow->mZPlaneSpinBox->setValue(2);
        mWindow->mImageDataTypeComboBox->setCurrentText(loadAs);
        mWindow->viewState().setScaleBar(scaleBar);
        mWindow->mImageLabel->setZoom(4.0);
        ModalBoxCatcher catcher;
        saveAs(path(name));
        QCOMPARE(catcher.describe(), QString());
        QCOMPARE(leftovers(), QStringList{name});
        if (bits == 0) {
            // The whole plane at 100 %, whatever the zoom, with the bar in the plane's corner.
            const QImage written = QImage(path(name), "png").convertToFormat(QImage::Format_RGB32);
            const QImage picture = mWindow->picture().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(written.size(), QSize(300, 200));
            QCOMPARE(written.copy(0, 0, 150, 100), picture.copy(0, 0, 150, 100));
            QCOMPARE(written.copy(150, 100, 150, 100) != picture.copy(150, 100, 150, 100), scaleBar);
            return;
        }
        const std::vector<TiffPlane> planes = readTiff(path(name));
        QCOMPARE(int(planes.size()), 1);
        // The acquisition record comes along, as a conversion of the whole file writes it.
        QVERIFY(planes[0].description.contains("<AcquisitionDate>2017-06-02T15:37:43</AcquisitionDate>"));
        QVERIFY(planes[0].description.contains("<Objective ") && planes[0].description.contains("DeltaT="));
        QCOMPARE(planes[0].bits, bits);
        QCOMPARE(planes[0].format, format);
        QCOMPARE(planes[0].size, QSize(300, 200));
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x)
                QCOMPARE(planes[0].values[size_t(y * 300 + x)], expectedSample(mSpec, 0, 1, 2, y, x));
    }

    void fullFileIsTheStackAndCancelLeavesNothing() {
        open(lsmSpec(256, 128, 12, 2, 2, {kLsmUint16, kLsmUint16}));
        ModalBoxCatcher catcher;
        saveAs(path("stack.ome.tif"), true);
        QTRY_VERIFY(!fullFile().isRunning());
        QCOMPARE(catcher.describe(), QString());
        const std::vector<TiffPlane> planes = readTiff(path("stack.ome.tif"));
        QCOMPARE(int(planes.size()), 2 * 2 * 12);
        for (int t = 0, i = 0; t < 2; ++t)
            for (int c = 0; c < 2; ++c)
                for (int z = 0; z < 12; ++z, ++i) {
                    QCOMPARE(planes[size_t(i)].bits, 16);
                    for (int y = 0; y < 128; y += 9)
                        for (int x = 0; x < 256; x += 7)
                            QCOMPARE(planes[size_t(i)].values[size_t(y * 256 + x)],
                                     expectedSample(mSpec, t, c, z, y, x));
                }

        saveAs(path("cancelled.ome.tif"), true);
        mWindow->findChild<QToolButton*>("mSaveCancel")->click();
        QTRY_VERIFY(!fullFile().isRunning());
        QCOMPARE(catcher.describe(), QString());
        QCOMPARE(leftovers(), QStringList{"stack.ome.tif"});
    }

    void replacingAsksFirstAndFailuresLeaveNothing() {
        LsmSpec recipe = lsmSpec(64, 32, 6, 1, 1);
        recipe.stripFaults = {{4, 0, StripFaultKind::OffsetBeyondEndOfFile, 0}};  // plane 4 cannot be read
        open(recipe);
        const QString existing = path("old.png");
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        file.close();

        ModalBoxCatcher catcher;
        catcher.setMessageAnswer(QMessageBox::No);
        saveAs(existing);
        QCOMPARE(catcher.describe(), QString("Replace File: '%1' already exists. Replace it?").arg(existing));
        QCOMPARE(QFileInfo(existing).size(), 3);
        catcher.clear();
        catcher.setMessageAnswer(QMessageBox::Yes);
        saveAs(existing);
        QCOMPARE(catcher.count(), 1);
        QCOMPARE(QImage(existing).size(), QSize(64, 32));

        // A name that leads to the file being viewed is refused; a folder that is not there and a stack
        // that cannot be read fail with a message. None of them leaves anything.
        catcher.clear();
        QVERIFY(QFile::link(QString::fromStdString(mFile->path()), path("viewed.tif")));
        saveAs(path("viewed.tif"));
        saveAs(path("missing/plane.png"));
        saveAs(path("broken.ome.tif"), true);
        QTRY_VERIFY(!fullFile().isRunning());
        QTRY_COMPARE(catcher.count(), 3);
        const QStringList expected = {"being viewed", "missing/plane.png", "broken.ome.tif"};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(catcher.boxes()[i].text.contains(expected[i]), qPrintable(catcher.describe()));
        QCOMPARE(leftovers(), (QStringList{"old.png", "viewed.tif"}));
    }
};

QTEST_MAIN(SaveGroupTest)
#include "tst_SaveGroup.moc"
