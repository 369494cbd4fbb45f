#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"
#include "LSMStripPlacement.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::thrownMessage;
namespace kt = korvane::testsupport;

namespace {

constexpr uint64_t k4GiB = uint64_t(1) << 32;

std::vector<kt::StripFault> damagedPlane(int aImage, int aStrips, kt::StripFaultKind aKind) {
    std::vector<kt::StripFault> faults;
    for (int s = 0; s < aStrips; ++s) faults.push_back({aImage, s, aKind, 0});
    return faults;
}

}  // namespace

// Stored strip offsets are 32 bits wide: only files of 4 GiB or more can hold wrapped ones, and each strip
// is unwrapped against the same strip of the last plane that could be placed.
TEST(StripPlacement, EveryPlaneReadsExceptTheDamagedOnesWhateverTheOrderAndSize) {
    kt::LsmSpec small = kt::lsmSpec(37, 29, 6, 2, 1, {kt::kLsmUint16, kt::kLsmUint16});
    kt::LsmSpec swapped = small, zeroed = small;
    swapped.dataOrder = {2, 1, 0, 3, 4, 5};
    zeroed.stripFaults = damagedPlane(2, 2, kt::StripFaultKind::OffsetRaw);
    // About 3.4 KB a plane: planes 0-1 lie below 4 GiB, plane 2 across it, then a plane lifted past the end
    // of the file. LZW with the decoded size as byte count, as the microscope writes it.
    kt::LsmSpec deep = kt::lsmSpec(64, 64, 8, 2, 1);
    deep.compression = kt::Compression::LZW;
    deep.lzwDeclaresUncompressedByteCounts = true;
    deep.previewWidth = deep.previewHeight = 1;
    deep.previewRgb = false;
    deep.pixelDataStart = k4GiB - 10000;
    deep.stripFaults = damagedPlane(1, 2, kt::StripFaultKind::OffsetRaw);
    for (const kt::StripFault& f : damagedPlane(5, 2, kt::StripFaultKind::OffsetBeyondEndOfFile))
        deep.stripFaults.push_back(f);
    // 2.5 GiB planes: channel 3 of plane 1 lies more than 4 GiB beyond the first strip of plane 0.
    kt::LsmSpec wide = kt::lsmSpec(32768, 20480, 2, 4, 1);
    wide.stripsPerChannel = 64;
    wide.sparsePixelData = true;
    const struct {
        const char* what;
        kt::LsmSpec recipe;
        std::set<int> failing;
    } cases[] = {{"in order", small, {}},
                 {"z0 and z2 swapped", swapped, {}},
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
        ASSERT_EQ(info.fileSize >= k4GiB, c.recipe.sizeX > 37);  // the first three stay below 4 GiB
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

TEST(StripPlacement, OnlyOffsetsThatCanHaveWrappedAreLiftedAndNeverOutOfTheFile) {
    using korvane::lsm::kUnplaced;
    const struct {
        uint64_t stored, reference, fileSize, placed;
    } cases[] = {
        {705032704u, 4500000000u, 6000000000u, 5000000000u},   // the fewest steps to the reference
        {205032704u, 4500000000u, 6000000000u, 4500000000u},   // exactly at it
        {16, 9000000000u, 13000000000u, 3 * k4GiB + 16},       // several steps
        {3000000000u, 4000000000u, 4000000000u, 3000000000u},  // a file under 4 GiB is never lifted
        {3000000000u, 100, 6000000000u, 3000000000u},          // at or beyond the reference: as stored
        {705032704u, 4500000000u, 5000000000u, kUnplaced},     // cut short before the lifted strip
        {0, 4500000000u, 6000000000u, kUnplaced},              // a missing strip
        {4, 0, 6000000000u, kUnplaced},                        // in the header
    };
    for (const auto& c : cases)
        EXPECT_EQ(korvane::lsm::placeStrip(c.stored, c.reference, c.fileSize, 8), c.placed) << c.stored;
}
