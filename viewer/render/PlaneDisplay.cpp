#include "PlaneDisplay.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "BlitzArray.h"  // first, see there

namespace {

// Backs aBytes from aData with memory now.
void faultIn(void* aData, size_t aBytes) {
    uchar* bytes = static_cast<uchar*>(aData);
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    // One call for all pages costs less than one fault at a time; where the kernel cannot, one byte per
    // page is written (what is there is drawn or read over anyway).
    const uintptr_t first = (uintptr_t(bytes) + page - 1) / page * page;
    const uintptr_t end = (uintptr_t(bytes) + aBytes) / page * page;
#ifdef MADV_POPULATE_WRITE
    if (first < end && madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0) return;
#endif
    for (size_t offset = 0; offset < aBytes; offset += page) bytes[offset] = 0;
}

}  // namespace

QImage newGreyPicture(int aCols, int aRows) {
    constexpr size_t kHugePage = size_t(2) << 20;
    const qsizetype bytesPerLine = qsizetype(aCols) * 4;
    const size_t bytes = aCols > 0 && aRows > 0 ? size_t(bytesPerLine) * size_t(aRows) : 0;
    if (bytes < 8 * kHugePage) return QImage(aCols, aRows, QImage::Format_ARGB32_Premultiplied);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* data = std::aligned_alloc(kHugePage, rounded);
    if (!data) return QImage();
    QImage picture(static_cast<uchar*>(data), aCols, aRows, bytesPerLine, QImage::Format_ARGB32_Premultiplied,
                   std::free, data);
    if (picture.isNull()) std::free(data);  // refused sizes do not take the buffer over
    return picture;
}

QImage newFaultedGreyPicture(int aCols, int aRows) {
    QImage picture = newGreyPicture(aCols, aRows);
    if (!picture.isNull()) faultIn(picture.bits(), size_t(picture.sizeInBytes()));
    return picture;
}
