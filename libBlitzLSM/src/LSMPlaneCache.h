#ifndef KORVANE_LSMPLANECACHE_H
#define KORVANE_LSMPLANECACHE_H

#include <cstdint>
#include <memory>

namespace korvane {
namespace lsm {

// The most recently decoded rows of one channel of one image directory, so that reading them again
// (in another element type, or a window of them) needs no file access. Positions are byte offsets
// into the directory's strips laid end to end; at most one channel plane is kept.
class PlaneCache {
  public:
    // Forgets the kept bytes and releases their memory.
    void clear();

    // The kept bytes from aBegin on, when [aBegin, aEnd) of aChannel in aDirectory are kept; else null.
    // Inline: row after row of a line scan asks for it.
    const unsigned char* find(uint64_t aDirectory, int aChannel, uint64_t aBegin, uint64_t aEnd) const {
        if (!mValid || aDirectory != mDirectory || aChannel != mChannel || aBegin < mBegin || aEnd > mEnd)
            return nullptr;
        return mBytes.get() + (aBegin - mBegin);
    }

    // The kept bytes of rows [aRow, aRow + aCount) of aChannel in series aSeries, rows counted across
    // the series' planes (plane p's row y is p * Y + y); null unless all of them are kept. Inline and
    // without the directory arithmetic: row after row of a line scan asks for it.
    const unsigned char* findRows(uint64_t aSeries, int aChannel, uint64_t aRow, uint64_t aCount) const {
        const uint64_t skipped = aRow - mFirstRow;  // wraps around when aRow lies before the first
        if (skipped >= mRowCount || aCount > mRowCount - skipped || aChannel != mChannel ||
            aSeries != mSeries)
            return nullptr;
        return mBytes.get() + mFirstRowAt + skipped * mRowBytes;
    }

    // The kept whole rows of aChannel in series aSeries, counted as findRows counts them; none (count 0)
    // when rows of another channel or series are kept.
    struct Rows {
        const unsigned char* first = nullptr;
        uint64_t firstRow = 0;
        uint64_t count = 0;
        uint64_t rowBytes = 0;
    };
    Rows rows(uint64_t aSeries, int aChannel) const {
        if (mRowCount == 0 || aChannel != mChannel || aSeries != mSeries) return Rows();
        return {mBytes.get() + mFirstRowAt, mFirstRow, mRowCount, mRowBytes};
    }

    // Storage for bytes [aBegin, aEnd) of aChannel in aDirectory, replacing what was kept; null when
    // the memory cannot be had. The bytes count as kept only after keep().
    unsigned char* prepare(uint64_t aDirectory, int aChannel, uint64_t aBegin, uint64_t aEnd);

    // The prepared bytes are kept. Rows of aRowBytes lie in them whole from byte aFirstRowAt on, the
    // first being row aFirstRow of series aSeries (as findRows counts), aRowCount in all.
    void keep(uint64_t aSeries, uint64_t aFirstRow, uint64_t aRowCount, uint64_t aRowBytes,
              uint64_t aFirstRowAt) {
        mValid = true;
        mSeries = aSeries;
        mFirstRow = aFirstRow;
        mRowCount = aRowCount;
        mRowBytes = aRowBytes;
        mFirstRowAt = aFirstRowAt;
    }

  private:
    std::unique_ptr<unsigned char[]> mBytes;
    uint64_t mCapacity = 0;
    bool mValid = false;
    uint64_t mDirectory = 0;
    int mChannel = 0;
    uint64_t mBegin = 0;
    uint64_t mEnd = 0;
    uint64_t mSeries = 0;
    uint64_t mFirstRow = 0;
    uint64_t mRowCount = 0;  // 0 while nothing is kept
    uint64_t mRowBytes = 0;
    uint64_t mFirstRowAt = 0;
};

}  // namespace lsm
}  // namespace korvane

#endif
