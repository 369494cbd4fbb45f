#ifndef KORVANE_PLANEDISPLAY_H
#define KORVANE_PLANEDISPLAY_H

#include <QImage>
#include <QRgb>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "Bands.h"
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
GreyMapping greyMappingFor(const blitz::Array<T, 2>& aPlane) {
    GreyMapping mapping;
    float low = 0.0f;
    float high = 0.0f;
    getMinMax(low, high, aPlane);
    mapping.offset = -low;
    const double top = (high > 255.0 - mapping.offset) ? static_cast<double>(high) : 255.0 - mapping.offset;
    mapping.scale = static_cast<float>(255.0 / (top + mapping.offset));
    return mapping;
}

// The low byte of the mapped value truncated to 16 bits. Automatic contrast keeps every finite element
// within 0..255; anything outside the 16-bit range (infinities, NaN) shows as 0.
inline int greyLevel(double aValue, const GreyMapping& aMapping) {
    const double w = (aValue + static_cast<double>(aMapping.offset)) * static_cast<double>(aMapping.scale);
    // The truncation lies in -32768..32767 exactly when w lies strictly between -32769 and 32768; NaN fails
    // both comparisons.
    int16_t level16 = INT16_MIN;
    if (w > -32769.0 && w < 32768.0) level16 = static_cast<int16_t>(static_cast<int>(w));
    return static_cast<uint8_t>(level16);
}

inline QRgb opaqueGrey(int aLevel) { return 0xFF000000u + static_cast<QRgb>(aLevel) * 0x010101u; }

// Grey picture of every value of a type of at most 16 bits, indexed by the value's bit pattern: a
// large plane then costs one table look-up per element instead of the floating-point mapping.
template <typename T>
std::vector<QRgb> greyTable(const GreyMapping& aMapping) {
    using Bits = typename std::make_unsigned<T>::type;
    std::vector<QRgb> table(size_t(std::numeric_limits<Bits>::max()) + 1);
    for (size_t bits = 0; bits < table.size(); ++bits)
        table[bits] =
            opaqueGrey(greyLevel(static_cast<double>(static_cast<T>(static_cast<Bits>(bits))), aMapping));
    return table;
}

// A new opaque-grey picture. Large ones are aligned to huge pages, so that a kernel that maps anonymous
// memory with them by its own policy can. They are not asked for: where freed huge pages go back to a
// hypervisor, faulting in fresh ones costs several times more than small pages.
// Null when the size is not possible or the memory is not there.
QImage newGreyPicture(int aCols, int aRows);
// The same with all its memory already in place, so that drawing into it only computes: made on a helper
// thread while the plane is read, a fresh picture's page faults cost no time of their own.
QImage newFaultedGreyPicture(int aCols, int aRows);

// Rows aFirst to aEnd - 1 of the plane into the picture's lines.
template <typename T>
void renderGreyRows(const blitz::Array<T, 2>& aPlane, const GreyMapping& aMapping,
                    const std::vector<QRgb>& aTable, uchar* aBits, qsizetype aBytesPerLine, int aFirst,
                    int aEnd) {
    const int cols = aPlane.extent(1);
    const int y0 = aPlane.lbound(0);
    const int x0 = aPlane.lbound(1);
    const std::ptrdiff_t columnStride = aPlane.stride(1);
    for (int y = aFirst; y < aEnd; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(aBits + aBytesPerLine * y);
        const T* element = &aPlane(y0 + y, x0);
        if constexpr (std::is_integral<T>::value && sizeof(T) <= 2) {
            if (!aTable.empty()) {
                using Bits = typename std::make_unsigned<T>::type;
                for (int x = 0; x < cols; ++x) line[x] = aTable[static_cast<Bits>(element[x * columnStride])];
                continue;
            }
        }
        for (int x = 0; x < cols; ++x)
            line[x] = opaqueGrey(greyLevel(static_cast<double>(element[x * columnStride]), aMapping));
    }
}

// Renders the plane (rows = first index) with automatic contrast as an opaque grey ARGB32 picture, one
// scan line at a time, large planes in bands on several threads.
// A picture that shares its pixels with another (a pixmap, a copy) is detached, never written through.
// A plane without elements, or one too large for a QImage, leaves a null picture.
template <typename T>
void renderGreyPlane(const blitz::Array<T, 2>& aPlane, QImage& aImage) {
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    const GreyMapping mapping = greyMappingFor(aPlane);
    // A picture of the same size is drawn over in place: no second picture and no fresh pages to fault
    // in. Otherwise the old one goes before the new one is allocated.
    if (aImage.size() != QSize(cols, rows) || aImage.format() != QImage::Format_ARGB32_Premultiplied) {
        aImage = QImage();
        aImage = newGreyPicture(cols, rows);
    }
    if (aImage.isNull()) return;
    std::vector<QRgb> table;
    if constexpr (std::is_integral<T>::value && sizeof(T) <= 2) {
        // The table pays off once the plane has a quarter as many elements as it has entries.
        if (uint64_t(rows) * uint64_t(cols) * 4 > (uint64_t(1) << (8 * sizeof(T))))
            table = greyTable<T>(mapping);
    }
    uchar* bits = aImage.bits();  // detaches here, on this thread
    const qsizetype bytesPerLine = aImage.bytesPerLine();
    forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
        renderGreyRows(aPlane, mapping, table, bits, bytesPerLine, aFirst, aEnd);
    });
}

#endif
