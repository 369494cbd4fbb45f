#include <benchmark/benchmark.h>

#include "BlitzArray.h"
#include "PlaneDisplay.h"

namespace {

// A 1024 x 1024 plane with a ramp wider than 255, so automatic contrast has something to compress.
template <typename T>
blitz::Array<T, 2> rampPlane() {
    blitz::Array<T, 2> plane(1024, 1024);
    for (int y = 0; y < 1024; ++y)
        for (int x = 0; x < 1024; ++x) plane(y, x) = static_cast<T>((x + 3 * y) % 4000);
    return plane;
}

template <typename T>
void renderPlane(benchmark::State& state, bool aAutomaticContrast) {
    const blitz::Array<T, 2> plane = rampPlane<T>();
    QImage image;
    for (auto _ : state) {
        renderGreyPlane(plane, aAutomaticContrast, image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}

void BM_RenderUint16(benchmark::State& s) { renderPlane<unsigned short>(s, false); }
void BM_RenderUint16AutomaticContrast(benchmark::State& s) { renderPlane<unsigned short>(s, true); }
void BM_RenderFloat(benchmark::State& s) { renderPlane<float>(s, false); }
void BM_RenderFloatAutomaticContrast(benchmark::State& s) { renderPlane<float>(s, true); }

BENCHMARK(BM_RenderUint16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderUint16AutomaticContrast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFloat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFloatAutomaticContrast)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
