#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>

#include "OmeTiffWriter.h"
#include "PixelDataType.h"
#include "SinglePlaneSource.h"
#include "TestFiles.h"

using namespace korvane::tools;

namespace {

StackSummary onePlane(int aType) {
    StackSummary stack;
    stack.sizeX = 3;
    stack.sizeY = 2;
    stack.sizeZ = stack.sizeC = stack.sizeT = 1;
    stack.pixelTypes = {aType};
    return stack;
}

template <typename T>
SinglePlane plane(T aLargest) {
    blitz::Array<T, 2> values(2, 3);
    values = 0, 1, 2, 3, 4, aLargest;
    return values;
}

// Every value of the first directory as double, with its BitsPerSample and SampleFormat.
struct Read {
    int bits = 0, format = 0;
    std::vector<double> values;
};

template <typename T>
void readValues(TIFF* aTiff, Read& aRead) {
    std::vector<T> row(3);
    for (uint32_t y = 0; y < 2; ++y) {
        ASSERT_EQ(TIFFReadScanline(aTiff, row.data(), y), 1);
        aRead.values.insert(aRead.values.end(), row.begin(), row.end());
    }
}

Read readBack(const std::string& aPath) {
    Read read;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(aPath.c_str(), "r"), TIFFClose);
    if (!tiff) return read;
    uint16_t bits = 0, format = 0;
    TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
    read.bits = bits;
    read.format = format;
    if (format == SAMPLEFORMAT_IEEEFP)
        bits == 32 ? readValues<float>(tiff.get(), read) : readValues<double>(tiff.get(), read);
    else
        bits == 8    ? readValues<uint8_t>(tiff.get(), read)
        : bits == 16 ? readValues<uint16_t>(tiff.get(), read)
                     : readValues<uint32_t>(tiff.get(), read);
    return read;
}

TEST(OmeTiffWriter, WritesEverySampleTypeWithItsLargestValues) {
    const struct {
        int type;
        SinglePlane plane;
        int bits, format;
        double largest;
    } cases[] = {
        {TYPE_UINT8, plane<unsigned char>(255), 8, SAMPLEFORMAT_UINT, 255},
        {TYPE_UINT16, plane<unsigned short>(65535), 16, SAMPLEFORMAT_UINT, 65535},
        {TYPE_UINT32, plane<unsigned int>(4294967295u), 32, SAMPLEFORMAT_UINT, 4294967295.0},
        {TYPE_FLOAT, plane<float>(-3e38f), 32, SAMPLEFORMAT_IEEEFP, double(-3e38f)},
        {TYPE_DOUBLE, plane<double>(1e300), 64, SAMPLEFORMAT_IEEEFP, 1e300},
        // A 16-bit plane in 32-bit samples, as a channel beside a wider one is written.
        {TYPE_UINT32, plane<unsigned short>(65535), 32, SAMPLEFORMAT_UINT, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(pixelDataTypeName(c.type));
        const korvane::testsupport::ScopedFile out("plane.ome.tif");
        SinglePlaneSource source(c.plane);
        ASSERT_TRUE(writeOmeTiff(source, onePlane(c.type), c.type, "<OME/>", out.path(), {}));
        const Read read = readBack(out.path());
        EXPECT_EQ(read.bits, c.bits);
        EXPECT_EQ(read.format, c.format);
        EXPECT_EQ(read.values, (std::vector<double>{0, 1, 2, 3, 4, c.largest}));
    }
}

class FailingSource : public OmePlaneSource {
  public:
    void readPlanes(PlaneBlock&, int, int, int, int) override { throw std::runtime_error("source failed"); }
};

TEST(OmeTiffWriter, CancelOrAFailingSourceLeavesNothing) {
    const std::string folder = korvane::testsupport::tempPath("writer");
    std::filesystem::create_directory(folder);
    const std::string out = folder + "/out.ome.tif";
    SinglePlaneSource plane(plane<unsigned char>(9));
    FailingSource failing;
    ConvertOptions cancel;
    cancel.progress = [](int64_t, int64_t) { return false; };
    EXPECT_FALSE(writeOmeTiff(plane, onePlane(TYPE_UINT8), TYPE_UINT8, "<OME/>", out, cancel));
    EXPECT_THROW(writeOmeTiff(failing, onePlane(TYPE_UINT8), TYPE_UINT8, "<OME/>", out, {}),
                 std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove(folder);
}

}  // namespace
