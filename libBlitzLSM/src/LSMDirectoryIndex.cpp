#include "LSMDirectoryIndex.h"

#include <algorithm>

#include "LSMStripPlacement.h"

namespace korvane {
namespace lsm {
namespace {

constexpr uint16_t kCompressionTag = 259;
constexpr uint16_t kStripOffsetsTag = 273;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeLong8 = 16;
constexpr uint64_t kWrap = uint64_t(1) << 32;

}  // namespace

void DirectoryIndex::reset() { *this = DirectoryIndex(); }

bool DirectoryIndex::locate(LSMStreamHandle& aHandle, uint64_t aNumber) {
    if (!mStarted && !start(aHandle)) return false;
    while (aNumber >= mOffsets.size()) {
        if (mEnded || !parseNext(aHandle)) return false;
    }
    return true;
}

uint64_t DirectoryIndex::count(LSMStreamHandle& aHandle) {
    locate(aHandle, kMaxDirectories);  // stops where the chain ends, at kMaxDirectories at the latest
    return mParsed;
}

uint64_t DirectoryIndex::place(uint64_t aNumber, uint64_t aStrip, uint64_t aStored) const {
    if (!mPlacing) return placeStrip(aStored, 0, mFileSize, mHeaderSize);
    if (!parsed(aNumber)) return kUnplaced;
    const uint32_t pattern = mPatterns[aNumber];
    const uint64_t index = mPatternStarts[pattern] + aStrip;
    if (index >= mPatternStarts[pattern + 1] || mSteps[index] == kNoPlace) return kUnplaced;
    return aStored + (uint64_t(mSteps[index]) << 32);
}

bool DirectoryIndex::stripPositions(LSMStreamHandle& aHandle, uint64_t aNumber,
                                    std::vector<uint64_t>& aPositions) {
    aPositions.clear();
    uint64_t count = 0;
    if (!parsed(aNumber) || !readEntries(aHandle, aNumber, count)) return false;
    const unsigned entryWidth = mBigTiff ? 20 : 12;
    for (uint64_t e = 0; e < count; ++e) {
        const unsigned char* entry = mEntries.data() + e * entryWidth;
        if (decode(entry, 2) != kStripOffsetsTag) continue;
        if (!readStripOffsets(aHandle, entry, mStored)) return false;
        for (uint64_t s = 0; s < mStored.size(); ++s) aPositions.push_back(place(aNumber, s, mStored[s]));
        return true;
    }
    return false;
}

bool DirectoryIndex::readAt(LSMStreamHandle& aHandle, uint64_t aOffset, unsigned char* aBytes,
                            uint64_t aCount) {
    if (BlitzLSMTIFFseek(&aHandle, aOffset, SEEK_SET) != aOffset) return false;
    return BlitzLSMTIFFread(&aHandle, aBytes, tmsize_t(aCount)) == tmsize_t(aCount);
}

uint64_t DirectoryIndex::decode(const unsigned char* aBytes, unsigned aWidth) const {
    uint64_t value = 0;
    for (unsigned i = 0; i < aWidth; ++i) {
        const unsigned byte = mBigEndian ? i : aWidth - 1 - i;
        value = value << 8 | aBytes[byte];
    }
    return value;
}

bool DirectoryIndex::start(LSMStreamHandle& aHandle) {
    mStarted = true;
    mEnded = true;
    unsigned char header[16];
    if (!readAt(aHandle, 0, header, 8)) return false;
    if (header[0] != header[1] || (header[0] != 'I' && header[0] != 'M')) return false;
    mBigEndian = header[0] == 'M';
    const uint64_t version = decode(header + 2, 2);
    mBigTiff = version == 43;
    uint64_t first = decode(header + 4, 4);
    if (mBigTiff) {
        if (!readAt(aHandle, 8, header + 8, 8)) return false;
        first = decode(header + 8, 8);
    } else if (version != 42) {
        return false;
    }
    if (first == 0) return false;
    mFileSize = BlitzLSMTIFFsize(&aHandle);
    mHeaderSize = mBigTiff ? 16 : 8;
    mPlacing = !mBigTiff && mFileSize >= kWrap;
    mOffsets.push_back(first);
    mHighestOffset = first;
    mEnded = false;
    return true;
}

bool DirectoryIndex::seen(uint64_t aOffset) {
    if (mAscending) {
        if (aOffset > mHighestOffset) {
            mHighestOffset = aOffset;
            return false;
        }
        mAscending = false;
        mSeen.insert(mOffsets.begin(), mOffsets.end());
    }
    return !mSeen.insert(aOffset).second;
}

bool DirectoryIndex::readEntries(LSMStreamHandle& aHandle, uint64_t aNumber, uint64_t& aCount) {
    const uint64_t at = mOffsets[aNumber];
    const unsigned countWidth = mBigTiff ? 8 : 2;
    unsigned char countBytes[8];
    if (!readAt(aHandle, at, countBytes, countWidth)) return false;
    aCount = decode(countBytes, countWidth);
    if (aCount > 0xffff) return false;  // libtiff refuses such directories too
    mEntries.resize(size_t(aCount * (mBigTiff ? 20 : 12) + (mBigTiff ? 8 : 4)));
    return readAt(aHandle, at + countWidth, mEntries.data(), mEntries.size());
}

bool DirectoryIndex::readStripOffsets(LSMStreamHandle& aHandle, const unsigned char* aEntry,
                                      std::vector<uint64_t>& aOffsets) {
    const unsigned countWidth = mBigTiff ? 8 : 4;
    const unsigned fieldWidth = mBigTiff ? 8 : 4;
    const uint64_t type = decode(aEntry + 2, 2);
    const uint64_t count = decode(aEntry + 4, countWidth);
    const unsigned char* field = aEntry + 4 + countWidth;
    unsigned width = 0;
    if (type == kTypeShort)
        width = 2;
    else if (type == kTypeLong)
        width = 4;
    else if (type == kTypeLong8)
        width = 8;
    aOffsets.clear();
    if (width == 0 || count == 0 || count > kMaxStrips || count * width > mFileSize) return false;
    if (count * width > fieldWidth) {
        mValues.resize(size_t(count * width));
        if (!readAt(aHandle, decode(field, fieldWidth), mValues.data(), mValues.size())) return false;
        field = mValues.data();
    }
    for (uint64_t s = 0; s < count; ++s) aOffsets.push_back(decode(field + s * width, width));
    return true;
}

void DirectoryIndex::placeDirectory(uint64_t aNumber, const std::vector<uint64_t>& aStored) {
    // Each strip against the same strip of the last directory of its kind whose strips all found a place:
    // a damaged directory never misleads the ones after it.
    std::vector<uint64_t>& reference = mReference[aNumber % 2];
    mPositions.clear();
    mNewSteps.clear();
    bool whole = !aStored.empty();
    for (size_t s = 0; s < aStored.size(); ++s) {
        const uint64_t against = reference.empty() ? 0 : reference[std::min(s, reference.size() - 1)];
        const uint64_t position = placeStrip(aStored[s], against, mFileSize, mHeaderSize);
        const uint64_t steps = position == kUnplaced ? kNoPlace : (position - aStored[s]) >> 32;
        mNewSteps.push_back(uint8_t(std::min<uint64_t>(steps, kNoPlace)));
        whole = whole && steps < kNoPlace;
        mPositions.push_back(position);
    }
    if (whole) reference.swap(mPositions);

    const unsigned kind = unsigned(aNumber % 2);
    const uint32_t last = mLastPattern[kind];
    if (!mHasLastPattern[kind] ||
        !std::equal(mNewSteps.begin(), mNewSteps.end(), mSteps.begin() + mPatternStarts[last],
                    mSteps.begin() + mPatternStarts[last + 1])) {
        mSteps.insert(mSteps.end(), mNewSteps.begin(), mNewSteps.end());
        mPatternStarts.push_back(mSteps.size());
        mLastPattern[kind] = uint32_t(mPatternStarts.size() - 2);
        mHasLastPattern[kind] = true;
    }
    mPatterns.push_back(mLastPattern[kind]);
}

bool DirectoryIndex::parseNext(LSMStreamHandle& aHandle) {
    const uint64_t number = mParsed;
    const unsigned entryWidth = mBigTiff ? 20 : 12;
    const unsigned linkWidth = mBigTiff ? 8 : 4;
    mEnded = true;  // until this directory proves to lead on

    uint64_t count = 0;
    if (!readEntries(aHandle, number, count)) return false;
    Image image;
    mStored.clear();
    for (uint64_t e = 0; e < count; ++e) {
        const unsigned char* entry = mEntries.data() + e * entryWidth;
        const uint64_t tag = decode(entry, 2);
        if (tag == kCompressionTag) {
            image.compression = uint16_t(decode(entry + 4 + (mBigTiff ? 8 : 4), 2));
        } else if (tag == kStripOffsetsTag) {
            image.strips = uint32_t(std::min<uint64_t>(decode(entry + 4, mBigTiff ? 8 : 4), UINT32_MAX));
            // Read only where they may have wrapped: the walk of smaller files stays as cheap as it was.
            if (mPlacing) readStripOffsets(aHandle, entry, mStored);
        }
    }
    if (number % 2 == 0) mImages.push_back(image);
    if (mPlacing) placeDirectory(number, mStored);
    ++mParsed;

    const uint64_t link = decode(mEntries.data() + count * entryWidth, linkWidth);
    if (link == 0 || seen(link) || mOffsets.size() >= kMaxDirectories) return false;
    mOffsets.push_back(link);
    mEnded = false;
    return true;
}

}  // namespace lsm
}  // namespace korvane
