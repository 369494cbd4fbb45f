#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "LsmWriter.h"
#include "PixelDataType.h"
#include "ProjectPlanes.h"
#include "ZAccumulator.h"
#include "ZProjection.h"
#include "ZProjector.h"

namespace kt = korvane::testsupport;
using namespace korvane::analysis;

namespace {

// The text of the BlitzFileIOException aAction throws.
std::string thrownMessage(const std::function<void()>& aAction) {
    try {
        aAction();
    } catch (const BlitzFileIOException& e) {
        return e.what();
    }
    return "<no exception>";
}

const ProjectionMethod kMethods[] = {ProjectionMethod::Maximum, ProjectionMethod::Minimum,
                                     ProjectionMethod::Mean, ProjectionMethod::Sum,
                                     ProjectionMethod::StandardDeviation};

// ProjectedPlane's alternatives.
const int kTypes[] = {TYPE_UINT8, TYPE_UINT16, TYPE_UINT32, TYPE_FLOAT};

int threadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

// The thread count once it has come back to aThreads, or after a second. A joined thread still counts
// for a moment while the kernel finishes its exit, longer on a busy machine; a thread left running never
// stops counting.
int threadCountSettling(int aThreads) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int count = threadCount();
    while (count != aThreads && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = threadCount();
    }
    return count;
}

std::vector<double> values(const ProjectedPlane& aPlane) {
    return std::visit([](const auto& a) { return std::vector<double>(a.begin(), a.end()); }, aPlane);
}

using Sample = std::function<double(int z, int y, int x)>;

// The projection computed pixel by pixel from the samples of planes zFirst to zLast, NaN left out.
std::vector<double> expected(const Sample& aSample, const ZProjectionRequest& r, int zLast, int aRows,
                             int aColumns) {
    std::vector<double> out;
    for (int y = r.yStart; y < r.yStart + aRows; ++y)
        for (int x = r.xStart; x < r.xStart + aColumns; ++x) {
            std::vector<double> v;
            for (int z = r.zFirst; z <= zLast; ++z) {
                const double s = aSample(z, y, x);
                if (!std::isnan(s)) v.push_back(s);
            }
            double sum = 0, squares = 0, lo = INFINITY, hi = -INFINITY;
            for (const double s : v) sum += s, lo = std::min(lo, s), hi = std::max(hi, s);
            for (const double s : v) squares += (s - sum / v.size()) * (s - sum / v.size());
            const double results[] = {hi, lo, sum / v.size(), sum,
                                      v.size() > 1 ? std::sqrt(squares / (v.size() - 1)) : 0};
            out.push_back(v.empty() ? NAN : results[int(r.method)]);
        }
    return out;
}

bool agrees(double aGot, double aWant) {
    if (std::isnan(aWant)) return std::isnan(aGot);
    if (std::abs(aWant) > std::numeric_limits<float>::max()) return aGot == aWant * INFINITY;
    return std::abs(aGot - aWant) <= 1e-6 * std::max(1.0, std::abs(aWant));
}

}  // namespace

// Every method on every channel type, through one reader and through the projector (two readers, on
// alternate planes or each on half of the rows, odd counts of rows and windows among them), against a
// direct computation.
TEST(ZProjection, MethodsMatchDirectComputation) {
    struct Case {
        const char* name;
        kt::LsmSpec recipe;
        ZProjectionRequest request;
    };
    kt::LsmSpec u16 = kt::lsmSpec(9, 5, 7, 1, 2, {kt::kLsmUint16});
    u16.compression = kt::Compression::LZW;
    // Sums past 16 bits.
    u16.values = [](int t, int, int z, int y, int x) { return 65535 - (x * y + z + t) % 5; };
    kt::LsmSpec floats = kt::lsmSpec(6, 3, 5, 1, 1, {kt::kLsmFloat32});
    floats.values = [](int, int, int z, int y, int x) {
        if (x == 0 || (x == 1 && z % 2 == 0)) return double(NAN);  // always, sometimes missing
        if (x == 2) return z % 2 == 1 || y == 0 ? 3e38 : -3e38;    // sums beyond float's range
        return y * 7.5 - x * z * z * 0.37;
    };
    // The reader opens no file mixing sample sizes (libtiff refuses per-channel BitsPerSample).
    kt::LsmSpec mixed = kt::lsmSpec(8, 6, 5, 3, 1, {kt::kLsmUint16, kt::kLsmUint12, kt::kLsmUint16});
    mixed.useChannelTypeArray = true;
    ZProjectionRequest rangeAndWindow;
    rangeAndWindow.zFirst = 1, rangeAndWindow.zLast = 3, rangeAndWindow.yStart = 1, rangeAndWindow.yWidth = 3,
    rangeAndWindow.xStart = 2;
    ZProjectionRequest secondTimepoint;
    secondTimepoint.timepoint = 1;
    const Case cases[] = {{"u8", kt::lsmSpec(7, 4, 6, 2, 1), {}},
                          {"u16 LZW", u16, secondTimepoint},
                          {"float", floats, {}},
                          {"mixed, z range and window", mixed, rangeAndWindow},
                          {"line scan", kt::lsmSpec(16, 1, 4, 1, 1), {}}};
    for (const Case& c : cases) {
        kt::ScopedFile file("projection.lsm");
        kt::writeLsm(file.path(), c.recipe);
        ZProjector projector(file.path());
        for (ZProjectionRequest request = c.request; request.channel < c.recipe.sizeC; ++request.channel)
            for (const ProjectionMethod method : kMethods) {
                request.method = method;
                const int type = projectedPixelType(method, projector.reader().getPixelType(request.channel));
                DorudURIVuruda reader;
                reader.open(file.path());
                for (const auto& plane : {projectZ(reader, request), projector.project(request)}) {
                    SCOPED_TRACE(std::string(c.name) + ", channel " + std::to_string(request.channel) + ", " +
                                 projectionMethodName(method));
                    ASSERT_TRUE(plane);
                    EXPECT_EQ(kTypes[plane->index()], type);
                    const Sample sample = [&](int z, int y, int x) {
                        return kt::expectedSample(c.recipe, request.timepoint, request.channel, z, y, x);
                    };
                    const int rows = request.yWidth > 0 ? request.yWidth : c.recipe.sizeY - request.yStart;
                    const int zLast = request.zLast < 0 ? c.recipe.sizeZ - 1 : request.zLast;
                    const std::vector<double> got = values(*plane);
                    const std::vector<double> want =
                        expected(sample, request, zLast, rows, c.recipe.sizeX - request.xStart);
                    ASSERT_EQ(got.size(), want.size());
                    for (size_t i = 0; i < want.size(); ++i)
                        EXPECT_PRED2(agrees, got[i], want[i]) << "pixel " << i;
                }
            }
    }
}

// Sums that pass 32 bits stop there; long stacks of large, close values keep their small spread.
TEST(ZProjection, LongStacksNeitherWrapNorLoseTheSpread) {
    ZAccumulator<unsigned short> sum(ProjectionMethod::Sum, 1, 2),
        sd(ProjectionMethod::StandardDeviation, 1, 1);
    const unsigned short plane[] = {65535, 1}, near[] = {60000, 60001};
    for (int k = 0; k < 65538; ++k) sum.add(plane), sd.add(near + k % 2);
    const std::vector<double> sums = values(sum.result());
    EXPECT_EQ(sums[0], 4294967295.0);
    EXPECT_EQ(sums[1], 65538.0);
    EXPECT_NEAR(values(sd.result())[0], 0.5 * std::sqrt(65538.0 / 65537.0), 1e-6);
}

// A cancelled projection stops partway without a result or a thread left, and the projector works on.
TEST(ZProjection, CancelStopsPartwayAndLeavesNothingBehind) {
    for (const kt::Compression compression : {kt::Compression::None, kt::Compression::LZW}) {
        kt::LsmSpec recipe = kt::lsmSpec(64, 32, 12, 1, 1, {kt::kLsmUint16});
        recipe.compression = compression;
        kt::ScopedFile file("cancel.lsm");
        kt::writeLsm(file.path(), recipe);
        ZProjector projector(file.path());
        const int threads = threadCount();
        for (const int stopAt : {0, 4}) {
            std::vector<int> done;
            const auto cancelled = projector.project({}, [&](int aDone, int aTotal) {
                done.push_back(aDone);
                return aTotal == 12 && aDone < stopAt;
            });
            EXPECT_FALSE(cancelled);
            EXPECT_EQ(done.size(), size_t(stopAt + 1));
            EXPECT_EQ(done.back(), stopAt);
            EXPECT_EQ(threadCountSettling(threads), threads);
        }
        DorudURIVuruda reader;
        reader.open(file.path());
        EXPECT_EQ(values(*projector.project({})), values(*projectZ(reader, {})));
    }
}

// A damaged plane gives the reader's own exception whichever thread and reader met it, a request
// outside the stack a clear one; neither leaves a thread behind.
TEST(ZProjection, FailuresComeAsReaderExceptions) {
    for (const kt::Compression compression : {kt::Compression::None, kt::Compression::LZW})
        for (const int damaged : {2, 3}) {
            kt::LsmSpec recipe = kt::lsmSpec(8, 4, 6, 1, 1);
            recipe.compression = compression;
            recipe.stripFaults = {{damaged, 0, kt::StripFaultKind::OffsetBeyondEndOfFile}};
            kt::ScopedFile file("damaged.lsm");
            kt::writeLsm(file.path(), recipe);
            DorudURIVuruda alone;
            alone.open(file.path());
            blitz::Array<unsigned char, 2> plane;
            const std::string want =
                thrownMessage([&] { alone.readArray(plane, 0, 0, damaged, 1, 0, 0, 0, 0); });
            ASSERT_NE(want, "<no exception>");
            const int threads = threadCount();
            ZProjector projector(file.path());
            ZProjectionRequest outside;
            outside.zLast = 6;
            EXPECT_NE(thrownMessage([&] {
                          projector.project(outside);
                      }).find("Requested z planes [0 - 6] are no range within the stack's z planes [0 - 6)."),
                      std::string::npos);
            EXPECT_EQ(thrownMessage([&] { projector.project({}); }), want) << damaged;
            EXPECT_EQ(threadCountSettling(threads), threads);
        }
    // Rows claimed by the record alone: refused by the reader, not with the terabytes set aside for them.
    kt::LsmSpec recipe = kt::lsmSpec(4096, 4, 3, 1, 1);
    recipe.record.dimensionY = 1 << 30;
    kt::ScopedFile file("tall.lsm");
    kt::writeLsm(file.path(), recipe);
    ZProjector projector(file.path());
    EXPECT_NE(thrownMessage([&] { projector.project({}); }).find("cannot be held by file"),
              std::string::npos);
}

// A second reader that sees another file (one replaced under the name) is asked for the first reader's
// window: the result has the first reader's extents, or the reader refuses; planes never misfit.
TEST(ZProjection, SecondReaderOfAnotherFileGetsTheFirstReadersWindow) {
    kt::ScopedFile narrowFile("narrow.lsm"), wideFile("wide.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(16, 8, 4, 1, 1);
    recipe.compression = kt::Compression::LZW;  // planes in turns, each whole through one reader
    kt::writeLsm(narrowFile.path(), recipe);
    recipe.sizeX = 64;
    kt::writeLsm(wideFile.path(), recipe);
    DorudURIVuruda narrow, wide;
    narrow.open(narrowFile.path());
    wide.open(wideFile.path());
    EXPECT_EQ(values(*projectPlanes(narrow, &wide, {}, {})).size(), size_t(8 * 16));
    EXPECT_NE(thrownMessage([&] { projectPlanes(wide, &narrow, {}, {}); }), "<no exception>");
}

// The microscopes' own files: every method on their first channel.
TEST(ZProjection, RealFilesMatchDirectComputation) {
    DIR* folder = opendir(KORVANE_REALDATA_DIR);
    if (folder == nullptr) GTEST_SKIP() << "no real files in " << KORVANE_REALDATA_DIR;
    for (dirent* entry; (entry = readdir(folder)) != nullptr;) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".lsm") != 0) continue;
        const std::string path = std::string(KORVANE_REALDATA_DIR) + "/" + name;
        DorudURIVuruda reader;
        reader.open(path);
        blitz::Array<double, 3> stack;
        const std::string failure = thrownMessage([&] { reader.readArray(stack, 0, 0, 0, 0, 0, 0, 0, 0); });
        ZProjector projector(path);
        if (failure != "<no exception>") {  // what the reader cannot read yet fails alike
            EXPECT_EQ(thrownMessage([&] { projector.project({}); }), failure) << name;
            continue;
        }
        for (const ProjectionMethod method : kMethods) {
            ZProjectionRequest request;
            request.method = method;
            const std::vector<double> got = values(*projector.project(request));
            const std::vector<double> want =
                expected([&](int z, int y, int x) { return stack(z, y, x); }, request, stack.extent(0) - 1,
                         stack.extent(1), stack.extent(2));
            ASSERT_EQ(got.size(), want.size()) << name;
            for (size_t i = 0; i < want.size(); ++i)
                EXPECT_PRED2(agrees, got[i], want[i]) << name << " " << i;
        }
    }
    closedir(folder);
}
