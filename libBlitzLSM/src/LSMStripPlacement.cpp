#include "LSMStripPlacement.h"

namespace korvane {
namespace lsm {

uint64_t placeStrip(uint64_t aStored, uint64_t aReference, uint64_t aFileSize, uint64_t aHeaderSize) {
    constexpr uint64_t kWrap = uint64_t(1) << 32;
    if (aStored == 0) return kUnplaced;
    uint64_t position = aStored;
    // Only a file of 4 GiB or more can hold a position that a 32-bit offset could not store.
    if (aFileSize >= kWrap && aStored < kWrap && aStored < aReference && aReference < aFileSize)
        position += ((aReference - aStored + kWrap - 1) >> 32) << 32;
    if (position < aHeaderSize || position >= aFileSize) return kUnplaced;
    return position;
}

}  // namespace lsm
}  // namespace korvane
