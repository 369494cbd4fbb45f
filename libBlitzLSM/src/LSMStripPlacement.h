#ifndef KORVANE_LSMSTRIPPLACEMENT_H
#define KORVANE_LSMSTRIPPLACEMENT_H

#include <cstdint>

namespace korvane {
namespace lsm {

// A strip that has no place in the file: reading it fails.
constexpr uint64_t kUnplaced = UINT64_MAX;

// Where a strip whose offset is stored as aStored lies in a file of aFileSize bytes that begins with an
// aHeaderSize-byte header. The microscope stores 32-bit offsets even in files of 4 GiB or more, where they
// wrap modulo 2^32; such an offset is lifted by the fewest 2^32 steps that bring it to aReference (where
// the same strip of the last placed directory lies, 0 for none) or beyond. Smaller files are taken as
// stored, whatever their order. A stored 0 marks a missing strip; a position in the header or at or past
// the end of the file is no place, so a lift never leaves the file and a cut-short file fails cleanly.
uint64_t placeStrip(uint64_t aStored, uint64_t aReference, uint64_t aFileSize, uint64_t aHeaderSize);

}  // namespace lsm
}  // namespace korvane

#endif
