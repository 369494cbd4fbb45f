#include "LSMDirectoryIndex.h"

namespace korvane {
namespace lsm {
namespace {

constexpr uint16_t kCompressionTag = 259;
constexpr uint16_t kStripOffsetsTag = 273;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeLong8 = 16;

}  // namespace

void DirectoryIndex::reset() { *this = DirectoryIndex(); }

bool DirectoryIndex::locate(LSMStreamHandle& aHandle, uint64_t aNumber) {
    if (!mStarted && !start(aHandle)) return false;
    while (aNumber >= mOffsets.size()) {
        if (mEnded || !parseNext(aHandle)) return false;
    }
    return true;
}

uint64_t DirectoryIndex::unwrapBase(uint64_t aNumber) const {
    if (mBigTiff || aNumber < 2) return 0;
    return mImages[aNumber / 2 - 1].firstStrip;
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

bool DirectoryIndex::firstStripOffset(LSMStreamHandle& aHandle, const unsigned char* aEntry,
                                      uint64_t& aOffset) {
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
    if (width == 0 || count == 0) return false;
    if (count <= fieldWidth / width) {
        aOffset = decode(field, width);
        return true;
    }
    unsigned char value[8];
    if (!readAt(aHandle, decode(field, fieldWidth), value, width)) return false;
    aOffset = decode(value, width);
    return true;
}

bool DirectoryIndex::parseNext(LSMStreamHandle& aHandle) {
    const uint64_t number = mParsed;
    const uint64_t at = mOffsets[number];
    const unsigned countWidth = mBigTiff ? 8 : 2;
    const unsigned entryWidth = mBigTiff ? 20 : 12;
    const unsigned linkWidth = mBigTiff ? 8 : 4;
    mEnded = true;  // until this directory proves to lead on

    unsigned char countBytes[8];
    if (!readAt(aHandle, at, countBytes, countWidth)) return false;
    const uint64_t count = decode(countBytes, countWidth);
    if (count > 0xffff) return false;  // libtiff refuses such directories too
    mEntries.resize(size_t(count * entryWidth + linkWidth));
    if (!readAt(aHandle, at + countWidth, mEntries.data(), mEntries.size())) return false;

    if (number % 2 == 0) {
        Image image;
        const uint64_t base = unwrapBase(number);
        image.firstStrip = base;
        for (uint64_t e = 0; e < count; ++e) {
            const unsigned char* entry = mEntries.data() + e * entryWidth;
            const uint64_t tag = decode(entry, 2);
            uint64_t stored = 0;
            if (tag == kCompressionTag) {
                image.compression = uint16_t(decode(entry + 4 + (mBigTiff ? 8 : 4), 2));
            } else if (tag == kStripOffsetsTag && firstStripOffset(aHandle, entry, stored)) {
                LSMStreamHandle probe{nullptr, nullptr, true, 0, 0.0, 0};
                probe.unwrapBase = mBigTiff ? 0 : base;
                image.firstStrip = stored + lsmOffsetCorrection(probe, stored);
            }
        }
        mImages.push_back(image);
    }
    ++mParsed;

    const uint64_t link = decode(mEntries.data() + count * entryWidth, linkWidth);
    if (link == 0 || seen(link) || mOffsets.size() >= kMaxDirectories) return false;
    mOffsets.push_back(link);
    mEnded = false;
    return true;
}

}  // namespace lsm
}  // namespace korvane
