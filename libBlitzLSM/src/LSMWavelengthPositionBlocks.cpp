// The ChannelWavelength, Positions and TilePositions blocks: a count and fixed-size doubles, with no
// size field of their own, so the count is also held against what the image can have.
#include <cmath>
#include <string>

#include "LSMAcquisitionBlocks.h"
#include "LittleEndian.h"

namespace {

using korvane::lsm::littleEndian32;
using korvane::lsm::littleEndianDouble;

// Reads the 4-byte count and aCount items of aItemBytes; false (after a warning) when the block is
// damaged.
bool readCounted(LSMBlockFile& aFile, const char* aBlock, uint64_t aOffset, uint64_t aItemBytes,
                 uint32_t aMaxCount, const char* aWhat, std::vector<unsigned char>& aItems,
                 uint32_t& aCount) {
    std::vector<unsigned char> header;
    if (!aFile.read(aOffset, 4, header)) {
        aFile.warn(aBlock, aOffset, "is cut off by the end of the file");
        return false;
    }
    const int32_t count = int32_t(littleEndian32(&header[0]));
    if (count < 0 || uint32_t(count) > aMaxCount) {
        aFile.warn(aBlock, aOffset,
                   "declares " + std::to_string(count) + " " + aWhat + " where at most " +
                       std::to_string(aMaxCount) + " can be; it is ignored");
        return false;
    }
    if (!aFile.read(aOffset + 4, uint64_t(count) * aItemBytes, aItems)) {
        aFile.warn(
            aBlock, aOffset,
            "of " + std::to_string(count) + " " + aWhat + " runs past the end of the file; it is ignored");
        return false;
    }
    aCount = uint32_t(count);
    return true;
}

double finiteOrZero(double aValue) { return std::isfinite(aValue) ? aValue : 0.0; }

}  // namespace

void readChannelWavelengths(LSMBlockFile& aFile, uint64_t aOffset, uint32_t aChannels,
                            std::vector<LSMWavelengthRange>& aRanges) {
    const char* const kBlock = "ChannelWavelength block";
    std::vector<unsigned char> items;
    uint32_t count = 0;
    if (!aFile.present(kBlock, aOffset) ||
        !readCounted(aFile, kBlock, aOffset, 16, aChannels, "channel wavelength ranges", items, count))
        return;
    aRanges.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        aRanges[i] = {finiteOrZero(littleEndianDouble(&items[16 * i])),
                      finiteOrZero(littleEndianDouble(&items[16 * i + 8]))};
}

void readPositions(LSMBlockFile& aFile, const char* aBlock, uint64_t aOffset, uint32_t aMaxCount,
                   std::vector<LSMPosition>& aPositions) {
    std::vector<unsigned char> items;
    uint32_t count = 0;
    if (!aFile.present(aBlock, aOffset) ||
        !readCounted(aFile, aBlock, aOffset, 24, aMaxCount, "positions", items, count))
        return;
    aPositions.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* item = &items[24 * i];
        aPositions[i] = {finiteOrZero(littleEndianDouble(item)), finiteOrZero(littleEndianDouble(item + 8)),
                         finiteOrZero(littleEndianDouble(item + 16))};
    }
}
