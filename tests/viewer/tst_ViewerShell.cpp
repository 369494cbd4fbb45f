#include <QAction>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>
#include <memory>

#include "ChannelComposite.h"
#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "PlaneView.h"
#include "ViewerProbe.h"
#include "ViewerShell.h"

using namespace korvane::testsupport;

// The additions around the window: keys, zoom, read-out, channel colours, drops and the File menu.
class ViewerShellTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void navigationKeysWorkFromAnyControlAndStopAtTheEnds_data();
    void navigationKeysWorkFromAnyControlAndStopAtTheEnds();
    void zoomStepsShowSharpSquaresAndTheLevel_data();
    void zoomStepsShowSharpSquaresAndTheLevel();
    void wheelZoomKeepsThePointUnderTheCursorAndOpeningResetsIt();
    void readoutShowsTheLoadedValue_data();
    void readoutShowsTheLoadedValue();
    void channelColoursFollowCropAndReturnToTheExactGrey();
    void droppedFileOpensAsIfTypedAndFileMenuWorks();

  private:
    void open(const LsmSpec& aSpec);
    PlaneView* view() { return mWindow->mImageLabel; }

    std::unique_ptr<KorvaneViewerQt> mWindow;
    ViewerShell* mShell = nullptr;
    std::unique_ptr<ScopedFile> mFile;
    LsmSpec mSpec;
};

void ViewerShellTest::init() {
    mWindow = std::make_unique<KorvaneViewerQt>();
    mShell = new ViewerShell(*mWindow);
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
}

void ViewerShellTest::cleanup() {
    mWindow.reset();
    mFile.reset();
}

void ViewerShellTest::open(const LsmSpec& aSpec) {
    mSpec = aSpec;
    mFile = std::make_unique<ScopedFile>("shell.lsm");
    writeLsm(mFile->path(), aSpec);
    mWindow->mLoadFileNameLineEdit->setText(QString::fromStdString(mFile->path()));
    QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
    QVERIFY(KorvaneViewerQtProbe::reader(*mWindow)->isOpen());
}

void ViewerShellTest::navigationKeysWorkFromAnyControlAndStopAtTheEnds_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QList<int>>("keys");  // Qt::Key_PageDown = +1, Qt::Key_PageUp = -1
    QTest::addColumn<QList<int>>("tcz");
    const int down = Qt::Key_PageDown, up = Qt::Key_PageUp;
    QTest::newRow("z from its spin box")
        << "mZPlaneSpinBox" << 0 << QList<int>{down, down} << QList<int>{0, 0, 2};
    QTest::newRow("z stops at last") << "mPropertiesPlainTextEdit" << 0 << QList<int>{down, down, down, down}
                                     << QList<int>{0, 0, 3};
    QTest::newRow("z stops at first")
        << "mLoadFileNameLineEdit" << 0 << QList<int>{down, up, up} << QList<int>{0, 0, 0};
    QTest::newRow("channel") << "mTabWidget" << int(Qt::ShiftModifier) << QList<int>{down, down, up}
                             << QList<int>{0, 0, 0};
    QTest::newRow("timepoint") << "mImageDataTypeComboBox" << int(Qt::ControlModifier)
                               << QList<int>{down, down} << QList<int>{1, 0, 0};
}

void ViewerShellTest::navigationKeysWorkFromAnyControlAndStopAtTheEnds() {
    QFETCH(QString, focus);
    QFETCH(int, modifiers);
    QFETCH(QList<int>, keys);
    QFETCH(QList<int>, tcz);
    open(lsmSpec(8, 4, 4, 2, 2));
    ModalBoxCatcher catcher;
    QWidget* target = mWindow->findChild<QWidget*>(focus);
    target->setFocus();
    for (int key : keys) QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(catcher.describe(), QString());
    QCOMPARE((QList<int>{mWindow->mTimepointSpinBox->value(), mWindow->mChannelSpinBox->value(),
                         mWindow->mZPlaneSpinBox->value()}),
             tcz);
    for (int x = 0; x < 8; ++x)
        QCOMPARE(greyAt(*mWindow, x, 3), int(expectedSample(mSpec, tcz[0], tcz[1], tcz[2], 3, x)));
}

void ViewerShellTest::zoomStepsShowSharpSquaresAndTheLevel_data() {
    QTest::addColumn<QList<int>>("keys");  // with Ctrl
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("level");
    QTest::newRow("plus") << QList<int>{Qt::Key_Plus} << 1 << "Zoom 200%";
    QTest::newRow("equal twice") << QList<int>{Qt::Key_Equal, Qt::Key_Equal} << 2 << "Zoom 400%";
    QTest::newRow("minus") << QList<int>{Qt::Key_Minus} << -1 << "Zoom 50%";
    QTest::newRow("stops at 32") << QList<int>(7, Qt::Key_Plus) << 5 << "Zoom 3200%";
    QTest::newRow("stops at 1/32") << QList<int>(7, Qt::Key_Minus) << -5 << "Zoom 3.125%";
    QTest::newRow("actual size") << QList<int>{Qt::Key_Plus, Qt::Key_1} << 0 << "Zoom 100%";
}

void ViewerShellTest::zoomStepsShowSharpSquaresAndTheLevel() {
    QFETCH(QList<int>, keys);
    QFETCH(int, step);
    QFETCH(QString, level);
    open(lsmSpec(40, 24, 1, 1, 1));
    mWindow->mZPlaneSpinBox->setFocus();
    for (int key : keys) QTest::keyClick(mWindow->mZPlaneSpinBox, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(view()->zoomStep(), step);
    QCOMPARE(mShell->zoomLabel()->text(), level);
    const int scale = 1 << qMax(step, 0), divisor = 1 << qMax(-step, 0);
    QCOMPARE(view()->minimumSize(),
             QSize((40 * scale + divisor - 1) / divisor, (24 * scale + divisor - 1) / divisor));
    if (step < 0) return;
    const QImage drawn = view()->grab(QRect(0, 0, 40 * scale, 24 * scale)).toImage();
    for (int y = 0; y < 24 * scale; y += qMax(1, scale - 1))
        for (int x = 0; x < 40 * scale; x += qMax(1, scale - 1))
            QCOMPARE(qRed(drawn.pixel(x, y)), greyAt(*mWindow, x / scale, y / scale));
}

void ViewerShellTest::wheelZoomKeepsThePointUnderTheCursorAndOpeningResetsIt() {
    open(lsmSpec(400, 300, 1, 1, 1));
    QTRY_COMPARE(view()->parentWidget()->size(), QSize(408, 308));  // laid out in the image area
    QWidget* viewport = mWindow->mImageScrollArea->viewport();
    const QPoint cursor = view()->mapTo(viewport, QPoint(200, 150));
    for (int turn = 0; turn < 2; ++turn) {
        const QPoint at = view()->mapFrom(viewport, cursor);
        QWheelEvent wheel(at, view()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view(), &wheel);
    }
    QCOMPARE(view()->zoomStep(), 2);
    QVERIFY((view()->mapFrom(viewport, cursor) - QPoint(800, 600)).manhattanLength() <= 4);

    mShell->fitAction()->trigger();
    const QSize room = mWindow->mImageScrollArea->maximumViewportSize() - QSize(8, 8);
    const int fit = view()->zoomStep();
    QVERIFY(QSize(400, 300) * std::ldexp(1.0, fit) == view()->minimumSize());
    QVERIFY(view()->minimumSize().boundedTo(room) == view()->minimumSize());
    QVERIFY(QSize(800, 600) * std::ldexp(1.0, fit) !=
            (QSize(800, 600) * std::ldexp(1.0, fit)).boundedTo(room));
    QTest::keyClick(mWindow->mLoadFileNameLineEdit, Qt::Key_Return);
    QCOMPARE(view()->zoomStep(), 0);
}

void ViewerShellTest::readoutShowsTheLoadedValue_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("cropped");
    QTest::newRow("u8") << kLsmUint8 << false;
    QTest::newRow("u16 cropped") << kLsmUint16 << true;
    QTest::newRow("float") << kLsmFloat32 << false;
}

void ViewerShellTest::readoutShowsTheLoadedValue() {
    QFETCH(int, code);
    QFETCH(bool, cropped);
    open(lsmSpec(20, 10, 1, 1, 1, {code}));
    if (cropped) {
        mWindow->mEnableCroppingCheckBox->setChecked(true);
        mWindow->mXStartSpinBox->setValue(5);
        mWindow->mYStartSpinBox->setValue(2);
        mWindow->mApplyPushButton->click();
    }
    const QPoint origin = cropped ? QPoint(5, 2) : QPoint(0, 0);
    mShell->zoomInAction()->trigger();
    for (const QPoint pixel : {QPoint(0, 0), QPoint(3, 1), QPoint(14, 7)}) {
        QTest::mouseMove(view(), pixel * 2 + QPoint(1, 1));
        const QPoint at = origin + pixel;
        const QStringList parts = mShell->readoutLabel()->text().split(": ");
        QCOMPARE(parts.value(0), QString("x %1, y %2").arg(at.x()).arg(at.y()));
        QCOMPARE(parts.value(1).toFloat(), float(expectedSample(mSpec, 0, 0, 0, at.y(), at.x())));
    }
    QTest::mouseMove(view(), QPoint((20 - origin.x()) * 2 + 1, 1));
    QCOMPARE(mShell->readoutLabel()->text(), QString());
    QTest::mouseMove(view(), QPoint(1, 1));
    view()->releasePlane();  // as before the next plane is read
    QCOMPARE(mShell->readoutLabel()->text(), QString());
}

void ViewerShellTest::channelColoursFollowCropAndReturnToTheExactGrey() {
    open(lsmSpec(16, 12, 2, 2, 1));
    mWindow->mZPlaneSpinBox->setValue(1);
    const QImage grey = view()->grab(QRect(0, 0, 16, 12)).toImage();
    QTest::keyClick(mWindow->mZPlaneSpinBox, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(mShell->channelColoursAction()->isChecked());
    DorudURIVuruda& reader = *KorvaneViewerQtProbe::reader(*mWindow);
    QCOMPARE(view()->colourPicture(), composeChannels(reader, 0, 1, QRect()));
    QCOMPARE(view()->grab(QRect(0, 0, 16, 12)).toImage().convertToFormat(QImage::Format_RGB32),
             composeChannels(reader, 0, 1, QRect()));

    mWindow->mEnableCroppingCheckBox->setChecked(true);
    mWindow->mXStartSpinBox->setValue(4);
    mWindow->mXWidthSpinBox->setValue(8);
    mWindow->mApplyPushButton->click();
    mShell->zoomInAction()->trigger();
    QCOMPARE(view()->colourPicture(), composeChannels(reader, 0, 1, QRect(4, 0, 8, 12)));

    mWindow->mEnableCroppingCheckBox->setChecked(false);
    mShell->actualSizeAction()->trigger();
    mWindow->mApplyPushButton->click();
    mShell->channelColoursAction()->trigger();
    QVERIFY(view()->colourPicture().isNull());
    QCOMPARE(view()->grab(QRect(0, 0, 16, 12)).toImage(), grey);
}

void ViewerShellTest::droppedFileOpensAsIfTypedAndFileMenuWorks() {
    mFile = std::make_unique<ScopedFile>("dropped.lsm");
    writeLsm(mFile->path(), lsmSpec(8, 8, 1, 1, 1));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(mFile->path()))});
    QWidget* target = mWindow->mPropertiesPlainTextEdit;  // a text field that takes drops itself
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(mWindow->mLoadFileNameLineEdit->text(), QString::fromStdString(mFile->path()));
    QVERIFY(KorvaneViewerQtProbe::reader(*mWindow)->isOpen());
    QCOMPARE(KorvaneViewerQtProbe::image(*mWindow).size(), QSize(8, 8));

    ModalBoxCatcher catcher;
    catcher.setFileDialogAnswer(QString());
    mShell->openAction()->trigger();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.boxes()[0].title, QString("Open Image File"));
    mShell->quitAction()->trigger();
    QVERIFY(!mWindow->isVisible());
}

QTEST_MAIN(ViewerShellTest)
#include "tst_ViewerShell.moc"
