#include "LSMStripReader.h"

#include <algorithm>
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

// Compressed strips as the microscope writes them may declare their uncompressed size as byte
// count, which can run into the next strip or past the end of the file. The strip cannot extend
// beyond the next strip's start nor the file's end, so its raw bytes are cut there, read through
// the stream procedures (so wrapped offsets are corrected) and decoded from memory.
class CompressedStripSource {
  public:
    CompressedStripSource(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize, uint32_t aStripCount)
        : mTiff(aTiff), mHandle(aHandle), mFileSize(aFileSize) {
        mStarts.reserve(aStripCount);
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

}  // namespace

StripReadResult readDirectoryStrips(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize,
                                    unsigned char* aBuffer, uint64_t aCapacity) {
    StripReadResult result{true, TIFFNumberOfStrips(aTiff), 0, 0};
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(aTiff, TIFFTAG_COMPRESSION, &compression);
    std::optional<CompressedStripSource> compressed;
    if (compression != COMPRESSION_NONE) compressed.emplace(aTiff, aHandle, aFileSize, result.stripCount);

    uint64_t written = 0;
    for (uint32_t s = 0; s < result.stripCount; ++s) {
        const uint64_t want = decodedStripSize(aTiff, s);
        // Never more than the buffer has left; the full size still counts, so that a plane whose strips
        // hold too much is reported as a mismatch.
        const uint64_t toRead = std::min(want, aCapacity - written);
        uint64_t got = 0;
        if (toRead > 0) {
            if (!compressed) {
                aHandle.correctOffsets = true;
                const tmsize_t r = TIFFReadEncodedStrip(aTiff, s, aBuffer + written, tmsize_t(toRead));
                aHandle.correctOffsets = false;
                if (r < 0) {
                    result.ok = false;
                    result.failedStrip = s;
                    return result;
                }
                got = std::min(uint64_t(r), toRead);
            } else {
                if (!compressed->decode(s, aBuffer + written, toRead)) {
                    result.ok = false;
                    result.failedStrip = s;
                    return result;
                }
                got = toRead;
            }
        }
        written += got;
        result.byteCount += got + (want - toRead);
    }
    return result;
}

}  // namespace lsm
}  // namespace korvane
