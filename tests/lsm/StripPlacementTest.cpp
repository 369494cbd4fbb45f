#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::thrownMessage;
namespace kt = korvane::testsupport;

// Stored strip offsets are 32 bits wide: only files of 4 GiB or more can hold wrapped ones, and each strip
// is unwrapped against the same strip of the last plane whose strips all found a place.
TEST(StripPlacement, EveryPlaneReadsExceptTheDamagedOnesWhateverTheOrderAndSize) {
    using K = kt::StripFaultKind;
    // Noise grows under LZW: with the decoded size as byte count, as the microscope writes it, the real
    // strips run past their declared ends.
    kt::LsmSpec small = kt::lsmSpec(37, 29, 6, 2, 1, {kt::kLsmUint16, kt::kLsmUint16});
    small.compression = kt::Compression::LZW;
    small.lzwDeclaresUncompressedByteCounts = true;
    small.values = [](int t, int c, int z, int y, int x) {
        return double((uint32_t(((x * 31 + y) * 7 + z) * 5 + c * 3 + t) * 2654435761u) >> 16);
    };
    kt::LsmSpec swapped = small, zeroed = small;
    swapped.dataOrder = {2, 1, 0, 3, 4, 5};
    zeroed.stripFaults = {{2, 0, K::OffsetRaw, 0}, {2, 1, K::OffsetRaw, 0}};
    // About 3.4 KB a plane: planes 0-1 lie below 4 GiB, plane 2 across it, plane 5 is lifted past the end
    // of the file.
    kt::LsmSpec deep = kt::lsmSpec(64, 64, 8, 2, 1);
    deep.compression = kt::Compression::LZW;
    deep.lzwDeclaresUncompressedByteCounts = true;
    deep.pixelDataStart = (uint64_t(1) << 32) - 10000;
    deep.stripFaults = {{1, 0, K::OffsetRaw, 0},
                        {1, 1, K::OffsetRaw, 0},
                        {5, 0, K::OffsetBeyondEndOfFile, 0},
                        {5, 1, K::OffsetBeyondEndOfFile, 0}};
    // 2.5 GiB planes: channel 3 of plane 1 lies more than 4 GiB beyond the first strip of plane 0.
    kt::LsmSpec wide = kt::lsmSpec(32768, 20480, 2, 4, 1);
    wide.stripsPerChannel = 64;
    wide.sparsePixelData = true;
    const struct {
        const char* what;
        kt::LsmSpec recipe;
        std::set<int> failing;
    } cases[] = {{"z0 and z2 swapped", swapped, {}},
                 {"zeroed plane", zeroed, {2}},
                 {"over 4 GiB with damaged planes", deep, {1, 5}},
                 {"planes over 2 GiB", wide, {}}};
    const bool sparse = kt::fileSystemSupportsSparseFiles(kt::tempDirectory());
    kt::ScopedFile file("placement.lsm");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!sparse && (c.recipe.sparsePixelData || c.recipe.pixelDataStart != 0)) {
            std::printf("skipped '%s': the temporary folder cannot hold sparse files\n", c.what);
            continue;
        }
        const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), c.recipe);
        const kt::StripLayout& first = info.images[0].strips[0];
        ASSERT_TRUE(!c.recipe.values || first.size > first.declaredBytes);
        DorudURIVuruda reader;
        blitz::Array<unsigned short, 2> row;
        for (int z = 0; z < c.recipe.sizeZ; ++z)
            for (int ch = 0; ch < c.recipe.sizeC; ++ch)
                for (const int y : {0, c.recipe.sizeY - 1}) {
                    if (!reader.isOpen()) reader.open(file.path());
                    const std::string message =
                        thrownMessage([&] { reader.readArray(row, 0, ch, z, 1, y, 1, 0, 0); });
                    if (c.failing.count(z)) {
                        EXPECT_NE(message.find("Error while reading image strip"), std::string::npos)
                            << message;
                        continue;
                    }
                    ASSERT_EQ(message, "<no exception>") << z << " " << ch;
                    for (int x = 0; x < c.recipe.sizeX; ++x)
                        ASSERT_EQ(row(0, x), kt::expectedSample(c.recipe, 0, ch, z, y, x))
                            << z << " " << ch << " " << y << " " << x;
                }
    }
}
