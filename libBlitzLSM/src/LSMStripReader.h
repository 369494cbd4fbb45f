#ifndef KORVANE_LSMSTRIPREADER_H
#define KORVANE_LSMSTRIPREADER_H

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "LSMDirectoryIndex.h"
#include "LSMStreamProcedures.h"

namespace korvane {
namespace lsm {

// Where the strips of libtiff's current directory lie once decoded and laid end to end: strip s
// covers [starts[s], starts[s + 1]). Sizes come from the tags alone, so nothing is decoded to know
// them. May throw std::bad_alloc.
std::vector<uint64_t> decodedStripStarts(TIFF* aTiff);

class CompressedStripSource;

// Decodes strips of libtiff's current directory, image directory aDirectory of aIndex, each from where
// the index places it. The caller sets aHandle.pageIndex; correctOffsets is raised only around the
// reading of one strip.
class StripDecoder {
  public:
    StripDecoder(TIFF* aTiff, LSMStreamHandle& aHandle, DirectoryIndex& aIndex, uint64_t aDirectory,
                 uint64_t aFileSize, const std::vector<uint64_t>& aStarts);
    ~StripDecoder();
    StripDecoder(const StripDecoder&) = delete;
    StripDecoder& operator=(const StripDecoder&) = delete;

    bool compressed() const { return mCompressed; }

    // Decodes every strip that overlaps decoded bytes [aBegin, aEnd) and stores exactly those bytes
    // in aTarget. Strips lying wholly inside go straight to aTarget when their place there is a
    // multiple of aAlignment; of the others, uncompressed sound ones are read in part, the rest pass
    // through a scratch buffer. Returns false with aFailedStrip set when a strip cannot be decoded. May
    // throw std::bad_alloc.
    bool readRange(uint64_t aBegin, uint64_t aEnd, unsigned char* aTarget, uint64_t aAlignment,
                   uint32_t& aFailedStrip);

    // The strips overlapping [aBegin, aEnd) span decoded bytes [aSpanBegin, aSpanEnd).
    void span(uint64_t aBegin, uint64_t aEnd, uint64_t& aSpanBegin, uint64_t& aSpanEnd) const;

  private:
    bool decode(uint32_t aStrip, unsigned char* aOut);
    // Reads aCount decoded bytes of strip aStrip from aSkip on straight from the file, where the strip
    // is stored as it decodes; false when it is not.
    bool readPart(uint32_t aStrip, uint64_t aSkip, uint64_t aCount, unsigned char* aOut);
    uint32_t firstOverlapping(uint64_t aBegin) const;
    uint64_t position(uint32_t aStrip) const;

    TIFF* mTiff;
    LSMStreamHandle& mHandle;
    DirectoryIndex& mIndex;
    uint64_t mDirectory;
    uint32_t mStoredStrips;  // strip offsets the directory stores; libtiff may cut one strip into pieces
    uint64_t mFileSize;
    const std::vector<uint64_t>& mStarts;
    bool mCompressed;
    std::unique_ptr<CompressedStripSource> mSource;
    std::vector<unsigned char> mScratch;
};

}  // namespace lsm
}  // namespace korvane

#endif
