#include "SliceRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "GreyFormula.h"
#include "Histogram.h"
#include "PlaneDisplay.h"
#include "Renderer.h"
#include "Transpose.h"
#include "ViewState.h"

namespace {

// The renderers' opaque colours are the same bits in both formats; without alpha a picture paints as a
// plain copy.
bool prepare(const QSize& aSize, QImage& aPicture,
             QImage::Format aFormat = QImage::Format_ARGB32_Premultiplied) {
    if (aPicture.size() != aSize || aPicture.format() != aFormat) {
        aPicture = QImage();
        if (aSize.isEmpty()) return false;
        aPicture = QImage(aSize, aFormat);
    }
    return !aPicture.isNull();
}

QSize stretchedSize(const QSize& aSlice, bool aZAlongRows, int aZPixels) {
    return aZAlongRows ? QSize(aSlice.width(), aZPixels) : QSize(aZPixels, aSlice.height());
}

// Element (aRow, aColumn) of a plane counted from its first.
template <typename T>
const T* rowOf(const blitz::Array<T, 2>& aPlane, int aRow) {
    return &aPlane(aPlane.lbound(0) + aRow, aPlane.lbound(1));
}

// Rows of the slice a prefetch runs ahead of the one drawn: rows of a y-z slice lie a whole x-z slice
// apart in the stack, so each starts with a cache and TLB miss that is better taken early.
constexpr int kRowsAhead = 8;
// An x-z slice is drawn in strips of this many columns down all planes: the stack holds a column's
// planes side by side, the picture a plane's columns, and a strip of both stays in the first-level cache.
constexpr int kStrip = 16;

// A plane the picture shows: the pixel along z where its stretch begins and how many it takes. A picture
// squeezed to fewer pixels than planes leaves some out.
struct Stretch {
    int plane = 0;
    int first = 0;
    int length = 0;
};

std::vector<Stretch> stretchesOf(const std::vector<int>& aPlaneOf) {
    std::vector<Stretch> stretches;
    stretches.reserve(aPlaneOf.size());
    for (int p = 0; p < int(aPlaneOf.size()); ++p) {
        if (stretches.empty() || stretches.back().plane != aPlaneOf[size_t(p)])
            stretches.push_back({aPlaneOf[size_t(p)], p, 0});
        ++stretches.back().length;
    }
    return stretches;
}

#if defined(__SSE2__)
// The colours of four elements aStride apart.
template <typename T>
__m128i fourColours(const T* aElements, std::ptrdiff_t aStride, const QRgb* aTable) {
    return _mm_set_epi32(int(aTable[aElements[3 * aStride]]), int(aTable[aElements[2 * aStride]]),
                         int(aTable[aElements[aStride]]), int(aTable[aElements[0]]));
}

// The greys of sixteen levels, four to a register.
inline void greysOfSixteen(const unsigned char* aLevels, __m128i aGreys[4]) {
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    const __m128i levels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aLevels));
    const __m128i low = _mm_unpacklo_epi8(levels, levels);
    const __m128i high = _mm_unpackhi_epi8(levels, levels);
    aGreys[0] = _mm_or_si128(_mm_unpacklo_epi16(low, low), opaque);
    aGreys[1] = _mm_or_si128(_mm_unpackhi_epi16(low, low), opaque);
    aGreys[2] = _mm_or_si128(_mm_unpacklo_epi16(high, high), opaque);
    aGreys[3] = _mm_or_si128(_mm_unpackhi_epi16(high, high), opaque);
}
#endif

// An x-z slice (z down the rows): each plane's colours are looked up once and written to every line
// of its stretch, sixteen columns at a time.
template <typename T>
void drawRowsStretched(const blitz::Array<T, 2>& aSlice, const QRgb* aTable,
                       const std::vector<Stretch>& aStretches, uchar* aBits, qsizetype aBytesPerLine) {
    const std::ptrdiff_t rowStride = aSlice.stride(0);
    const std::ptrdiff_t stride = aSlice.stride(1);
    const T* first = rowOf(aSlice, 0);
    const int cols = aSlice.extent(1);
    for (int x0 = 0; x0 < cols; x0 += kStrip) {
        const int x1 = std::min(cols, x0 + kStrip);
        for (const Stretch& stretch : aStretches) {
            uchar* target = aBits + aBytesPerLine * stretch.first;
            const T* element = first + stretch.plane * rowStride;
            int x = x0;
#if defined(__SSE2__)
            if (x1 - x0 == kStrip) {
                static_assert(kStrip == 16, "a strip is four stores wide");
                const T* at = element + x0 * stride;
                const __m128i colours[4] = {fourColours(at, stride, aTable),
                                            fourColours(at + 4 * stride, stride, aTable),
                                            fourColours(at + 8 * stride, stride, aTable),
                                            fourColours(at + 12 * stride, stride, aTable)};
                __m128i* line = reinterpret_cast<__m128i*>(target + x0 * qsizetype(sizeof(QRgb)));
                for (int n = 0; n < stretch.length; ++n) {
                    _mm_storeu_si128(line, colours[0]);
                    _mm_storeu_si128(line + 1, colours[1]);
                    _mm_storeu_si128(line + 2, colours[2]);
                    _mm_storeu_si128(line + 3, colours[3]);
                    line = reinterpret_cast<__m128i*>(reinterpret_cast<uchar*>(line) + aBytesPerLine);
                }
                continue;
            }
#endif
            for (; x < x1; ++x) {
                const QRgb colour = aTable[element[x * stride]];
                uchar* line = target + x * qsizetype(sizeof(QRgb));
                for (int n = 0; n < stretch.length; ++n, line += aBytesPerLine)
                    *reinterpret_cast<QRgb*>(line) = colour;
            }
        }
    }
}

// Starts loading a row of a y-z slice early: the rows lie a whole x-z slice apart in the stack.
template <typename T>
void prefetch(const T* aRow, std::ptrdiff_t aBytes) {
    for (std::ptrdiff_t b = 0; b < aBytes; b += 64)
        __builtin_prefetch(reinterpret_cast<const char*>(aRow) + b);
}

#if defined(__SSE2__)
// How many pixels every plane takes when all take the same few, in order; 0 otherwise.
int evenLength(const std::vector<Stretch>& aStretches) {
    const int length = aStretches.empty() ? 0 : aStretches[0].length;
    for (size_t i = 0; i < aStretches.size(); ++i)
        if (aStretches[i].plane != int(i) || aStretches[i].length != length) return 0;
    return length <= 3 ? length : 0;
}

// Four colours each aRepeat times over 4 * aRepeat pixels, in whole stores that overlap nothing.
template <int aRepeat>
void storeRepeated(QRgb* aPixels, __m128i aFour) {
    __m128i* at = reinterpret_cast<__m128i*>(aPixels);
    if constexpr (aRepeat == 1) {
        _mm_storeu_si128(at, aFour);
    } else if constexpr (aRepeat == 2) {
        _mm_storeu_si128(at, _mm_unpacklo_epi32(aFour, aFour));
        _mm_storeu_si128(at + 1, _mm_unpackhi_epi32(aFour, aFour));
    } else {
        static_assert(aRepeat == 3, "one to three pixels a plane");
        _mm_storeu_si128(at, _mm_shuffle_epi32(aFour, _MM_SHUFFLE(1, 0, 0, 0)));
        _mm_storeu_si128(at + 1, _mm_shuffle_epi32(aFour, _MM_SHUFFLE(2, 2, 1, 1)));
        _mm_storeu_si128(at + 2, _mm_shuffle_epi32(aFour, _MM_SHUFFLE(3, 3, 3, 2)));
    }
}

// A y-z slice whose planes all take aRepeat pixels: four planes' colours at a time, spread by shuffles.
template <int aRepeat, typename T>
void drawColumnsRepeated(const blitz::Array<T, 2>& aSlice, const QRgb* aTable, uchar* aBits,
                         qsizetype aBytesPerLine) {
    const std::ptrdiff_t rowStride = aSlice.stride(0);
    const std::ptrdiff_t stride = aSlice.stride(1);
    const T* first = rowOf(aSlice, 0);
    const int rows = aSlice.extent(0);
    const int cols = aSlice.extent(1);
    const std::ptrdiff_t rowBytes = cols * stride * std::ptrdiff_t(sizeof(T));
    for (int y = 0; y < rows; ++y) {
        if (y + kRowsAhead < rows) prefetch(first + (y + kRowsAhead) * rowStride, rowBytes);
        const T* element = first + y * rowStride;
        QRgb* line = reinterpret_cast<QRgb*>(aBits + aBytesPerLine * y);
        int z = 0;
        for (; z + 4 <= cols; z += 4, line += 4 * aRepeat)
            storeRepeated<aRepeat>(line, fourColours(element + z * stride, stride, aTable));
        for (; z < cols; ++z, line += aRepeat) std::fill_n(line, aRepeat, aTable[element[z * stride]]);
    }
}
#endif

// One line of levels in their colours; aGrey: each level's colour is its grey.
void colourLevels(const unsigned char* aLevels, int aCount, const QRgb* aColours, bool aGrey, QRgb* aLine) {
    int i = 0;
#if defined(__SSE2__)
    if (aGrey)
        for (; i + 16 <= aCount; i += 16) {
            __m128i greys[4];
            greysOfSixteen(aLevels + i, greys);
            for (int k = 0; k < 4; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(aLine + i + 4 * k), greys[k]);
        }
#else
    (void)aGrey;
#endif
    for (; i < aCount; ++i) aLine[i] = aColours[aLevels[i]];
}

#if defined(__SSE2__)
// A line of a y-z picture whose planes all take aRepeat pixels, from the levels of its planes.
template <int aRepeat>
void colourLevelsRepeated(const unsigned char* aLevels, int aCount, const QRgb* aColours, bool aGrey,
                          QRgb* aLine) {
    int z = 0;
    if (aGrey)
        for (; z + 16 <= aCount; z += 16, aLine += 16 * aRepeat) {
            __m128i greys[4];
            greysOfSixteen(aLevels + z, greys);
            for (int k = 0; k < 4; ++k) storeRepeated<aRepeat>(aLine + 4 * k * aRepeat, greys[k]);
        }
    for (; z + 4 <= aCount; z += 4, aLine += 4 * aRepeat)
        storeRepeated<aRepeat>(aLine, fourColours(aLevels + z, 1, aColours));
    for (; z < aCount; ++z, aLine += aRepeat) std::fill_n(aLine, aRepeat, aColours[aLevels[z]]);
}
#endif

#if defined(__SSE2__)
// An x-z slice in grey computed by aGrey, its planes side by side in the stack: eight planes of four
// columns at a time, turned by a transposition into four columns of each plane's picture lines. Columns
// and planes beyond whole blocks come from aTable.
template <typename T>
void drawRowsGrey(const blitz::Array<T, 2>& aSlice, const GreyFormula& aGrey, const QRgb* aTable,
                  const std::vector<Stretch>& aStretches, uchar* aBits, qsizetype aBytesPerLine) {
    const int planes = aSlice.extent(0);
    const int cols = aSlice.extent(1);
    const std::ptrdiff_t stride = aSlice.stride(1);
    const T* first = rowOf(aSlice, 0);
    // Planes left out of a squeezed picture take no lines.
    std::vector<Stretch> ofPlane(static_cast<size_t>(planes));
    for (const Stretch& stretch : aStretches) ofPlane[size_t(stretch.plane)] = stretch;
    const int wholeColumns = cols / 4 * 4;
    const int wholePlanes = wholeColumns > 0 ? planes / 8 * 8 : 0;  // a slice under four wide: all leftover
    // Eight planes' whole lines at a time, each then copied to its picture lines in one sequential run.
    const int groups = wholeColumns / 4;
    std::vector<QRgb> lines(size_t(8 * wholeColumns));
    __m128i* const block = reinterpret_cast<__m128i*>(lines.data());  // stored to and loaded unaligned
    for (int z = 0; z < wholePlanes; z += 8) {
        for (int g = 0; g < groups; ++g) {
            const T* column = first + (4 * g) * stride + z;
            __m128i colours[4][2];
            for (int i = 0; i < 4; ++i) {
                __m128i low;
                __m128i high;
                loadEight(column + i * stride, low, high);
                greyOfEight(low, high, aGrey, colours[i][0], colours[i][1]);
            }
            for (int half = 0; half < 2; ++half) {
                transposeFour(colours[0][half], colours[1][half], colours[2][half], colours[3][half]);
                for (int i = 0; i < 4; ++i)
                    _mm_storeu_si128(block + (4 * half + i) * groups + g, colours[i][half]);
            }
        }
        for (int r = 0; r < 8; ++r) {
            const Stretch& stretch = ofPlane[size_t(z + r)];
            for (int n = 0; n < stretch.length; ++n)
                std::memcpy(aBits + aBytesPerLine * (stretch.first + n), block + r * groups,
                            size_t(wholeColumns) * sizeof(QRgb));
        }
    }
    for (const Stretch& stretch : aStretches) {
        for (int x = stretch.plane < wholePlanes ? wholeColumns : 0; x < cols; ++x) {
            const QRgb colour = aTable[first[stretch.plane + x * stride]];
            uchar* line = aBits + aBytesPerLine * stretch.first + x * qsizetype(sizeof(QRgb));
            for (int n = 0; n < stretch.length; ++n, line += aBytesPerLine)
                *reinterpret_cast<QRgb*>(line) = colour;
        }
    }
}

// A y-z slice in grey computed by aGrey, whose planes all take aRepeat pixels: eight planes at a time.
template <int aRepeat, typename T>
void drawColumnsGrey(const blitz::Array<T, 2>& aSlice, const GreyFormula& aGrey, const QRgb* aTable,
                     uchar* aBits, qsizetype aBytesPerLine) {
    const std::ptrdiff_t rowStride = aSlice.stride(0);
    const T* first = rowOf(aSlice, 0);
    const int rows = aSlice.extent(0);
    const int cols = aSlice.extent(1);
    const std::ptrdiff_t rowBytes = cols * std::ptrdiff_t(sizeof(T));
    for (int y = 0; y < rows; ++y) {
        if (y + kRowsAhead < rows) prefetch(first + (y + kRowsAhead) * rowStride, rowBytes);
        const T* element = first + y * rowStride;
        QRgb* line = reinterpret_cast<QRgb*>(aBits + aBytesPerLine * y);
        int z = 0;
        for (; z + 8 <= cols; z += 8, line += 8 * aRepeat) {
            __m128i low;
            __m128i high;
            __m128i firstFour;
            __m128i lastFour;
            loadEight(element + z, low, high);
            greyOfEight(low, high, aGrey, firstFour, lastFour);
            storeRepeated<aRepeat>(line, firstFour);
            storeRepeated<aRepeat>(line + 4 * aRepeat, lastFour);
        }
        for (; z < cols; ++z, line += aRepeat) std::fill_n(line, aRepeat, aTable[element[z]]);
    }
}
#endif

// A y-z slice (z along the columns): each element's colour is spread over its stretch of the line, four
// pixels to a store. A store may run past its stretch into the next, which is drawn after it.
template <typename T>
void drawColumnsStretched(const blitz::Array<T, 2>& aSlice, const QRgb* aTable,
                          const std::vector<Stretch>& aStretches, int aPixels, uchar* aBits,
                          qsizetype aBytesPerLine) {
#if defined(__SSE2__)
    switch (evenLength(aStretches)) {
        case 1:
            return drawColumnsRepeated<1>(aSlice, aTable, aBits, aBytesPerLine);
        case 2:
            return drawColumnsRepeated<2>(aSlice, aTable, aBits, aBytesPerLine);
        case 3:
            return drawColumnsRepeated<3>(aSlice, aTable, aBits, aBytesPerLine);
        default:
            break;
    }
#endif
    const std::ptrdiff_t rowStride = aSlice.stride(0);
    const std::ptrdiff_t stride = aSlice.stride(1);
    const T* first = rowOf(aSlice, 0);
    const int rows = aSlice.extent(0);
    const std::ptrdiff_t rowBytes = aSlice.extent(1) * stride * std::ptrdiff_t(sizeof(T));
    const size_t count = aStretches.size();
    // The leading stretches whose stores of four stay inside the line.
    size_t inside = 0;
    int longest = 0;
    while (inside < count && aStretches[inside].first + ((aStretches[inside].length + 3) & ~3) <= aPixels)
        longest = std::max(longest, aStretches[inside++].length);
    for (int y = 0; y < rows; ++y) {
        if (y + kRowsAhead < rows) prefetch(first + (y + kRowsAhead) * rowStride, rowBytes);
        const T* element = first + y * rowStride;
        QRgb* line = reinterpret_cast<QRgb*>(aBits + aBytesPerLine * y);
        size_t i = 0;
#if defined(__SSE2__)
        if (longest <= 4) {
            for (; i < inside; ++i)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(line + aStretches[i].first),
                                 _mm_set1_epi32(int(aTable[element[aStretches[i].plane * stride]])));
        } else {
            for (; i < inside; ++i) {
                const __m128i four = _mm_set1_epi32(int(aTable[element[aStretches[i].plane * stride]]));
                QRgb* at = line + aStretches[i].first;
                QRgb* const end = at + aStretches[i].length;
                for (; at < end; at += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(at), four);
            }
        }
#endif
        for (; i < count; ++i) {
            const QRgb colour = aTable[element[aStretches[i].plane * stride]];
            std::fill_n(line + aStretches[i].first, aStretches[i].length, colour);
        }
    }
}

// The slice through aTable (or in grey computed by aGrey, where it lies suitably) straight into the
// stretched picture.
template <typename T>
void drawStretched(const blitz::Array<T, 2>& aSlice, const QRgb* aTable, const GreyFormula* aGrey,
                   bool aZAlongRows, const std::vector<int>& aPlaneOf, QImage& aPicture) {
    const std::vector<Stretch> stretches = stretchesOf(aPlaneOf);
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
#if defined(__SSE2__)
    if (aGrey != nullptr && aZAlongRows && aSlice.stride(0) == 1)
        return drawRowsGrey(aSlice, *aGrey, aTable, stretches, bits, bytesPerLine);
    if (aGrey != nullptr && !aZAlongRows && aSlice.stride(1) == 1) {
        switch (evenLength(stretches)) {
            case 1:
                return drawColumnsGrey<1>(aSlice, *aGrey, aTable, bits, bytesPerLine);
            case 2:
                return drawColumnsGrey<2>(aSlice, *aGrey, aTable, bits, bytesPerLine);
            case 3:
                return drawColumnsGrey<3>(aSlice, *aGrey, aTable, bits, bytesPerLine);
            default:
                break;
        }
    }
#else
    (void)aGrey;
#endif
    if (aZAlongRows)
        drawRowsStretched(aSlice, aTable, stretches, bits, bytesPerLine);
    else
        drawColumnsStretched(aSlice, aTable, stretches, int(aPlaneOf.size()), bits, bytesPerLine);
}

// An unstretched picture stretched along z.
void stretch(const QImage& aNative, bool aZAlongRows, const std::vector<int>& aPlaneOf, QImage& aPicture) {
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    if (aZAlongRows) {
        for (int r = 0; r < int(aPlaneOf.size()); ++r)
            std::memcpy(bits + bytesPerLine * r, aNative.constScanLine(aPlaneOf[size_t(r)]),
                        size_t(aNative.width()) * sizeof(QRgb));
        return;
    }
    for (int y = 0; y < aNative.height(); ++y) {
        const QRgb* native = reinterpret_cast<const QRgb*>(aNative.constScanLine(y));
        QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
        for (size_t c = 0; c < aPlaneOf.size(); ++c) line[c] = native[aPlaneOf[c]];
    }
}

QRgb fileColour(const ViewState& aState, int aChannel) {
    return aChannel >= 0 && aChannel < aState.channelCount() ? aState.channels()[aChannel].colour
                                                             : QRgb(0xFFFFFFFF);
}

// The lookup table a channel shows in, alone as the x-y view shows it: its file colour as grey.
LutTable lutAlone(const ViewState& aState, int aChannel) {
    const Lut lut = aState.display(aChannel).lut;
    return lutTable(lut == Lut::FileColour ? Lut::Grey : lut, fileColour(aState, aChannel));
}

const AnyPlane& entry(const std::vector<AnyPlane>& aPlanes, int aChannel) {
    static const AnyPlane none;
    return aChannel >= 0 && size_t(aChannel) < aPlanes.size() ? aPlanes[size_t(aChannel)] : none;
}

}  // namespace

int planeAtPixel(int aPixel, int aPixels, int aPlanes) {
    if (aPixels <= 0 || aPlanes <= 0) return 0;
    const int plane = int(std::floor((aPixel + 0.5) * aPlanes / aPixels));
    return std::clamp(plane, 0, aPlanes - 1);
}

double pixelOfPlane(int aPlane, int aPixels, int aPlanes) {
    return aPlanes > 0 ? (aPlane + 0.5) * aPixels / aPlanes : 0.0;
}

const LutTable& SliceRenderer::levelColours(const Colours& aColours) {
    if (mLevelColoursKey == aColours) return mLevelColours;
    if (aColours.automatic) {
        for (int level = 0; level < 256; ++level) mLevelColours[size_t(level)] = opaqueGrey(level);
    } else {
        mLevelColours = lutTable(aColours.lut, aColours.colour);
    }
    mLevelColoursKey = aColours;
    mLevelsGrey = true;
    for (int level = 0; mLevelsGrey && level < 256; ++level)
        mLevelsGrey = mLevelColours[size_t(level)] == opaqueGrey(level);
    return mLevelColours;
}

SliceRenderer::Colours SliceRenderer::coloursOf(const ViewState& aState, bool aAutomatic) {
    Colours colours;
    colours.automatic = aAutomatic;
    if (!aAutomatic) {
        const int channel = aState.shown().index.channel;
        const Lut lut = aState.display(channel).lut;
        colours.lut = lut == Lut::FileColour ? Lut::Grey : lut;
        colours.colour = fileColour(aState, channel);
    }
    return colours;
}

const std::vector<QRgb>* SliceRenderer::tableFor(const ViewState& aState, const AnyPlane& aSlice,
                                                 const AnyPlane& aPlane) {
    const std::optional<LevelMapping> mapping = levelMappingFor(aState, aSlice, aPlane);
    if (!mapping) return nullptr;
    const TableKey key{aSlice.index(), *mapping, coloursOf(aState, mapping->automatic)};
    if (!mTable.empty() && key == mKey) return &mTable;
    const LutTable& colours = levelColours(key.colours);
    const size_t values = std::holds_alternative<blitz::Array<unsigned char, 2>>(aSlice) ? 256 : 65536;
    mTable.resize(values);
    for (size_t v = 0; v < values; ++v) mTable[v] = colours[size_t(key.mapping.level(double(v)))];
    mKey = key;
    mGrey = mLevelsGrey && !key.mapping.automatic
                ? greyFormulaFor(key.mapping.minimum, key.mapping.maximum, mTable)
                : std::nullopt;
    return &mTable;
}

void SliceRenderer::render(const ViewState& aState, const std::vector<AnyPlane>& aSlices,
                           const std::vector<AnyPlane>& aPlanes, bool aZAlongRows, int aZPixels,
                           QImage& aPicture, double aCompositeScale) {
    const int shownChannel = aState.shown().index.channel;
    const AnyPlane& shown = entry(aSlices, shownChannel);
    const QSize sliceSize = planeSize(shown);
    const int planes = aZAlongRows ? sliceSize.height() : sliceSize.width();
    if (sliceSize.isEmpty() || aZPixels < 1 ||
        !prepare(stretchedSize(sliceSize, aZAlongRows, aZPixels), aPicture, QImage::Format_RGB32))
        return;
    mPlaneOf.resize(size_t(aZPixels));
    for (int p = 0; p < aZPixels; ++p) mPlaneOf[size_t(p)] = planeAtPixel(p, aZPixels, planes);

    if (const std::vector<QRgb>* table = tableFor(aState, shown, entry(aPlanes, shownChannel))) {
        std::visit(
            [&](const auto& aArray) {
                using Plane = std::decay_t<decltype(aArray)>;
                if constexpr (std::is_same_v<Plane, blitz::Array<unsigned char, 2>> ||
                              std::is_same_v<Plane, blitz::Array<unsigned short, 2>>)
                    drawStretched(aArray, table->data(), mGrey ? &*mGrey : nullptr, aZAlongRows, mPlaneOf,
                                  aPicture);
            },
            shown);
        return;
    }

    if (!aState.composite()) {
        if (aState.automaticContrast()) {
            std::visit(
                [&](const auto& aSlice) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(aSlice)>, std::monostate>) {
                        using T = typename std::decay_t<decltype(aSlice)>::T_numtype;
                        const auto* plane = std::get_if<blitz::Array<T, 2>>(&entry(aPlanes, shownChannel));
                        const GreyMapping mapping = plane ? greyMappingFor(*plane) : greyMappingFor(aSlice);
                        if (!prepare(sliceSize, mNative)) return;
                        renderGreyRows(aSlice, mapping, {}, mNative.bits(), mNative.bytesPerLine(), 0,
                                       aSlice.extent(0));
                    }
                },
                shown);
        } else {
            const ChannelDisplay display = aState.display(shownChannel);
            renderMapped(shown, display.minimum, display.maximum, lutAlone(aState, shownChannel), mNative);
        }
    } else {
        std::vector<CompositeChannel> parts;
        std::vector<Histogram> ranges;  // automatic contrast: each channel over its x-y plane's values
        ranges.reserve(aSlices.size());
        for (int c = 0; c < int(aSlices.size()); ++c) {
            const ChannelDisplay display = aState.display(c);
            if (!display.visible || isEmptyPlane(aSlices[size_t(c)]) ||
                planeSize(aSlices[size_t(c)]) != sliceSize)
                continue;
            CompositeChannel part{&aSlices[size_t(c)], display.minimum, display.maximum,
                                  lutTable(display.lut, fileColour(aState, c))};
            if (aState.automaticContrast()) {
                const AnyPlane& plane = entry(aPlanes, c);
                ranges.push_back(histogramOf(isEmptyPlane(plane) ? aSlices[size_t(c)] : plane));
                part.minimum = ranges.back().minimum;
                part.maximum = ranges.back().maximum;
            }
            parts.push_back(part);
        }
        if (parts.empty()) {
            if (prepare(sliceSize, mNative)) mNative.fill(Qt::black);
        } else {
            renderScaledComposite(parts, aState.spectral() ? aCompositeScale : 1.0, mNative);
        }
    }
    if (mNative.size() == sliceSize) stretch(mNative, aZAlongRows, mPlaneOf, aPicture);
}

void SliceRenderer::renderLevels(const ViewState& aState, const LevelStack& aLevels, int aAt,
                                 bool aZAlongRows, int aZPixels, QImage& aPicture) {
    const QSize sliceSize =
        aZAlongRows ? QSize(aLevels.columns(), aLevels.planes()) : QSize(aLevels.planes(), aLevels.rows());
    if (sliceSize.isEmpty() || aZPixels < 1 || aAt < 0 ||
        aAt >= (aZAlongRows ? aLevels.rows() : aLevels.columns()) ||
        !prepare(stretchedSize(sliceSize, aZAlongRows, aZPixels), aPicture, QImage::Format_RGB32))
        return;
    const int planes = aLevels.planes();
    mPlaneOf.resize(size_t(aZPixels));
    for (int p = 0; p < aZPixels; ++p) mPlaneOf[size_t(p)] = planeAtPixel(p, aZPixels, planes);
    const std::vector<Stretch> stretches = stretchesOf(mPlaneOf);
    const QRgb* colours = levelColours(coloursOf(aState, aLevels.mapping().automatic)).data();
    uchar* bits = aPicture.bits();
    const qsizetype bytesPerLine = aPicture.bytesPerLine();
    if (aZAlongRows) {
        const int columns = aLevels.columns();
        const unsigned char* levels = aLevels.xzLevels(aAt);
        for (const Stretch& stretch : stretches) {
            uchar* line = bits + bytesPerLine * stretch.first;
            colourLevels(levels + size_t(stretch.plane) * size_t(columns), columns, colours, mLevelsGrey,
                         reinterpret_cast<QRgb*>(line));
            for (int n = 1; n < stretch.length; ++n)
                std::memcpy(line + bytesPerLine * n, line, size_t(columns) * sizeof(QRgb));
        }
        return;
    }
    const unsigned char* levels = aLevels.yzLevels(aAt);
#if defined(__SSE2__)
    const int repeat = evenLength(stretches);
#else
    const int repeat = 0;
#endif
    for (int y = 0; y < aLevels.rows(); ++y, levels += planes) {
        QRgb* line = reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
        switch (repeat) {
#if defined(__SSE2__)
            case 1:
                colourLevelsRepeated<1>(levels, planes, colours, mLevelsGrey, line);
                break;
            case 2:
                colourLevelsRepeated<2>(levels, planes, colours, mLevelsGrey, line);
                break;
            case 3:
                colourLevelsRepeated<3>(levels, planes, colours, mLevelsGrey, line);
                break;
#endif
            default:
                for (int p = 0; p < aZPixels; ++p) line[p] = colours[levels[mPlaneOf[size_t(p)]]];
        }
    }
}
