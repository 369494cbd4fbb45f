#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <type_traits>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;

static_assert(!std::is_copy_constructible_v<DorudURIVuruda> && !std::is_copy_assignable_v<DorudURIVuruda> &&
                  !std::is_move_constructible_v<DorudURIVuruda> && !std::is_move_assignable_v<DorudURIVuruda>,
              "the reader owns a stream and a libtiff handle");

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// In a child process: exits with 0 when the reader refuses the channel count with its own exception.
void openAndReadWithinAddressSpace(const std::string& aPath, rlim_t aLimit) {
    const rlimit limit{aLimit, aLimit};
    setrlimit(RLIMIT_AS, &limit);
    DorudURIVuruda reader;
    const std::string message = korvane::lsmtest::thrownMessage([&] {
        reader.open(aPath);
        blitz::Array<unsigned char, 2> plane;
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0);
    });
    std::fputs(message.c_str(), stderr);
    std::_Exit(message.find("dimensionChannels") != std::string::npos ? 0 : 1);
}

}  // namespace

TEST(Reliability, HostileChannelCountIsRefusedUnderAnAddressSpaceLimit) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit the limit";
    const std::string folder = kt::tempDirectory();
    if (!kt::fileSystemSupportsSparseFiles(folder)) GTEST_SKIP() << folder << " cannot hold sparse files";
    kt::ScopedFile file("channels.lsm");
    for (const int channels : {200000000, 60000000}) {
        kt::LsmSpec recipe = kt::lsmSpec(64, 64, 1, 1, 1);
        recipe.pixelDataStart = 300000000;
        recipe.record.dimensionChannels = channels;
        kt::writeLsm(file.path(), recipe);
        EXPECT_EXIT(openAndReadWithinAddressSpace(file.path(), 1500000000), ::testing::ExitedWithCode(0), "")
            << channels;
    }
}

// Open, read and close many times (plus a read that fails and closes the file): no descriptor and no
// memory may stay behind. KORVANE_SOAK_CYCLES sets the count for a long run by hand.
TEST(Reliability, RepeatedOpenReadCloseLeavesDescriptorsAndMemoryFlat) {
    const char* env = std::getenv("KORVANE_SOAK_CYCLES");
    const int cycles = env ? std::atoi(env) : 1500;
    kt::ScopedFile good("soak.lsm");
    kt::ScopedFile bad("soak-bad.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(48, 40, 3, 2, 2, {3, 3});
    recipe.compression = kt::Compression::LZW;
    recipe.stripsPerChannel = 2;
    kt::writeLsm(good.path(), recipe);
    recipe.stripFaults = {{3, 3, kt::StripFaultKind::OffsetBeyondEndOfFile, 0}};  // channel 1, read below
    kt::writeLsm(bad.path(), recipe);

    blitz::Array<unsigned short, 3> stack;
    auto cycle = [&] {
        DorudURIVuruda reader;
        reader.open(good.path());
        MetaDataMap metaData;
        reader.getMetaData(metaData);
        for (int t = 0; t < 2; ++t)
            for (int c = 0; c < 2; ++c) reader.readArray(stack, t, c, 0, 0, 0, 0, 0, 0);
        reader.close();
        reader.open(bad.path());
        EXPECT_THROW(reader.readArray(stack, 1, 1, 0, 0, 0, 0, 0, 0), BlitzFileIOException);
        EXPECT_FALSE(reader.isOpen());
    };
    for (int i = 0; i < 100; ++i) cycle();  // allocator and libtiff reach their steady state
    const int descriptors = openDescriptors();
    const long resident = residentKiB();
    for (int i = 0; i < cycles && !HasFailure(); ++i) cycle();
    const long growth = residentKiB() - resident;
    RecordProperty("residentGrowthKiB", std::to_string(growth));
    std::printf("%d cycles: %d open descriptors before and %d after, resident memory %ld KiB -> %+ld KiB\n",
                cycles, descriptors, openDescriptors(), resident, growth);
    EXPECT_EQ(openDescriptors(), descriptors);
    if (!kAddressSanitizer) {  // the sanitizer's quarantine holds freed memory
        EXPECT_LT(growth, 1024);
    }
}
