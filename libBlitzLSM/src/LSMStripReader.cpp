#include "LSMStripReader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace korvane {
namespace lsm {
namespace {

// Bytes libtiff decodes strip aStrip to: rows of the strip (the last strip of each sample plane may
// be short) times the scanline size.
uint64_t decodedStripSize(TIFF* aTiff, uint32_t aStrip) {
    uint32_t imageLength = 0;
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(aTiff, TIFFTAG_IMAGELENGTH, &imageLength);
    TIFFGetFieldDefaulted(aTiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (imageLength == 0) return 0;
    if (rowsPerStrip == 0 || rowsPerStrip > imageLength) rowsPerStrip = imageLength;
    const uint64_t stripsPerPlane = (uint64_t(imageLength) + rowsPerStrip - 1) / rowsPerStrip;
    const uint64_t stripInPlane = aStrip % stripsPerPlane;
    uint64_t rows = uint64_t(imageLength) - stripInPlane * rowsPerStrip;
    if (rows > rowsPerStrip) rows = rowsPerStrip;
    return TIFFVStripSize64(aTiff, static_cast<uint32_t>(rows));
}

}  // namespace

// Compressed strips as the microscope writes them may declare their uncompressed size as byte
// count, which can run into the next strip or past the end of the file. The strip cannot extend
// beyond the next strip's start nor the file's end, so its raw bytes are cut there, read through
// the stream procedures (so wrapped offsets are corrected) and decoded from memory.
class CompressedStripSource {
  public:
    CompressedStripSource(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize, uint32_t aStripCount)
        : mTiff(aTiff), mHandle(aHandle), mFileSize(aFileSize) {
        mStarts.reserve(aStripCount);  // may throw std::bad_alloc, as the caller knows
        for (uint32_t s = 0; s < aStripCount; ++s) mStarts.push_back(correctedStart(s));
        mSortedStarts = mStarts;
        std::sort(mSortedStarts.begin(), mSortedStarts.end());
    }

    // Decodes aWant bytes of strip aStrip into aOut.
    bool decode(uint32_t aStrip, unsigned char* aOut, uint64_t aWant) {
        const uint64_t start = mStarts[aStrip];
        if (start >= mFileSize) return false;
        uint64_t extent = std::min(TIFFGetStrileByteCount(mTiff, aStrip), mFileSize - start);
        const auto next = std::upper_bound(mSortedStarts.begin(), mSortedStarts.end(), start);
        if (next != mSortedStarts.end()) extent = std::min(extent, *next - start);
        if (extent == 0 || extent > uint64_t(INT64_MAX)) return false;
        try {
            mRaw.resize(static_cast<size_t>(extent));
        } catch (const std::exception&) {
            return false;
        }
        const toff_t offset = TIFFGetStrileOffset(mTiff, aStrip);
        mHandle.correctOffsets = true;
        const bool positioned = BlitzLSMTIFFseek(&mHandle, offset, SEEK_SET) == offset;
        const tmsize_t got = positioned ? BlitzLSMTIFFread(&mHandle, mRaw.data(), tmsize_t(extent)) : 0;
        mHandle.correctOffsets = false;
        // An empty input would make libtiff fall back to the declared byte count.
        if (got <= 0) return false;
        return TIFFReadFromUserBuffer(mTiff, aStrip, mRaw.data(), got, aOut, tmsize_t(aWant)) == 1;
    }

  private:
    uint64_t correctedStart(uint32_t aStrip) const {
        LSMStreamHandle probe = mHandle;
        probe.correctOffsets = true;
        const uint64_t offset = TIFFGetStrileOffset(mTiff, aStrip);
        return offset + lsmOffsetCorrection(probe, offset);
    }

    TIFF* mTiff;
    LSMStreamHandle& mHandle;
    uint64_t mFileSize;
    std::vector<uint64_t> mStarts;
    std::vector<uint64_t> mSortedStarts;
    std::vector<unsigned char> mRaw;
};

std::vector<uint64_t> decodedStripStarts(TIFF* aTiff) {
    const uint32_t count = TIFFNumberOfStrips(aTiff);
    std::vector<uint64_t> starts;
    starts.reserve(size_t(count) + 1);
    starts.push_back(0);
    for (uint32_t s = 0; s < count; ++s) {
        const uint64_t size = decodedStripSize(aTiff, s);
        // A sum past 2^64 cannot match any plane; saturating keeps the comparison meaningful.
        starts.push_back(size > UINT64_MAX - starts.back() ? UINT64_MAX : starts.back() + size);
    }
    return starts;
}

StripDecoder::StripDecoder(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize,
                           const std::vector<uint64_t>& aStarts)
    : mTiff(aTiff), mHandle(aHandle), mFileSize(aFileSize), mStarts(aStarts), mCompressed(false) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(aTiff, TIFFTAG_COMPRESSION, &compression);
    mCompressed = compression != COMPRESSION_NONE;
}

StripDecoder::~StripDecoder() = default;

uint32_t StripDecoder::firstOverlapping(uint64_t aBegin) const {
    // The first strip whose end lies beyond aBegin.
    const auto end = std::upper_bound(mStarts.begin() + 1, mStarts.end(), aBegin);
    return uint32_t(end - (mStarts.begin() + 1));
}

void StripDecoder::span(uint64_t aBegin, uint64_t aEnd, uint64_t& aSpanBegin, uint64_t& aSpanEnd) const {
    aSpanBegin = aSpanEnd = aBegin;
    const uint32_t count = uint32_t(mStarts.size() - 1);
    uint32_t s = firstOverlapping(aBegin);
    if (s >= count || mStarts[s] >= aEnd) return;
    aSpanBegin = mStarts[s];
    while (s < count && mStarts[s] < aEnd) ++s;
    aSpanEnd = mStarts[s];
}

bool StripDecoder::decode(uint32_t aStrip, unsigned char* aOut) {
    const uint64_t size = mStarts[aStrip + 1] - mStarts[aStrip];
    if (!mCompressed) {
        mHandle.correctOffsets = true;
        const tmsize_t got = TIFFReadEncodedStrip(mTiff, aStrip, aOut, tmsize_t(size));
        mHandle.correctOffsets = false;
        return got >= 0 && uint64_t(got) == size;
    }
    if (!mSource)
        mSource.reset(new CompressedStripSource(mTiff, mHandle, mFileSize, TIFFNumberOfStrips(mTiff)));
    return mSource->decode(aStrip, aOut, size);
}

bool StripDecoder::readRange(uint64_t aBegin, uint64_t aEnd, unsigned char* aTarget, uint64_t aAlignment,
                             uint32_t& aFailedStrip) {
    const uint32_t count = uint32_t(mStarts.size() - 1);
    for (uint32_t s = firstOverlapping(aBegin); s < count && mStarts[s] < aEnd; ++s) {
        const uint64_t start = mStarts[s];
        const uint64_t end = mStarts[s + 1];
        if (end == start) continue;
        bool ok;
        if (start >= aBegin && end <= aEnd && (start - aBegin) % aAlignment == 0) {
            ok = decode(s, aTarget + (start - aBegin));
        } else {
            mScratch.resize(size_t(end - start));
            ok = decode(s, mScratch.data());
            if (ok) {
                const uint64_t from = std::max(start, aBegin);
                const uint64_t to = std::min(end, aEnd);
                std::memcpy(aTarget + (from - aBegin), mScratch.data() + (from - start), size_t(to - from));
            }
        }
        if (!ok) {
            aFailedStrip = s;
            return false;
        }
    }
    return true;
}

}  // namespace lsm
}  // namespace korvane
