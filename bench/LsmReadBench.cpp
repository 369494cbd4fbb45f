#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "DorudURIVuruda.h"
#include "LsmWriter.h"

using namespace korvane::testsupport;

namespace {

// One file per (code, compression, z planes), written once per process.
const std::string& benchFile(int aCode, Compression aCompression, int aSizeZ) {
    // Removed at exit by ScopedFile.
    static std::map<std::string, std::unique_ptr<ScopedFile>> files;
    const std::string key = std::to_string(aCode) + "/" + std::to_string(static_cast<int>(aCompression)) +
                            "/" + std::to_string(aSizeZ);
    auto it = files.find(key);
    if (it != files.end()) return it->second->path();
    LsmSpec recipe = lsmSpec(1024, 1024, aSizeZ, 2, 1, {aCode, aCode});
    recipe.compression = aCompression;
    recipe.stripsPerChannel = 16;
    auto file = std::make_unique<ScopedFile>("bench.lsm");
    writeLsm(file->path(), recipe);
    return (files[key] = std::move(file))->path();
}

template <typename T>
void readPlane(benchmark::State& state, int aCode, Compression aCompression) {
    DorudURIVuruda reader;
    reader.open(benchFile(aCode, aCompression, 4));
    blitz::Array<T, 2> plane;
    for (auto _ : state) {
        reader.readArray(plane, 0, 1, 2, 1, 0, 0, 0, 0);
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetBytesProcessed(state.iterations() * 1024 * 1024 * bytesPerSample(aCode) * 2);
}

// Same-type reads copy rows as bytes; the others convert sample by sample.
void BM_Uint8IntoUnsignedChar(benchmark::State& s) {
    readPlane<unsigned char>(s, kLsmUint8, Compression::None);
}
void BM_Uint8IntoFloat(benchmark::State& s) { readPlane<float>(s, kLsmUint8, Compression::None); }
void BM_Uint16IntoUnsignedShort(benchmark::State& s) {
    readPlane<unsigned short>(s, kLsmUint16, Compression::None);
}
void BM_Uint16IntoUnsignedChar(benchmark::State& s) {
    readPlane<unsigned char>(s, kLsmUint16, Compression::None);
}
void BM_FloatIntoFloat(benchmark::State& s) { readPlane<float>(s, kLsmFloat32, Compression::None); }
void BM_FloatIntoInt(benchmark::State& s) { readPlane<int>(s, kLsmFloat32, Compression::None); }
void BM_Uint16Lzw(benchmark::State& s) { readPlane<unsigned short>(s, kLsmUint16, Compression::LZW); }
void BM_Uint16Deflate(benchmark::State& s) { readPlane<unsigned short>(s, kLsmUint16, Compression::Deflate); }

BENCHMARK(BM_Uint8IntoUnsignedChar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Uint8IntoFloat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Uint16IntoUnsignedShort)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Uint16IntoUnsignedChar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloatIntoFloat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloatIntoInt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Uint16Lzw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Uint16Deflate)->Unit(benchmark::kMicrosecond);

// A rank-3 read walks the directories in sequence; plane-by-plane reads select each one anew.
constexpr int kStackPlanes = 32;

void BM_StackAsOneRank3Read(benchmark::State& state) {
    DorudURIVuruda reader;
    reader.open(benchFile(kLsmUint8, Compression::None, kStackPlanes));
    blitz::Array<unsigned char, 3> stack;
    for (auto _ : state) {
        reader.readArray(stack, 0, 0, 0, 0, 0, 0, 0, 0);
        benchmark::DoNotOptimize(stack.data());
    }
}

void BM_StackPlaneByPlane(benchmark::State& state) {
    DorudURIVuruda reader;
    reader.open(benchFile(kLsmUint8, Compression::None, kStackPlanes));
    blitz::Array<unsigned char, 2> plane;
    for (auto _ : state) {
        for (int z = 0; z < kStackPlanes; ++z) {
            reader.readArray(plane, 0, 0, z, 1, 0, 0, 0, 0);
            benchmark::DoNotOptimize(plane.data());
        }
    }
}

BENCHMARK(BM_StackAsOneRank3Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackPlaneByPlane)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
