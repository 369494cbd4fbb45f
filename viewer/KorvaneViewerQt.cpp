#include "KorvaneViewerQt.h"

#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <future>
#include <iostream>

#include "BlitzFileIOException.h"
#include "BusyCursor.h"
#include "DorudURIVuruda.h"
#include "MemoryUsage.h"
#include "PlaneDisplay.h"
#include "Reporter.h"
#include "ReporterCmdline.h"

namespace {

// File names go to the reader in the file system's encoding, so names with accents open too.
std::string fileNameOf(const QString& aText) { return QFile::encodeName(aText).toStdString(); }

QString fromReader(const std::string& aText) { return QString::fromLocal8Bit(aText.c_str()); }

// Sets a widget value without running its slot and restores the previous blocking state.
template <typename Widget, typename Change>
void withSignalsBlocked(Widget* aWidget, Change aChange) {
    const bool wasBlocked = aWidget->blockSignals(true);
    aChange();
    aWidget->blockSignals(wasBlocked);
}

// Sets a widget value without running its slot, then lets it signal again.
template <typename Widget, typename Change>
void blockedThenUnblocked(Widget* aWidget, Change aChange) {
    aWidget->blockSignals(true);
    aChange();
    aWidget->blockSignals(false);
}

// The columns by rows that a plane request gives, if it is valid and the file is large enough to hold
// that many elements of at least one byte; otherwise empty, so that nothing is set aside for a request
// that a damaged or hostile header makes up.
QSize plausiblePlaneSize(DorudURIVuruda& aReader, bool aCropped, int aXStart, int aXWidth, int aYStart,
                         int aYWidth) {
    const auto extent = [](int aStart, int aWidth, int aSize) -> int64_t {
        const int64_t width = aWidth > 0 ? int64_t(aWidth) : int64_t(aSize) - aStart;
        return aStart >= 0 && width >= 1 && aStart + width <= aSize ? width : 0;
    };
    const int64_t cols = aCropped ? extent(aXStart, aXWidth, aReader.getSizeX()) : aReader.getSizeX();
    const int64_t rows = aCropped ? extent(aYStart, aYWidth, aReader.getSizeY()) : aReader.getSizeY();
    const int64_t fileBytes = QFileInfo(QFile::decodeName(aReader.getCurrentFile().c_str())).size();
    if (cols < 1 || rows < 1 || cols * rows > fileBytes) return QSize();
    return QSize(int(cols), int(rows));
}

// A fresh picture for the plane, made on a helper thread while the plane is read; invalid when no helper
// could be started.
std::future<QImage> preparePicture(const QSize& aSize) {
    try {
        return std::async(std::launch::async, newFaultedGreyPicture, aSize.width(), aSize.height());
    } catch (const std::exception&) {
        return std::future<QImage>();
    }
}

QImage takePicture(std::future<QImage>& aPicture) {
    try {
        return aPicture.get();
    } catch (const std::exception&) {
        return QImage();  // drawn without it
    }
}

}  // namespace

KorvaneViewerQt::KorvaneViewerQt(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()), mImage(), mReader(nullptr) {
    setupUi(this);

    new ReporterCmdline(8, &std::cout);  // registers itself; the registry owns it

    mImageLabel->setBackgroundRole(QPalette::Base);
    mImageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // The label (a PlaneView) paints the pixmap itself at the picture's size, so QLabel's painting, and
    // with it the two converted copies that it keeps for scaled contents, never runs.
    mImageLabel->setScaledContents(true);
    mImageScrollArea->setBackgroundRole(QPalette::Dark);
    mLibraryStatusFrame->setBackgroundRole(QPalette::Window);
    mLibraryStatusFrame->setAutoFillBackground(true);

    mLibraryGroupBox->setEnabled(false);
    mGarbageCollectorPushButton->setEnabled(false);
    mLoadFileGroupBox->setEnabled(true);
    mSettingsGroupBox->setEnabled(true);

    OnSetLibrary(std::string(), 0);
    ResetControls();

    QTimer* memoryTimer = new QTimer(this);
    connect(memoryTimer, SIGNAL(timeout()), this, SLOT(UpdateMemoryUsage()));
    memoryTimer->start(1000);
}

KorvaneViewerQt::~KorvaneViewerQt() {
    if (mReader) {
        try {
            DorudURIVuruda* reader = mReader;
            mReader = nullptr;
            delete reader;
        } catch (const BlitzFileIOException& e) {
            ShowExceptionMessage(e.what());
        }
    }
    Reporter::removeReporter(-1);
}

// --- Message boxes ---------------------------------------------------------------------------------

void KorvaneViewerQt::ShowCriticalMessage(const QString& aTitle, const QString& aText) {
    QMessageBox box(QMessageBox::Critical, aTitle, aText, QMessageBox::Close, this);
    box.exec();
}

void KorvaneViewerQt::ShowExceptionMessage(const char* aWhat) {
    ShowCriticalMessage(tr("Caught Exception"), QString::fromLocal8Bit(aWhat) +
                                                    tr("\nThe application might be unstable from now on!"));
}

void KorvaneViewerQt::ReportSevereError(const QString& aText) {
    std::cerr << aText.toLocal8Bit().constData() << std::endl;
    ShowCriticalMessage(tr("Severe Error"), aText);
}

// --- Reader set-up ---------------------------------------------------------------------------------

void KorvaneViewerQt::OnSetLibrary(std::string aLibraryPath, unsigned int aHeapSizeMB) {
    mImageLabel->forgetShownPlaneSource();  // the kept plane came from the reader that goes
    try {
        if (mReader) {
            // Cleared first so that mReader never points to a reader whose deletion failed.
            DorudURIVuruda* oldReader = mReader;
            mReader = nullptr;
            delete oldReader;
        }
        mReader = new DorudURIVuruda();
        SetLibraryStatus(true);
    } catch (const BlitzFileIOException& e) {
        ShowCriticalMessage(tr("Caught Exception"),
                            tr("KorvaneViewerQt::OnSetLibrary(") +
                                QString::fromLocal8Bit(aLibraryPath.c_str()) + tr(", ") +
                                QString::number(aHeapSizeMB, 10) + tr("):\n") +
                                tr("Caught exception when creating new KorvaneReader instance.\n\n") +
                                QString::fromLocal8Bit(e.what()) + tr("\n") +
                                tr("\nThe application might be unstable from now on!"));
    }
}

void KorvaneViewerQt::SetLibraryStatus(bool aOk) {
    QPalette palette = mLibraryStatusFrame->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(aOk ? Qt::green : Qt::red, Qt::SolidPattern));
    mLibraryStatusFrame->setPalette(palette);
}

void KorvaneViewerQt::on_mLibrarySetupApplyPushButton_clicked() {
    const std::string path = mLibraryLineEdit->text().toLatin1().toStdString();
    const unsigned int heap = static_cast<unsigned int>(mJavaHeapSizeSpinBox->value());
    OnSetLibrary(path, heap);
    mLibraryGroupBox->setEnabled(false);
    mLoadFileGroupBox->setEnabled(true);
    mSettingsGroupBox->setEnabled(true);
}

void KorvaneViewerQt::on_mLibraryPushButton_clicked() {
    const QString archive =
        QFileDialog::getOpenFileName(this, tr("Open OME LOCI Library Archive"), mLibraryLineEdit->text(),
                                     tr("Java Archives (*.jar)"), nullptr, QFileDialog::Options());
    withSignalsBlocked(mLibraryLineEdit, [&] { mLibraryLineEdit->setText(archive); });
}

void KorvaneViewerQt::on_mLibraryLineEdit_editingFinished() {}

void KorvaneViewerQt::on_mJavaHeapSizeHorizontalSlider_valueChanged(int aNewValue) {
    withSignalsBlocked(mJavaHeapSizeSpinBox, [&] { mJavaHeapSizeSpinBox->setValue(aNewValue); });
}

void KorvaneViewerQt::on_mJavaHeapSizeSpinBox_valueChanged(int aNewValue) {
    withSignalsBlocked(mJavaHeapSizeHorizontalSlider,
                       [&] { mJavaHeapSizeHorizontalSlider->setValue(aNewValue); });
}

// --- Files -----------------------------------------------------------------------------------------

void KorvaneViewerQt::ResetControls() {
    QWidget* const controls[] = {mSeriesSpinBox,         mTimepointSpinBox,
                                 mChannelSpinBox,        mZPlaneSpinBox,
                                 mImageDataTypeComboBox, mXStartSpinBox,
                                 mXWidthSpinBox,         mYStartSpinBox,
                                 mYWidthSpinBox,         mAutomaticContrastCheckBox,
                                 mEnableCroppingCheckBox};
    for (QWidget* control : controls) control->blockSignals(true);

    mSeriesSpinBox->setValue(0);
    mTimepointSpinBox->setValue(0);
    mChannelSpinBox->setValue(0);
    mZPlaneSpinBox->setValue(0);
    mImageDataTypeComboBox->setCurrentIndex(0);
    mXStartSpinBox->setValue(0);
    mXWidthSpinBox->setValue(0);
    mYStartSpinBox->setValue(0);
    mYWidthSpinBox->setValue(0);
    mAutomaticContrastCheckBox->setChecked(false);
    mEnableCroppingCheckBox->setChecked(false);
    on_mEnableCroppingCheckBox_toggled(false);

    for (QWidget* control : controls) control->blockSignals(false);
}

void KorvaneViewerQt::OpenFile(const std::string& aFileName) {
    // The file may have changed since its plane was read: the next update reads again.
    mImageLabel->forgetShownPlaneSource();
    if (!mReader) return;
    try {
        mReader->close();
        ResetControls();
        if (aFileName.empty()) return;
        mReader->open(aFileName);
        UpdatePlane(true);
        UpdateProperties();
        UpdateMetaData();
    } catch (const BlitzFileIOException& e) {
        ShowCriticalMessage(tr("Caught Exception"),
                            QString::fromLocal8Bit(e.what()) + tr("\nThis file can not be opened."));
    }
}

void KorvaneViewerQt::UpdateProperties() {
    if (!CheckReaderReady()) return;
    mPropertiesPlainTextEdit->clear();
    try {
        const int z = mZPlaneSpinBox->value();
        const int c = mChannelSpinBox->value();
        const int t = mTimepointSpinBox->value();
        PropertiesMap properties;
        mReader->getProperties(properties, t, c, z);
        for (const auto& entry : properties) {
            mPropertiesPlainTextEdit->appendPlainText(fromReader(entry.first) + "=" +
                                                      fromReader(entry.second));
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::UpdateMetaData() {
    if (!CheckReaderReady()) return;
    mMetaDataPlainTextEdit->clear();
    try {
        MetaDataMap metaData;
        mReader->getMetaData(metaData);
        for (const auto& entry : metaData) {
            mMetaDataPlainTextEdit->appendPlainText(fromReader(entry.first) + "=" + fromReader(entry.second));
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mLoadFileNamePushButton_clicked() {
    // Without a reader there is nothing to ask for suffixes or to open with.
    if (!mReader) return;
    std::vector<std::string> suffixes;
    try {
        suffixes = mReader->getSuffixes();
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
        return;
    }
    QString filter;
    if (suffixes.empty()) {
        filter = tr("All files (*)");
    } else {
        filter = tr("Library supported (");
        for (const std::string& suffix : suffixes) {
            if (suffix.empty()) continue;
            filter += QLatin1String("*.") + QString::fromLatin1(suffix.c_str()) + QLatin1String(" ");
        }
        filter += QLatin1String(")") + tr(";;All files (*)");
    }
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Open Image File"), mLoadFileNameLineEdit->text(), filter, nullptr, QFileDialog::Options());
    if (fileName.isEmpty()) return;
    withSignalsBlocked(mLoadFileNameLineEdit, [&] { mLoadFileNameLineEdit->setText(fileName); });
    OpenFile(fileNameOf(fileName));
}

void KorvaneViewerQt::on_mLoadFileNameLineEdit_editingFinished() {
    OpenFile(fileNameOf(mLoadFileNameLineEdit->text()));
}

void KorvaneViewerQt::on_mSaveFileNamePushButton_clicked() {}

void KorvaneViewerQt::on_mSaveFileNameLineEdit_editingFinished() {}

void KorvaneViewerQt::on_mEnableMetadataCheckBox_toggled(bool aCheckedState) {
    (void)aCheckedState;  // the reader has no metadata switch; toggling only reopens the file
    if (!mReader || !mReader->isOpen()) return;
    try {
        mReader->close();
        on_mLoadFileNameLineEdit_editingFinished();
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

// --- Navigation and settings -----------------------------------------------------------------------

void KorvaneViewerQt::Navigate(QSpinBox* aSpinBox, int (BlitzBioReader::*aCount)(), int aNewValue) {
    if (!CheckReaderReady()) return;
    try {
        const int count = (mReader->*aCount)();
        if (count > aNewValue) {
            if (aSpinBox == mSeriesSpinBox) {
                mImageLabel->forgetShownPlaneSource();
                mReader->setSeries(aNewValue);
            }
            UpdatePlane(false);
        } else {
            // Pulled back to the last valid index without reloading: the picture stays as it was.
            blockedThenUnblocked(aSpinBox, [&] { aSpinBox->setValue(count - 1); });
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mSeriesSpinBox_valueChanged(int aNewValue) {
    Navigate(mSeriesSpinBox, &BlitzBioReader::getSeriesCount, aNewValue);
}

void KorvaneViewerQt::on_mTimepointSpinBox_valueChanged(int aNewValue) {
    Navigate(mTimepointSpinBox, &BlitzBioReader::getSizeT, aNewValue);
}

void KorvaneViewerQt::on_mChannelSpinBox_valueChanged(int aNewValue) {
    Navigate(mChannelSpinBox, &BlitzBioReader::getSizeC, aNewValue);
}

void KorvaneViewerQt::on_mZPlaneSpinBox_valueChanged(int aNewValue) {
    Navigate(mZPlaneSpinBox, &BlitzBioReader::getSizeZ, aNewValue);
}

void KorvaneViewerQt::on_mImageDataTypeComboBox_currentIndexChanged(int aNewIndex) {
    if (aNewIndex != 0) {
        mAutomaticContrastCheckBox->setEnabled(true);
    } else {
        // 8-bit data needs no contrast; unchecking must not reload a second time.
        blockedThenUnblocked(mAutomaticContrastCheckBox,
                             [&] { mAutomaticContrastCheckBox->setChecked(false); });
        mAutomaticContrastCheckBox->setEnabled(false);
    }
    UpdatePlane(false);
}

void KorvaneViewerQt::on_mAutomaticContrastCheckBox_toggled(bool) { UpdatePlane(false); }

void KorvaneViewerQt::on_mEnableCroppingCheckBox_toggled(bool aCheckedState) {
    try {
        mXStartSpinBox->setEnabled(aCheckedState);
        mXWidthSpinBox->setEnabled(aCheckedState);
        mYStartSpinBox->setEnabled(aCheckedState);
        mYWidthSpinBox->setEnabled(aCheckedState);
        if (aCheckedState) {
            int width = 1;
            int height = 1;
            if (mReader && mReader->isOpen()) {
                width = mReader->getSizeX();
                height = mReader->getSizeY();
            }
            blockedThenUnblocked(mXWidthSpinBox, [&] { mXWidthSpinBox->setValue(width); });
            blockedThenUnblocked(mYWidthSpinBox, [&] { mYWidthSpinBox->setValue(height); });
        }
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

void KorvaneViewerQt::on_mApplyPushButton_clicked() { UpdatePlane(false); }

void KorvaneViewerQt::on_mGarbageCollectorPushButton_clicked() {}

// --- Plane loading ---------------------------------------------------------------------------------

bool KorvaneViewerQt::CheckReaderReady() {
    if (!mReader) {
        ShowCriticalMessage(tr("Error"), tr("No file reader created! Please create a file reader first."));
        return false;
    }
    if (!mReader->isOpen()) {
        ShowCriticalMessage(tr("Error"), tr("No file opened! Please open a file first."));
        return false;
    }
    return true;
}

void KorvaneViewerQt::UpdatePlane(bool aUseFilePixelType) {
    if (!CheckReaderReady()) return;
    try {
        const int zPlane = mZPlaneSpinBox->value();
        const int channel = mChannelSpinBox->value();
        const int timepoint = mTimepointSpinBox->value();
        int xStart = mXStartSpinBox->value();
        int xWidth = mXWidthSpinBox->value();
        int yStart = mYStartSpinBox->value();
        int yWidth = mYWidthSpinBox->value();

        const int sizeX = mReader->getSizeX();
        const int sizeY = mReader->getSizeY();
        if (xStart >= sizeX) xStart = sizeX - 1;
        if (yStart >= sizeY) yStart = sizeY - 1;
        if (xStart + xWidth > sizeX) xWidth = sizeX - xStart;
        if (yStart + yWidth > sizeY) yWidth = sizeY - yStart;

        getElapsedSeconds();

        const QString fileType = fromReader(mReader->getPixelTypeName(channel));
        QString chosenType = mImageDataTypeComboBox->currentText();
        if (aUseFilePixelType && chosenType != fileType) {
            chosenType = fileType;
            const int index =
                mImageDataTypeComboBox->findText(fileType, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (index < 0) {
                ReportSevereError(tr("Could not parse Data type '") + fileType +
                                  tr("'. Please inform the developers!"));
            } else {
                // Runs the data-type slot, i.e. one complete nested update with the file's type.
                mImageDataTypeComboBox->setCurrentIndex(index);
            }
        }

        const QByteArray typeName = chosenType.toLatin1();
        if (typeName == "TYPE_UINT8") {
            LoadPlane<unsigned char>(timepoint, channel, zPlane, xStart, xWidth, yStart, yWidth);
        } else if (typeName == "TYPE_UINT16") {
            LoadPlane<unsigned short>(timepoint, channel, zPlane, xStart, xWidth, yStart, yWidth);
        } else if (typeName == "TYPE_UINT32") {
            LoadPlane<unsigned int>(timepoint, channel, zPlane, xStart, xWidth, yStart, yWidth);
        } else if (typeName == "TYPE_FLOAT") {
            LoadPlane<float>(timepoint, channel, zPlane, xStart, xWidth, yStart, yWidth);
        } else {
            ReportSevereError(tr("Could not load image because data type could not") +
                              tr(" be parsed. Please inform the developers!"));
        }

        QPalette palette = mImageDataTypeComboBox->palette();
        const QBrush brush(chosenType == fileType ? QColor(Qt::green) : QColor(255, 32, 32, 255),
                           Qt::SolidPattern);
        palette.setBrush(QPalette::All, QPalette::Base, brush);
        palette.setBrush(QPalette::All, QPalette::Button, brush);
        palette.setBrush(QPalette::All, QPalette::Window, brush);
        mImageDataTypeComboBox->setPalette(palette);
    } catch (const BlitzFileIOException& e) {
        ShowExceptionMessage(e.what());
    }
}

template <typename T>
void KorvaneViewerQt::LoadPlane(int aTimepoint, int aChannel, int aZPlane, int aXStart, int aXWidth,
                                int aYStart, int aYWidth) {
    const bool cropped = mEnableCroppingCheckBox->isChecked();
    const PlaneIndex index{aTimepoint, aChannel, aZPlane};
    const PlaneRequest request =
        cropped ? PlaneRequest{index, true, aXStart, aXWidth, aYStart, aYWidth} : PlaneRequest{index};
    const bool contrast = mAutomaticContrastCheckBox->isChecked();
    blitz::Array<T, 2> plane;
    // The same request to the same open file (the outer update right after the nested one of a file
    // that opens in another type, or Apply pressed again) is answered by the kept plane: the reader
    // would give the same elements. Its picture stays too when it was drawn with the same contrast.
    bool reused = false;
    bool keptPicture = false;
    if (const blitz::Array<T, 2>* kept = mImageLabel->shownPlane().planeFor<T>(request)) {
        plane.reference(*kept);
        reused = true;
        keptPicture = mImageLabel->shownPlane().sourceContrast() == contrast && !mImage.isNull();
    }
    // The plane kept for the value read-out goes before the next one is read.
    mImageLabel->releasePlane();
    // Without a picture to draw over, the new one is made ready while the plane is read. (A picture of
    // another size stays until the plane is there: it is still shown if the read fails.)
    std::future<QImage> picture;
    if (!reused && mImage.isNull()) {
        const QSize size = plausiblePlaneSize(*mReader, cropped, aXStart, aXWidth, aYStart, aYWidth);
        if (!size.isEmpty()) picture = preparePicture(size);
    }
    if (reused) {
        if (cropped) CheckPlaneSize(plane, aXWidth, aYWidth);
    } else if (cropped) {
        {
            BusyCursor busy;
            mReader->readArray(plane, aTimepoint, aChannel, aZPlane, 1, aYStart, aYWidth, aXStart, aXWidth);
        }
        CheckPlaneSize(plane, aXWidth, aYWidth);
    } else {
        BusyCursor busy;
        mReader->readArray(plane, aTimepoint, aChannel, aZPlane, 1, 0, 0, 0, 0);
    }
    const double seconds = getElapsedSeconds();
    mJavaAccessTimeLabel->setText(QString::number(seconds, 'f', 4) + tr(" s"));
    if (keptPicture) {
        mImageLabel->update();  // a colour picture that was shown instead goes with the released plane
    } else {
        BusyCursor busy;
        if (picture.valid()) mImage = takePicture(picture);  // drawn over in place when its size fits
        ShowPlane(plane);
    }
    const QRect crop =
        cropped ? QRect(std::max(aXStart, 0), std::max(aYStart, 0), plane.extent(1), plane.extent(0))
                : QRect();
    mImageLabel->setShownPlane(plane, index, crop);
    mImageLabel->setShownPlaneSource(request, contrast);
}

template <typename T>
void KorvaneViewerQt::CheckPlaneSize(blitz::Array<T, 2> aPlane, int aXWidth, int aYWidth) {
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    if (rows == aYWidth && cols == aXWidth) return;
    const QString text =
        QString("Error: Read image size is not of the requested image size: %1 != %2, or %3 != %4, or both.")
            .arg(rows)
            .arg(aYWidth)
            .arg(cols)
            .arg(aXWidth);
    std::cerr << text.toLocal8Bit().constData() << std::endl;
    ShowCriticalMessage(tr("Severe Error"), text);
}

template <typename T>
void KorvaneViewerQt::ShowPlane(blitz::Array<T, 2> aPlane) {
    // The previous pixmap goes first, so that the new picture can take the previous one's place.
    mImageLabel->setPixmap(QPixmap());
    renderGreyPlane(aPlane, mAutomaticContrastCheckBox->isChecked(), mImage);
    mImageLabel->setMinimumWidth(aPlane.extent(1));
    mImageLabel->setMinimumHeight(aPlane.extent(0));
    // Without opaque detection the pixmap keeps the picture's format and so shares its pixels instead of
    // scanning and converting a copy of them; the pixels shown are the same.
    mImageLabel->setPixmap(QPixmap::fromImage(mImage, Qt::NoOpaqueDetection));
}

// --- Memory read-out -------------------------------------------------------------------------------

void KorvaneViewerQt::UpdateMemoryUsage() {
    const int32_t kb = getResidentMemoryKB();
    mMemoryUsageLabel->setText(QString::number(static_cast<unsigned int>(kb), 10) + tr(" kB"));
}
