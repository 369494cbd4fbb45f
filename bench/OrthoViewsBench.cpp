// Moving the crossing of the orthogonal views over a kept 512 x 512 x 64 16-bit stack (z three pixels
// deep on screen): cutting both side views' slices, drawing and painting them, against a memcpy of their
// two pictures plus the same paint; and, as a floor for any drawing, a bare drawing of such slices
// without colours. Writes a 32 MiB stack to $TMPDIR.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "BlitzArray.h"  // first, see there
#include "DorudURIVuruda.h"
#include "LsmWriter.h"
#include "OrthoStack.h"
#include "SliceRender.h"
#include "SliceView.h"
#include "Transpose.h"
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

#if defined(__SSE2__)
// The least any drawing of the two side views does: read every slice element once and write it to every
// pixel of its stretch (three), with no colour work; the x-z slice turned as the renderer turns it. Its
// time against the memcpy shows how close to the memcpy any drawing can come on this machine.
void drawBare(const AnyPlane& aXz, const AnyPlane& aYz, QImage& aXzPicture, QImage& aYzPicture) {
    using Slice = blitz::Array<unsigned short, 2>;
    const Slice& xz = std::get<Slice>(aXz);  // planes down, columns kPlanes elements apart
    const Slice& yz = std::get<Slice>(aYz);  // rows a whole x-z slice apart, planes side by side
    const __m128i zero = _mm_setzero_si128();
    std::vector<quint32> block(size_t(8 * kSide));
    auto* const lines = reinterpret_cast<__m128i*>(block.data());
    constexpr int kGroups = kSide / 4;
    for (int z = 0; z < kPlanes; z += 8) {
        for (int g = 0; g < kGroups; ++g) {
            __m128i wide[4][2];
            for (int i = 0; i < 4; ++i) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&xz(z, 4 * g + i)));
                wide[i][0] = _mm_unpacklo_epi16(v, zero);
                wide[i][1] = _mm_unpackhi_epi16(v, zero);
            }
            for (int h = 0; h < 2; ++h) {
                transposeFour(wide[0][h], wide[1][h], wide[2][h], wide[3][h]);
                for (int i = 0; i < 4; ++i) _mm_storeu_si128(lines + (4 * h + i) * kGroups + g, wide[i][h]);
            }
        }
        for (int r = 0; r < 8; ++r)
            for (int n = 0; n < 3; ++n)
                std::memcpy(aXzPicture.scanLine(3 * (z + r) + n), lines + r * kGroups,
                            kSide * sizeof(quint32));
    }
    for (int y = 0; y < kSide; ++y) {
        if (y + 8 < kSide) {
            __builtin_prefetch(&yz(y + 8, 0));
            __builtin_prefetch(&yz(y + 8, 32));
        }
        auto* line = reinterpret_cast<__m128i*>(aYzPicture.scanLine(y));
        for (int z = 0; z < kPlanes; z += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&yz(y, z)));
            for (const __m128i four : {_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero)}) {
                _mm_storeu_si128(line++, _mm_shuffle_epi32(four, _MM_SHUFFLE(1, 0, 0, 0)));
                _mm_storeu_si128(line++, _mm_shuffle_epi32(four, _MM_SHUFFLE(2, 2, 1, 1)));
                _mm_storeu_si128(line++, _mm_shuffle_epi32(four, _MM_SHUFFLE(3, 3, 3, 2)));
            }
        }
    }
}
#endif

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
    std::vector<char> xzCopy;
    std::vector<char> yzCopy;
    double moveSeconds = 0;
    double copySeconds = 0;
    double drawSeconds = 0;    // cutting and drawing, without the paint
    double memcpySeconds = 0;  // the copies alone
    double bareSeconds = 0;    // a bare drawing of other slices: a floor for any drawing
    double paintSeconds = 0;   // the paint after the memcpy
    int step = 0;
    for (auto _ : state) {
        step = (step + 37) % kSide;
        Clock::time_point start = Clock::now();
        const std::vector<AnyPlane> xz{xzSlice(stack, step)};
        const std::vector<AnyPlane> yz{yzSlice(stack, kSide - 1 - step)};
        xzView.dropPicture();
        yzView.dropPicture();
        xzRenderer.render(view, xz, planes, true, kZPixels, xzPicture);
        yzRenderer.render(view, yz, planes, false, kZPixels, yzPicture);
        xzView.setPicture(xzPicture);
        yzView.setPicture(yzPicture);
        xzView.setCrossing(QPointF(kSide - 1 - step + 0.5, 31.5));
        yzView.setCrossing(QPointF(31.5, step + 0.5));
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
        const double copied = seconds(Clock::now() - start);
        memcpySeconds += copied;
        paint();
        const double copiedAndPainted = seconds(Clock::now() - start);
        copySeconds += copiedAndPainted;
        paintSeconds += copiedAndPainted - copied;
#if defined(__SSE2__)
        // In the state the real drawing finds the pictures (just painted) and its slices (the crossing
        // half the stack away, as far from any recent move as the real slices are).
        const int away = (step + kSide / 2) % kSide;
        const AnyPlane bareXz = xzSlice(stack, away);
        const AnyPlane bareYz = yzSlice(stack, kSide - 1 - away);
        xzView.dropPicture();
        yzView.dropPicture();
        start = Clock::now();
        drawBare(bareXz, bareYz, xzPicture, yzPicture);
        bareSeconds += seconds(Clock::now() - start);
        xzView.setPicture(xzPicture);
        yzView.setPicture(yzPicture);
        paint();
#endif
    }
    state.counters["per_memcpy_and_paint"] = moveSeconds / copySeconds;
    state.counters["drawing_per_memcpy"] = drawSeconds / memcpySeconds;
    if (bareSeconds > 0) {
        state.counters["bare_drawing_per_memcpy"] = bareSeconds / memcpySeconds;
        // What the first figure would be with the bare drawing in place of the real one.
        state.counters["bare_per_memcpy_and_paint"] = (bareSeconds + paintSeconds) / copySeconds;
    }
}

BENCHMARK(BM_MoveCrossingUint16)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
