// Moving the crossing of the orthogonal views over a kept 512 x 512 x 64 16-bit stack (z three pixels
// deep on screen): drawing both side views from the stack's kept levels, as the window does once they are
// built, and painting them, against a memcpy of their two pictures plus the same paint; and the same
// with slices cut from the stack itself, as the window draws while the levels are being built. Writes a
// 32 MiB stack to $TMPDIR.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "BlitzArray.h"  // first, see there
#include "DorudURIVuruda.h"
#include "LevelStack.h"
#include "LsmWriter.h"
#include "OrthoStack.h"
#include "SliceRender.h"
#include "SliceView.h"
#include "ViewState.h"

using namespace korvane::testsupport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSide = 512;
constexpr int kPlanes = 64;
constexpr int kZPixels = 3 * kPlanes;

double seconds(Clock::duration aDuration) { return std::chrono::duration<double>(aDuration).count(); }

// A stack of beads on a noisy background, read the way the orthogonal views read it.
AnyStack beadStack() {
    ScopedFile file("ortho-bench.lsm");
    LsmSpec recipe = lsmSpec(kSide, kSide, kPlanes, 1, 1, {kLsmUint16});
    recipe.values = [](int, int, int z, int y, int x) {
        const double dx = (x % 64) - 32.0, dy = (y % 64) - 32.0, dz = (z - 32.0) / 3.0;
        return 200.0 + (x * 7 + y * 13 + z * 101) % 50 +
               3000.0 * std::exp(-(dx * dx + dy * dy + dz * dz) / 20.0);
    };
    writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    return readStack(reader, 0, 0, ElementType::UInt16, StackWindow(), {});
}

void BM_MoveCrossingUint16(benchmark::State& state) {
    ViewState view;
    StackInfo info;
    ChannelInfo channel;
    channel.bits = 16;
    info.channels << channel;
    info.calibration.xMicrons = info.calibration.yMicrons = 0.1;
    info.calibration.zMicrons = 0.3;
    view.setFile("bench.lsm", info);
    view.setShown(PlaneRequest(), ElementType::UInt16);
    ChannelDisplay display;
    display.minimum = 100;
    display.maximum = 3000;
    display.rangeSet = true;
    view.setDisplay(0, display);

    const AnyStack stack = beadStack();
    const std::vector<AnyPlane> planes(1);
    LevelStack levels;
    const std::atomic<bool> stop{false};
    if (!levels.build(stack, *levelMappingFor(view, stack, planes[0]), stop)) {
        state.SkipWithError("no memory for the levels");
        return;
    }
    SliceRenderer xzRenderer;
    SliceRenderer yzRenderer;
    QImage xzPicture;
    QImage yzPicture;
    SliceView xzView;
    SliceView yzView;
    QImage xzScreen(kSide, kZPixels, QImage::Format_RGB32);  // what a window's backing store would be
    QImage yzScreen(kZPixels, kSide, QImage::Format_RGB32);
    const auto paint = [&] {
        xzView.render(&xzScreen);
        yzView.render(&yzScreen);
    };
    // Both views at the crossing (aX, aY), drawn from the levels or from slices cut from the stack.
    const auto draw = [&](int aX, int aY, bool aFromLevels) {
        xzView.dropPicture();
        yzView.dropPicture();
        if (aFromLevels) {
            xzRenderer.renderLevels(view, levels, aY, true, kZPixels, xzPicture);
            yzRenderer.renderLevels(view, levels, aX, false, kZPixels, yzPicture);
        } else {
            xzRenderer.render(view, {xzSlice(stack, aY)}, planes, true, kZPixels, xzPicture);
            yzRenderer.render(view, {yzSlice(stack, aX)}, planes, false, kZPixels, yzPicture);
        }
        xzView.setPicture(xzPicture);
        yzView.setPicture(yzPicture);
        xzView.setCrossing(QPointF(aX + 0.5, 31.5));
        yzView.setCrossing(QPointF(31.5, aY + 0.5));
    };
    std::vector<char> xzCopy;
    std::vector<char> yzCopy;
    double moveSeconds = 0;
    double copySeconds = 0;
    double drawSeconds = 0;       // drawing from the levels, without the paint
    double memcpySeconds = 0;     // the copies alone
    double fromStackSeconds = 0;  // drawing from the stack and painting
    int step = 0;
    for (auto _ : state) {
        step = (step + 37) % kSide;
        Clock::time_point start = Clock::now();
        draw(kSide - 1 - step, step, true);
        drawSeconds += seconds(Clock::now() - start);
        paint();
        const double elapsed = seconds(Clock::now() - start);
        state.SetIterationTime(elapsed);
        moveSeconds += elapsed;

        xzCopy.resize(size_t(xzPicture.sizeInBytes()));
        yzCopy.resize(size_t(yzPicture.sizeInBytes()));
        start = Clock::now();
        std::memcpy(xzCopy.data(), xzPicture.constBits(), xzCopy.size());
        std::memcpy(yzCopy.data(), yzPicture.constBits(), yzCopy.size());
        benchmark::DoNotOptimize(xzCopy.data());
        benchmark::DoNotOptimize(yzCopy.data());
        memcpySeconds += seconds(Clock::now() - start);
        paint();
        copySeconds += seconds(Clock::now() - start);

        // The crossing half the stack away, as far from any recent move as the move's own slices are.
        const int away = (step + kSide / 2) % kSide;
        start = Clock::now();
        draw(kSide - 1 - away, away, false);
        paint();
        fromStackSeconds += seconds(Clock::now() - start);
    }
    state.counters["per_memcpy_and_paint"] = moveSeconds / copySeconds;
    state.counters["drawing_per_memcpy"] = drawSeconds / memcpySeconds;
    state.counters["from_stack_per_memcpy_and_paint"] = fromStackSeconds / copySeconds;
}

BENCHMARK(BM_MoveCrossingUint16)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
