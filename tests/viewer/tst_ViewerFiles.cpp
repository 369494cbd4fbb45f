#include <QDir>
#include <QFile>
#include <QtTest>
#include <cmath>
#include <memory>

#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "Readout.h"
#include "StartupFile.h"
#include "ViewerProbe.h"

using namespace korvane::testsupport;

namespace {

QString qPath(const std::string& aPath) { return QFile::decodeName(aPath.c_str()); }

// Empty when the window's picture shows plane (t, c, z) of the 8-bit file, else the first difference.
QString planeMismatch(const KorvaneViewerQt& aWindow, const LsmSpec& aSpec, int aT, int aC, int aZ) {
    const QImage& image = aWindow.picture();
    if (image.size() != QSize(aSpec.sizeX, aSpec.sizeY))
        return QString("picture is %1 x %2").arg(image.width()).arg(image.height());
    for (int y = 0; y < aSpec.sizeY; ++y)
        for (int x = 0; x < aSpec.sizeX; ++x) {
            const int expected = static_cast<int>(expectedSample(aSpec, aT, aC, aZ, y, x));
            if (greyAt(aWindow, x, y) != expected)
                return QString("(%1, %2) shows %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(greyAt(aWindow, x, y))
                    .arg(expected);
        }
    return QString();
}

QStringList lines(const QPlainTextEdit* aEdit) {
    const QString text = aEdit->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

const QColor kMismatchRed(255, 32, 32, 255);

}  // namespace

// Opening files and everything that reloads the plane, driven through the window's controls.
class ViewerFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void typedNameOpensFileAndFillsTabs();
    void fileThatCannotBeOpenedClearsTheView_data();
    void fileThatCannotBeOpenedClearsTheView();
    void emptyNameClosesFileButKeepsPicture();
    void chooseButtonOffersLsmFilterAndOpensChosenFile();
    void navigationPastTheEndPullsBackWithoutReload();
    void everyElementTypeLoadsAndColoursTheComboBox();
    void openingFollowsFilePixelTypeThroughOneNestedUpdate_data();
    void openingFollowsFilePixelTypeThroughOneNestedUpdate();
    void automaticContrastMapsTheWorkedExamples();
    void repeatedUpdateReadsOnlyWhatChanged_data();
    void repeatedUpdateReadsOnlyWhatChanged();
    void failedReadsInsideNestedUpdateShowBoxesInTurn();
    void failedPlaneReadPutsTheControlsBackToWhatIsShown();
    void scanFileShowsItsRowsStacked_data();
    void scanFileShowsItsRowsStacked();
    void croppingClampsAndReportsUnexpectedSize();
    void loadMetadataReopensNamedFile();
    void startupFileOpensAsIfTyped();
    void fileNamesWithAccentsOpen_data();
    void fileNamesWithAccentsOpen();

  private:
    void openByTyping(const QString& aPath);
    std::string writeStack(const LsmSpec& aSpec, const char* aStem);

    std::unique_ptr<KorvaneViewerQt> mWindow;
    std::vector<std::unique_ptr<ScopedFile>> mFiles;
};

void ViewerFilesTest::init() { mWindow = std::make_unique<KorvaneViewerQt>(); }

void ViewerFilesTest::cleanup() {
    mWindow.reset();
    mFiles.clear();
}

void ViewerFilesTest::openByTyping(const QString& aPath) {
    mWindow->mLoadFileNameLineEdit->clear();
    QTest::keyClicks(mWindow->mLoadFileNameLineEdit, aPath);
    QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
}

std::string ViewerFilesTest::writeStack(const LsmSpec& aSpec, const char* aStem) {
    mFiles.push_back(std::make_unique<ScopedFile>(std::string(aStem) + ".lsm"));
    writeLsm(mFiles.back()->path(), aSpec);
    return mFiles.back()->path();
}

void ViewerFilesTest::typedNameOpensFileAndFillsTabs() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(16, 8, 3, 2, 2);
    const std::string path = writeStack(recipe, "good");
    ModalBoxCatcher catcher;
    openByTyping(qPath(path));
    QCOMPARE(catcher.describe(), QString());

    QVERIFY(w.reader()->isOpen());
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());
    QCOMPARE(w.mImageLabel->picture(), w.picture());
    QCOMPARE(w.mImageLabel->minimumSize(), QSize(16, 8));
    QVERIFY2(QRegularExpression("^[0-9]+\\.[0-9]{4} s$").match(w.mJavaAccessTimeLabel->text()).hasMatch(),
             qPrintable(w.mJavaAccessTimeLabel->text()));
    QCOMPARE(w.mImageDataTypeComboBox->currentText(), QString("TYPE_UINT8"));
    QCOMPARE(w.mImageDataTypeComboBox->palette().color(QPalette::Base), QColor(Qt::green));

    const QStringList properties = lines(w.mPropertiesPlainTextEdit);
    const QStringList expected = {
        "getCurrentFile()=" + qPath(path),
        "getElementSize()=(1,0.2,0.2)",
        "getFormat()=" + qPath(w.reader()->getFormat()),
        "getPixelTypeName()=TYPE_UINT8",
        "getSeriesCount()=1",
        "getSizeC()=2",
        "getSizeT()=2",
        "getSizeX()=16",
        "getSizeY()=8",
        "getSizeZ()=3",
        "getStagePosition()=(0,0,0)",
        "getThumbSizeX()=" + QString::number(w.reader()->getThumbSizeX()),
        "getThumbSizeY()=" + QString::number(w.reader()->getThumbSizeY()),
    };
    QCOMPARE(properties, expected);
    QCOMPARE(lines(w.mMetaDataPlainTextEdit), QStringList());
}

void ViewerFilesTest::fileThatCannotBeOpenedClearsTheView_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not a TIFF") << "nontiff";
    QTest::newRow("TIFF without LSM record") << "plaintiff";
}

void ViewerFilesTest::fileThatCannotBeOpenedClearsTheView() {
    QFETCH(QString, kind);
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(16, 8, 3, 1, 1);
    openByTyping(qPath(writeStack(recipe, "before")));
    w.mZPlaneSpinBox->setValue(2);
    w.mEnableCroppingCheckBox->setChecked(true);
    QVERIFY(!w.picture().isNull());

    mFiles.push_back(std::make_unique<ScopedFile>("bad.lsm"));
    const std::string bad = mFiles.back()->path();
    if (kind == "nontiff") writeNonTiff(bad);
    if (kind == "plaintiff") writePlainTiff(bad);

    ModalBoxCatcher catcher;
    openByTyping(qPath(bad));
    QCOMPARE(catcher.count(), 1);
    const CaughtBox box = catcher.boxes()[0];
    QCOMPARE(box.title, QString("Caught Exception"));
    QVERIFY2(box.text.endsWith("\nThis file can not be opened."), qPrintable(box.text));
    QVERIFY(box.text.length() > QString("\nThis file can not be opened.").length());
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Close));

    QVERIFY(!w.reader()->isOpen());
    QCOMPARE(w.mZPlaneSpinBox->value(), 0);
    QVERIFY(!w.mEnableCroppingCheckBox->isChecked());
    QVERIFY(!w.mXWidthSpinBox->isEnabled());
    QCOMPARE(w.mImageDataTypeComboBox->currentIndex(), 0);
    // Nothing of either file stays on screen: no picture, properties or metadata, only the hint.
    QVERIFY(w.picture().isNull());
    QVERIFY(w.mImageLabel->picture().isNull());
    QVERIFY(w.mPropertiesPlainTextEdit->toPlainText().isEmpty());
    QVERIFY(!w.viewState().hasFile());
}

void ViewerFilesTest::emptyNameClosesFileButKeepsPicture() {
    KorvaneViewerQt& w = *mWindow;
    openByTyping(qPath(writeStack(lsmSpec(16, 8, 2, 1, 1), "open")));
    w.mZPlaneSpinBox->setValue(1);
    const QImage before = w.picture();
    const QString time = w.mJavaAccessTimeLabel->text();

    ModalBoxCatcher catcher;
    openByTyping(QString());
    QCOMPARE(catcher.count(), 0);
    QVERIFY(!w.reader()->isOpen());
    QCOMPARE(w.mZPlaneSpinBox->value(), 0);
    QCOMPARE(w.picture(), before);
    QCOMPARE(w.mJavaAccessTimeLabel->text(), time);
    QVERIFY(!w.mPropertiesPlainTextEdit->toPlainText().isEmpty());

    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(catcher.describe(), QString("Error: No file opened! Please open a file first."));
}

void ViewerFilesTest::chooseButtonOffersLsmFilterAndOpensChosenFile() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(12, 6, 1, 1, 1);
    const QString path = qPath(writeStack(recipe, "chosen"));

    ModalBoxCatcher catcher;
    QTest::mouseClick(w.mLoadFileNamePushButton, Qt::LeftButton);  // cancelled
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.boxes()[0].className, QString("QFileDialog"));
    QCOMPARE(catcher.boxes()[0].title, QString("Open Image File"));
    QCOMPARE(catcher.boxes()[0].nameFilter, QString("Library supported (*.lsm );;All files (*)"));
    QCOMPARE(w.mLoadFileNameLineEdit->text(), QString());
    QVERIFY(!w.reader()->isOpen());

    catcher.clear();
    catcher.setFileDialogAnswer(path);
    QTest::mouseClick(w.mLoadFileNamePushButton, Qt::LeftButton);
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(w.mLoadFileNameLineEdit->text(), path);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());
}

void ViewerFilesTest::navigationPastTheEndPullsBackWithoutReload() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(10, 6, 3, 2, 2);
    openByTyping(qPath(writeStack(recipe, "nav")));
    ModalBoxCatcher catcher;

    w.mZPlaneSpinBox->setValue(1);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 1), QString());
    w.mZPlaneSpinBox->setValue(7);
    QCOMPARE(w.mZPlaneSpinBox->value(), 2);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 1), QString());  // still the plane loaded before

    w.mTimepointSpinBox->setValue(1);
    QCOMPARE(planeMismatch(w, recipe, 1, 0, 2), QString());
    w.mTimepointSpinBox->setValue(5);
    QCOMPARE(w.mTimepointSpinBox->value(), 1);

    w.mChannelSpinBox->setValue(1);
    QCOMPARE(planeMismatch(w, recipe, 1, 1, 2), QString());
    w.mChannelSpinBox->setValue(2);
    QCOMPARE(w.mChannelSpinBox->value(), 1);

    w.mSeriesSpinBox->setValue(1);
    QCOMPARE(w.mSeriesSpinBox->value(), 0);
    QCOMPARE(planeMismatch(w, recipe, 1, 1, 2), QString());
    QCOMPARE(catcher.describe(), QString());

    // The next reload after a pull-back reads what the spin boxes now show.
    w.mZPlaneSpinBox->setValue(0);
    w.mZPlaneSpinBox->setValue(2);
    QCOMPARE(planeMismatch(w, recipe, 1, 1, 2), QString());
}

void ViewerFilesTest::everyElementTypeLoadsAndColoursTheComboBox() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(9, 5, 1, 1, 1);
    openByTyping(qPath(writeStack(recipe, "types")));
    ModalBoxCatcher catcher;
    for (int index : {1, 2, 3, 0}) {
        w.mImageDataTypeComboBox->setCurrentIndex(index);
        QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());
        QCOMPARE(w.mAutomaticContrastCheckBox->isEnabled(), index != 0);
        const QPalette palette = w.mImageDataTypeComboBox->palette();
        const QColor expected = index == 0 ? QColor(Qt::green) : kMismatchRed;
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button, QPalette::Window})
                QCOMPARE(palette.color(group, role), expected);
    }
    QCOMPARE(catcher.describe(), QString());
}

void ViewerFilesTest::openingFollowsFilePixelTypeThroughOneNestedUpdate_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<int>>("greys");
    // Opened at Auto: the data's range (four pixels leave none saturated) onto 0..255.
    QTest::newRow("16-bit") << kLsmUint16 << 1 << QList<double>{300, 256, 40000, 7}
                            << QList<int>{2, 2, 255, 0};
    QTest::newRow("12-bit") << kLsmUint12 << 1 << QList<double>{4095, 255, 0, 1} << QList<int>{255, 16, 0, 0};
    QTest::newRow("float") << kLsmFloat32 << 3 << QList<double>{-1.5, 0.99, 255.9, 100.25}
                           << QList<int>{0, 2, 255, 101};
}

void ViewerFilesTest::openingFollowsFilePixelTypeThroughOneNestedUpdate() {
    QFETCH(int, code);
    QFETCH(int, expectedIndex);
    QFETCH(QList<double>, values);
    QFETCH(QList<int>, greys);
    KorvaneViewerQt& w = *mWindow;
    LsmSpec recipe = lsmSpec(4, 1, 1, 1, 1, {code});
    recipe.values = [values](int, int, int, int, int x) { return values[x]; };
    const std::string path = writeStack(recipe, "typed");

    ModalBoxCatcher catcher;
    QSignalSpy changes(w.mImageDataTypeComboBox, &QComboBox::currentIndexChanged);
    openByTyping(qPath(path));
    QCOMPARE(catcher.describe(), QString());
    QCOMPARE(changes.count(), 1);
    QCOMPARE(w.mImageDataTypeComboBox->currentIndex(), expectedIndex);
    QCOMPARE(w.mImageDataTypeComboBox->palette().color(QPalette::Button), QColor(Qt::green));
    QVERIFY(w.mAutomaticContrastCheckBox->isEnabled());
    QVERIFY(!w.mAutomaticContrastCheckBox->isChecked());
    for (int x = 0; x < greys.size(); ++x) QCOMPARE(greyAt(w, x, 0), greys[x]);

    // Reading the same data as 8-bit is a mismatch: red.
    w.mImageDataTypeComboBox->setCurrentIndex(0);
    QCOMPARE(w.mImageDataTypeComboBox->palette().color(QPalette::Window), kMismatchRed);
}

void ViewerFilesTest::automaticContrastMapsTheWorkedExamples() {
    KorvaneViewerQt& w = *mWindow;
    LsmSpec wide = lsmSpec(16, 32, 1, 1, 1, {kLsmUint16});
    wide.values = [](int, int, int, int y, int x) { return std::min(16 * y + x, 510); };
    openByTyping(qPath(writeStack(wide, "wide")));
    QCOMPARE(greyAt(w, 11, 31), 254);  // 507 at Auto, 0..510
    QTest::mouseClick(w.mAutomaticContrastCheckBox, Qt::LeftButton);
    QCOMPARE(greyAt(w, 15, 31), 255);  // 510
    QCOMPARE(greyAt(w, 13, 31), 254);  // 509
    QCOMPARE(greyAt(w, 1, 0), 0);      // 1
    QCOMPARE(greyAt(w, 0, 1), 8);      // 16

    LsmSpec narrow = lsmSpec(101, 1, 1, 1, 1, {kLsmUint16});
    narrow.values = [](int, int, int, int, int x) { return 1000 + x; };
    openByTyping(qPath(writeStack(narrow, "narrow")));
    QVERIFY(!w.mAutomaticContrastCheckBox->isChecked());  // reset by opening
    QCOMPARE(greyAt(w, 60, 0), 153);                      // 1060 at Auto, 1000..1100
    QTest::mouseClick(w.mAutomaticContrastCheckBox, Qt::LeftButton);
    QCOMPARE(greyAt(w, 0, 0), 0);
    QCOMPARE(greyAt(w, 100, 0), 100);
}

void ViewerFilesTest::repeatedUpdateReadsOnlyWhatChanged_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reads");  // the file, emptied before the change, is read again: error box
    QTest::addColumn<bool>("samePicture");
    QTest::newRow("identical") << "apply" << false << true;
    QTest::newRow("type") << "type" << true << true;
    QTest::newRow("z plane") << "z" << true << true;
    QTest::newRow("channel") << "channel" << true << true;
    QTest::newRow("crop") << "crop" << true << true;
    QTest::newRow("contrast") << "contrast" << false << false;
    QTest::newRow("display range") << "range" << false << false;
    QTest::newRow("file rewritten and reopened") << "file" << false << true;  // Auto: same picture
}

void ViewerFilesTest::repeatedUpdateReadsOnlyWhatChanged() {
    QFETCH(QString, change);
    QFETCH(bool, reads);
    QFETCH(bool, samePicture);
    KorvaneViewerQt& w = *mWindow;
    auto stack = [](int aShift) {
        LsmSpec recipe = lsmSpec(16, 8, 2, 2, 1, {kLsmUint16, kLsmUint16});
        recipe.values = [aShift](int, int, int, int y, int x) { return aShift + 37 * y + x; };
        return recipe;
    };
    const std::string path = writeStack(stack(300), "repeat");
    openByTyping(qPath(path));
    const QImage before = w.picture().copy();

    ModalBoxCatcher catcher;
    const int shift = change == "file" ? 1000 : 300;
    if (change == "file")
        writeLsm(path, stack(shift));
    else
        QVERIFY(QFile::resize(qPath(path), 0));
    if (change == "crop") w.mEnableCroppingCheckBox->setChecked(true);
    if (change == "crop") w.mXStartSpinBox->setValue(1);
    if (change == "apply" || change == "crop")
        QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    else if (change == "type")
        w.mImageDataTypeComboBox->setCurrentIndex(3);
    else if (change == "z")
        w.mZPlaneSpinBox->setValue(1);
    else if (change == "channel")
        w.mChannelSpinBox->setValue(1);
    else if (change == "contrast")
        QTest::mouseClick(w.mAutomaticContrastCheckBox, Qt::LeftButton);
    else if (change == "range")
        w.viewState().setDisplay(0, [&] {
            ChannelDisplay display = w.viewState().display(0);
            display.maximum += 100;
            return display;
        }());
    else
        openByTyping(qPath(path));
    QVERIFY2((catcher.count() > 0) == reads, qPrintable(catcher.describe()));
    QCOMPARE(w.picture() == before, samePicture);
    if (!reads)
        QVERIFY(readoutText(w.viewState(), w.planeSource().plane(), {}, QPoint(5, 3))
                    .startsWith(QString("x 5, y 3: %1&nbsp;").arg(shift + 37 * 3 + 5)));
}

void ViewerFilesTest::failedReadsInsideNestedUpdateShowBoxesInTurn() {
    KorvaneViewerQt& w = *mWindow;
    LsmSpec recipe = lsmSpec(8, 4, 1, 1, 1, {kLsmUint16});
    recipe.stripFaults.push_back(StripFault{0, 0, StripFaultKind::OffsetBeyondEndOfFile, 0});
    const std::string path = writeStack(recipe, "broken");

    ModalBoxCatcher catcher;
    openByTyping(qPath(path));
    // The nested update fails, and so does the outer one; each time the file opens again, so that the
    // tabs are filled and the other planes stay in reach.
    QStringList titles;
    for (const CaughtBox& box : catcher.boxes()) titles << box.title;
    QCOMPARE(titles, (QStringList{"Caught Exception", "Caught Exception"}));
    for (const CaughtBox& box : catcher.boxes()) {
        QVERIFY2(box.text.startsWith("Error while reading image strip 0 of "),
                 qPrintable(catcher.describe()));
        QVERIFY(box.text.endsWith("\nThe application might be unstable from now on!"));
    }
    QVERIFY(w.reader()->isOpen());
    QVERIFY(w.picture().isNull());
    QVERIFY(!w.mPropertiesPlainTextEdit->toPlainText().isEmpty());
    // No update got far enough to colour the combo box.
    const QColor base = w.mImageDataTypeComboBox->palette().color(QPalette::Base);
    QVERIFY(base != QColor(Qt::green) && base != kMismatchRed);
}

void ViewerFilesTest::failedPlaneReadPutsTheControlsBackToWhatIsShown() {
    KorvaneViewerQt& w = *mWindow;
    LsmSpec recipe = lsmSpec(8, 4, 3, 1, 1);
    recipe.stripFaults.push_back(StripFault{2, 0, StripFaultKind::OffsetBeyondEndOfFile, 0});
    openByTyping(qPath(writeStack(recipe, "damaged")));
    w.mZPlaneSpinBox->setValue(1);
    ModalBoxCatcher catcher;
    w.mZPlaneSpinBox->setValue(2);
    QCOMPARE(catcher.count(), 1);
    // The plane before stays, and so do the controls that chose it; the damaged plane spoils only itself.
    QVERIFY(w.reader()->isOpen());
    QCOMPARE(w.mZPlaneSpinBox->value(), 1);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 1), QString());
    w.mZPlaneSpinBox->setValue(0);
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());
}

void ViewerFilesTest::scanFileShowsItsRowsStacked_data() {
    QTest::addColumn<int>("planes");  // z planes; timepoints otherwise
    QTest::addColumn<int>("timepoints");
    QTest::addColumn<QString>("rowName");
    QTest::newRow("x-t") << 1 << 20 << "t";
    QTest::newRow("x-z") << 12 << 1 << "z";
}

void ViewerFilesTest::scanFileShowsItsRowsStacked() {
    QFETCH(int, planes);
    QFETCH(int, timepoints);
    QFETCH(QString, rowName);
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(32, 1, planes, 1, timepoints);  // every plane one row high
    openByTyping(qPath(writeStack(recipe, "scan")));
    const int rows = std::max(planes, timepoints);
    QCOMPARE(w.picture().size(), QSize(32, rows));
    for (int row = 0; row < rows; ++row)
        for (int x = 0; x < 32; x += 7) {
            const int t = timepoints > 1 ? row : 0;
            QCOMPARE(greyAt(w, x, row), int(expectedSample(recipe, t, 0, row - t, 0, x)));
        }
    const int t7 = timepoints > 1 ? 7 : 0;
    const QString readout = readoutText(w.viewState(), w.planeSource().plane(), {}, QPoint(5, 7));
    QVERIFY2(readout.startsWith(
                 QString("x 5, %1 7: %2").arg(rowName).arg(expectedSample(recipe, t7, 0, 7 - t7, 0, 5))),
             qPrintable(readout));
    // A crop takes columns; all rows stay.
    w.mEnableCroppingCheckBox->setChecked(true);
    w.mXStartSpinBox->setValue(4);
    w.mXWidthSpinBox->setValue(10);
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(w.picture().size(), QSize(10, rows));
    QCOMPARE(greyAt(w, 0, rows - 1), int(expectedSample(recipe, timepoints - 1, 0, planes - 1, 0, 4)));
}

void ViewerFilesTest::croppingClampsAndReportsUnexpectedSize() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(512, 512, 1, 1, 1);
    openByTyping(qPath(writeStack(recipe, "crop")));
    auto sample = [&](int y, int x) { return static_cast<int>(expectedSample(recipe, 0, 0, 0, y, x)); };
    ModalBoxCatcher catcher;

    // Crop values are ignored while cropping is off.
    w.mXStartSpinBox->setValue(100);
    w.mXWidthSpinBox->setValue(3);
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(w.picture().size(), QSize(512, 512));

    QTest::mouseClick(w.mEnableCroppingCheckBox, Qt::LeftButton);
    QCOMPARE(w.mXWidthSpinBox->value(), 512);
    QCOMPARE(w.mYWidthSpinBox->value(), 512);
    QCOMPARE(w.mXStartSpinBox->value(), 100);

    w.mXStartSpinBox->setValue(10);
    w.mXWidthSpinBox->setValue(20);
    w.mYStartSpinBox->setValue(30);
    w.mYWidthSpinBox->setValue(5);
    QCOMPARE(w.picture().size(), QSize(512, 512));  // only Apply reloads
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(w.picture().size(), QSize(20, 5));
    QCOMPARE(greyAt(w, 0, 0), sample(30, 10));
    QCOMPARE(greyAt(w, 19, 4), sample(34, 29));
    QCOMPARE(w.mImageLabel->minimumSize(), QSize(20, 5));

    // Starts past the image are pulled to the last column or row, widths cut to fit.
    w.mXStartSpinBox->setValue(600);
    w.mXWidthSpinBox->setValue(10);
    w.mYStartSpinBox->setValue(510);
    w.mYWidthSpinBox->setValue(9);
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(w.picture().size(), QSize(1, 2));
    QCOMPARE(greyAt(w, 0, 1), sample(511, 511));
    QCOMPARE(catcher.describe(), QString());

    // A width of 0 reads the rest of the row; the size check then complains but the plane shows.
    w.mXStartSpinBox->setValue(64);
    w.mXWidthSpinBox->setValue(0);
    w.mYStartSpinBox->setValue(0);
    w.mYWidthSpinBox->setValue(512);
    QTest::mouseClick(w.mApplyPushButton, Qt::LeftButton);
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.boxes()[0].title, QString("Severe Error"));
    QCOMPARE(
        catcher.boxes()[0].text,
        QString(
            "Error: Read image size is not of the requested image size: 512 != 512, or 448 != 0, or both."));
    QCOMPARE(catcher.boxes()[0].icon, QMessageBox::Critical);
    QCOMPARE(w.picture().size(), QSize(448, 512));
    QCOMPARE(greyAt(w, 0, 0), sample(0, 64));
}

void ViewerFilesTest::loadMetadataReopensNamedFile() {
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec first = lsmSpec(8, 4, 1, 1, 1);
    const LsmSpec second = lsmSpec(6, 3, 2, 1, 1);
    openByTyping(qPath(writeStack(first, "first")));
    const QString secondPath = qPath(writeStack(second, "second"));
    w.mLoadFileNameLineEdit->setText(secondPath);  // typed, but not confirmed
    w.mZPlaneSpinBox->setValue(1);

    ModalBoxCatcher catcher;
    QTest::mouseClick(w.mEnableMetadataCheckBox, Qt::LeftButton);
    QCOMPARE(catcher.describe(), QString());
    QCOMPARE(w.mZPlaneSpinBox->value(), 0);
    QCOMPARE(planeMismatch(w, second, 0, 0, 0), QString());
    QVERIFY(lines(w.mPropertiesPlainTextEdit).contains("getCurrentFile()=" + secondPath));
}

void ViewerFilesTest::startupFileOpensAsIfTyped() {
    QByteArray program("KorvaneViewer"), file("/data/stack one.lsm");
    char* withFile[] = {program.data(), file.data(), nullptr};
    char* without[] = {program.data(), nullptr};
    QCOMPARE(startupFileArgument(2, withFile), QByteArray("/data/stack one.lsm"));
    QCOMPARE(startupFileArgument(1, without), QByteArray());

    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(7, 3, 1, 1, 1);
    const QString path = qPath(writeStack(recipe, "startup"));
    ModalBoxCatcher catcher;
    openStartupFile(w, QFile::encodeName(path));
    QCOMPARE(catcher.describe(), QString());
    QCOMPARE(w.mLoadFileNameLineEdit->text(), path);
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());

    openStartupFile(w, QFile::encodeName(path + ".missing"));
    QCOMPARE(catcher.count(), 1);
    QVERIFY(catcher.boxes()[0].text.endsWith("\nThis file can not be opened."));
}

void ViewerFilesTest::fileNamesWithAccentsOpen_data() {
    QTest::addColumn<QByteArray>("stem");
    QTest::addColumn<QString>("how");
    const QByteArray utf8("Zelle-\xC3\xBC-\xCE\xB1.lsm");  // "ü" and "α" in UTF-8
    const QByteArray latin1("caf\xE9 scan.lsm");           // no valid UTF-8
    QTest::newRow("UTF-8 typed") << utf8 << "typed";
    QTest::newRow("Latin-1 from the command line or a drop") << latin1 << "bytes";
    QTest::newRow("Latin-1 as a file chooser shows it") << latin1 << "typed";
    QTest::newRow("Latin-1 typed as it reads") << latin1 << "latin1";
}

void ViewerFilesTest::fileNamesWithAccentsOpen() {
    QFETCH(QByteArray, stem);
    QFETCH(QString, how);
    KorvaneViewerQt& w = *mWindow;
    const LsmSpec recipe = lsmSpec(5, 2, 1, 1, 1);
    mFiles.push_back(std::make_unique<ScopedFile>(stem.toStdString()));
    writeLsm(mFiles.back()->path(), recipe);
    const QByteArray path = QByteArray::fromStdString(mFiles.back()->path());

    ModalBoxCatcher catcher;
    if (how == "bytes") {
        openStartupFile(w, path);
    } else {
        // QTest cannot type these characters.
        w.mLoadFileNameLineEdit->setText(how == "latin1" ? QString::fromLatin1(path)
                                                         : QFile::decodeName(path));
        QTest::keyClick(w.mLoadFileNameLineEdit, Qt::Key_Return);
    }
    QCOMPARE(catcher.describe(), QString());
    QCOMPARE(planeMismatch(w, recipe, 0, 0, 0), QString());
    QCOMPARE(w.reader()->getCurrentFile(), path.toStdString());
}

QTEST_MAIN(ViewerFilesTest)
#include "tst_ViewerFiles.moc"
