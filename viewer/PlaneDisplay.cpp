#include "PlaneDisplay.h"

#include <sys/mman.h>

#include <cstdlib>

#include "BlitzArray.h"  // first, see there

QImage newGreyPicture(int aCols, int aRows) {
    constexpr size_t kHugePage = size_t(2) << 20;
    const qsizetype bytesPerLine = qsizetype(aCols) * 4;
    const size_t bytes = aCols > 0 && aRows > 0 ? size_t(bytesPerLine) * size_t(aRows) : 0;
    if (bytes < 8 * kHugePage) return QImage(aCols, aRows, QImage::Format_ARGB32_Premultiplied);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* data = std::aligned_alloc(kHugePage, rounded);
    if (!data) return QImage();
    madvise(data, rounded, MADV_HUGEPAGE);  // only advice: without huge pages it works all the same
    QImage picture(static_cast<uchar*>(data), aCols, aRows, bytesPerLine, QImage::Format_ARGB32_Premultiplied,
                   std::free, data);
    if (picture.isNull()) std::free(data);  // refused sizes do not take the buffer over
    return picture;
}
