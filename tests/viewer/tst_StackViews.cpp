#include <QtTest>
#include <memory>

#include "BlitzArray.h"  // first, see there
#include "DorudURIVuruda.h"
#include "JobProgress.h"
#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ModalBoxCatcher.h"
#include "OrthoStack.h"
#include "PlaneView.h"
#include "ProjectionJob.h"
#include "ProjectionMode.h"
#include "SliceView.h"
#include "ViewerProbe.h"
#include "ViewerShell.h"
#include "WindowTest.h"

using namespace korvane::testsupport;
using korvane::analysis::ProjectionMethod;

Q_DECLARE_METATYPE(ElementType)
Q_DECLARE_METATYPE(ProjectionMethod)

// Z projections and the orthogonal views: slices against the stack they are cut from, side views at the
// crossing, the projection on screen against the analysis library's, and the ways back to the plane.
class StackViewsTest : public WindowTest {
    Q_OBJECT

    ViewState& state() { return mWindow->viewState(); }
    void open(const LsmSpec& aSpec) {
        openStack(aSpec);
        QVERIFY(state().hasShown());
    }
    void project(ProjectionMethod aMethod, int aFirst, int aLast) {
        StackMode mode = state().stackMode();
        mode.mode = ViewMode::Projection;
        mode.projection = ProjectionSettings{aMethod, aFirst, aLast};
        state().setStackMode(mode);
    }
    // The window shows the plane z of channel 0 at t 0, as the file holds it (8-bit, 0..255).
    void expectPlane(int aZ) {
        QVERIFY(state().stackMode().mode != ViewMode::Projection);
        QCOMPARE(state().shown().mode, ViewMode::Plane);
        QCOMPARE(state().shown().index.zPlane, aZ);
        for (int y = 0; y < mSpec.sizeY; y += 5)
            for (int x = 0; x < mSpec.sizeX; x += 3)
                QCOMPARE(greyAt(*mWindow, x, y), int(expectedSample(mSpec, 0, 0, aZ, y, x)));
    }

  private slots:
    void init() { QVERIFY(showWindow()); }
    void cleanup() { mWindow.reset(); }

    void slicesHoldTheStacksSamples_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<ElementType>("type");
        QTest::addColumn<QRect>("crop");  // null: the whole plane
        QTest::addColumn<QPoint>("crossing");
        QTest::newRow("u8, first corner") << 1 << ElementType::UInt8 << QRect() << QPoint(0, 0);
        QTest::newRow("u16, last corner") << 3 << ElementType::UInt16 << QRect() << QPoint(12, 6);
        QTest::newRow("float, inside") << 5 << ElementType::Float << QRect() << QPoint(5, 3);
        QTest::newRow("u16 read as float") << 3 << ElementType::Float << QRect() << QPoint(7, 2);
        QTest::newRow("u16, cropped") << 3 << ElementType::UInt16 << QRect(2, 1, 5, 4) << QPoint(4, 3);
    }
    void slicesHoldTheStacksSamples() {
        QFETCH(int, code);
        QFETCH(ElementType, type);
        QFETCH(QRect, crop);
        QFETCH(QPoint, crossing);
        // More planes than are read at once, so that a partial batch is spread too.
        const LsmSpec recipe = lsmSpec(13, 7, 11, 2, 2, {code, code});
        ScopedFile file("slices.lsm");
        writeLsm(file.path(), recipe);
        DorudURIVuruda reader;
        reader.open(file.path());
        const StackWindow window =
            crop.isNull() ? StackWindow() : StackWindow{crop.x(), crop.width(), crop.y(), crop.height()};
        const AnyStack stack = readStack(reader, 1, 1, type, window, {});
        const QSize size = crop.isNull() ? QSize(13, 7) : crop.size();
        QCOMPARE(QSize(stackColumns(stack), stackRows(stack)), size);
        const AnyPlane xz = xzSlice(stack, crossing.y());
        const AnyPlane yz = yzSlice(stack, crossing.x());
        QCOMPARE(planeSize(xz), QSize(size.width(), 11));
        QCOMPARE(planeSize(yz), QSize(11, size.height()));
        for (int z = 0; z < 11; ++z) {
            for (int x = 0; x < size.width(); ++x)
                QCOMPARE(planeValue(xz, x, z),
                         expectedSample(recipe, 1, 1, z, window.yStart + crossing.y(), window.xStart + x));
            for (int y = 0; y < size.height(); ++y)
                QCOMPARE(planeValue(yz, z, y),
                         expectedSample(recipe, 1, 1, z, window.yStart + y, window.xStart + crossing.x()));
        }
    }

    void sideViewsShowTheCrossingWithZToScaleAndMoveIt() {
        LsmSpec recipe = lsmSpec(40, 30, 6, 1, 1);
        recipe.voxelSizeZ = 3 * recipe.voxelSizeX;  // each plane three pixels deep on screen
        open(recipe);
        mShell->orthogonalAction()->trigger();
        SliceView* xz = mWindow->findChild<SliceView*>("mXzView");
        SliceView* yz = mWindow->findChild<SliceView*>("mYzView");
        QTRY_VERIFY(xz->isVisible() && yz->isVisible());
        QTest::mouseClick(mWindow->mImageLabel, Qt::LeftButton, {}, QPoint(11, 7));
        QCOMPARE(state().stackMode().crossing, QPoint(11, 7));
        const auto expectViews = [&](const QPoint& aAt) {
            QCOMPARE(xz->picture().size(), QSize(40, 18));
            QCOMPARE(yz->picture().size(), QSize(18, 30));
            for (int z = 0; z < 6; ++z) {
                for (int x = 0; x < 40; ++x)
                    QCOMPARE(qRed(xz->picture().pixel(x, 3 * z + 2)),
                             int(expectedSample(recipe, 0, 0, z, aAt.y(), x)));
                for (int y = 0; y < 30; ++y)
                    QCOMPARE(qRed(yz->picture().pixel(3 * z, y)),
                             int(expectedSample(recipe, 0, 0, z, y, aAt.x())));
            }
        };
        expectViews(QPoint(11, 7));
        // A click in the x-z view moves x and z; the x-y view loads that plane.
        QTest::mouseClick(xz, Qt::LeftButton, {}, QPoint(25, 3 * 4 + 1));
        QCOMPARE(state().stackMode().crossing, QPoint(25, 7));
        QCOMPARE(mWindow->mZPlaneSpinBox->value(), 4);
        expectPlane(4);
        expectViews(QPoint(25, 7));
        // Moves draw from the stack's levels once these are built aside, a moment later.
        QTest::qWait(100);
        QTest::mouseClick(mWindow->mImageLabel, Qt::LeftButton, {}, QPoint(39, 29));
        expectViews(QPoint(39, 29));
        // Off, the views go.
        mShell->orthogonalAction()->trigger();
        QVERIFY(!xz->isVisible() && !yz->isVisible());
        QCOMPARE(state().stackMode().mode, ViewMode::Plane);
    }

    void spectralSideViewsKeepTheXyViewsColours() {
        // The bright upper half makes the x-y view scale its sums down; a side view through the dim lower
        // half must not scale on its own, or its crossing row would not match the x-y view's row.
        LsmSpec recipe = lsmSpec(40, 30, 4, 3, 1);
        recipe.spectralScan = 1;
        recipe.values = [](int, int c, int z, int y, int x) {
            return y < 15 ? 250 : 60 + 4 * x + 10 * c + z;
        };
        open(recipe);
        mShell->channelColoursAction()->trigger();
        mShell->orthogonalAction()->trigger();
        SliceView* xz = mWindow->findChild<SliceView*>("mXzView");
        QTRY_VERIFY(xz->isVisible());
        QTest::mouseClick(mWindow->mImageLabel, Qt::LeftButton, {}, QPoint(11, 22));
        for (int x = 0; x < 40; ++x) QCOMPARE(xz->picture().pixel(x, 0), mWindow->picture().pixel(x, 22));
    }

    void shownProjectionIsTheLibrarysForEveryVisibleChannel_data() {
        QTest::addColumn<ProjectionMethod>("method");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<ElementType>("type");
        QTest::newRow("maximum") << ProjectionMethod::Maximum << 0 << -1 << ElementType::UInt16;
        QTest::newRow("sum of a range") << ProjectionMethod::Sum << 2 << 5 << ElementType::UInt32;
        QTest::newRow("deviation") << ProjectionMethod::StandardDeviation << 1 << 6 << ElementType::Float;
    }
    void shownProjectionIsTheLibrarysForEveryVisibleChannel() {
        QFETCH(ProjectionMethod, method);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(ElementType, type);
        open(lsmSpec(24, 16, 7, 2, 2, {3, 3}));
        mShell->channelColoursAction()->trigger();
        mWindow->mTimepointSpinBox->setValue(1);
        mWindow->mZPlaneSpinBox->setValue(3);
        project(method, first, last);
        QTRY_COMPARE(state().shown().mode, ViewMode::Projection);
        QCOMPARE(state().elementType(), type);
        DorudURIVuruda reader;
        reader.open(mFile->path());
        const std::vector<AnyPlane>& shown = mWindow->planeSource().keptChannelPlanes();
        QCOMPARE(shown.size(), size_t(2));
        for (int c = 0; c < 2; ++c) {
            const auto expected = korvane::analysis::projectZ(reader, {method, 1, c, first, last});
            QVERIFY(expected);
            const AnyPlane plane = anyPlaneOf(*expected);
            QCOMPARE(shown[size_t(c)].index(), plane.index());
            QCOMPARE(planeSize(shown[size_t(c)]), QSize(24, 16));
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 24; ++x)
                    QCOMPARE(planeValue(shown[size_t(c)], x, y), planeValue(plane, x, y));
        }
        // Another timepoint is projected in turn; moving z shows that plane and leaves the projection.
        mWindow->mTimepointSpinBox->setValue(0);
        QTRY_COMPARE(state().shown().mode, ViewMode::Projection);
        QCOMPARE(state().shown().index.timepoint, 0);
        mWindow->mZPlaneSpinBox->setValue(4);
        QCOMPARE(state().stackMode().mode, ViewMode::Plane);
        QCOMPARE(state().shown().mode, ViewMode::Plane);
        QCOMPARE(state().shown().index.zPlane, 4);
    }

    void escapeCancelsTheProjectionAndKeepsThePlane() {
        open(lsmSpec(256, 256, 40, 1, 1));
        project(ProjectionMethod::Mean, 0, -1);
        QVERIFY(mShell->projectionMode()->isBusy());
        QTest::keyClick(mWindow.get(), Qt::Key_Escape);
        QTest::qWait(300);  // long enough for the projection to have come, had it not been cancelled
        QVERIFY(!mShell->projectionMode()->isBusy());
        QVERIFY(mShell->jobProgress()->isHidden());
        expectPlane(0);
    }

    void failedProjectionReturnsToThePlaneWithTheReadersMessage() {
        LsmSpec recipe = lsmSpec(32, 24, 4, 1, 1);
        recipe.stripFaults.push_back({2, 0, StripFaultKind::OffsetBeyondEndOfFile, 0});
        open(recipe);
        QString message;
        try {
            DorudURIVuruda reader;
            reader.open(mFile->path());
            blitz::Array<unsigned char, 2> plane;
            reader.readArray(plane, 0, 0, 2, 1, 0, 0, 0, 0);
        } catch (const BlitzFileIOException& e) {
            message = QString::fromLocal8Bit(e.what());
        }
        QVERIFY(!message.isEmpty());
        // A projection on screen does not outlive the failure of the next one.
        project(ProjectionMethod::Maximum, 0, 1);
        QTRY_COMPARE(state().shown().mode, ViewMode::Projection);
        ModalBoxCatcher catcher;
        project(ProjectionMethod::Maximum, 0, 3);
        QTRY_COMPARE(catcher.count(), 1);
        QCOMPARE(catcher.boxes()[0].title, QString("Z Projection"));
        QCOMPARE(catcher.boxes()[0].text, message);
        expectPlane(0);
    }
};

QTEST_MAIN(StackViewsTest)
#include "tst_StackViews.moc"
