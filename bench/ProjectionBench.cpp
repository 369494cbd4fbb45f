#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"
#include "LsmWriter.h"
#include "ZProjection.h"
#include "ZProjector.h"

using namespace korvane::testsupport;
using namespace korvane::analysis;

namespace {

// Maximum projections of a 16-bit stack of 32 planes of 2048 x 2048 (KORVANE_BENCH_PLANE sets another
// edge) and 2 channels, both channels as the tool projects them, against reading the same planes
// without projecting. Each ratio comes from timings taken in the same iterations.
constexpr int kPlanes = 32;
constexpr int kChannels = 2;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point aStart) {
    return std::chrono::duration<double>(Clock::now() - aStart).count();
}

// Processor time of the whole process (all threads), which a busy machine disturbs less than elapsed time.
double processorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Written once per process into the temporary folder, removed at exit.
const std::string& stackFile(Compression aCompression) {
    static std::map<Compression, std::unique_ptr<ScopedFile>> files;
    std::unique_ptr<ScopedFile>& file = files[aCompression];
    if (!file) {
        const char* edge = std::getenv("KORVANE_BENCH_PLANE");
        const int size = edge != nullptr ? std::atoi(edge) : 2048;
        LsmSpec recipe = lsmSpec(size, size, kPlanes, kChannels, 1, {kLsmUint16, kLsmUint16});
        recipe.compression = aCompression;
        file = std::make_unique<ScopedFile>("projection-bench.lsm");
        writeLsm(file->path(), recipe);
    }
    return file->path();
}

// Both channels' maximum projections through aProject, in seconds.
template <typename Project>
double projectBothChannels(benchmark::State& aState, Project aProject) {
    const Clock::time_point start = Clock::now();
    for (int c = 0; c < kChannels; ++c) {
        ZProjectionRequest request;
        request.channel = c;
        const std::optional<ProjectedPlane> plane = aProject(request);
        if (!plane) aState.SkipWithError("no projection");
        benchmark::DoNotOptimize(plane);
    }
    return secondsSince(start);
}

// Uncompressed: the projection against a sequential pread of every byte of the file.
void BM_MaxProjectionVsPread(benchmark::State& state) {
    const std::string& path = stackFile(Compression::None);
    ZProjector projector(path);
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(8 << 20);
    double preadSeconds = 0, projectSeconds = 0, preadCpu = 0, projectCpu = 0;
    for (auto _ : state) {
        const double cpu = processorSeconds();
        const Clock::time_point start = Clock::now();
        for (off_t at = 0;;) {
            const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), at);
            if (got <= 0) break;
            at += got;
        }
        benchmark::DoNotOptimize(buffer.data());
        preadSeconds += secondsSince(start);
        const double cpuBetween = processorSeconds();
        preadCpu += cpuBetween - cpu;
        const double seconds =
            projectBothChannels(state, [&](const ZProjectionRequest& r) { return projector.project(r); });
        projectCpu += processorSeconds() - cpuBetween;
        projectSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    ::close(fd);
    state.counters["project_over_pread"] = projectSeconds / preadSeconds;
    state.counters["cpu_project_over_pread"] = projectCpu / preadCpu;
}

// LZW: the projection (two readers decoding) and a projection through one reader against decoding the
// planes one after another on one core.
void BM_MaxProjectionVsDecode(benchmark::State& state) {
    const std::string& path = stackFile(Compression::LZW);
    ZProjector projector(path);
    DorudURIVuruda reader;
    reader.open(path);
    blitz::Array<unsigned short, 2> plane;
    double decodeSeconds = 0, projectSeconds = 0, oneReaderSeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        for (int c = 0; c < kChannels; ++c)
            for (int z = 0; z < kPlanes; ++z) {
                reader.readArray(plane, 0, c, z, 1, 0, 0, 0, 0);
                benchmark::DoNotOptimize(plane.data());
            }
        decodeSeconds += secondsSince(start);
        oneReaderSeconds +=
            projectBothChannels(state, [&](const ZProjectionRequest& r) { return projectZ(reader, r); });
        const double seconds =
            projectBothChannels(state, [&](const ZProjectionRequest& r) { return projector.project(r); });
        projectSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["project_over_decode"] = projectSeconds / decodeSeconds;
    state.counters["one_reader_over_decode"] = oneReaderSeconds / decodeSeconds;
}

BENCHMARK(BM_MaxProjectionVsPread)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaxProjectionVsDecode)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
