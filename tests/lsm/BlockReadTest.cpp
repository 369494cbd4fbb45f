#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::thrownMessage;
namespace kt = korvane::testsupport;

namespace {

// What the contract says a stored sample becomes in an array of T: integers wrap to T's width,
// floats truncate toward zero and saturate at T's range (NaN gives 0).
template <typename T>
T converted(int aCode, double aStored) {
    if constexpr (std::is_floating_point<T>::value) {
        return static_cast<T>(aStored);
    } else {
        if (aCode != kt::kLsmFloat32) return static_cast<T>(static_cast<int64_t>(aStored));
        if (std::isnan(aStored)) return 0;
        const long double t = std::trunc(static_cast<long double>(aStored));
        if (t <= static_cast<long double>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        if (t >= static_cast<long double>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        return static_cast<T>(static_cast<int64_t>(t));
    }
}

// One stack per data type code, written once: 2 timepoints, 4 planes, 3 channels, channel planes cut
// into 2 strips, so strip joins and channel offsets all matter.
const kt::LsmSpec& stackSpec(int aCode) {
    static std::map<int, kt::LsmSpec> specs;
    auto it = specs.find(aCode);
    if (it == specs.end()) {
        kt::LsmSpec recipe = kt::lsmSpec(7, 5, 4, 3, 2, {aCode, aCode, aCode});
        recipe.stripsPerChannel = 2;
        it = specs.emplace(aCode, recipe).first;
    }
    return it->second;
}

const std::string& stackFile(int aCode) {
    static std::map<int, std::unique_ptr<kt::ScopedFile>> files;
    auto& file = files[aCode];
    if (!file) {
        file = std::make_unique<kt::ScopedFile>("stack.lsm");
        kt::writeLsm(file->path(), stackSpec(aCode));
    }
    return file->path();
}

template <typename T, int N>
std::vector<int> extentsOf(const blitz::Array<T, N>& aArray) {
    std::vector<int> extents;
    for (int d = 0; d < N; ++d) extents.push_back(aArray.extent(d));
    return extents;
}

const int kCodes[] = {kt::kLsmUint8, kt::kLsmUint12, kt::kLsmUint16, kt::kLsmFloat32};

template <typename T>
class BlockRead : public ::testing::Test {};

using ElementTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, long,
                                      unsigned long, float, double>;
TYPED_TEST_SUITE(BlockRead, ElementTypes);

// Element (k, j, i) of aArray against the file at plane z0 + k, row y0 + j, column x0 + i.
template <typename T, int N>
::testing::AssertionResult matchesFile(const blitz::Array<T, N>& aArray, int aCode, int t, int c, int z0,
                                       int y0, int x0) {
    const kt::LsmSpec& recipe = stackSpec(aCode);
    const int zW = N == 3 ? aArray.extent(0) : 1;
    const int yW = N >= 2 ? aArray.extent(N - 2) : 1;
    const int xW = aArray.extent(N - 1);
    const T* data = aArray.dataFirst();
    for (int k = 0; k < zW; ++k)
        for (int j = 0; j < yW; ++j)
            for (int i = 0; i < xW; ++i) {
                const T want = converted<T>(aCode, kt::expectedSample(recipe, t, c, z0 + k, y0 + j, x0 + i));
                const T got = data[(k * yW + j) * xW + i];
                if (!(got == want))
                    return ::testing::AssertionFailure()
                           << "code " << aCode << " t " << t << " c " << c << " z " << z0 + k << " y "
                           << y0 + j << " x " << x0 + i << ": got " << +got << ", want " << +want;
            }
    return ::testing::AssertionSuccess();
}

}  // namespace

TYPED_TEST(BlockRead, EveryPlaneRowAndColumnOfEveryChannelAndTimepoint) {
    using T = TypeParam;
    for (const int code : kCodes) {
        DorudURIVuruda reader;
        reader.open(stackFile(code));
        const kt::LsmSpec& recipe = stackSpec(code);
        blitz::Array<T, 3> stack;
        blitz::Array<T, 2> plane;
        blitz::Array<T, 1> row;
        for (int t = 0; t < recipe.sizeT; ++t)
            for (int c = 0; c < recipe.sizeC; ++c) {
                reader.readArray(stack, t, c, 0, 0, 0, 0, 0, 0);
                ASSERT_EQ(extentsOf(stack), (std::vector<int>{4, 5, 7}));
                ASSERT_TRUE(matchesFile(stack, code, t, c, 0, 0, 0));
                for (int z = 0; z < recipe.sizeZ; ++z) {
                    reader.readArray(plane, t, c, z, 1, 0, 0, 0, 0);
                    ASSERT_EQ(extentsOf(plane), (std::vector<int>{5, 7}));
                    ASSERT_TRUE(matchesFile(plane, code, t, c, z, 0, 0));
                    for (int y = 0; y < recipe.sizeY; ++y) {
                        reader.readArray(row, t, c, z, 1, y, 1, 0, -3);  // negative width: to the end
                        ASSERT_EQ(row.extent(0), 7);
                        ASSERT_TRUE(matchesFile(row, code, t, c, z, y, 0));
                    }
                }
            }
        EXPECT_TRUE(reader.isOpen());
    }
}

TYPED_TEST(BlockRead, WindowsStartAnywhereAndWidthZeroRunsToTheEnd) {
    using T = TypeParam;
    for (const int code : kCodes) {
        DorudURIVuruda reader;
        reader.open(stackFile(code));
        blitz::Array<T, 3> stack;
        reader.readArray(stack, 1, 2, 1, 0, 2, 2, 3, 0);
        ASSERT_EQ(extentsOf(stack), (std::vector<int>{3, 2, 4}));
        EXPECT_TRUE(matchesFile(stack, code, 1, 2, 1, 2, 3));
        reader.readArray(stack, 0, 1, 3, 1, 4, 1, 6, 1);  // the very last sample of the plane
        ASSERT_EQ(extentsOf(stack), (std::vector<int>{1, 1, 1}));
        EXPECT_TRUE(matchesFile(stack, code, 0, 1, 3, 4, 6));

        blitz::Array<T, 2> plane;
        reader.readArray(plane, 1, 0, 2, 1, 1, 0, 2, 3);
        ASSERT_EQ(extentsOf(plane), (std::vector<int>{4, 3}));
        EXPECT_TRUE(matchesFile(plane, code, 1, 0, 2, 1, 2));

        blitz::Array<T, 1> row;
        reader.readArray(row, 0, 2, 3, 1, 4, 1, 5, 2);
        ASSERT_EQ(row.extent(0), 2);
        EXPECT_TRUE(matchesFile(row, code, 0, 2, 3, 4, 5));
    }
}

TYPED_TEST(BlockRead, ThumbnailIsAnAllZeroPictureOfTheThumbnailSize) {
    using T = TypeParam;
    DorudURIVuruda reader;
    reader.open(stackFile(kt::kLsmUint8));
    blitz::Array<T, 2> thumbnail(3, 3);
    thumbnail = T(7);
    reader.readThumbnail(thumbnail);
    ASSERT_EQ(extentsOf(thumbnail), (std::vector<int>{256, 256}));
    EXPECT_EQ(blitz::count(thumbnail != T(0)), 0);
}

TEST(SampleConversion, FollowsTheTableWrappingIntegersAndSaturatingFloats) {
    kt::ScopedFile file("conversion.lsm");
    DorudURIVuruda reader;
    auto one = [&](int aCode, double aValue) {
        kt::LsmSpec recipe = kt::lsmSpec(1, 1, 1, 1, 1, {aCode});
        recipe.values = [aValue](int, int, int, int, int) { return aValue; };
        kt::writeLsm(file.path(), recipe);
        reader.open(file.path());
    };
    blitz::Array<unsigned char, 1> u8;
    blitz::Array<char, 1> s8;
    blitz::Array<short, 1> s16;
    blitz::Array<int, 1> s32;
    blitz::Array<unsigned int, 1> u32;
    blitz::Array<long, 1> s64;
    blitz::Array<unsigned long, 1> u64;
    blitz::Array<float, 1> f32;
    auto read = [&](auto& aArray) {
        reader.readArray(aArray, 0, 0, 0, 1, 0, 1, 0, 0);
        return aArray(0);
    };

    one(kt::kLsmUint16, 300);
    EXPECT_EQ(read(u8), 44);
    one(kt::kLsmUint16, 32768);
    EXPECT_EQ(read(s16), -32768);
    EXPECT_EQ(read(s8), 0);
    one(kt::kLsmUint16, 65535);
    EXPECT_EQ(read(f32), 65535.0f);
    EXPECT_EQ(read(u32), 65535u);
    one(kt::kLsmUint8, 200);
    EXPECT_EQ(read(s8), -56);
    EXPECT_EQ(read(s16), 200);

    one(kt::kLsmFloat32, -1.7);
    EXPECT_EQ(read(s32), -1);
    EXPECT_EQ(read(u8), 0);  // below an unsigned range: saturates at 0
    one(kt::kLsmFloat32, 2.9);
    EXPECT_EQ(read(s32), 2);
    one(kt::kLsmFloat32, 1e10);
    EXPECT_EQ(read(s32), std::numeric_limits<int>::max());
    EXPECT_EQ(read(u32), std::numeric_limits<unsigned int>::max());
    EXPECT_EQ(read(s64), 10000000000L);
    EXPECT_EQ(read(s8), 127);
    one(kt::kLsmFloat32, -1e30);
    EXPECT_EQ(read(s64), std::numeric_limits<long>::lowest());
    EXPECT_EQ(read(u64), 0u);
    one(kt::kLsmFloat32, 1e30);
    EXPECT_EQ(read(u64), std::numeric_limits<unsigned long>::max());
    one(kt::kLsmFloat32, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(read(s32), 0);
    EXPECT_TRUE(std::isnan(read(f32)));
    one(kt::kLsmFloat32, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(read(s16), -32768);
}

TEST(BlockReadRequests, BadInvocationsThrowBeforeTheArrayIsTouchedAndKeepTheFileOpen) {
    DorudURIVuruda reader;
    blitz::Array<float, 2> plane(2, 3);
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0), "No file opened.");

    reader.open(stackFile(kt::kLsmUint8));
    const std::string wrong =
        "Wrong invocation of DorudURIVuruda::readArray(): Supported dimensions are: 3 (no restrictions), 2 "
        "(aReqZWidth = 1), 1 (aReqZWidth = 1, aReqYWidth = 1).\n";
    EXPECT_EQ(thrownMessage([&] { reader.readArray(plane, 0, 0, 0, 2, 0, 0, 0, 0); }), wrong);
    blitz::Array<float, 1> row(9);
    EXPECT_EQ(thrownMessage([&] { reader.readArray(row, 0, 0, 0, 1, 0, 3, 0, 0); }), wrong);
    EXPECT_EQ(thrownMessage([&] { reader.readArray(row, 0, 0, 0, 0, 0, 1, 0, 0); }), wrong);

    EXPECT_READER_ERROR(reader.readArray(plane, 0, 3, 0, 1, 0, 0, 0, 0), "No such channel '3'.");
    EXPECT_READER_ERROR(reader.readArray(plane, 0, -1, 0, 1, 0, 0, 0, 0), "No such channel '-1'.");
    EXPECT_READER_ERROR(reader.readArray(plane, 2, 0, 0, 1, 0, 0, 0, 0),
                        "Requested timepoint 2 lies outside the stack's timepoints [0 - 2).");
    EXPECT_READER_ERROR(reader.readArray(plane, -1, 0, 0, 1, 0, 0, 0, 0),
                        "Requested timepoint -1 lies outside the stack's timepoints [0 - 2).");
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 4, 1, 0, 0, 0, 0),
                        "Requested z planes [4 - 5) lies outside the stack's z planes [0 - 4).");
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, -1, 1, 0, 0, 0, 0),
                        "Requested z planes [-1 - 0) lies outside the stack's z planes [0 - 4).");
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 3, 3, 0, 0),
                        "Requested rows [3 - 6) lies outside the stack's rows [0 - 5).");
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 5, 0, 0, 0),
                        "Requested rows [5 - 5) lies outside the stack's rows [0 - 5).");
    EXPECT_READER_ERROR(
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 2147483647, 1),
        "Requested columns [2147483647 - 2147483648) lies outside the stack's columns [0 - 7).");
    blitz::Array<float, 3> stack(1, 1, 1);
    EXPECT_READER_ERROR(reader.readArray(stack, 0, 0, 2, 3, 0, 0, 0, 0),
                        "Requested z planes [2 - 5) lies outside the stack's z planes [0 - 4).");

    EXPECT_EQ(extentsOf(plane), (std::vector<int>{2, 3}));  // never resized
    EXPECT_EQ(row.extent(0), 9);
    EXPECT_EQ(extentsOf(stack), (std::vector<int>{1, 1, 1}));
    EXPECT_TRUE(reader.isOpen());
    reader.readArray(plane, 1, 2, 3, 1, 0, 0, 0, 0);  // and still reads
    EXPECT_TRUE(matchesFile(plane, kt::kLsmUint8, 1, 2, 3, 0, 0));
}

TEST(BlockReadRequests, AnArrayOfTheRequestedExtentsKeepsItsStorage) {
    DorudURIVuruda reader;
    reader.open(stackFile(kt::kLsmUint16));
    blitz::Array<unsigned short, 2> plane(5, 7);
    const unsigned short* storage = plane.dataFirst();
    reader.readArray(plane, 0, 1, 2, 1, 0, 0, 0, 0);
    EXPECT_EQ(plane.dataFirst(), storage);
    EXPECT_TRUE(matchesFile(plane, kt::kLsmUint16, 0, 1, 2, 0, 0));
}

TEST(BlockReadRequests, ViewsAndOtherStorageOrdersGetEachElementInItsPlace) {
    DorudURIVuruda reader;
    reader.open(stackFile(kt::kLsmUint16));
    const int rows = reader.getSizeY(), columns = reader.getSizeX();
    blitz::GeneralArrayStorage<2> descending;
    descending.ascendingFlag()[1] = false;
    blitz::Array<unsigned short, 2> wide(rows, 2 * columns);
    wide = 7;
    struct Case {
        const char* what;
        blitz::Array<unsigned short, 2> array;
        int firstRow, rowCount;  // a single row comes from the kept plane
    } cases[] = {
        {"every other column of a wider array",
         wide(blitz::Range::all(), blitz::Range(0, 2 * columns - 2, 2)), 0, rows},
        {"columns first, from 1", blitz::Array<unsigned short, 2>(rows, columns, blitz::fortranArray), 0,
         rows},
        {"descending columns", blitz::Array<unsigned short, 2>(rows, columns, descending), 0, rows},
        {"one kept row, every other column", wide(blitz::Range(2, 2), blitz::Range(1, 2 * columns - 1, 2)), 2,
         1},
    };
    blitz::Array<float, 2> plain;  // converted: kept for the single row
    for (Case& c : cases) {
        reader.readArray(plain, 0, 1, 2, 1, 0, 0, 0, 0);  // keeps the plane for the single row
        reader.readArray(c.array, 0, 1, 2, 1, c.firstRow, c.rowCount, 0, 0);
        for (int j = 0; j < c.rowCount; ++j)
            for (int i = 0; i < columns; ++i)
                ASSERT_EQ(c.array(c.array.lbound(0) + j, c.array.lbound(1) + i), plain(c.firstRow + j, i))
                    << c.what << " at " << j << ", " << i;
    }
    // The columns between those of the views stayed as they were.
    for (int i = 1; i < 2 * columns; i += 2) EXPECT_EQ(wide(0, i), 7) << i;
}

TEST(BlockReadFailures, UnreadableDirectoriesAndStripsCloseTheFile) {
    kt::ScopedFile file("broken.lsm");
    DorudURIVuruda reader;
    blitz::Array<unsigned char, 2> plane;

    kt::LsmSpec missing = kt::lsmSpec(4, 3, 3, 1, 2);
    missing.writeDirectoryPairs = 4;  // planes (1, 1) and (1, 2) are missing
    kt::writeLsm(file.path(), missing);
    reader.open(file.path());
    reader.readArray(plane, 0, 0, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(plane(2, 3), kt::expectedSample(missing, 0, 0, 1, 2, 3));
    EXPECT_READER_ERROR(reader.readArray(plane, 1, 0, 2, 1, 0, 0, 0, 0),
                        "Error while setting image directory to 10, abort.");
    EXPECT_FALSE(reader.isOpen());
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0), "No file opened.");
    reader.open(file.path());  // the last written plane is read, then the next directory is missing
    EXPECT_READER_ERROR(reader.readArray(plane, 1, 0, 0, 1, 0, 0, 0, 0),
                        "Error while reading image directory of page 6, abort.");
    EXPECT_FALSE(reader.isOpen());

    kt::LsmSpec badStrip = kt::lsmSpec(4, 3, 2, 2, 1);
    badStrip.stripsPerChannel = 2;
    badStrip.stripFaults = {{1, 3, kt::StripFaultKind::OffsetBeyondEndOfFile, 0}};
    kt::writeLsm(file.path(), badStrip);
    reader.open(file.path());
    reader.readArray(plane, 0, 1, 0, 1, 0, 0, 0, 0);  // plane 0 is intact
    blitz::Array<unsigned char, 3> planes;
    reader.readArray(planes, 0, 0, 0, 0, 0, 0, 0, 0);  // channel 0 does not need the broken strip
    EXPECT_EQ(planes(1, 2, 3), kt::expectedSample(badStrip, 0, 0, 1, 2, 3));
    EXPECT_READER_ERROR(
        reader.readArray(planes, 0, 1, 0, 0, 0, 0, 0, 0),
        "Error while reading image strip 3 of 4 strips in page 2 of page-range [0 - 4), abort.");
    EXPECT_FALSE(reader.isOpen());

    kt::LsmSpec previewLoop = kt::lsmSpec(4, 3, 2, 1, 1);
    previewLoop.directoryLoop = kt::DirectoryLoop::SelfLoop;
    previewLoop.selfLoopDirectory = 0;  // image directory 0 names itself as its successor
    kt::writeLsm(file.path(), previewLoop);
    reader.open(file.path());
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0),
                        "Error while reading preview directory of page 0, abort.");
    EXPECT_FALSE(reader.isOpen());

    kt::LsmSpec imageLoop = previewLoop;
    imageLoop.selfLoopDirectory = 1;  // the preview names itself
    kt::writeLsm(file.path(), imageLoop);
    reader.open(file.path());
    EXPECT_READER_ERROR(reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0),
                        "Error while reading image directory of page 0, abort.");
    EXPECT_FALSE(reader.isOpen());
}

TEST(BlockReadFailures, TheLastImageDirectoryIsReadWithoutLookingBeyondIt) {
    kt::ScopedFile file("lastloop.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(4, 3, 2, 1, 2);
    recipe.directoryLoop = kt::DirectoryLoop::SelfLoop;
    recipe.selfLoopDirectory = 7;  // the last preview points to itself
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<float, 3> planes;
    reader.readArray(planes, 1, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(planes(1, 2, 3), kt::expectedSample(recipe, 1, 0, 1, 2, 3));
    EXPECT_TRUE(reader.isOpen());
}

TEST(BlockReadFailures, PlanesOfTheWrongSizeAreReportedWithoutWritingPastTheBuffer) {
    kt::ScopedFile file("mismatch.lsm");
    DorudURIVuruda reader;
    blitz::Array<float, 2> plane;

    // The record promises an 8-bit and a float channel, the strips hold two 8-bit planes.
    kt::LsmSpec fewer = kt::lsmSpec(4, 4, 1, 2, 1, {1, 1});
    fewer.useChannelTypeArray = true;
    fewer.channelTypeArrayValues = {1, 5};
    kt::writeLsm(file.path(), fewer);
    reader.open(file.path());
    EXPECT_EQ(thrownMessage([&] { reader.readArray(plane, 0, 1, 0, 1, 0, 0, 0, 0); }),
              "Read not 80 byte from LSM as expected, but rather 32 byte.\n");
    EXPECT_TRUE(reader.isOpen());

    // The record promises 8-bit samples, the strips decode to 16-bit ones: twice what the buffer holds.
    kt::LsmSpec more = kt::lsmSpec(5, 3, 2, 2, 1, {3, 3});
    more.record.intensityDataType = 1;
    more.stripsPerChannel = 3;
    kt::writeLsm(file.path(), more);
    reader.open(file.path());
    EXPECT_EQ(thrownMessage([&] { reader.readArray(plane, 0, 0, 1, 1, 0, 0, 0, 0); }),
              "Read not 30 byte from LSM as expected, but rather 60 byte.\n");
    EXPECT_TRUE(reader.isOpen());
}
