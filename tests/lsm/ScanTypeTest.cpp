#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LsmTestSupport.h"

namespace kt = korvane::testsupport;

namespace {

struct ScanCase {
    const char* name;
    int scanType, x, y, z, c, t, planesPerImage, stripsPerChannel, code;
    kt::Compression compression;
    bool contiguous;
};

// The last row of the last plane of the last channel from column 1 on, in the file's own type T and
// timepoint by timepoint, as the window reads a line scan.
template <typename T>
::testing::AssertionResult everyTimepointsRowMatches(DorudURIVuruda& aReader, const kt::LsmSpec& aRecipe) {
    const int c = aRecipe.sizeC - 1, z = aRecipe.sizeZ - 1, y = aRecipe.sizeY - 1;
    blitz::Array<T, 1> row;
    for (int t = 0; t < aRecipe.sizeT; ++t) {
        aReader.readArray(row, t, c, z, 1, y, 1, 1, 0);
        for (int x = 1; x < aRecipe.sizeX; ++x)
            if (row(x - 1) != T(kt::expectedSample(aRecipe, t, c, z, y, x)))
                return ::testing::AssertionFailure() << "t " << t << " x " << x;
    }
    return ::testing::AssertionSuccess();
}

class ScanTypes : public ::testing::TestWithParam<ScanCase> {};

}  // namespace

// Sizes are the record's, and every plane (all z of a timepoint in one call) and row reads as written.
TEST_P(ScanTypes, ReadWhatWasWrittenWithTheRecordsSizes) {
    const ScanCase& s = GetParam();
    kt::LsmSpec recipe = kt::lsmSpec(s.x, s.y, s.z, s.c, s.t, std::vector<int>(size_t(s.c), s.code));
    recipe.scanType = int16_t(s.scanType);
    recipe.planesPerImage = s.planesPerImage;
    recipe.stripsPerChannel = s.stripsPerChannel;
    recipe.compression = s.compression;
    recipe.contiguousSamples = s.contiguous;
    kt::ScopedFile file("scan.lsm");
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    EXPECT_EQ(std::vector<int>({reader.getSizeX(), reader.getSizeY(), reader.getSizeZ(), reader.getSizeC(),
                                reader.getSizeT(), reader.getSeriesCount()}),
              std::vector<int>({s.x, s.y, s.z, s.c, s.t, 1}));
    EXPECT_TRUE(korvane::lsmtest::everyPlaneMatches(reader, recipe));
    if (s.code == kt::kLsmUint8)
        EXPECT_TRUE(everyTimepointsRowMatches<unsigned char>(reader, recipe));
    else
        EXPECT_TRUE(everyTimepointsRowMatches<unsigned short>(reader, recipe));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScanTypes,
    ::testing::Values(
        // Line and point scans: one image whose rows are the timepoints; older line scans
        // store one image per line.
        ScanCase{"LineU8", 2, 300, 1, 1, 1, 2000, 2000, 3, 1, kt::Compression::None, false},
        ScanCase{"LineU16TwoChannelsLzw", 2, 40, 1, 1, 2, 700, 700, 4, 3, kt::Compression::LZW, false},
        ScanCase{"PointU16Contiguous", 10, 3, 1, 1, 2, 900, 900, 2, 3, kt::Compression::None, true},
        ScanCase{"LineOneImagePerLine", 2, 24, 1, 1, 2, 9, 1, 1, 1, kt::Compression::None, false},
        // x-z scans: the rows of one image are the z planes, one image per timepoint in a time series.
        ScanCase{"XzU16", 1, 20, 1, 60, 1, 1, 60, 2, 3, kt::Compression::None, false},
        ScanCase{"XzTimeU8TwoChannelsLzw", 4, 20, 1, 30, 2, 3, 30, 2, 1, kt::Compression::LZW, false},
        ScanCase{"SplineXzTimeContiguous", 9, 5, 1, 7, 2, 4, 7, 1, 1, kt::Compression::LZW, true},
        // x-y images keep one image per plane, channels as strips or as samples.
        ScanCase{"XyztContiguousU16", 6, 9, 5, 2, 2, 3, 1, 2, 3, kt::Compression::None, true}),
    [](const ::testing::TestParamInfo<ScanCase>& aInfo) { return std::string(aInfo.param.name); });

TEST(ScanTypeFailures, ImagesThatFitNoLayoutOfTheScanTypeAreRefusedAtOpen) {
    struct Misfit {
        int z, t, planesPerImage, recordT;
        const char* layouts;
    } misfits[] = {
        // 500 lines where the record counts 1000.
        {1, 500, 500, 1000,
         "one image of 16 x 1000 (its timepoints as rows) or one image of 16 x 1 per plane"},
        // Lines over z and time in one image: no order of them is known.
        {2, 5, 10, 5, "one image of 16 x 1 per plane"},
    };
    kt::ScopedFile file("misfit.lsm");
    DorudURIVuruda reader;
    for (const Misfit& m : misfits) {
        kt::LsmSpec line = kt::lsmSpec(16, 1, m.z, 1, m.t);
        line.scanType = 2;
        line.planesPerImage = m.planesPerImage;
        line.record.dimensionTime = m.recordT;
        kt::writeLsm(file.path(), line);
        EXPECT_READER_ERROR(
            reader.open(file.path()),
            "The first image of file '" + file.path() + "' is 16 x " + std::to_string(m.planesPerImage) +
                " pixels, which fits no layout of a line scan (ScanType 2) of 16 x 1 pixels, " +
                std::to_string(m.z) + " z plane(s) and " + std::to_string(m.recordT) +
                " timepoint(s): " + m.layouts + ".");
    }
}

// Directories come position by position, their strips time by time: each position is a series when the
// file holds all of them, and reads are refused when it does not.
TEST(ScanTypePositions, EachPositionIsASeriesOnlyWhenTheFileHoldsThemAll) {
    kt::LsmSpec recipe = kt::lsmSpec(6, 4, 2, 2, 3 * 2, {1, 1});  // T 3 and Z 2 at each of 2 positions
    recipe.record.dimensionTime = 3;
    recipe.recordWords = {{kt::lsmrecord::kDimensionP, 2}};
    recipe.compression = kt::Compression::LZW;
    for (int plane = 0; plane < 6; ++plane)
        recipe.dataOrder.insert(recipe.dataOrder.end(), {plane, 6 + plane});
    kt::ScopedFile file("positions.lsm");
    kt::writeLsm(file.path(), recipe);
    DorudURIVuruda reader;
    reader.open(file.path());
    EXPECT_EQ(std::vector<int>({reader.getSeriesCount(), reader.getPositionCount(), reader.getTileCount()}),
              std::vector<int>({2, 2, 1}));
    EXPECT_EQ(reader.getMetaDataValue("Positions"), "2");
    blitz::Array<unsigned char, 2> plane;
    for (int series : {1, 0}) {
        reader.setSeries(series);
        reader.readArray(plane, 2, 1, 1, 1, 0, 0, 0, 0);
        EXPECT_EQ(plane(3, 5), kt::expectedSample(recipe, 3 * series + 2, 1, 1, 3, 5));
    }
    EXPECT_READER_ERROR(reader.setSeries(2), "No such series '2'.");

    recipe.writeDirectoryPairs = 11;
    recipe.dataOrder.clear();
    kt::writeLsm(file.path(), recipe);
    reader.open(file.path());
    EXPECT_EQ(reader.getSeriesCount(), 1);
    EXPECT_READER_ERROR(
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0),
        "File '" + file.path() +
            "' records 2 position(s) and 1 tile(s) of 6 image(s) each, but holds 11 image(s): "
            "which image belongs to which position or tile cannot be told.");
}
