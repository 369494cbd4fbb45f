// Parsing the acquisition blocks at open: its time against opening the whole file (which includes
// it), and making the metadata map against parsing, measured in one run on the real files when they
// are there and on a written file with 50,000 time stamps.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "AcquisitionBlocks.h"
#include "DorudURIVuruda.h"
#include "LSMAcquisitionBlocks.h"
#include "LSMAcquisitionMetaData.h"
#include "LSMStreamProcedures.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point aStart) {
    return std::chrono::duration<double>(Clock::now() - aStart).count();
}

void parseVsOpen(benchmark::State& state, const std::string& aPath) {
    DorudURIVuruda reader;
    reader.open(aPath);
    const int channels = reader.getSizeC();
    const LSMAcquisitionBlocks blocks = lsmAcquisitionBlocks(reader.getInfoRecord(), uint32_t(channels));
    reader.close();
    struct stat info;
    stat(aPath.c_str(), &info);
    LSMStreamHandle handle{};
    handle.fileName = aPath.c_str();
    handle.file = std::fopen(handle.fileName, "rb");
    handle.fileSize = uint64_t(info.st_size);
    LSMBlockFile file(handle, handle.fileSize, aPath);
    double openSeconds = 0, parseSeconds = 0, mapSeconds = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        reader.open(aPath);
        reader.close();
        openSeconds += secondsSince(start);
        start = Clock::now();
        const LSMAcquisition acquisition = readLSMAcquisition(file, blocks);
        const double seconds = secondsSince(start);
        parseSeconds += seconds;
        state.SetIterationTime(seconds);
        // The metadata map is made only when asked for.
        start = Clock::now();
        benchmark::DoNotOptimize(lsmAcquisitionMetaData(acquisition, channels));
        mapSeconds += secondsSince(start);
    }
    BlitzLSMTIFFclose(&handle);
    state.counters["parse_over_open"] = parseSeconds / openSeconds;
    state.counters["map_over_parse"] = mapSeconds / parseSeconds;
}

const std::string& writtenFile() {
    static std::unique_ptr<kt::ScopedFile> file;
    if (!file) {
        kt::LsmSpec recipe = kt::lsmSpec(64, 64, 1, 1, 1);
        recipe.blocks = kt::timeBlocks(50000, 30);
        recipe.blocks.push_back({kt::lsmrecord::kOffsetScanInformation, kt::quirkyScanInformation()});
        file = std::make_unique<kt::ScopedFile>("acquisition-bench.lsm");
        kt::writeLsm(file->path(), recipe);
    }
    return file->path();
}

void BM_ParseVsOpenWritten50000Stamps(benchmark::State& state) { parseVsOpen(state, writtenFile()); }
BENCHMARK(BM_ParseVsOpenWritten50000Stamps)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Real files are registered only when present.
const bool kRealFilesRegistered = [] {
    for (const char* name : {"sample01_3ch_512_u8.lsm", "sample02_spectral32ch_256_u8.lsm",
                             "sample06_2ch_1024_u8.lsm", "sample08_linescan_1024x1000_u8.lsm"}) {
        const std::string path = std::string(KORVANE_REALDATA_DIR) + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) continue;
        benchmark::RegisterBenchmark(("BM_ParseVsOpen/" + std::string(name).substr(0, 8)).c_str(),
                                     [path](benchmark::State& state) { parseVsOpen(state, path); })
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
