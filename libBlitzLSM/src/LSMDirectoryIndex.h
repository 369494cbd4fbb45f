#ifndef KORVANE_LSMDIRECTORYINDEX_H
#define KORVANE_LSMDIRECTORYINDEX_H

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "LSMStreamProcedures.h"

namespace korvane {
namespace lsm {

// File offsets of the TIFF directories of one open file, learnt by walking the directory chain as
// far as requests need and no further. The walk reads each directory's entry count, entries and
// link through the stream procedures, with offset correction off, and fails where a sequential
// walk by libtiff fails: a link that cannot be read, a chain that ends, a link back to a directory
// already seen. Image directories (even numbers) also yield their first strip's stored offset and
// their compression, so that wrapped strip offsets can be unwrapped plane after plane.
class DirectoryIndex {
  public:
    // libtiff handles no more directories than this; it also bounds the index's memory.
    static constexpr uint64_t kMaxDirectories = uint64_t(1) << 20;

    // Forgets the file; the next request starts again from the header.
    void reset();

    // Whether directory aNumber exists as far as the chain tells, learning offsets up to it.
    bool locate(LSMStreamHandle& aHandle, uint64_t aNumber);

    // Whether directory aNumber's own entries were read (locate(aNumber + 1) reads them).
    bool parsed(uint64_t aNumber) const { return aNumber < mParsed; }

    // Offset of a located directory.
    uint64_t offset(uint64_t aNumber) const { return mOffsets[aNumber]; }

    // For located image directory aNumber: the true file position its strips are unwrapped against.
    uint64_t unwrapBase(uint64_t aNumber) const;

    // For a parsed image directory: whether its strips are compressed.
    bool compressed(uint64_t aNumber) const { return mImages[aNumber / 2].compression != 1; }

  private:
    struct Image {
        uint64_t firstStrip = 0;   // true position of the first strip (base when unknown)
        uint16_t compression = 1;  // TIFF default: none
    };

    bool start(LSMStreamHandle& aHandle);
    bool parseNext(LSMStreamHandle& aHandle);
    bool readAt(LSMStreamHandle& aHandle, uint64_t aOffset, unsigned char* aBytes, uint64_t aCount);
    uint64_t decode(const unsigned char* aBytes, unsigned aWidth) const;
    bool firstStripOffset(LSMStreamHandle& aHandle, const unsigned char* aEntry, uint64_t& aOffset);
    bool seen(uint64_t aOffset);

    bool mStarted = false;
    bool mEnded = false;  // no directory beyond mOffsets.size() - 1 can be reached
    bool mBigEndian = false;
    bool mBigTiff = false;
    uint64_t mParsed = 0;            // directories whose entries and link were read
    std::vector<uint64_t> mOffsets;  // every located directory
    std::vector<Image> mImages;      // every parsed image directory, by number / 2
    uint64_t mHighestOffset = 0;     // while offsets only grow, none can repeat
    bool mAscending = true;          // false once an offset fell: mSeen then holds them all
    std::unordered_set<uint64_t> mSeen;
    std::vector<unsigned char> mEntries;
};

}  // namespace lsm
}  // namespace korvane

#endif
