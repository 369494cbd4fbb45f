#include "Renderer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Bands.h"
#include "Histogram.h"
#include "PlaneDisplay.h"
#include "ViewState.h"

namespace {

// A picture of aSize to draw into, reusing aPicture when it fits; false when none can be had.
bool preparePicture(const QSize& aSize, QImage& aPicture) {
    if (aPicture.size() != aSize || aPicture.format() != QImage::Format_ARGB32_Premultiplied) {
        aPicture = QImage();
        if (aSize.isEmpty()) return false;
        aPicture = newGreyPicture(aSize.width(), aSize.height());
    }
    return !aPicture.isNull();
}

// aTable[aElements[x]] into aLine, the aligned part with stores that bypass the caches.
template <typename T>
void streamRow(const T* aElements, const QRgb* aTable, QRgb* aLine, int aCount) {
    int x = 0;
#if defined(__SSE2__)
    while (x < aCount && (reinterpret_cast<uintptr_t>(aLine + x) & 15) != 0) {
        aLine[x] = aTable[aElements[x]];
        ++x;
    }
    for (; x + 4 <= aCount; x += 4) {
        const __m128i four = _mm_set_epi32(int(aTable[aElements[x + 3]]), int(aTable[aElements[x + 2]]),
                                           int(aTable[aElements[x + 1]]), int(aTable[aElements[x]]));
        _mm_stream_si128(reinterpret_cast<__m128i*>(aLine + x), four);
    }
#endif
    for (; x < aCount; ++x) aLine[x] = aTable[aElements[x]];
}

// Makes streamed stores visible to other threads before the band ends.
void finishStreaming() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// Level of a float in a range of width: (value - minimum) * scale rounded, clamped to 0..255, computed in
// single precision. NaN fails the first comparison and becomes 0.
inline int floatLevel(float aValue, float aMinimum, float aScale) {
    float f = (aValue - aMinimum) * aScale + 0.5f;
    f = f > 0.0f ? f : 0.0f;
    f = f < 255.0f ? f : 255.0f;
    return int(f);
}

// When every level's colour is the level itself in some of the red, green and blue components (grey,
// the primaries and their mixtures), those components; otherwise 0, and colours need a look-up.
QRgb levelMask(const LutTable& aLut) {
    const QRgb mask = aLut[255] & 0xFFFFFFu;
    for (uint32_t level = 0; level < 256; ++level)
        if (aLut[level] != (0xFF000000u | ((level * 0x010101u) & mask))) return 0;
    return mask;
}

// A row of floats through aLut (or, with a mask, straight to the masked level), eight at a time with the
// same single-precision steps as floatLevel: maxps keeps its second operand when the first is NaN, and
// cvttps truncates as int() does.
void floatRow(const float* aElements, float aMinimum, float aScale, const QRgb* aLut, QRgb aMask, QRgb* aLine,
              int aCount, bool aStream) {
    int x = 0;
#if defined(__SSE2__)
    const __m128 minimum = _mm_set1_ps(aMinimum);
    const __m128 scale = _mm_set1_ps(aScale);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    const __m128i mask = _mm_set1_epi32(int(aMask));
    const auto levels = [&](const float* aFour) {
        const __m128 f = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(aFour), minimum), scale), half);
        return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(f, zero), top));
    };
    const auto colours = [&](__m128i aLevels) {
        const __m128i spread = _mm_or_si128(aLevels, _mm_slli_epi32(aLevels, 8));
        return _mm_or_si128(alpha, _mm_and_si128(mask, _mm_or_si128(spread, _mm_slli_epi32(aLevels, 16))));
    };
    const auto store = [&](QRgb* aTarget, __m128i aFour) {
        if (aStream)
            _mm_stream_si128(reinterpret_cast<__m128i*>(aTarget), aFour);
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(aTarget), aFour);
    };
    if (aStream)
        for (; x < aCount && (reinterpret_cast<uintptr_t>(aLine + x) & 15) != 0; ++x)
            aLine[x] = aLut[floatLevel(aElements[x], aMinimum, aScale)];
    if (aMask != 0) {
        for (; x + 8 <= aCount; x += 8) {
            store(aLine + x, colours(levels(aElements + x)));
            store(aLine + x + 4, colours(levels(aElements + x + 4)));
        }
    } else {
        alignas(16) uint16_t eight[8];
        for (; x + 8 <= aCount; x += 8) {
            _mm_store_si128(reinterpret_cast<__m128i*>(eight),
                            _mm_packs_epi32(levels(aElements + x), levels(aElements + x + 4)));
            store(aLine + x, _mm_set_epi32(int(aLut[eight[3]]), int(aLut[eight[2]]), int(aLut[eight[1]]),
                                           int(aLut[eight[0]])));
            store(aLine + x + 4, _mm_set_epi32(int(aLut[eight[7]]), int(aLut[eight[6]]), int(aLut[eight[5]]),
                                               int(aLut[eight[4]])));
        }
    }
#else
    (void)aMask;
    (void)aStream;
#endif
    for (; x < aCount; ++x) aLine[x] = aLut[floatLevel(aElements[x], aMinimum, aScale)];
}

// Levels of every value of a type of at most 16 bits, or empty for other types.
std::vector<uint8_t> levelTable(const AnyPlane& aPlane, double aMinimum, double aMaximum) {
    size_t values = 0;
    if (std::holds_alternative<blitz::Array<unsigned char, 2>>(aPlane)) values = 256;
    if (std::holds_alternative<blitz::Array<unsigned short, 2>>(aPlane)) values = 65536;
    std::vector<uint8_t> table(values);
    for (size_t v = 0; v < values; ++v) table[v] = uint8_t(displayLevel(double(v), aMinimum, aMaximum));
    return table;
}

template <typename T>
void renderMappedArray(const blitz::Array<T, 2>& aPlane, double aMinimum, double aMaximum,
                       const LutTable& aLut, QImage& aPicture) {
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    if (!preparePicture(QSize(cols, rows), aPicture)) return;
    uchar* bits = aPicture.bits();  // detaches here, on this thread
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    const std::ptrdiff_t stride = aPlane.stride(1);
    if constexpr (std::is_integral_v<T> && sizeof(T) <= 2) {
        // Value straight to colour: one look-up per element.
        std::vector<QRgb> table(size_t(1) << (8 * sizeof(T)));
        for (size_t v = 0; v < table.size(); ++v)
            table[v] = aLut[size_t(displayLevel(double(v), aMinimum, aMaximum))];
        // A picture larger than the caches is written past them, as memcpy does: no line is read in
        // before it is overwritten.
        const bool stream = aPicture.sizeInBytes() >= (qsizetype(8) << 20);
        forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
            for (int y = aFirst; y < aEnd; ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
                const T* element = &aPlane(aPlane.lbound(0) + y, aPlane.lbound(1));
                if (stride == 1 && stream) {
                    streamRow(element, table.data(), line, cols);
                } else if (stride == 1) {
                    for (int x = 0; x < cols; ++x) line[x] = table[element[x]];
                } else {
                    for (int x = 0; x < cols; ++x) line[x] = table[element[x * stride]];
                }
            }
            finishStreaming();
        });
    } else {
        const bool flat = !(aMaximum > aMinimum);
        const float minimum = float(aMinimum);
        const float scale = flat ? 0.0f : float(255.0 / (aMaximum - aMinimum));
        const bool stream = aPicture.sizeInBytes() >= (qsizetype(8) << 20);
        const QRgb mask = levelMask(aLut);
        forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
            for (int y = aFirst; y < aEnd; ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
                const T* element = &aPlane(aPlane.lbound(0) + y, aPlane.lbound(1));
                if constexpr (std::is_same_v<T, float>) {
                    if (!flat && stride == 1) {
                        floatRow(element, minimum, scale, aLut.data(), mask, line, cols, stream);
                        continue;
                    }
                }
                for (int x = 0; x < cols; ++x) {
                    const T value = element[x * stride];
                    line[x] = aLut[size_t(flat || std::is_integral_v<T>
                                              ? displayLevel(double(value), aMinimum, aMaximum)
                                              : floatLevel(float(value), minimum, scale))];
                }
            }
            finishStreaming();
        });
    }
}

template <typename T>
void addChannelRows(const blitz::Array<T, 2>& aPlane, const CompositeChannel& aChannel,
                    const std::vector<uint8_t>& aLevels, uint32_t* aSums, int aFirst, int aEnd) {
    const int cols = aPlane.extent(1);
    const std::ptrdiff_t stride = aPlane.stride(1);
    for (int y = aFirst; y < aEnd; ++y) {
        const T* element = &aPlane(aPlane.lbound(0) + y, aPlane.lbound(1));
        uint32_t* sum = aSums + size_t(y - aFirst) * size_t(cols) * 3;
        for (int x = 0; x < cols; ++x) {
            const T value = element[x * stride];
            int level;
            if constexpr (std::is_integral_v<T> && sizeof(T) <= 2)
                level = aLevels[value];
            else
                level = displayLevel(double(value), aChannel.minimum, aChannel.maximum);
            const QRgb colour = aChannel.lut[size_t(level)];
            sum[3 * x] += uint32_t(qRed(colour));
            sum[3 * x + 1] += uint32_t(qGreen(colour));
            sum[3 * x + 2] += uint32_t(qBlue(colour));
        }
    }
}

}  // namespace

void renderMapped(const AnyPlane& aPlane, double aMinimum, double aMaximum, const LutTable& aLut,
                  QImage& aPicture) {
    std::visit(
        [&](const auto& aArray) {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>) {
                aPicture = QImage();
            } else {
                renderMappedArray(aArray, aMinimum, aMaximum, aLut, aPicture);
            }
        },
        aPlane);
}

namespace {

// The composite with its sums multiplied by aScale, or by the normalising scale when there is none;
// returns the scale used.
double drawComposite(const std::vector<CompositeChannel>& aChannels, std::optional<double> aScale,
                     QImage& aPicture) {
    QSize size;
    for (const CompositeChannel& channel : aChannels)
        if (channel.plane && !isEmptyPlane(*channel.plane)) size = planeSize(*channel.plane);
    if (!preparePicture(size, aPicture)) return 1.0;
    const int rows = size.height();
    const int cols = size.width();
    std::vector<std::vector<uint8_t>> levels;
    for (const CompositeChannel& channel : aChannels)
        levels.push_back(channel.plane ? levelTable(*channel.plane, channel.minimum, channel.maximum)
                                       : std::vector<uint8_t>());
    constexpr int kRowsAtOnce = 16;
    // The sums of rows [aFirst, aEnd), at most kRowsAtOnce of them, three components per pixel.
    const auto accumulate = [&](int aFirst, int aEnd, std::vector<uint32_t>& aSums) {
        std::fill(aSums.begin(), aSums.end(), 0);
        for (size_t c = 0; c < aChannels.size(); ++c) {
            if (!aChannels[c].plane) continue;
            std::visit(
                [&](const auto& aArray) {
                    using Plane = std::decay_t<decltype(aArray)>;
                    if constexpr (!std::is_same_v<Plane, std::monostate>) {
                        if (aArray.extent(0) == rows && aArray.extent(1) == cols)
                            addChannelRows(aArray, aChannels[c], levels[c], aSums.data(), aFirst, aEnd);
                    }
                },
                *aChannels[c].plane);
        }
    };
    // Normalised, a first pass counts how bright each pixel's brightest component would be; the scale
    // brings all but the brightest thousandth of the pixels (single hot pixels) below 255.
    double scale = aScale.value_or(1.0);
    if (!aScale) {
        uint32_t bound = 0;
        for (const CompositeChannel& channel : aChannels)
            bound += uint32_t(
                std::max({qRed(channel.lut[255]), qGreen(channel.lut[255]), qBlue(channel.lut[255])}));
        std::vector<uint64_t> counts(size_t(bound) + 1, 0);
        std::mutex merge;
        forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
            std::vector<uint32_t> sums(size_t(cols) * 3 * kRowsAtOnce);
            std::vector<uint64_t> own(counts.size(), 0);
            for (int first = aFirst; first < aEnd; first += kRowsAtOnce) {
                const int end = std::min(aEnd, first + kRowsAtOnce);
                accumulate(first, end, sums);
                for (size_t i = 0; i < size_t(end - first) * size_t(cols); ++i)
                    ++own[std::min<size_t>(bound, std::max({sums[3 * i], sums[3 * i + 1], sums[3 * i + 2]}))];
            }
            const std::lock_guard<std::mutex> lock(merge);
            for (size_t v = 0; v < counts.size(); ++v) counts[v] += own[v];
        });
        const uint64_t brightest = uint64_t(rows) * uint64_t(cols) / 1000;
        uint64_t above = 0;
        size_t top = counts.size() - 1;
        while (top > 0 && above + counts[top] <= brightest) above += counts[top--];
        if (top > 255) scale = 255.0 / double(top);
    }
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
        std::vector<uint32_t> sums(size_t(cols) * 3 * kRowsAtOnce);
        for (int first = aFirst; first < aEnd; first += kRowsAtOnce) {
            const int end = std::min(aEnd, first + kRowsAtOnce);
            accumulate(first, end, sums);
            for (int y = first; y < end; ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
                const uint32_t* sum = sums.data() + size_t(y - first) * size_t(cols) * 3;
                for (int x = 0; x < cols; ++x) {
                    const auto part = [&](int aIndex) {
                        return int(std::min(255.0, double(sum[3 * x + aIndex]) * scale + 0.5));
                    };
                    line[x] = qRgb(part(0), part(1), part(2));
                }
            }
        }
    });
    return scale;
}

}  // namespace

double renderComposite(const std::vector<CompositeChannel>& aChannels, bool aNormalise, QImage& aPicture) {
    return drawComposite(aChannels, aNormalise ? std::nullopt : std::optional<double>(1.0), aPicture);
}

void renderScaledComposite(const std::vector<CompositeChannel>& aChannels, double aScale, QImage& aPicture) {
    drawComposite(aChannels, aScale, aPicture);
}

double renderShown(const ViewState& aState, const AnyPlane& aShown,
                   const std::vector<AnyPlane>& aChannelPlanes, QImage& aPicture) {
    const auto colourOf = [&](int aChannel) {
        return aChannel >= 0 && aChannel < aState.channelCount() ? aState.channels()[aChannel].colour
                                                                 : QRgb(0xFFFFFFFF);
    };
    if (!aState.composite()) {
        if (aState.automaticContrast()) {
            std::visit(
                [&](const auto& aArray) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>)
                        aPicture = QImage();
                    else
                        renderGreyPlane(aArray, aPicture);
                },
                aShown);
            return 1.0;
        }
        const int channel = aState.shown().index.channel;
        const ChannelDisplay display = aState.display(channel);
        // Alone, a channel in its file colour shows grey: what the data look like, as ever.
        const Lut lut = display.lut == Lut::FileColour ? Lut::Grey : display.lut;
        renderMapped(aShown, display.minimum, display.maximum, lutTable(lut, colourOf(channel)), aPicture);
        return 1.0;
    }
    std::vector<CompositeChannel> parts;
    for (int c = 0; c < int(aChannelPlanes.size()); ++c) {
        const ChannelDisplay display = aState.display(c);
        if (!display.visible || isEmptyPlane(aChannelPlanes[size_t(c)])) continue;
        CompositeChannel part{&aChannelPlanes[size_t(c)], display.minimum, display.maximum,
                              lutTable(display.lut, colourOf(c))};
        if (aState.automaticContrast()) {
            // Each channel stretched over its own values, as automatic contrast does for one plane.
            const Histogram histogram = histogramOf(aChannelPlanes[size_t(c)]);
            part.minimum = histogram.minimum;
            part.maximum = histogram.maximum;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        if (preparePicture(planeSize(aShown), aPicture)) aPicture.fill(Qt::black);
        return 1.0;
    }
    return renderComposite(parts, aState.spectral(), aPicture);
}
