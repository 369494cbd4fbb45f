#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;
using korvane::lsmtest::everyPlaneMatches;

namespace {

// What plain libtiff makes of the last strip of the file's last image directory.
tmsize_t plainLibtiffLastStrip(const std::string& aPath, int aLastImage) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(aPath.c_str(), "r");
    if (tiff == nullptr) return -2;
    tmsize_t result = -3;
    if (TIFFSetDirectory(tiff, tdir_t(2 * aLastImage))) {
        std::vector<unsigned char> buffer(TIFFStripSize(tiff));
        result = TIFFReadEncodedStrip(tiff, TIFFNumberOfStrips(tiff) - 1, buffer.data(), -1);
    }
    TIFFClose(tiff);
    return result;
}

}  // namespace

TEST(CompressedStrips, LzwAndDeflateDecodeExactlyForEverySampleType) {
    kt::ScopedFile file("compressed.lsm");
    DorudURIVuruda reader;
    for (const kt::Compression compression : {kt::Compression::LZW, kt::Compression::Deflate})
        for (const int code : {kt::kLsmUint8, kt::kLsmUint16, kt::kLsmFloat32})
            for (const int strips : {1, 3}) {
                SCOPED_TRACE("compression " + std::to_string(int(compression)) + " code " +
                             std::to_string(code) + " strips " + std::to_string(strips));
                kt::LsmSpec recipe = kt::lsmSpec(33, 17, 3, 2, 2, {code, code});
                recipe.compression = compression;
                recipe.stripsPerChannel = strips;
                kt::writeLsm(file.path(), recipe);
                reader.open(file.path());
                EXPECT_TRUE(everyPlaneMatches(reader, recipe));
            }
}

TEST(CompressedStrips, UncompressedByteCountsOfTheMicroscopeStillReadToTheLastPlane) {
    kt::ScopedFile file("quirk.lsm");
    DorudURIVuruda reader;
    for (const kt::Compression compression : {kt::Compression::LZW, kt::Compression::Deflate})
        for (const int code : {kt::kLsmUint8, kt::kLsmUint16}) {
            SCOPED_TRACE("compression " + std::to_string(int(compression)) + " code " + std::to_string(code));
            kt::LsmSpec recipe = kt::lsmSpec(256, 64, 3, 2, 2, {code, code});
            recipe.compression = compression;
            recipe.stripsPerChannel = 2;
            recipe.lzwDeclaresUncompressedByteCounts = true;
            // Smooth values, as in a real picture, compress well: declared strips then reach far past
            // their successors and the end of the file.
            recipe.values = [](int t, int c, int z, int y, int x) {
                return (x / 8 + y + 3 * z + 5 * c + 7 * t) % 200;
            };
            kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
            const kt::StripLayout& lastStrip = info.images.back().strips.back();
            ASSERT_GT(lastStrip.position + lastStrip.declaredBytes, info.fileSize);  // the quirk is present
            EXPECT_LT(plainLibtiffLastStrip(file.path(), recipe.sizeZ * recipe.sizeT - 1), 0);
            reader.open(file.path());
            EXPECT_TRUE(everyPlaneMatches(reader, recipe));
        }
}

TEST(CompressedStrips, DeclaredCountsDoNotMatterButStripsWithoutPlaceCloseTheFile) {
    kt::ScopedFile file("badlzw.lsm");
    DorudURIVuruda reader;
    blitz::Array<unsigned short, 2> plane;
    const struct {
        kt::StripFaultKind kind;
        uint32_t value;
        bool reads;  // to its end code, whatever count it declares
    } faults[] = {{kt::StripFaultKind::ByteCountZero, 0, true},
                  {kt::StripFaultKind::OffsetBeyondEndOfFile, 0, false},
                  {kt::StripFaultKind::ByteCountRaw, 3, true},
                  {kt::StripFaultKind::OffsetRaw, 4, false}};  // in the header
    for (const auto& fault : faults) {
        kt::LsmSpec recipe = kt::lsmSpec(40, 20, 2, 1, 1, {3});
        recipe.compression = kt::Compression::LZW;
        recipe.stripsPerChannel = 2;
        recipe.stripFaults = {{1, 1, fault.kind, fault.value}};
        kt::writeLsm(file.path(), recipe);
        reader.open(file.path());
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0);
        if (fault.reads) {
            EXPECT_TRUE(everyPlaneMatches(reader, recipe));
            continue;
        }
        EXPECT_READER_ERROR(
            reader.readArray(plane, 0, 0, 1, 1, 0, 0, 0, 0),
            "Error while reading image strip 1 of 2 strips in page 2 of page-range [2 - 4), abort.");
        EXPECT_FALSE(reader.isOpen());
    }
}
