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
// already seen. Image directories (even numbers) also yield their compression and strip count. In a
// file of 4 GiB or more, where stored 32-bit strip offsets may have wrapped, the walk also places
// every directory's strips (see placeStrip) against the same strips of the last fully placed directory
// of its kind, image or preview, and keeps only the 2^32 steps each strip was lifted by.
class DirectoryIndex {
  public:
    // libtiff handles no more directories than this; it also bounds the index's memory.
    static constexpr uint64_t kMaxDirectories = uint64_t(1) << 20;
    // A directory storing more strip offsets than this has none placed.
    static constexpr uint64_t kMaxStrips = uint64_t(1) << 20;

    // Forgets the file; the next request starts again from the header.
    void reset();

    // Whether directory aNumber exists as far as the chain tells, learning offsets up to it.
    bool locate(LSMStreamHandle& aHandle, uint64_t aNumber);

    // How many directories the whole chain reaches whose entries can be read, walking it to its end.
    uint64_t count(LSMStreamHandle& aHandle);

    // Whether directory aNumber's own entries were read (locate(aNumber + 1) reads them).
    bool parsed(uint64_t aNumber) const { return aNumber < mParsed; }

    // Offset of a located directory.
    uint64_t offset(uint64_t aNumber) const { return mOffsets[aNumber]; }

    // For a parsed image directory: whether its strips are compressed.
    bool compressed(uint64_t aNumber) const { return mImages[aNumber / 2].compression != 1; }

    // For a parsed image directory: how many strip offsets it stores.
    uint32_t stripCount(uint64_t aNumber) const { return mImages[aNumber / 2].strips; }

    // Where stored strip aStrip of directory aNumber lies, its offset being stored as aStored; kUnplaced
    // when it has no place in the file (or the directory was not parsed in a file that needs placing).
    uint64_t place(uint64_t aNumber, uint64_t aStrip, uint64_t aStored) const;

    // The positions of the strips of parsed directory aNumber, their offsets read again from the file;
    // false when they cannot be read.
    bool stripPositions(LSMStreamHandle& aHandle, uint64_t aNumber, std::vector<uint64_t>& aPositions);

  private:
    struct Image {
        uint32_t strips = 0;
        uint16_t compression = 1;  // TIFF default: none
    };
    static constexpr uint8_t kNoPlace = 0xff;  // in mSteps: the strip has no place in the file

    bool start(LSMStreamHandle& aHandle);
    bool parseNext(LSMStreamHandle& aHandle);
    bool readEntries(LSMStreamHandle& aHandle, uint64_t aNumber, uint64_t& aCount);
    bool readAt(LSMStreamHandle& aHandle, uint64_t aOffset, unsigned char* aBytes, uint64_t aCount);
    uint64_t decode(const unsigned char* aBytes, unsigned aWidth) const;
    bool readStripOffsets(LSMStreamHandle& aHandle, const unsigned char* aEntry,
                          std::vector<uint64_t>& aOffsets);
    void placeDirectory(uint64_t aNumber, const std::vector<uint64_t>& aStored);
    bool seen(uint64_t aOffset);

    bool mStarted = false;
    bool mEnded = false;  // no directory beyond mOffsets.size() - 1 can be reached
    bool mBigEndian = false;
    bool mBigTiff = false;
    bool mPlacing = false;  // a classic TIFF of 4 GiB or more: strips are placed as the chain is walked
    uint64_t mFileSize = 0;
    uint64_t mHeaderSize = 8;
    uint64_t mParsed = 0;            // directories whose entries and link were read
    std::vector<uint64_t> mOffsets;  // every located directory
    std::vector<Image> mImages;      // every parsed image directory, by number / 2
    uint64_t mHighestOffset = 0;     // while offsets only grow, none can repeat
    bool mAscending = true;          // false once an offset fell: mSeen then holds them all
    std::unordered_set<uint64_t> mSeen;
    std::vector<unsigned char> mEntries;

    // While placing: per parsed directory, the pattern of steps its strips were lifted by. Neighbouring
    // directories of one kind mostly share a pattern, so each is kept once: pattern p is
    // mSteps[mPatternStarts[p], mPatternStarts[p + 1]).
    std::vector<uint32_t> mPatterns;
    std::vector<uint64_t> mPatternStarts{0};
    std::vector<uint8_t> mSteps;
    uint32_t mLastPattern[2] = {0, 0};
    bool mHasLastPattern[2] = {false, false};
    // Positions of the strips of the last fully placed image (0) and preview (1) directory.
    std::vector<uint64_t> mReference[2];
    std::vector<uint64_t> mStored;  // scratch of the walk
    std::vector<uint64_t> mPositions;
    std::vector<uint8_t> mNewSteps;
    std::vector<unsigned char> mValues;
};

}  // namespace lsm
}  // namespace korvane

#endif
