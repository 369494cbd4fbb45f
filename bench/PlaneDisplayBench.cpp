// Drawing a plane: a display range change on a 4096 x 4096 16-bit plane (drawn from the kept plane, the
// file is not read) against a memcpy of its picture; the histogram of the plane against reading it;
// automatic contrast; the composite of three channels.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "BlitzArray.h"  // first, see there
#include "DorudURIVuruda.h"
#include "Histogram.h"
#include "LsmWriter.h"
#include "PlaneDisplay.h"
#include "Renderer.h"

using namespace korvane::testsupport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSide = 4096;

double seconds(Clock::duration aDuration) { return std::chrono::duration<double>(aDuration).count(); }

template <typename T>
blitz::Array<T, 2> rampPlane(int aSide) {
    blitz::Array<T, 2> plane(aSide, aSide);
    for (int y = 0; y < aSide; ++y)
        for (int x = 0; x < aSide; ++x) plane(y, x) = static_cast<T>((x + 3 * y) % 4000);
    return plane;
}

// Time of aWork against a memcpy of the picture it draws, both measured in each iteration.
template <typename Work>
void againstMemcpy(benchmark::State& state, QImage& aPicture, Work aWork) {
    std::vector<char> copy;
    double workSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        aWork();
        const double elapsed = seconds(Clock::now() - start);
        state.SetIterationTime(elapsed);
        workSeconds += elapsed;
        copy.resize(size_t(aPicture.sizeInBytes()));
        start = Clock::now();
        std::memcpy(copy.data(), aPicture.constBits(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        copySeconds += seconds(Clock::now() - start);
    }
    state.counters["per_memcpy"] = workSeconds / copySeconds;
}

template <typename T>
void rangeChange(benchmark::State& state) {
    const AnyPlane plane = rampPlane<T>(kSide);
    const LutTable lut = lutTable(Lut::Grey, 0xFFFFFF);
    QImage picture;
    renderMapped(plane, 0, 4000, lut, picture);
    int step = 0;
    againstMemcpy(state, picture, [&] {
        ++step;
        renderMapped(plane, step % 100, 3000 + step % 100, lut, picture);
    });
}

void BM_RangeChangeUint8(benchmark::State& s) { rangeChange<unsigned char>(s); }
void BM_RangeChangeUint16(benchmark::State& s) { rangeChange<unsigned short>(s); }
void BM_RangeChangeFloat(benchmark::State& s) { rangeChange<float>(s); }

template <typename T>
void automaticContrast(benchmark::State& state) {
    const blitz::Array<T, 2> plane = rampPlane<T>(kSide);
    QImage picture;
    againstMemcpy(state, picture, [&] { renderGreyPlane(plane, picture); });
}

void BM_AutomaticContrastUint16(benchmark::State& s) { automaticContrast<unsigned short>(s); }
void BM_AutomaticContrastFloat(benchmark::State& s) { automaticContrast<float>(s); }

void BM_CompositeThreeUint16(benchmark::State& state) {
    const AnyPlane planes[] = {rampPlane<unsigned short>(kSide), rampPlane<unsigned short>(kSide),
                               rampPlane<unsigned short>(kSide)};
    std::vector<CompositeChannel> channels;
    const QRgb colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int c = 0; c < 3; ++c)
        channels.push_back({&planes[c], 0.0, 4000.0, lutTable(Lut::FileColour, colours[c])});
    QImage picture;
    againstMemcpy(state, picture, [&] { renderComposite(channels, false, picture); });
}

// The histogram of a 16-bit plane against reading that plane from a file in the page cache.
void BM_HistogramUint16(benchmark::State& state) {
    ScopedFile file("histogram-bench.lsm");
    writeLsm(file.path(), lsmSpec(kSide, kSide, 1, 1, 1, {kLsmUint16}));
    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<unsigned short, 2> plane;
    reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0);
    double histogramSeconds = 0;
    double readSeconds = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        const Histogram counts = histogramOf(AnyPlane(plane));
        benchmark::DoNotOptimize(saturatedRange(counts));
        const double elapsed = seconds(Clock::now() - start);
        state.SetIterationTime(elapsed);
        histogramSeconds += elapsed;
        start = Clock::now();
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0);
        readSeconds += seconds(Clock::now() - start);
    }
    state.counters["per_read"] = histogramSeconds / readSeconds;
}

BENCHMARK(BM_RangeChangeUint8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RangeChangeUint16)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RangeChangeFloat)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutomaticContrastUint16)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutomaticContrastFloat)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompositeThreeUint16)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramUint16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
