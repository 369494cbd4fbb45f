#include "ChannelComposite.h"

#include <QRgb>
#include <cmath>
#include <cstdint>
#include <limits>

#include "BlitzArray.h"
#include "DorudURIVuruda.h"

namespace {

// Smallest and largest finite element; low > high when there is none.
void finiteRange(const blitz::Array<float, 2>& aPlane, double& aLow, double& aHigh) {
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    const float* element = aPlane.dataFirst();
    const std::ptrdiff_t count = aPlane.numElements();
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const float v = element[i];
        const bool finite = std::isfinite(v);
        low = (finite && v < low) ? v : low;
        high = (finite && v > high) ? v : high;
    }
    aLow = low;
    aHigh = high;
}

// 0 .. 1; NaN fails the first comparison and becomes 0.
inline float clampUnit(float aLevel) {
    aLevel = aLevel > 0.0f ? aLevel : 0.0f;
    return aLevel < 1.0f ? aLevel : 1.0f;
}

inline uint32_t saturate(uint32_t aLevel) { return aLevel < 255u ? aLevel : 255u; }

// Adds one channel, whose elements lie between aLow and aHigh (aLow < aHigh), tinted with aColor.
void addChannel(const blitz::Array<float, 2>& aPlane, double aLow, double aHigh, QRgb aColor,
                QImage& aImage) {
    // Scaled in double: the difference of two extreme floats overflows float.
    const double unit = 1.0 / (aHigh - aLow);
    const float red = float(qRed(aColor));
    const float green = float(qGreen(aColor));
    const float blue = float(qBlue(aColor));
    const int rows = aImage.height();
    const int cols = aImage.width();
    for (int y = 0; y < rows; ++y) {
        const float* element = aPlane.dataFirst() + std::ptrdiff_t(y) * cols;
        QRgb* line = reinterpret_cast<QRgb*>(aImage.scanLine(y));
        for (int x = 0; x < cols; ++x) {
            const float level = clampUnit(float((double(element[x]) - aLow) * unit));
            const QRgb sum = line[x];
            const uint32_t r = saturate(uint32_t(qRed(sum)) + uint32_t(level * red + 0.5f));
            const uint32_t g = saturate(uint32_t(qGreen(sum)) + uint32_t(level * green + 0.5f));
            const uint32_t b = saturate(uint32_t(qBlue(sum)) + uint32_t(level * blue + 0.5f));
            line[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
}

}  // namespace

QImage composeChannels(DorudURIVuruda& aReader, int aTimepoint, int aZPlane, const QRect& aCrop) {
    const QRect window = aCrop.isEmpty() ? QRect(0, 0, aReader.getSizeX(), aReader.getSizeY()) : aCrop;
    const int channels = aReader.getSizeC();
    QImage image(window.width(), window.height(), QImage::Format_RGB32);
    if (image.isNull()) return image;
    image.fill(Qt::black);

    // float holds every 8- and 16-bit and float element exactly. One array serves every channel: the
    // reader keeps its storage while the extents stay the same.
    blitz::Array<float, 2> plane;
    for (int c = 0; c < channels; ++c) {
        const QRgb color = aReader.getChannelColor(c) & 0xFFFFFFu;
        // The read also checks the window, so a bad crop fails even when every channel is black.
        aReader.readArray(plane, aTimepoint, c, aZPlane, 1, window.y(), window.height(), window.x(),
                          window.width());
        if (color == 0) continue;
        double low = 0.0;
        double high = 0.0;
        finiteRange(plane, low, high);
        if (!(low < high)) continue;
        addChannel(plane, low, high, color, image);
    }
    return image;
}
