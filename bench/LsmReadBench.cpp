#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
    int z = 2;
    for (auto _ : state) {
        // Alternating planes: the reader keeps the last decoded plane, and this measures decoding.
        reader.readArray(plane, 0, 1, z, 1, 0, 0, 0, 0);
        z ^= 1;
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetBytesProcessed(state.iterations() * 1024 * 1024 * bytesPerSample(aCode));
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

// ---- Ratios measured in one run ----

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point aStart) {
    return std::chrono::duration<double>(Clock::now() - aStart).count();
}

// A 2048 x 2048, 3-channel stack of 2 planes, 16 strips per channel, written once per (code, compression).
struct BigStack {
    std::unique_ptr<ScopedFile> file;
    LsmSpec recipe;
    LsmLayoutInfo info;
};

const BigStack& bigStack(int aCode, Compression aCompression) {
    static std::map<std::pair<int, int>, BigStack> stacks;
    BigStack& stack = stacks[{aCode, static_cast<int>(aCompression)}];
    if (!stack.file) {
        stack.recipe = lsmSpec(2048, 2048, 2, 3, 1, {aCode, aCode, aCode});
        stack.recipe.stripsPerChannel = 16;
        stack.recipe.compression = aCompression;
        stack.file = std::make_unique<ScopedFile>("big.lsm");
        stack.info = writeLsmWithInfo(stack.file->path(), stack.recipe);
    }
    return stack;
}

// readArray of one channel (same element type) against pread of exactly the bytes it needs: the whole
// channel plane, or each row's part of a 512 x 512 window.
template <typename T>
void readVsPread(benchmark::State& state, int aCode, bool aCropped) {
    const BigStack& stack = bigStack(aCode, Compression::None);
    const int channel = 0;
    const int bytes = bytesPerSample(aCode);
    const int y0 = aCropped ? 700 : 0, x0 = aCropped ? 900 : 0, h = aCropped ? 512 : 2048,
              w = aCropped ? 512 : 2048;
    DorudURIVuruda reader;
    reader.open(stack.file->path());
    const int fd = ::open(stack.file->path().c_str(), O_RDONLY);
    std::vector<char> buffer(size_t(h) * w * bytes);
    blitz::Array<T, 2> plane;
    double readSeconds = 0, preadSeconds = 0;
    int z = 0;
    for (auto _ : state) {
        z ^= 1;
        Clock::time_point start = Clock::now();
        for (const StripLayout& strip : stack.info.images[size_t(z)].strips) {
            if (strip.channel != channel || strip.firstRow + strip.rows <= y0 || strip.firstRow >= y0 + h)
                continue;
            for (int y = std::max(y0, strip.firstRow); y < std::min(y0 + h, strip.firstRow + strip.rows);) {
                // Whole planes come in one pread per strip, windows in one per row.
                const int rows = aCropped ? 1 : strip.rows;
                const off_t at = off_t(strip.position) + (off_t(y - strip.firstRow) * 2048 + x0) * bytes;
                const size_t size = size_t(rows == 1 ? w : 2048 * rows) * bytes;
                if (::pread(fd, buffer.data() + size_t(y - y0) * w * bytes, size, at) != ssize_t(size))
                    state.SkipWithError("pread failed");
                y += rows;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
        preadSeconds += secondsSince(start);
        start = Clock::now();
        reader.readArray(plane, 0, channel, z, 1, y0, h, x0, w);
        benchmark::DoNotOptimize(plane.data());
        const double seconds = secondsSince(start);
        readSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    ::close(fd);
    state.counters["readArray_over_pread"] = readSeconds / preadSeconds;
    state.SetBytesProcessed(state.iterations() * int64_t(h) * w * bytes);
}

void BM_ReadVsPreadUint8Whole(benchmark::State& s) { readVsPread<unsigned char>(s, kLsmUint8, false); }
void BM_ReadVsPreadUint16Whole(benchmark::State& s) { readVsPread<unsigned short>(s, kLsmUint16, false); }
void BM_ReadVsPreadFloatWhole(benchmark::State& s) { readVsPread<float>(s, kLsmFloat32, false); }
void BM_ReadVsPreadUint8Cropped(benchmark::State& s) { readVsPread<unsigned char>(s, kLsmUint8, true); }
void BM_ReadVsPreadUint16Cropped(benchmark::State& s) { readVsPread<unsigned short>(s, kLsmUint16, true); }
void BM_ReadVsPreadFloatCropped(benchmark::State& s) { readVsPread<float>(s, kLsmFloat32, true); }
BENCHMARK(BM_ReadVsPreadUint8Whole)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVsPreadUint16Whole)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVsPreadFloatWhole)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVsPreadUint8Cropped)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVsPreadUint16Cropped)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVsPreadFloatCropped)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A 16-bit channel plane decoded from LZW or Deflate strips against the same plane uncompressed.
void compressedVsPlain(benchmark::State& state, Compression aCompression) {
    DorudURIVuruda plain, packed;
    plain.open(bigStack(kLsmUint16, Compression::None).file->path());
    packed.open(bigStack(kLsmUint16, aCompression).file->path());
    blitz::Array<unsigned short, 2> plane;
    double plainSeconds = 0, packedSeconds = 0;
    int z = 0;
    for (auto _ : state) {
        z ^= 1;  // the kept plane must not answer
        Clock::time_point start = Clock::now();
        plain.readArray(plane, 0, 1, z, 1, 0, 0, 0, 0);
        plainSeconds += secondsSince(start);
        start = Clock::now();
        packed.readArray(plane, 0, 1, z, 1, 0, 0, 0, 0);
        const double seconds = secondsSince(start);
        packedSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["over_uncompressed"] = packedSeconds / plainSeconds;
}

void BM_LzwVsUncompressed(benchmark::State& s) { compressedVsPlain(s, Compression::LZW); }
void BM_DeflateVsUncompressed(benchmark::State& s) { compressedVsPlain(s, Compression::Deflate); }
BENCHMARK(BM_LzwVsUncompressed)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateVsUncompressed)->UseManualTime()->Unit(benchmark::kMillisecond);

// Reading the plane just decoded again in another element type (the kept plane) against decoding it.
void BM_KeptPlaneVsDecoding(benchmark::State& state) {
    DorudURIVuruda reader;
    reader.open(bigStack(kLsmUint16, Compression::None).file->path());
    blitz::Array<unsigned char, 2> decoded;
    blitz::Array<float, 2> again;
    double decodeSeconds = 0, keptSeconds = 0;
    int z = 0;
    for (auto _ : state) {
        z ^= 1;
        Clock::time_point start = Clock::now();
        reader.readArray(decoded, 0, 1, z, 1, 0, 0, 0, 0);
        decodeSeconds += secondsSince(start);
        start = Clock::now();
        reader.readArray(again, 0, 1, z, 1, 0, 0, 0, 0);
        const double seconds = secondsSince(start);
        keptSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["kept_over_decoding"] = keptSeconds / decodeSeconds;
}
BENCHMARK(BM_KeptPlaneVsDecoding)->UseManualTime()->Unit(benchmark::kMicrosecond);

// 40,000 planes of 16 x 16 pixels with a 1 x 1 preview each: 80,000 image directories. Beyond 4 GiB,
// the pixel data starts 5 MB before the 4 GiB mark (a hole before it), so half the strip offsets wrap
// and the walk places every strip.
const std::string& deepStack(bool aBeyond4GiB = false) {
    static std::unique_ptr<ScopedFile> files[2];
    std::unique_ptr<ScopedFile>& file = files[aBeyond4GiB];
    if (!file) {
        LsmSpec recipe = lsmSpec(16, 16, 40000, 1, 1);
        recipe.previewWidth = recipe.previewHeight = 1;
        recipe.previewRgb = false;
        recipe.colorBlock = false;
        if (aBeyond4GiB) recipe.pixelDataStart = (uint64_t(1) << 32) - 5000000;
        file = std::make_unique<ScopedFile>("deep.lsm");
        writeLsm(file->path(), recipe);
    }
    return file->path();
}

// The last planes against the first ones, after one read has walked the chain.
void BM_DeepStackLastVsFirstPlanes(benchmark::State& state) {
    DorudURIVuruda reader;
    reader.open(deepStack(state.range(0) != 0));
    blitz::Array<unsigned char, 2> plane;
    const Clock::time_point walk = Clock::now();
    reader.readArray(plane, 0, 0, 39999, 1, 0, 0, 0, 0);
    state.counters["first_walk_ms"] = secondsSince(walk) * 1e3;
    double firstSeconds = 0, lastSeconds = 0;
    int k = 0;
    for (auto _ : state) {
        k = (k + 1) % 10;
        Clock::time_point start = Clock::now();
        reader.readArray(plane, 0, 0, k, 1, 0, 0, 0, 0);
        firstSeconds += secondsSince(start);
        start = Clock::now();
        reader.readArray(plane, 0, 0, 39990 + k, 1, 0, 0, 0, 0);
        const double seconds = secondsSince(start);
        lastSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["last_over_first"] = lastSeconds / firstSeconds;
}
// Argument 1: the stack beyond 4 GiB, whose first walk also places every strip.
BENCHMARK(BM_DeepStackLastVsFirstPlanes)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_DeepStackOpen(benchmark::State& state) {
    const std::string& path = deepStack();
    DorudURIVuruda reader;
    for (auto _ : state) {
        reader.open(path);
        reader.close();
    }
}
BENCHMARK(BM_DeepStackOpen)->Unit(benchmark::kMicrosecond);

// A line scan of 50,000 lines of 64 pixels in one image (one strip), read line by line as the window and
// the converter read its timepoints, against one pread of its bytes. Argument: 8 or 16 bits.
template <typename T>
void readLines(DorudURIVuruda& aReader, int aLines) {
    blitz::Array<T, 2> line;
    for (int t = 0; t < aLines; ++t) {
        aReader.readArray(line, t, 0, 0, 1, 0, 0, 0, 0);
        benchmark::DoNotOptimize(line.data());
    }
}

void BM_LineScanLinesVsPread(benchmark::State& state) {
    constexpr int kWidth = 64, kLines = 50000;
    const bool wide = state.range(0) == 16;
    static std::map<bool, std::pair<std::unique_ptr<ScopedFile>, LsmLayoutInfo>> files;
    auto& [file, info] = files[wide];
    if (!file) {
        LsmSpec recipe = lsmSpec(kWidth, 1, 1, 1, kLines, {wide ? kLsmUint16 : kLsmUint8});
        recipe.scanType = 2;
        recipe.planesPerImage = kLines;
        file = std::make_unique<ScopedFile>("line.lsm");
        info = writeLsmWithInfo(file->path(), recipe);
    }
    DorudURIVuruda reader;
    reader.open(file->path());
    const int fd = ::open(file->path().c_str(), O_RDONLY);
    std::vector<char> buffer(info.images[0].strips[0].size);
    double readSeconds = 0, preadSeconds = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (::pread(fd, buffer.data(), buffer.size(), off_t(info.images[0].strips[0].position)) !=
            ssize_t(buffer.size()))
            state.SkipWithError("pread failed");
        benchmark::DoNotOptimize(buffer.data());
        preadSeconds += secondsSince(start);
        start = Clock::now();
        if (wide)
            readLines<unsigned short>(reader, kLines);
        else
            readLines<unsigned char>(reader, kLines);
        const double seconds = secondsSince(start);
        readSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    ::close(fd);
    state.counters["lines_over_pread"] = readSeconds / preadSeconds;
}
BENCHMARK(BM_LineScanLinesVsPread)->Arg(8)->Arg(16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
