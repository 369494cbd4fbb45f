#include "Histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <tuple>
#include <type_traits>

#include "Bands.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kFloatBins = 4096;

// Integers are counted one bin per value up to this many values, in bins of 1 << kWideShift values
// beyond: at most 4096 bins, whose tables stay close to the core where a count of every 16-bit value
// would fill its second-level cache.
constexpr uint32_t kValueBins = 4096;
constexpr int kWideShift = 4;

// Row aY of a plane counted from its first.
template <typename T>
const T* rowOf(const blitz::Array<T, 2>& aPlane, int aY) {
    return &aPlane(aPlane.lbound(0) + aY, aPlane.lbound(1));
}

// The smallest and largest element of a row of unsigned integers.
template <typename T>
std::pair<uint32_t, uint32_t> rowRange(const T* aRow, std::ptrdiff_t aStride, int aCount) {
    uint32_t low = std::numeric_limits<T>::max();
    uint32_t high = 0;
    int x = 0;
#if defined(__SSE2__)
    if constexpr (sizeof(T) == 2) {
        if (aStride == 1 && aCount >= 8) {
            // SSE2 compares 16-bit elements as signed: flipping the top bit keeps their order.
            const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
            __m128i lowest = _mm_set1_epi16(0x7FFF);
            __m128i highest = flip;
            for (; x + 8 <= aCount; x += 8) {
                const __m128i v =
                    _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(aRow + x)), flip);
                lowest = _mm_min_epi16(lowest, v);
                highest = _mm_max_epi16(highest, v);
            }
            alignas(16) uint16_t lanes[2][8];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), _mm_xor_si128(lowest, flip));
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), _mm_xor_si128(highest, flip));
            for (int i = 0; i < 8; ++i) {
                low = std::min<uint32_t>(low, lanes[0][i]);
                high = std::max<uint32_t>(high, lanes[1][i]);
            }
        }
    }
#endif
    for (; x < aCount; ++x) {
        low = std::min<uint32_t>(low, aRow[x * aStride]);
        high = std::max<uint32_t>(high, aRow[x * aStride]);
    }
    return {low, high};
}

// The bins that hold the lower and upper limit of a range leaving aLimit values below and above: the
// first whose count with all below passes aLimit, and likewise from above, not below the first. Also
// the counts below and above those bins.
struct LimitBins {
    size_t first = 0;
    size_t last = 0;
    double below = 0.0;
    double above = 0.0;
};

LimitBins limitBins(const std::vector<uint64_t>& aCounts, double aLimit) {
    LimitBins bins;
    while (bins.first + 1 < aCounts.size() && bins.below + double(aCounts[bins.first]) <= aLimit)
        bins.below += double(aCounts[bins.first++]);
    bins.last = aCounts.size() - 1;
    while (bins.last > bins.first && bins.above + double(aCounts[bins.last]) <= aLimit)
        bins.above += double(aCounts[bins.last--]);
    return bins;
}

// Counts of each value in bins aFirst and aLast (of 1 << aShift values), for the Auto range's limits.
template <typename T>
void refine(const blitz::Array<T, 2>& aPlane, int aShift, size_t aFirst, size_t aLast,
            Histogram& aHistogram) {
    const size_t width = size_t(1) << aShift;
    const uint32_t mask = uint32_t(width - 1);
    const int cols = aPlane.extent(1);
    const std::ptrdiff_t stride = aPlane.stride(1);
    std::vector<uint64_t> first(width, 0);
    std::vector<uint64_t> last(width, 0);
    std::mutex merge;
    forEachBand(aPlane.extent(0), cols, [&](int, int aBegin, int aEnd) {
        std::vector<uint64_t> ownFirst(width, 0);
        std::vector<uint64_t> ownLast(width, 0);
        const auto count = [&](uint32_t aValue) {
            const size_t bin = aValue >> aShift;
            if (bin == aFirst)
                ++ownFirst[aValue & mask];
            else if (bin == aLast)
                ++ownLast[aValue & mask];
        };
        for (int y = aBegin; y < aEnd; ++y) {
            const T* row = rowOf(aPlane, y);
            int x = 0;
#if defined(__SSE2__)
            if constexpr (sizeof(T) == 2) {
                // Most elements lie in neither bin: eight are ruled out at once.
                const __m128i firstBin = _mm_set1_epi16(int16_t(aFirst));
                const __m128i lastBin = _mm_set1_epi16(int16_t(aLast));
                if (stride == 1)
                    for (; x + 8 <= cols; x += 8) {
                        const __m128i bins = _mm_srli_epi16(
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)), aShift);
                        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(bins, firstBin),
                                                           _mm_cmpeq_epi16(bins, lastBin))))
                            for (int i = 0; i < 8; ++i) count(row[x + i]);
                    }
            }
#endif
            for (; x < cols; ++x) count(row[x * stride]);
        }
        const std::lock_guard<std::mutex> lock(merge);
        for (size_t v = 0; v < width; ++v) {
            first[v] += ownFirst[v];
            last[v] += ownLast[v];
        }
    });
    aHistogram.details.push_back({aFirst, std::move(first)});
    if (aLast != aFirst) aHistogram.details.push_back({aLast, std::move(last)});
}

// Four tables of counts taking turns, so that runs of equal values (background) do not wait on one
// counter. The tables are not the row's memory, which the compiler cannot know.
struct Tables {
    uint32_t* __restrict first;
    uint32_t* __restrict second;
    uint32_t* __restrict third;
    uint32_t* __restrict fourth;
};

// One row's elements, each shifted right by Shift, into the tables.
template <int Shift, typename T>
void countRow(const T* aRow, std::ptrdiff_t aStride, int aCount, const Tables& aTables) {
    uint32_t* __restrict first = aTables.first;
    uint32_t* __restrict second = aTables.second;
    uint32_t* __restrict third = aTables.third;
    uint32_t* __restrict fourth = aTables.fourth;
    int x = 0;
    if (aStride == 1) {
        for (; x + 3 < aCount; x += 4) {
            ++first[aRow[x] >> Shift];
            ++second[aRow[x + 1] >> Shift];
            ++third[aRow[x + 2] >> Shift];
            ++fourth[aRow[x + 3] >> Shift];
        }
    }
    for (; x < aCount; ++x) ++first[aRow[x * aStride] >> Shift];
}

// One band's counts, per value or in bins of 1 << shift values, and its smallest and largest element.
struct BandCounts {
    std::vector<uint64_t> counts;
    int shift = 0;
    uint32_t low = std::numeric_limits<uint32_t>::max();
    uint32_t high = 0;
};

template <typename T>
void countIntegers(const blitz::Array<T, 2>& aPlane, Histogram& aHistogram) {
    constexpr bool wide = sizeof(T) > 1;
    const size_t size = wide ? kValueBins : 256;
    static_assert((65536u >> kWideShift) == kValueBins, "the bins of wide data fill the same tables");
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    const std::ptrdiff_t stride = aPlane.stride(1);
    // Rows between two folds, so that no 32-bit count can overflow.
    const int rowsPerFold = std::max(1, int((uint64_t(1) << 31) / uint64_t(std::max(cols, 1))));
    BandCounts bands[4];
    const int used = forEachBand(rows, cols, [&](int aBand, int aFirst, int aEnd) {
        BandCounts& band = bands[aBand];
        band.counts.assign(size, 0);
        std::vector<uint32_t> own(4 * size, 0);
        const Tables tables{own.data(), own.data() + size, own.data() + 2 * size, own.data() + 3 * size};
        const auto fold = [&] {
            for (size_t v = 0; v < size; ++v)
                band.counts[v] += uint64_t(own[v]) + own[size + v] + own[2 * size + v] + own[3 * size + v];
            std::fill(own.begin(), own.end(), 0);
        };
        for (int y = aFirst; y < aEnd; ++y) {
            const T* row = rowOf(aPlane, y);
            if constexpr (wide) {
                // The row's range, which leaves it in the first-level cache for the count.
                const auto [low, high] = rowRange(row, stride, cols);
                band.low = std::min(band.low, low);
                band.high = std::max(band.high, high);
                if (band.shift == 0 && high >= kValueBins) {
                    // Larger values than one bin per value can hold: bins of several from here on.
                    fold();
                    std::vector<uint64_t> binned(size, 0);
                    for (size_t v = 0; v < size; ++v) binned[v >> kWideShift] += band.counts[v];
                    band.counts = std::move(binned);
                    band.shift = kWideShift;
                }
            }
            if (band.shift == 0)
                countRow<0>(row, stride, cols, tables);
            else
                countRow<kWideShift>(row, stride, cols, tables);
            if ((y - aFirst) % rowsPerFold == rowsPerFold - 1) fold();
        }
        fold();
    });
    uint32_t smallest = std::numeric_limits<uint32_t>::max();
    uint32_t largest = 0;
    int shift = 0;
    for (int b = 0; b < used; ++b) {
        shift = std::max(shift, bands[b].shift);
        smallest = std::min(smallest, bands[b].low);
        largest = std::max(largest, bands[b].high);
    }
    if (!wide) {
        // Bytes: the range from the counts, which need no pass of their own.
        std::vector<uint64_t>& counts = bands[0].counts;
        for (int b = 1; b < used; ++b)
            for (size_t v = 0; v < size; ++v) counts[v] += bands[b].counts[v];
        size_t first = 0;
        while (first < size && counts[first] == 0) ++first;
        size_t last = size;
        while (last > first && counts[last - 1] == 0) --last;
        smallest = uint32_t(first);
        largest = uint32_t(last - 1);
    }
    // The largest value sets the bins: narrower data (12 bits and less) keep one bin per value.
    const uint32_t bins = wide ? (largest >> shift) + 1 : uint32_t(size);
    aHistogram.counts.assign(bins, 0);
    aHistogram.low = 0.0;
    aHistogram.high = double(uint64_t(bins) << shift);
    aHistogram.perValue = true;
    for (int b = 0; b < (wide ? used : 1); ++b) {
        const int down = shift - bands[b].shift;
        const std::vector<uint64_t>& counts = bands[b].counts;
        for (size_t v = 0; v < counts.size(); ++v)
            if (counts[v] != 0) aHistogram.counts[v >> down] += counts[v];
    }
    for (size_t v = 0; v < bins; ++v) aHistogram.total += aHistogram.counts[v];
    aHistogram.minimum = double(smallest);
    aHistogram.maximum = double(largest);
    if (shift > 0) {
        const LimitBins limits =
            limitBins(aHistogram.counts, double(aHistogram.total) * kAutoSaturated / 2.0);
        refine(aPlane, shift, limits.first, limits.last, aHistogram);
    }
}

template <typename T>
void countBinned(const blitz::Array<T, 2>& aPlane, Histogram& aHistogram) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (auto it = aPlane.begin(); it != aPlane.end(); ++it) {
        const double v = double(*it);
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    aHistogram.counts.assign(kFloatBins, 0);
    if (!(low <= high)) return;
    aHistogram.minimum = low;
    aHistogram.maximum = high;
    aHistogram.low = low;
    // The largest value falls into the last bin, not past it.
    aHistogram.high = high > low ? high + (high - low) / (kFloatBins - 1) : low + 1.0;
    const double scale = kFloatBins / (aHistogram.high - aHistogram.low);
    for (auto it = aPlane.begin(); it != aPlane.end(); ++it) {
        const double v = double(*it);
        if (!std::isfinite(v)) continue;
        const int bin = std::clamp(int((v - low) * scale), 0, kFloatBins - 1);
        ++aHistogram.counts[size_t(bin)];
        ++aHistogram.total;
    }
}

}  // namespace

Histogram histogramOf(const AnyPlane& aPlane) {
    Histogram histogram;
    std::visit(
        [&](const auto& aArray) {
            using Plane = std::decay_t<decltype(aArray)>;
            if constexpr (!std::is_same_v<Plane, std::monostate>) {
                using T = typename Plane::T_numtype;
                if (aArray.numElements() == 0) return;
                if constexpr (std::is_integral_v<T> && sizeof(T) <= 2)
                    countIntegers(aArray, histogram);
                else
                    countBinned(aArray, histogram);
            }
        },
        aPlane);
    return histogram;
}

std::pair<double, double> saturatedRange(const Histogram& aHistogram, double aSaturated) {
    if (aHistogram.isEmpty()) return {0.0, 255.0};
    const double limit = double(aHistogram.total) * aSaturated / 2.0;
    LimitBins bins = limitBins(aHistogram.counts, limit);
    const double width = aHistogram.binWidth();
    double minimum = aHistogram.low + double(bins.first) * width;
    // Integer bins end on their last value; others on the bin's upper edge.
    double maximum = aHistogram.low + double(bins.last) * width + (aHistogram.perValue ? width - 1.0 : width);
    // In a bin of several values whose counts are known, the limits go on to the value, as they would
    // over one bin per value.
    const auto detailOf = [&](size_t aBin) -> const std::vector<uint64_t>* {
        for (const Histogram::Detail& detail : aHistogram.details)
            if (detail.bin == aBin) return &detail.counts;
        return nullptr;
    };
    size_t firstValue = 0;
    if (const std::vector<uint64_t>* counts = detailOf(bins.first)) {
        while (firstValue + 1 < counts->size() && bins.below + double((*counts)[firstValue]) <= limit)
            bins.below += double((*counts)[firstValue++]);
        minimum += double(firstValue);
    }
    if (const std::vector<uint64_t>* counts = detailOf(bins.last)) {
        // Not below the lower limit when both lie in one bin.
        const size_t floor = bins.last == bins.first ? firstValue : 0;
        size_t v = counts->size() - 1;
        while (v > floor && bins.above + double((*counts)[v]) <= limit) bins.above += double((*counts)[v--]);
        maximum -= double(counts->size() - 1 - v);
    }
    minimum = std::max(minimum, aHistogram.minimum);
    maximum = std::min(maximum, aHistogram.maximum);
    if (!(minimum < maximum)) {
        minimum = aHistogram.minimum;
        maximum = aHistogram.maximum > aHistogram.minimum ? aHistogram.maximum : aHistogram.minimum + 1.0;
    }
    return {minimum, maximum};
}

std::pair<double, double> fullRange(const ChannelInfo& aChannel, const Histogram& aHistogram) {
    if (!aChannel.isFloat && aChannel.bits <= 16) return {0.0, std::ldexp(1.0, aChannel.bits) - 1.0};
    if (aHistogram.isEmpty()) return {0.0, 1.0};
    return {aHistogram.minimum,
            aHistogram.maximum > aHistogram.minimum ? aHistogram.maximum : aHistogram.minimum + 1.0};
}

std::vector<double> histogramColumns(const Histogram& aHistogram, double aAxisLow, double aAxisHigh,
                                     int aColumns) {
    // In proportion, because bins that do not divide evenly into columns (16-value bins, 256 values over
    // another width) would otherwise make a comb of a smooth distribution.
    std::vector<double> columns(size_t(std::max(1, aColumns)), 0.0);
    const double width = double(columns.size());
    // Integers cover a value's width each, so the last one ends a value past the axis's high end.
    const double span = std::max(aAxisHigh - aAxisLow, 0.0) + (aHistogram.perValue ? 1.0 : 0.0);
    const double scale = width / (span > 0.0 ? span : 1.0);
    const double binWidth = aHistogram.binWidth();
    for (size_t bin = 0; bin < aHistogram.counts.size(); ++bin) {
        const double count = double(aHistogram.counts[bin]);
        if (count == 0.0) continue;
        const double from = (aHistogram.low + double(bin) * binWidth - aAxisLow) * scale;
        const double to = from + binWidth * scale;
        if (to <= 0.0 || from > width) continue;  // off the axis
        if (from >= width - 1) {
            columns.back() += count;  // at the right edge
            continue;
        }
        for (int column = std::max(0, int(std::floor(from))); column < int(width) && column < to; ++column) {
            const double covered = std::min(to, column + 1.0) - std::max(from, double(column));
            columns[size_t(column)] += count * covered / (to - from);
        }
        if (to > width) columns.back() += count * (to - width) / (to - from);
    }
    return columns;
}
