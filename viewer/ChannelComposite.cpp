// Stand-in until the real composite arrives: same results for ordinary files, none of its care.
#include "ChannelComposite.h"

#include <algorithm>

#include "BlitzArray.h"  // first, see there
#include "DorudURIVuruda.h"

QImage composeChannels(DorudURIVuruda& aReader, int aTimepoint, int aZPlane, const QRect& aCrop) {
    const bool whole = aCrop.isNull();
    std::vector<float> sums;
    QImage picture;
    for (int c = 0; c < aReader.getSizeC(); ++c) {
        blitz::Array<float, 2> plane;
        if (whole)
            aReader.readArray(plane, aTimepoint, c, aZPlane, 1, 0, 0, 0, 0);
        else
            aReader.readArray(plane, aTimepoint, c, aZPlane, 1, aCrop.y(), aCrop.height(), aCrop.x(),
                              aCrop.width());
        const int rows = plane.extent(0);
        const int cols = plane.extent(1);
        if (picture.isNull()) {
            picture = QImage(cols, rows, QImage::Format_RGB32);
            sums.assign(size_t(rows) * cols * 3, 0.0f);
        }
        const float low = blitz::min(plane);
        const float high = blitz::max(plane);
        const float scale = high > low ? 255.0f / (high - low) : 0.0f;
        const uint32_t colour = aReader.getChannelColor(c);
        const float rgb[3] = {float((colour >> 16) & 255) / 255, float((colour >> 8) & 255) / 255,
                              float(colour & 255) / 255};
        for (int y = 0; y < std::min(rows, picture.height()); ++y)
            for (int x = 0; x < std::min(cols, picture.width()); ++x)
                for (int k = 0; k < 3; ++k)
                    sums[(size_t(y) * picture.width() + x) * 3 + k] += (plane(y, x) - low) * scale * rgb[k];
    }
    for (int y = 0; y < picture.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const float* s = &sums[(size_t(y) * picture.width() + x) * 3];
            line[x] = qRgb(std::min(255, int(s[0])), std::min(255, int(s[1])), std::min(255, int(s[2])));
        }
    }
    return picture;
}
