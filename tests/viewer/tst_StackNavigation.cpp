#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <memory>

#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "PlaneView.h"
#include "PlaybackClock.h"
#include "ProfilePlot.h"
#include "StackSliders.h"
#include "ViewerProbe.h"
#include "ViewerShell.h"
#include "WindowTest.h"

using namespace korvane::testsupport;

// Moving through the stack: the z and t sliders with playback, Space and the wheel, and the line profile.
class StackNavigationTest : public WindowTest {
    Q_OBJECT

    PlaneView* view() { return mWindow->mImageLabel; }
    StackSliders* sliders() { return mShell->stackSliders(); }
    void open(const LsmSpec& aSpec) { openStack(aSpec); }
    bool showsPlane(int aT, int aZ) {
        const QImage& picture = mWindow->picture();
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (greyAt(*mWindow, x, y) != int(expectedSample(mSpec, aT, 0, aZ, y, x))) return false;
        return true;
    }
    void wheel(Qt::KeyboardModifiers aModifiers, int aAngle) {
        QWheelEvent event(QPointF(2, 2), view()->mapToGlobal(QPointF(2, 2)), QPoint(), QPoint(0, aAngle),
                          Qt::NoButton, aModifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view(), &event);
    }

  private slots:
    void init() { QVERIFY(showWindow()); }
    void cleanup() { mWindow.reset(); }

    void slidersAppearWhereNeededAndStayInStepWithTheSpinBoxes_data() {
        QTest::addColumn<QList<int>>("xyzt");
        QTest::addColumn<bool>("zShown");
        QTest::addColumn<bool>("tShown");
        QTest::newRow("one plane") << QList<int>{8, 4, 1, 1} << false << false;
        QTest::newRow("z and t") << QList<int>{8, 4, 5, 3} << true << true;
        QTest::newRow("t only") << QList<int>{8, 4, 1, 3} << false << true;
        QTest::newRow("line scan: t is the picture's rows") << QList<int>{8, 1, 1, 6} << false << false;
    }
    void slidersAppearWhereNeededAndStayInStepWithTheSpinBoxes() {
        QFETCH(QList<int>, xyzt);
        QFETCH(bool, zShown);
        QFETCH(bool, tShown);
        const QSize before = mWindow->size();
        QVERIFY(!sliders()->isVisible());
        open(lsmSpec(xyzt[0], xyzt[1], xyzt[2], 1, xyzt[3]));
        QCOMPARE(sliders()->isVisible(), zShown || tShown);
        QCOMPARE(sliders()->slider(StackSliders::ZAxis)->isVisible(), zShown);
        QCOMPARE(sliders()->slider(StackSliders::TAxis)->isVisible(), tShown);
        QCOMPARE(mWindow->size(), before);  // the bar takes its room from the image area
        if (xyzt[1] == 1) return;

        QSlider* z = sliders()->slider(StackSliders::ZAxis);
        QSlider* t = sliders()->slider(StackSliders::TAxis);
        if (tShown) {
            t->setValue(2);
            QCOMPARE(mWindow->mTimepointSpinBox->value(), 2);
        }
        if (zShown) {
            z->setValue(4);
            QCOMPARE(mWindow->mZPlaneSpinBox->value(), 4);
            mWindow->mZPlaneSpinBox->setValue(1);
            QCOMPARE(z->value(), 1);
            QTest::keyClick(mWindow->mZPlaneSpinBox, Qt::Key_PageDown);
            QCOMPARE(z->value(), 2);
        }
        QVERIFY(showsPlane(mWindow->mTimepointSpinBox->value(), mWindow->mZPlaneSpinBox->value()));
        // A value the spin box refuses leaves the slider on the plane shown.
        mWindow->mTimepointSpinBox->setValue(9);
        QCOMPARE(t->value(), tShown ? 2 : 0);
    }

    void playbackKeepsToTheClockAndSkipsLateFrames_data() {
        QTest::addColumn<double>("fps");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<int>("frame");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<int>("waitMs");  // until the next frame is due
        QTest::newRow("before the next frame") << 10.0 << true << 0 << 99 << 0 << false << 1;
        QTest::newRow("on time") << 10.0 << true << 0 << 100 << 1 << false << 100;
        QTest::newRow("a slow plane skips two frames") << 10.0 << true << 0 << 350 << 3 << false << 50;
        QTest::newRow("loops round") << 10.0 << true << 3 << 250 << 0 << false << 50;
        QTest::newRow("stops at the last") << 10.0 << false << 3 << 900 << 4 << true << 100;
        QTest::newRow("slow rate") << 0.5 << false << 0 << 1999 << 0 << false << 1;
        QTest::newRow("a frame time between milliseconds") << 60.0 << true << 0 << 20 << 1 << false << 14;
    }
    void playbackKeepsToTheClockAndSkipsLateFrames() {
        QFETCH(double, fps);
        QFETCH(bool, loop);
        QFETCH(int, first);
        QFETCH(int, elapsedMs);
        QFETCH(int, frame);
        QFETCH(bool, finished);
        QFETCH(int, waitMs);
        PlaybackClock clock;
        clock.start(first, 5, fps, loop, 1000);
        QCOMPARE(clock.frameAt(1000 + elapsedMs), frame);
        QCOMPARE(clock.finishedAt(1000 + elapsedMs), finished);
        QCOMPARE(clock.msUntilNextFrame(1000 + elapsedMs), waitMs);
    }

    void spacePlaysAndTheWheelStepsZ() {
        open(lsmSpec(8, 4, 5, 1, 3));
        sliders()->framesPerSecond()->setValue(100);
        sliders()->loop()->setChecked(false);
        // Space plays z to its last plane and stops there, from whichever control has the focus...
        mWindow->mApplyPushButton->setFocus();
        QTest::keyClick(mWindow->mApplyPushButton, Qt::Key_Space);
        QVERIFY(sliders()->isPlaying(StackSliders::ZAxis));
        QTRY_VERIFY(!sliders()->isPlaying(StackSliders::ZAxis));
        QCOMPARE(mWindow->mZPlaneSpinBox->value(), 4);
        QVERIFY(showsPlane(0, 4));
        // ...except a text field, which takes it as text.
        mWindow->mSaveFileNameLineEdit->setFocus();
        QTest::keyClick(mWindow->mSaveFileNameLineEdit, Qt::Key_Space);
        QCOMPARE(mWindow->mSaveFileNameLineEdit->text(), QString(" "));
        QVERIFY(!sliders()->isPlaying(StackSliders::ZAxis));

        // Towards the user the wheel goes to the next plane, half notches add up, Ctrl still zooms.
        wheel(Qt::NoModifier, 120);
        wheel(Qt::NoModifier, 60);
        wheel(Qt::NoModifier, 60);
        QCOMPARE(mWindow->mZPlaneSpinBox->value(), 2);
        wheel(Qt::NoModifier, -120);
        QCOMPARE(mWindow->mZPlaneSpinBox->value(), 3);
        wheel(Qt::ControlModifier, 120);
        QCOMPARE(view()->zoom(), 2.0);
        QCOMPARE(mWindow->mZPlaneSpinBox->value(), 3);

        // With one z plane Space plays t.
        open(lsmSpec(8, 4, 1, 1, 3));
        mShell->playAction()->trigger();
        QVERIFY(sliders()->isPlaying(StackSliders::TAxis));
        mShell->playAction()->trigger();
        QVERIFY(!sliders()->isPlaying(StackSliders::TAxis));
    }

    void profileFollowsTheLineAcrossChannelsAndPlanes_data() {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<int>("samples");
        QTest::newRow("horizontal") << QPoint(1, 2) << QPoint(6, 2) << 6;
        QTest::newRow("diagonal") << QPoint(0, 0) << QPoint(3, 4) << 6;
        QTest::newRow("backwards") << QPoint(9, 5) << QPoint(0, 5) << 10;
    }
    void profileFollowsTheLineAcrossChannelsAndPlanes() {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(int, samples);
        LsmSpec recipe = lsmSpec(10, 6, 2, 2, 1, {kLsmUint16, kLsmUint16});
        // Linear in x and y, so that interpolated values are exact.
        recipe.values = [](int, int c, int z, int y, int x) {
            return 10.0 * x + 100.0 * y + 1000.0 * z + 5000.0 * c;
        };
        open(recipe);
        mShell->channelColoursAction()->trigger();
        mShell->zoomInAction()->trigger();
        mShell->zoomInAction()->trigger();
        const auto centre = [](const QPoint& aPixel) { return aPixel * 4 + QPoint(2, 2); };
        QTest::mousePress(view(), Qt::LeftButton, Qt::ShiftModifier, centre(from));
        QTest::mouseMove(view(), centre(to));
        QTest::mouseRelease(view(), Qt::LeftButton, Qt::ShiftModifier, centre(to));
        QVERIFY(mShell->profileDock()->isVisible());

        const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
        for (int z : {0, 1}) {
            mWindow->mZPlaneSpinBox->setValue(z);
            const Profile& profile = mShell->profilePlot()->profile();
            QVERIFY(profile.inMicrons);
            QVERIFY(std::abs(profile.length - length * 0.2) < 1e-6);  // pixels of 0.2 µm
            QCOMPARE(int(profile.curves.size()), 2);
            for (const ProfileCurve& curve : profile.curves) {
                QCOMPARE(int(curve.values.size()), samples);
                for (int i = 0; i < samples; ++i) {
                    const double x = from.x() + (to.x() - from.x()) * i / length;
                    const double y = from.y() + (to.y() - from.y()) * i / length;
                    const double expected = 10 * x + 100 * y + 1000 * z + 5000 * curve.channel;
                    QVERIFY2(std::abs(curve.values[size_t(i)] - expected) < 1e-6,
                             qPrintable(QString("sample %1: %2").arg(i).arg(curve.values[size_t(i)])));
                }
            }
        }
        // Shift+click takes the line away.
        QTest::mouseClick(view(), Qt::LeftButton, Qt::ShiftModifier, centre(from));
        QVERIFY(mShell->profilePlot()->profile().isEmpty());
    }
};

QTEST_MAIN(StackNavigationTest)
#include "tst_StackNavigation.moc"
