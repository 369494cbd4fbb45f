#include "LSMStripReader.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "LSMStripPlacement.h"

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

// The microscope declares the decoded size of a compressed strip as its byte count. Smooth data
// compresses to less, so the declared strip runs into the next one or past the end of the file; noise
// grows under compression, so the real strip runs past its declared end. A strip is therefore read
// from its start to the next strip start known in the file (of this directory or its neighbours,
// previews included) or to the end of the file, and decoded from memory: the decoders stop at their
// end code, whatever follows.
class CompressedStripSource {
  public:
    CompressedStripSource(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize,
                          std::vector<uint64_t> aPositions, std::vector<uint64_t> aBoundaries)
        : mTiff(aTiff),
          mHandle(aHandle),
          mFileSize(aFileSize),
          mPositions(std::move(aPositions)),
          mBoundaries(std::move(aBoundaries)) {
        std::sort(mBoundaries.begin(), mBoundaries.end());
    }

    // Decodes aWant bytes of strip aStrip into aOut.
    bool decode(uint32_t aStrip, unsigned char* aOut, uint64_t aWant) {
        const uint64_t start = mPositions[aStrip];
        if (start >= mFileSize) return false;  // kUnplaced too
        uint64_t end = mFileSize;
        const auto next = std::upper_bound(mBoundaries.begin(), mBoundaries.end(), start);
        if (next != mBoundaries.end()) end = std::min(end, *next);
        // Where no neighbour bounds it, no lossless codec needs more than twice the decoded size (LZW
        // codes are at most 12 bits a byte, Deflate adds a few bytes a block); a larger declared count
        // is honoured as it stands.
        const uint64_t most = std::max(2 * aWant + 4096, TIFFGetStrileByteCount(mTiff, aStrip));
        const uint64_t extent = std::min(end - start, most);
        if (extent > uint64_t(INT64_MAX)) return false;
        try {
            mRaw.resize(static_cast<size_t>(extent));
        } catch (const std::exception&) {
            return false;
        }
        const bool positioned = BlitzLSMTIFFseek(&mHandle, start, SEEK_SET) == start;
        const tmsize_t got = positioned ? BlitzLSMTIFFread(&mHandle, mRaw.data(), tmsize_t(extent)) : 0;
        // An empty input would make libtiff fall back to the declared byte count.
        if (got <= 0) return false;
        return TIFFReadFromUserBuffer(mTiff, aStrip, mRaw.data(), got, aOut, tmsize_t(aWant)) == 1;
    }

  private:
    TIFF* mTiff;
    LSMStreamHandle& mHandle;
    uint64_t mFileSize;
    std::vector<uint64_t> mPositions;   // by strip
    std::vector<uint64_t> mBoundaries;  // every known strip start, sorted
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

StripDecoder::StripDecoder(TIFF* aTiff, LSMStreamHandle& aHandle, DirectoryIndex& aIndex, uint64_t aDirectory,
                           uint64_t aFileSize, const std::vector<uint64_t>& aStarts)
    : mTiff(aTiff),
      mHandle(aHandle),
      mIndex(aIndex),
      mDirectory(aDirectory),
      mStoredStrips(0),
      mFileSize(aFileSize),
      mStarts(aStarts),
      mCompressed(false) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(aTiff, TIFFTAG_COMPRESSION, &compression);
    mCompressed = compression != COMPRESSION_NONE;
    mStoredStrips = aIndex.parsed(aDirectory) ? aIndex.stripCount(aDirectory) : TIFFNumberOfStrips(aTiff);
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

uint64_t StripDecoder::position(uint32_t aStrip) const {
    // libtiff cuts a large uncompressed strip into pieces of a few rows, consecutive in the file from
    // where the stored strip begins: the pieces move with that strip.
    const uint32_t stored = TIFFNumberOfStrips(mTiff) > mStoredStrips ? 0 : aStrip;
    if (stored >= mStoredStrips) return kUnplaced;
    const uint64_t storedOffset = TIFFGetStrileOffset(mTiff, stored);
    const uint64_t placed = mIndex.place(mDirectory, stored, storedOffset);
    if (placed == kUnplaced) return kUnplaced;
    const uint64_t position = TIFFGetStrileOffset(mTiff, aStrip) + (placed - storedOffset);
    return position == 0 || position >= mFileSize ? kUnplaced : position;
}

bool StripDecoder::decode(uint32_t aStrip, unsigned char* aOut) {
    const uint64_t size = mStarts[aStrip + 1] - mStarts[aStrip];
    if (!mCompressed) {
        const uint64_t at = position(aStrip);
        if (at == kUnplaced) return false;
        mHandle.correction = at - TIFFGetStrileOffset(mTiff, aStrip);
        mHandle.correctOffsets = true;
        const tmsize_t got = TIFFReadEncodedStrip(mTiff, aStrip, aOut, tmsize_t(size));
        mHandle.correctOffsets = false;
        return got >= 0 && uint64_t(got) == size;
    }
    if (!mSource) {
        const uint32_t count = TIFFNumberOfStrips(mTiff);
        std::vector<uint64_t> positions;
        positions.reserve(count);
        for (uint32_t s = 0; s < count; ++s) positions.push_back(position(s));
        std::vector<uint64_t> boundaries = positions;
        // The strips of the neighbouring directories, as far as the chain is known or one step beyond.
        mIndex.locate(mHandle, mDirectory + 3);
        std::vector<uint64_t> more;
        for (const uint64_t n : {mDirectory - 2, mDirectory - 1, mDirectory + 1, mDirectory + 2}) {
            if (n < mDirectory + 3 && mIndex.stripPositions(mHandle, n, more))
                boundaries.insert(boundaries.end(), more.begin(), more.end());
        }
        mSource.reset(new CompressedStripSource(mTiff, mHandle, mFileSize, std::move(positions),
                                                std::move(boundaries)));
    }
    return mSource->decode(aStrip, aOut, size);
}

bool StripDecoder::readPart(uint32_t aStrip, uint64_t aSkip, uint64_t aCount, unsigned char* aOut) {
    // Only strips that libtiff would read as they lie: uncompressed, declared as long as they decode,
    // inside the file and with nothing to swap or reverse. Anything else is decoded whole, and fails
    // as libtiff reports it.
    if (mCompressed || TIFFIsByteSwapped(mTiff)) return false;
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(mTiff, TIFFTAG_FILLORDER, &fillOrder);
    const uint64_t size = mStarts[aStrip + 1] - mStarts[aStrip];
    const uint64_t at = position(aStrip);
    if (fillOrder != FILLORDER_MSB2LSB || TIFFGetStrileByteCount(mTiff, aStrip) != size || at == kUnplaced ||
        size > mFileSize - at)
        return false;
    const uint64_t from = at + aSkip;
    return BlitzLSMTIFFseek(&mHandle, from, SEEK_SET) == from &&
           BlitzLSMTIFFread(&mHandle, aOut, tmsize_t(aCount)) == tmsize_t(aCount);
}

bool StripDecoder::readRange(uint64_t aBegin, uint64_t aEnd, unsigned char* aTarget, uint64_t aAlignment,
                             uint32_t& aFailedStrip) {
    const uint32_t count = uint32_t(mStarts.size() - 1);
    for (uint32_t s = firstOverlapping(aBegin); s < count && mStarts[s] < aEnd; ++s) {
        const uint64_t start = mStarts[s];
        const uint64_t end = mStarts[s + 1];
        if (end == start) continue;
        bool ok;
        const uint64_t from = std::max(start, aBegin);
        const uint64_t to = std::min(end, aEnd);
        if (start >= aBegin && end <= aEnd && (start - aBegin) % aAlignment == 0) {
            ok = decode(s, aTarget + (start - aBegin));
        } else if (readPart(s, from - start, to - from, aTarget + (from - aBegin))) {
            ok = true;
        } else {
            mScratch.resize(size_t(end - start));
            ok = decode(s, mScratch.data());
            if (ok) {
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
