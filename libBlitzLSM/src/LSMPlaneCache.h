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

    // Storage for bytes [aBegin, aEnd) of aChannel in aDirectory, replacing what was kept; null when
    // the memory cannot be had. The bytes count as kept only after keep().
    unsigned char* prepare(uint64_t aDirectory, int aChannel, uint64_t aBegin, uint64_t aEnd);
    void keep() { mValid = true; }

  private:
    std::unique_ptr<unsigned char[]> mBytes;
    uint64_t mCapacity = 0;
    bool mValid = false;
    uint64_t mDirectory = 0;
    int mChannel = 0;
    uint64_t mBegin = 0;
    uint64_t mEnd = 0;
};

}  // namespace lsm
}  // namespace korvane

#endif
