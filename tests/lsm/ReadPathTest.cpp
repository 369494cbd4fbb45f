#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"
#include "LSMDirectoryIndex.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::everyPlaneMatches;
using korvane::lsmtest::thrownMessage;
namespace kt = korvane::testsupport;

TEST(DirectoryIndex, FindsWhatASequentialWalkFindsAndFailsWhereItFails) {
    kt::ScopedFile file("chain.lsm");
    const auto small = [](int aZ) {
        kt::LsmSpec recipe = kt::lsmSpec(2, 1, aZ, 1, 1);
        recipe.previewWidth = recipe.previewHeight = 1;
        recipe.previewRgb = recipe.colorBlock = false;
        return recipe;
    };
    kt::LsmSpec lastToFirst = small(3), selfLoop = small(3), broken = small(3), deep = small(32769);
    lastToFirst.directoryLoop = kt::DirectoryLoop::LastToFirst;
    selfLoop.directoryLoop = kt::DirectoryLoop::SelfLoop;
    selfLoop.selfLoopDirectory = 3;
    broken.writeDirectoryPairs = 2;
    const struct {
        const char* what;
        kt::LsmSpec recipe;
        uint64_t cutAt;  // 0: whole file; else cut inside the fifth directory
        std::vector<uint64_t> numbers;
    } cases[] = {{"intact", small(3), 0, {0, 1, 2, 5, 6}}, {"last to first", lastToFirst, 0, {5, 6, 7}},
                 {"self loop", selfLoop, 0, {2, 3, 4, 5}}, {"broken chain", broken, 0, {3, 4, 5}},
                 {"truncated", small(3), 1, {3, 4, 5}},    {"deep", deep, 0, {65535, 65536, 65537, 65538}}};
    for (const auto& c : cases) {
        const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), c.recipe);
        if (c.cutAt != 0) kt::truncateFile(file.path(), info.directoryOffsets[4] + 5);
        TIFF* tiff = TIFFOpen(file.path().c_str(), "r");
        LSMStreamHandle handle{std::fopen(file.path().c_str(), "rb"), "chain", false, 0, 0.0, 0};
        ASSERT_TRUE(tiff != nullptr && handle.file != nullptr) << c.what;
        korvane::lsm::DirectoryIndex index;
        for (const uint64_t n : c.numbers) {
            const bool walked = TIFFSetDirectory(tiff, tdir_t(n)) == 1;
            // The index may locate a directory whose own entries libtiff then refuses to read.
            if (!index.locate(handle, n)) {
                EXPECT_FALSE(walked) << c.what << " " << n;
            }
            if (walked) {
                EXPECT_EQ(index.offset(n), TIFFCurrentDirOffset(tiff)) << c.what << " " << n;
            }
        }
        TIFFClose(tiff);
        std::fclose(handle.file);
    }
}

TEST(KeptPlane, ServesOnlyItsOwnPlaneAndDiesWithTheFile) {
    kt::ScopedFile file("kept.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(6, 5, 2, 2, 2, {3, 3});
    recipe.stripsPerChannel = 2;
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<float, 2> asFloat;
    blitz::Array<unsigned short, 2> plane;
    reader.readArray(asFloat, 1, 1, 1, 1, 0, 0, 0, 0);                               // decoded and kept
    for (const auto& other : {std::array<int, 3>{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}) {  // t, c, z
        reader.readArray(plane, other[0], other[1], other[2], 1, 0, 0, 0, 0);
        EXPECT_EQ(plane(4, 5), kt::expectedSample(recipe, other[0], other[1], other[2], 4, 5));
    }
    kt::truncateFile(file.path(), 0);  // from now on only memory can answer
    reader.readArray(plane, 1, 1, 1, 1, 1, 3, 2, 4);
    EXPECT_EQ(plane(2, 3), kt::expectedSample(recipe, 1, 1, 1, 3, 5));

    recipe.values = [](int, int, int, int, int) { return 7.0; };
    kt::writeLsm(file.path(), recipe);
    reader.open(file.path());
    reader.readArray(plane, 1, 1, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(plane(0, 0), 7);
    reader.readArray(asFloat, 1, 1, 1, 1, 0, 0, 0, 0);
    reader.close();
    recipe.values = [](int, int, int, int, int) { return 9.0; };
    kt::writeLsm(file.path(), recipe);
    reader.open(file.path());
    reader.readArray(plane, 1, 1, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(plane(4, 5), 9);
}

TEST(CroppedReads, EveryRowWindowOfMultiStripChannelsIsExact) {
    kt::ScopedFile file("rows.lsm");
    for (const kt::Compression compression : {kt::Compression::None, kt::Compression::Deflate}) {
        kt::LsmSpec recipe = kt::lsmSpec(5, 10, 2, 2, 1, {3, 3});
        recipe.stripsPerChannel = 3;  // rows 0-3, 4-7 and 8-9
        recipe.compression = compression;
        kt::writeLsm(file.path(), recipe);
        DorudURIVuruda reader;
        reader.open(file.path());
        blitz::Array<unsigned short, 3> same;  // whole rows go straight into the array
        blitz::Array<float, 3> converted;      // through the kept plane
        for (int y = 0; y < 10; ++y)
            for (int h = 1; y + h <= 10; ++h)
                for (const int x : {0, 2}) {
                    reader.readArray(same, 0, 1, 0, 0, y, h, x, 0);
                    reader.readArray(converted, 0, 1, 0, 0, y, h, x, 0);
                    for (int z = 0; z < 2; ++z)
                        for (int j = 0; j < h; ++j)
                            for (int i = 0; i + x < 5; ++i) {
                                const double expected = kt::expectedSample(recipe, 0, 1, z, y + j, x + i);
                                ASSERT_EQ(same(z, j, i), expected) << y << " " << h << " " << x;
                                ASSERT_EQ(converted(z, j, i), expected) << y << " " << h << " " << x;
                            }
                }
    }
}

TEST(BlockReadFailures, SamplesSmallerThanTheRecordSaysReachTheSizeMessage) {
    kt::ScopedFile file("float8.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(512, 512, 1, 1, 1, {1});
    recipe.record.intensityDataType = 5;
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<float, 2> plane;
    EXPECT_EQ(thrownMessage([&] { reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0); }),
              "Read not 1048576 byte from LSM as expected, but rather 262144 byte.\n");
    EXPECT_TRUE(reader.isOpen());
}

TEST(LargeFiles, PlanesPastFourGiBNeverReadAnotherPlanesBytes) {
    const std::string folder = kt::tempDirectory();
    if (!kt::fileSystemSupportsSparseFiles(folder))
        GTEST_SKIP() << "the file system of " << folder << " cannot hold sparse files";
    kt::ScopedFile file("past4g.lsm");
    // A deep stack of small planes whose pixel data crosses 4 GiB: most stored offsets wrap.
    kt::LsmSpec recipe = kt::lsmSpec(32, 32, 1500, 1, 2);
    recipe.previewWidth = recipe.previewHeight = 1;
    recipe.previewRgb = false;
    recipe.pixelDataStart = 4294967296ull - 1000 * 1024;
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    EXPECT_TRUE(everyPlaneMatches(reader, recipe));

    // Cut inside plane 1700: the planes before it still read, that plane and the later ones fail.
    kt::truncateFile(file.path(), info.images[1700].strips[0].position + 100);
    for (const int plane : {1699, 2999, 1700}) {
        reader.open(file.path());
        blitz::Array<unsigned char, 2> read;
        const std::string message =
            thrownMessage([&] { reader.readArray(read, plane / 1500, 0, plane % 1500, 1, 0, 0, 0, 0); });
        if (plane < 1700) {
            EXPECT_EQ(message, "<no exception>");
            EXPECT_EQ(read(31, 31), kt::expectedSample(recipe, 1, 0, 199, 31, 31));
        } else {
            EXPECT_NE(message.find("Error while reading image strip 0 of 1 strips in page " +
                                   std::to_string(2 * plane)),
                      std::string::npos)
                << message;
            EXPECT_FALSE(reader.isOpen());
        }
    }
}

// Lines answered from rows an earlier read kept are the requested channel's, series' and file's, fill arrays
// of other shapes as any read does, and requests outside the stack are refused as without kept rows.
TEST(KeptRows, AnswerOnlyTheirOwnLinesAndRefuseWhatLiesOutside) {
    kt::ScopedFile file("lines.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(512, 1, 1, 2, 6000, {3, 3});  // 3000 u16 lines at each of 2 positions
    recipe.scanType = 2;
    recipe.planesPerImage = 3000;
    recipe.record.dimensionTime = 3000;
    recipe.recordWords = {{kt::lsmrecord::kDimensionP, 2}};
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader, cold;  // cold keeps no rows
    reader.open(file.path());
    cold.open(file.path());
    // series, t, c, z, z width, y, y width, x, x width: past the chunk of about 2000 kept lines and back,
    // the other channel and series, then requests outside the stack right after the kept line before them
    const int steps[][9] = {
        {0, 0, 0, 0, 1, 0, 0, 0, 0},     {0, 1, 0, 0, 1, 0, 1, 3, 10},    {0, 2, 0, 0, 1, 0, 0, 3, 0},
        {0, 2500, 0, 0, 1, 0, 0, 3, 20}, {0, 2501, 0, 0, 1, 0, 0, 3, 20}, {0, 10, 0, 0, 1, 0, 0, 3, 20},
        {0, 11, 1, 0, 1, 0, 0, 3, 20},   {0, 12, 0, 0, 1, 0, 0, 3, 20},   {1, 12, 0, 0, 1, 0, 0, 3, 20},
        {0, 13, 0, 0, 1, 0, 0, 3, 10},   {0, 13, 0, 1, 1, 0, 0, 0, 0},    {0, 13, 0, 0, 1, 1, 1, 0, 0},
        {0, 13, 0, 0, 1, 0, 2, 0, 0},    {0, 13, 0, 0, 2, 0, 0, 0, 0},    {0, 13, 0, 0, 1, 0, 0, 512, 0},
        {0, 13, 0, 0, 1, 0, 0, 508, 5},  {0, 13, 0, 0, 1, 0, 0, -1, 0},   {0, 13, 2, 0, 1, 0, 0, 0, 0},
        {0, 3000, 0, 0, 1, 0, 0, 0, 0},  {0, -1, 0, 0, 1, 0, 0, 0, 0}};
    blitz::Array<unsigned short, 2> line, coldLine, keptLine;
    for (const auto& s : steps) {
        reader.setSeries(s[0]);
        cold.setSeries(s[0]);
        const int width = s[8] > 0 ? s[8] : 512 - s[7];
        const auto read = [&](DorudURIVuruda& aReader, blitz::Array<unsigned short, 2>& aLine) {
            aLine.resize(1, width);  // the request's shape, as a caller reading line after line has it
            return thrownMessage(
                [&] { aReader.readArray(aLine, s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8]); });
        };
        const std::string expected = read(cold, coldLine);
        if (expected != "<no exception>")
            reader.readArray(keptLine, std::clamp(s[1] - 1, 0, 2999), 0, 0, 1, 0, 0, 0, 0);
        ASSERT_EQ(read(reader, line), expected) << s[1];
        for (int i = 0; expected == "<no exception>" && i < width; ++i)
            ASSERT_EQ(line(0, i), kt::expectedSample(recipe, s[0] * 3000 + s[1], s[2], 0, 0, s[7] + i));
    }
    blitz::Array<float, 1> asFloat(251);  // converted, of rank 1, of more rows or planes
    blitz::Array<unsigned short, 1> row(512);
    blitz::Array<unsigned short, 3> planes(1, 2, 512);
    line.resize(2, 512);
    reader.readArray(asFloat, 13, 0, 0, 1, 0, 1, 5, 0);
    EXPECT_EQ(asFloat(1), kt::expectedSample(recipe, 13, 0, 0, 0, 6));
    EXPECT_NE(thrownMessage([&] { reader.readArray(row, 13, 0, 0, 1, 0, 0, 0, 0); }), "<no exception>");
    reader.readArray(line, 13, 0, 0, 1, 0, 0, 0, 0);
    reader.readArray(planes, 13, 0, 0, 1, 0, 0, 0, 0);
    EXPECT_EQ(line.extent(0) + planes.extent(1), 2);
    blitz::Array<unsigned short, 2> based(1, 512, blitz::fortranArray);  // its first element is (1, 1)
    reader.readArray(based, 14, 0, 0, 1, 0, 0, 0, 0);
    EXPECT_EQ(based(1, 512), kt::expectedSample(recipe, 14, 0, 0, 0, 511));
    reader.close();
    EXPECT_READER_ERROR(reader.readArray(line, 13, 0, 0, 1, 0, 0, 0, 0), "No file opened.");
}
