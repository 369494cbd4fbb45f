#include "Reduction.h"

#include <cstdint>

#include "Bands.h"

namespace {

// Each pixel the mean of a 2 x 2 block (an odd last row or column is dropped).
QImage halved(const QImage& aPicture) {
    const int cols = aPicture.width() / 2;
    const int rows = aPicture.height() / 2;
    QImage half(cols, rows, aPicture.format());
    if (half.isNull()) return half;
    forEachBand(rows, cols * 4, [&](int, int aFirst, int aEnd) {
        for (int y = aFirst; y < aEnd; ++y) {
            const uint32_t* top = reinterpret_cast<const uint32_t*>(aPicture.constScanLine(2 * y));
            const uint32_t* bottom = reinterpret_cast<const uint32_t*>(aPicture.constScanLine(2 * y + 1));
            uint32_t* line = reinterpret_cast<uint32_t*>(half.scanLine(y));
            for (int x = 0; x < cols; ++x) {
                const uint32_t a = top[2 * x], b = top[2 * x + 1], c = bottom[2 * x], d = bottom[2 * x + 1];
                // Two bytes at a time in 16-bit lanes: 0x00FF00FF picks the even bytes.
                const uint32_t even = ((a & 0x00FF00FFu) + (b & 0x00FF00FFu) + (c & 0x00FF00FFu) +
                                       (d & 0x00FF00FFu) + 0x00020002u) >>
                                      2;
                const uint32_t odd = (((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu) +
                                      ((c >> 8) & 0x00FF00FFu) + ((d >> 8) & 0x00FF00FFu) + 0x00020002u) >>
                                     2;
                line[x] = (even & 0x00FF00FFu) | ((odd & 0x00FF00FFu) << 8);
            }
        }
    });
    return half;
}

}  // namespace

QImage reducedPicture(const QImage& aPicture, const QSize& aSize) {
    QImage picture = aPicture;
    const bool fourBytes = picture.depth() == 32;
    while (fourBytes && picture.width() >= 2 * aSize.width() && picture.height() >= 2 * aSize.height() &&
           picture.width() >= 2 && picture.height() >= 2) {
        QImage half = halved(picture);
        if (half.isNull()) break;
        picture = half;
    }
    if (picture.size() == aSize) return picture;
    return picture.scaled(aSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
