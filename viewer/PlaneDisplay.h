#ifndef KORVANE_PLANEDISPLAY_H
#define KORVANE_PLANEDISPLAY_H

#include <QImage>
#include <QRgb>
#include <cmath>
#include <cstdint>

#include "BlitzArray.h"

// Grey level of an element is derived from (v + offset) * scale.
struct GreyMapping {
    float offset = 0.0f;
    float scale = 1.0f;
};

// Smallest and largest element of the plane as floats; both 0 for a plane without elements.
template <typename T>
void getMinMax(float& aMin, float& aMax, const blitz::Array<T, 2>& aPlane) {
    aMin = 0.0f;
    aMax = 0.0f;
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    if (rows == 0 || cols == 0) return;
    T low = aPlane(aPlane.lbound(0), aPlane.lbound(1));
    T high = low;
    for (int y = aPlane.lbound(0); y <= aPlane.ubound(0); ++y) {
        for (int x = aPlane.lbound(1); x <= aPlane.ubound(1); ++x) {
            const T v = aPlane(y, x);
            if (v < low) low = v;
            if (high < v) high = v;
        }
    }
    aMin = static_cast<float>(low);
    aMax = static_cast<float>(high);
}

// Automatic contrast moves the smallest element to 0 and compresses a range wider than 255 so the
// largest lands on 255 (254 when the single-precision scale rounds down); narrower ranges are only
// shifted, never stretched.
template <typename T>
GreyMapping greyMappingFor(const blitz::Array<T, 2>& aPlane, bool aAutomaticContrast) {
    GreyMapping mapping;
    if (!aAutomaticContrast) return mapping;
    float low = 0.0f;
    float high = 0.0f;
    getMinMax(low, high, aPlane);
    mapping.offset = -low;
    const double top = (high > 255.0 - mapping.offset) ? static_cast<double>(high) : 255.0 - mapping.offset;
    mapping.scale = static_cast<float>(255.0 / (top + mapping.offset));
    return mapping;
}

// No clamping on purpose: the low byte of the value truncated to 16 bits is shown, so 300 shows as 44
// and -1.5 as 255; anything outside the 16-bit range (and NaN) shows as 0.
inline int greyLevel(double aValue, const GreyMapping& aMapping) {
    const double w = (aValue + static_cast<double>(aMapping.offset)) * static_cast<double>(aMapping.scale);
    const double truncated = std::trunc(w);
    int16_t level16 = INT16_MIN;
    if (truncated >= -32768.0 && truncated <= 32767.0) level16 = static_cast<int16_t>(truncated);
    return static_cast<uint8_t>(level16);
}

inline QRgb opaqueGrey(int aLevel) { return 0xFF000000u + static_cast<QRgb>(aLevel) * 0x010101u; }

// Renders the plane (rows = first index) as an opaque grey ARGB32 picture, one scan line at a time.
// A plane without elements, or one too large for a QImage, leaves a null picture.
template <typename T>
void renderGreyPlane(const blitz::Array<T, 2>& aPlane, bool aAutomaticContrast, QImage& aImage) {
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    const GreyMapping mapping = greyMappingFor(aPlane, aAutomaticContrast);
    aImage = QImage(cols, rows, QImage::Format_ARGB32_Premultiplied);
    if (aImage.isNull()) return;
    const int y0 = aPlane.lbound(0);
    const int x0 = aPlane.lbound(1);
    for (int y = 0; y < rows; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(aImage.scanLine(y));
        for (int x = 0; x < cols; ++x) {
            line[x] = opaqueGrey(greyLevel(static_cast<double>(aPlane(y0 + y, x0 + x)), mapping));
        }
    }
}

#endif
