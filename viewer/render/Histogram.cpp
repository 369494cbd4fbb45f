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

#if defined(__SSE2__)
// Widens [aLow, aHigh] by the lanes of running minima and maxima of top-bit-flipped 16-bit elements.
void widenByLanes(__m128i aLowest, __m128i aHighest, uint32_t& aLow, uint32_t& aHigh) {
    const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
    alignas(16) uint16_t lanes[2][8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), _mm_xor_si128(aLowest, flip));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), _mm_xor_si128(aHighest, flip));
    for (int i = 0; i < 8; ++i) {
        aLow = std::min<uint32_t>(aLow, lanes[0][i]);
        aHigh = std::max<uint32_t>(aHigh, lanes[1][i]);
    }
}
#endif

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
            widenByLanes(lowest, highest, low, high);
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

// A count of a plane's integers: per value, or per bin of 1 << shift values once larger values occur.
struct Counted {
    std::vector<uint64_t> counts;  // bins 0 .. high >> shift
    int shift = 0;
    uint32_t low = 0;  // smallest and largest element
    uint32_t high = 0;
};

template <typename T>
Counted countValues(const blitz::Array<T, 2>& aPlane) {
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
    Counted counted;
    counted.low = std::numeric_limits<uint32_t>::max();
    for (int b = 0; b < used; ++b) {
        counted.shift = std::max(counted.shift, bands[b].shift);
        counted.low = std::min(counted.low, bands[b].low);
        counted.high = std::max(counted.high, bands[b].high);
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
        counted.low = uint32_t(first);
        counted.high = uint32_t(last - 1);
    }
    // The largest value sets the bins: narrower data (12 bits and less) keep one bin per value.
    counted.counts.assign(wide ? (counted.high >> counted.shift) + 1 : size, 0);
    for (int b = 0; b < (wide ? used : 1); ++b) {
        const int down = counted.shift - bands[b].shift;
        const std::vector<uint64_t>& counts = bands[b].counts;
        for (size_t v = 0; v < counts.size(); ++v)
            if (counts[v] != 0) counted.counts[v >> down] += counts[v];
    }
    return counted;
}

// Integer counts in aHistogram's bins, from 0 to past the largest value.
void setCounts(const Counted& aCounted, Histogram& aHistogram) {
    aHistogram.counts = aCounted.counts;
    aHistogram.low = 0.0;
    aHistogram.high = double(uint64_t(aCounted.counts.size()) << aCounted.shift);
    aHistogram.perValue = true;
    aHistogram.minimum = double(aCounted.low);
    aHistogram.maximum = double(aCounted.high);
}

template <typename T>
void countIntegers(const blitz::Array<T, 2>& aPlane, Histogram& aHistogram) {
    const Counted counted = countValues(aPlane);
    setCounts(counted, aHistogram);
    for (const uint64_t count : counted.counts) aHistogram.total += count;
    if (counted.shift > 0) {
        const LimitBins limits =
            limitBins(aHistogram.counts, double(aHistogram.total) * kAutoSaturated / 2.0);
        refine(aPlane, counted.shift, limits.first, limits.last, aHistogram);
    }
}

// Auto limits held to the data's range; the data's own range when they would leave nothing between.
std::pair<double, double> withinData(const Histogram& aHistogram, double aMinimum, double aMaximum) {
    aMinimum = std::max(aMinimum, aHistogram.minimum);
    aMaximum = std::min(aMaximum, aHistogram.maximum);
    if (aMinimum < aMaximum) return {aMinimum, aMaximum};
    return {aHistogram.minimum,
            aHistogram.maximum > aHistogram.minimum ? aHistogram.maximum : aHistogram.minimum + 1.0};
}

// Large 16-bit planes: the histogram's shape comes from a sample of rows, and one pass over every
// element finds the smallest and largest and, between value brackets the sample puts around the Auto
// limits, the count of each value with the exact counts below and above; the Auto range follows from
// those exactly. A count of every element in bins costs about twice a read of the plane.
constexpr uint64_t kSampledFrom = uint64_t(1) << 22;
constexpr uint64_t kSampleElements = uint64_t(1) << 20;

// Values [first, last] around a limit of the Auto range.
struct Bracket {
    uint32_t first = 0;
    uint32_t last = 0;
    // Few enough values to count each with a vector comparison, however many elements hold them.
    bool narrow() const { return last - first < 4; }
};

// The brackets around the sample's Auto limits, from 0.8 to 1.25 times the saturated share on each side
// and a bin more (a sample of a million elements puts the limits within a few per cent of that share); none
// when the pass would slow down.
bool bracketsOf(const Counted& aSample, uint64_t aTotal, Bracket& aLow, Bracket& aHigh) {
    const double limit = double(aTotal) * kAutoSaturated / 2.0;
    const int bins = int(aSample.counts.size());
    const auto binAt = [&](double aRank, bool aFromTop) {
        double sum = 0.0;
        for (int i = 0; i < bins; ++i) {
            const int bin = aFromTop ? bins - 1 - i : i;
            sum += double(aSample.counts[size_t(bin)]);
            if (sum > aRank) return bin;
        }
        return aFromTop ? 0 : bins - 1;
    };
    const int lowFirst = std::max(0, binAt(limit * 0.8, false) - 1);
    const int lowLast = std::min(bins - 1, binAt(limit * 1.25, false) + 1);
    const int highFirst = std::max(0, binAt(limit * 1.25, true) - 1);
    const int highLast = std::min(bins - 1, binAt(limit * 0.8, true) + 1);
    const uint32_t width = uint32_t(1) << aSample.shift;
    aLow = {uint32_t(lowFirst) * width, uint32_t(lowLast) * width + width - 1};
    aHigh = {uint32_t(highFirst) * width, uint32_t(highLast) * width + width - 1};
    // Elements in and beyond a wide bracket are counted one by one: a dense background there would slow
    // the pass. A narrow one's are counted by vectors.
    const auto share = [&](int aFirst, int aLast) {
        double inside = 0.0;
        for (int bin = aFirst; bin <= aLast; ++bin) inside += double(aSample.counts[size_t(bin)]);
        return inside / double(aTotal);
    };
    if ((!aLow.narrow() && share(0, lowLast) > 0.05) ||
        (!aHigh.narrow() && share(highFirst, bins - 1) > 0.05))
        return false;
    return true;
}

// What the pass over every element finds.
struct AroundLimits {
    uint32_t low = std::numeric_limits<uint32_t>::max();
    uint32_t high = 0;
    uint64_t below = 0;  // elements below the low bracket
    uint64_t above = 0;  // and above the high one
    std::vector<uint64_t> lowCounts;
    std::vector<uint64_t> highCounts;
};

// Rows [aBegin, aEnd) into aBand. Elements beyond the brackets and in a wide one are rare (the sample
// shows it) and are counted one by one where a vector holds any; a narrow bracket's values, which may be
// dense, by comparing each vector with each of them.
template <bool LowNarrow, bool HighNarrow>
void countRowsAround(const blitz::Array<unsigned short, 2>& aPlane, int aBegin, int aEnd, const Bracket& aLow,
                     const Bracket& aHigh, AroundLimits& aBand) {
    const int cols = aPlane.extent(1);
    // The element's place beyond or in the brackets, where the vectors did not count it.
    const auto rare = [&](uint32_t aValue, bool aLowDone, bool aHighDone) {
        if (aValue < aLow.first)
            ++aBand.below;
        else if (aValue <= aLow.last && !aLowDone)
            ++aBand.lowCounts[aValue - aLow.first];
        if (aValue > aHigh.last)
            ++aBand.above;
        else if (aValue >= aHigh.first && !aHighDone)
            ++aBand.highCounts[aValue - aHigh.first];
    };
    const auto one = [&](uint32_t aValue) {
        aBand.low = std::min(aBand.low, aValue);
        aBand.high = std::max(aBand.high, aValue);
        rare(aValue, false, false);
    };
#if defined(__SSE2__)
    // SSE2 compares 16-bit elements as signed: flipping the top bit keeps their order.
    const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
    const auto flipped = [](uint32_t aValue) { return _mm_set1_epi16(int16_t(aValue ^ 0x8000)); };
    // Elements above this are neither below the low bracket nor, when it is wide, in it; likewise below
    // the other.
    const __m128i lowEdge = flipped(LowNarrow ? aLow.first - 1 : aLow.last);
    const __m128i highEdge = flipped(HighNarrow ? aHigh.last + 1 : aHigh.first);
    // A narrow bracket's values, the last repeated to make four.
    __m128i lowValues[4], highValues[4];
    for (uint32_t k = 0; k < 4; ++k) {
        lowValues[k] = flipped(std::min(aLow.first + k, aLow.last));
        highValues[k] = flipped(std::min(aHigh.first + k, aHigh.last));
    }
    // Sixteen-bit tallies, at most 32768 each before they are added up.
    const auto addLanes = [](__m128i aTally, uint64_t& aTotal) {
        alignas(16) uint16_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), aTally);
        for (const uint16_t lane : lanes) aTotal += lane;
    };
#endif
    for (int y = aBegin; y < aEnd; ++y) {
        const unsigned short* row = rowOf(aPlane, y);
        int x = 0;
#if defined(__SSE2__)
        __m128i lowest = _mm_set1_epi16(0x7FFF);
        __m128i highest = flip;
        // A low bracket from value 0 has nothing below it: an edge of -1 would wrap.
        const bool lowOpen = !LowNarrow || aLow.first > 0;
        const bool highOpen = !HighNarrow || aHigh.last < 65535;
        while (x + 16 <= cols) {
            __m128i lowEach[4], highEach[4];
            for (int k = 0; k < 4; ++k) lowEach[k] = highEach[k] = _mm_setzero_si128();
            const int end = x + std::min(cols - x, 16 * 16384) / 16 * 16;
            for (; x < end; x += 16) {
                const __m128i v[2] = {
                    _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)), flip),
                    _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 8)), flip)};
                lowest = _mm_min_epi16(lowest, _mm_min_epi16(v[0], v[1]));
                highest = _mm_max_epi16(highest, _mm_max_epi16(v[0], v[1]));
                __m128i ordinary = _mm_set1_epi16(-1);
                for (const __m128i& each : v) {
                    if (lowOpen) ordinary = _mm_and_si128(ordinary, _mm_cmpgt_epi16(each, lowEdge));
                    if (highOpen) ordinary = _mm_and_si128(ordinary, _mm_cmpgt_epi16(highEdge, each));
                    if constexpr (LowNarrow)
                        for (int k = 0; k < 4; ++k)
                            lowEach[k] = _mm_sub_epi16(lowEach[k], _mm_cmpeq_epi16(each, lowValues[k]));
                    if constexpr (HighNarrow)
                        for (int k = 0; k < 4; ++k)
                            highEach[k] = _mm_sub_epi16(highEach[k], _mm_cmpeq_epi16(each, highValues[k]));
                }
                if (_mm_movemask_epi8(ordinary) != 0xFFFF)
                    for (int i = 0; i < 16; ++i) rare(row[x + i], LowNarrow, HighNarrow);
            }
            for (size_t k = 0; LowNarrow && k < aBand.lowCounts.size(); ++k)
                addLanes(lowEach[k], aBand.lowCounts[k]);
            for (size_t k = 0; HighNarrow && k < aBand.highCounts.size(); ++k)
                addLanes(highEach[k], aBand.highCounts[k]);
        }
        widenByLanes(lowest, highest, aBand.low, aBand.high);
#endif
        for (; x < cols; ++x) one(row[x]);
    }
}

AroundLimits countAround(const blitz::Array<unsigned short, 2>& aPlane, const Bracket& aLow,
                         const Bracket& aHigh) {
    AroundLimits bands[4];
    const int used = forEachBand(aPlane.extent(0), aPlane.extent(1), [&](int aBand, int aBegin, int aEnd) {
        AroundLimits& band = bands[aBand];
        band.lowCounts.assign(aLow.last - aLow.first + 1, 0);
        band.highCounts.assign(aHigh.last - aHigh.first + 1, 0);
        if (aLow.narrow() && aHigh.narrow())
            countRowsAround<true, true>(aPlane, aBegin, aEnd, aLow, aHigh, band);
        else if (aLow.narrow())
            countRowsAround<true, false>(aPlane, aBegin, aEnd, aLow, aHigh, band);
        else if (aHigh.narrow())
            countRowsAround<false, true>(aPlane, aBegin, aEnd, aLow, aHigh, band);
        else
            countRowsAround<false, false>(aPlane, aBegin, aEnd, aLow, aHigh, band);
    });
    AroundLimits all = std::move(bands[0]);
    for (int b = 1; b < used; ++b) {
        all.low = std::min(all.low, bands[b].low);
        all.high = std::max(all.high, bands[b].high);
        all.below += bands[b].below;
        all.above += bands[b].above;
        for (size_t v = 0; v < all.lowCounts.size(); ++v) all.lowCounts[v] += bands[b].lowCounts[v];
        for (size_t v = 0; v < all.highCounts.size(); ++v) all.highCounts[v] += bands[b].highCounts[v];
    }
    return all;
}

// The first value counting from aCounts' start (or end) at which the values passed, with aBeyond
// before, exceed aLimit; -1 when that lies outside.
int limitIndex(const std::vector<uint64_t>& aCounts, uint64_t aBeyond, double aLimit, bool aFromTop) {
    double passed = double(aBeyond);
    if (passed > aLimit) return -1;
    for (size_t i = 0; i < aCounts.size(); ++i) {
        const size_t at = aFromTop ? aCounts.size() - 1 - i : i;
        passed += double(aCounts[at]);
        if (passed > aLimit) return int(at);
    }
    return -1;
}

bool countSampled(const blitz::Array<unsigned short, 2>& aPlane, Histogram& aHistogram) {
    const uint64_t total = uint64_t(aPlane.numElements());
    if (total < kSampledFrom || aPlane.stride(1) != 1 || aPlane.extent(0) < 2) return false;
    const int rows = aPlane.extent(0);
    const int step = int(std::clamp<uint64_t>(total / kSampleElements, 2, uint64_t(rows)));
    const int first = aPlane.lbound(0);
    const blitz::Array<unsigned short, 2> sample =
        aPlane(blitz::Range(first, first + (rows - 1) / step * step, step), blitz::Range::all());
    Counted counted = countValues(sample);
    Bracket low;
    Bracket high;
    if (!bracketsOf(counted, uint64_t(sample.numElements()), low, high)) return false;
    const AroundLimits around = countAround(aPlane, low, high);
    const double limit = double(total) * kAutoSaturated / 2.0;
    const int lower = limitIndex(around.lowCounts, around.below, limit, false);
    const int upper = limitIndex(around.highCounts, around.above, limit, true);
    if (lower < 0 || upper < 0) return false;  // the sample misled: count every element

    // The sample's bins as the whole plane's would be, scaled to its size.
    const int shift = around.high >= kValueBins ? kWideShift : 0;
    std::vector<uint64_t> counts(size_t(around.high >> shift) + 1, 0);
    const double scale = double(total) / double(sample.numElements());
    for (size_t bin = 0; bin < counted.counts.size(); ++bin)
        counts[std::min(counts.size() - 1, (bin << counted.shift) >> shift)] +=
            uint64_t(std::llround(double(counted.counts[bin]) * scale));
    counted.counts = std::move(counts);
    counted.shift = shift;
    counted.low = around.low;
    counted.high = around.high;
    setCounts(counted, aHistogram);
    aHistogram.total = total;
    aHistogram.sampled = true;
    const double minimum = double(low.first) + lower;
    aHistogram.autoRange = withinData(aHistogram, minimum, std::max(minimum, double(high.first) + upper));
    return true;
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
                if constexpr (std::is_same_v<T, unsigned short>) {
                    if (!countSampled(aArray, histogram)) countIntegers(aArray, histogram);
                } else if constexpr (std::is_integral_v<T> && sizeof(T) <= 2) {
                    countIntegers(aArray, histogram);
                } else {
                    countBinned(aArray, histogram);
                }
            }
        },
        aPlane);
    return histogram;
}

std::pair<double, double> saturatedRange(const Histogram& aHistogram, double aSaturated) {
    if (aHistogram.isEmpty()) return {0.0, 255.0};
    if (aHistogram.sampled && aSaturated == kAutoSaturated) return aHistogram.autoRange;
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
    return withinData(aHistogram, minimum, maximum);
}

std::pair<double, double> fullRange(const ChannelInfo& aChannel, const Histogram& aHistogram) {
    if (!aChannel.isFloat && aChannel.bits <= 16) {
        // Data past the bits the file declares would be clipped; the declaration is wrong then.
        const double declared = std::ldexp(1.0, aChannel.bits) - 1.0;
        return {0.0, !aHistogram.isEmpty() && aHistogram.maximum > declared ? 65535.0 : declared};
    }
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
