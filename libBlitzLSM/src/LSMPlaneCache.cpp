#include "LSMPlaneCache.h"

#include <cstddef>
#include <limits>
#include <new>

namespace korvane {
namespace lsm {

void PlaneCache::clear() {
    mValid = false;
    mRowCount = 0;
    mBytes.reset();
    mCapacity = 0;
}

unsigned char* PlaneCache::prepare(uint64_t aDirectory, int aChannel, uint64_t aBegin, uint64_t aEnd) {
    mValid = false;
    mRowCount = 0;
    const uint64_t size = aEnd - aBegin;
    if (size > mCapacity) {
        mBytes.reset();  // the old plane goes before the new one is allocated
        mCapacity = 0;
        if (size > uint64_t(std::numeric_limits<std::ptrdiff_t>::max())) return nullptr;
        mBytes.reset(new (std::nothrow) unsigned char[size_t(size)]);
        if (!mBytes) return nullptr;
        mCapacity = size;
    }
    mDirectory = aDirectory;
    mChannel = aChannel;
    mBegin = aBegin;
    mEnd = aEnd;
    return mBytes.get();
}

}  // namespace lsm
}  // namespace korvane
