#include "ChannelComposite.h"

#include <QRgb>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "BlitzArray.h"
#include "DorudURIVuruda.h"

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr int32_t kExponent = 0x7F800000;  // all ones: an infinity or NaN

// Four floats (four integers) handled as one: the compiler then uses vector instructions on any
// processor, where it would not vectorise a float minimum and maximum for fear of NaN.
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Smallest and largest finite element; low > high when there is none.
void finiteRange(const float* aElements, std::ptrdiff_t aCount, float& aLow, float& aHigh) {
    Float4 low = {kInfinity, kInfinity, kInfinity, kInfinity};
    Float4 high = -low;
    std::ptrdiff_t i = 0;
    for (; i + 4 <= aCount; i += 4) {
        Float4 v;
        Int4 bits;
        std::memcpy(&v, aElements + i, sizeof v);
        std::memcpy(&bits, aElements + i, sizeof bits);
        const Int4 finite = (bits & kExponent) != kExponent;
        const Float4 lowCandidate = finite ? v : kInfinity;
        const Float4 highCandidate = finite ? v : -kInfinity;
        low = lowCandidate < low ? lowCandidate : low;
        high = highCandidate > high ? highCandidate : high;
    }
    float lowest = kInfinity;
    float highest = -kInfinity;
    for (int j = 0; j < 4; ++j) {
        lowest = std::min(lowest, low[j]);
        highest = std::max(highest, high[j]);
    }
    for (; i < aCount; ++i) {
        const float v = aElements[i];
        if (!(std::fabs(v) <= std::numeric_limits<float>::max())) continue;  // NaN fails too
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    aLow = lowest;
    aHigh = highest;
}

// How a channel's elements become its share of each pixel.
struct Tint {
    float scale;      // a power of two
    float lowScaled;  // the smallest element times scale
    float unit;       // 1 / (range times scale)
    float red, green, blue;
};

// For finite elements between aLow and aHigh (aLow < aHigh). The elements are scaled first, exactly, by
// the power of two that brings the range near 1: then neither does the difference of two extreme floats
// overflow nor the reciprocal of a subnormal range.
Tint tintFor(float aLow, float aHigh, QRgb aColor) {
    const double range = double(aHigh) - double(aLow);
    const float scale = std::ldexp(1.0f, std::clamp(-std::ilogb(range), -126, 100));
    return {scale,
            aLow * scale,
            float(1.0 / (range * scale)),
            float(qRed(aColor)),
            float(qGreen(aColor)),
            float(qBlue(aColor))};
}

// Adds one row of a channel to a row of RGB32 pixels (0xffRRGGBB each). Without branches, so that the
// compiler vectorises it.
void addChannelRow(const float* __restrict aElements, uint32_t* __restrict aPixels, int aCount,
                   const Tint& aTint) {
    const Tint t = aTint;
    for (int x = 0; x < aCount; ++x) {
        float level = (aElements[x] * t.scale - t.lowScaled) * t.unit;
        level = level > 0.0f ? level : 0.0f;  // NaN fails the comparison and becomes 0
        level = level < 1.0f ? level : 1.0f;
        // Each share is rounded to the nearest level before it is added.
        const int32_t sum = int32_t(aPixels[x]);
        int32_t r = ((sum >> 16) & 0xFF) + int32_t(level * t.red + 0.5f);
        int32_t g = ((sum >> 8) & 0xFF) + int32_t(level * t.green + 0.5f);
        int32_t b = (sum & 0xFF) + int32_t(level * t.blue + 0.5f);
        r = r < 255 ? r : 255;
        g = g < 255 ? g : 255;
        b = b < 255 ? b : 255;
        aPixels[x] = 0xFF000000u | uint32_t(r << 16) | uint32_t(g << 8) | uint32_t(b);
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
        float low = 0.0f;
        float high = 0.0f;
        finiteRange(plane.dataFirst(), plane.numElements(), low, high);
        if (!(low < high)) continue;
        const Tint tint = tintFor(low, high, color);
        for (int y = 0; y < window.height(); ++y)
            addChannelRow(plane.dataFirst() + std::ptrdiff_t(y) * window.width(),
                          reinterpret_cast<uint32_t*>(image.scanLine(y)), window.width(), tint);
    }
    return image;
}
