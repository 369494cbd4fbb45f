#include "Histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <type_traits>

#include "Bands.h"

namespace {

constexpr int kFloatBins = 4096;

template <typename T>
void countIntegers(const blitz::Array<T, 2>& aPlane, Histogram& aHistogram) {
    const size_t values = size_t(1) << (8 * sizeof(T));
    aHistogram.counts.assign(values, 0);
    aHistogram.low = 0.0;
    aHistogram.high = double(values);
    aHistogram.perValue = true;
    std::mutex merge;
    const int rows = aPlane.extent(0);
    const int cols = aPlane.extent(1);
    // Rows between two folds, so that no 32-bit count can overflow.
    const int rowsPerFold = std::max(1, int((uint64_t(1) << 31) / uint64_t(std::max(cols, 1))));
    forEachBand(rows, cols, [&](int, int aFirst, int aEnd) {
        // Two tables taking turns, so that runs of equal values (background) do not wait on one counter.
        std::vector<uint32_t> even(values, 0);
        std::vector<uint32_t> odd(values, 0);
        std::vector<uint64_t> own;
        const std::ptrdiff_t stride = aPlane.stride(1);
        for (int y = aFirst; y < aEnd; ++y) {
            const T* row = &aPlane(aPlane.lbound(0) + y, aPlane.lbound(1));
            int x = 0;
            if (stride == 1) {
                for (; x + 1 < cols; x += 2) {
                    ++even[row[x]];
                    ++odd[row[x + 1]];
                }
            } else {
                for (; x + 1 < cols; x += 2) {
                    ++even[row[x * stride]];
                    ++odd[row[(x + 1) * stride]];
                }
            }
            if (x < cols) ++even[row[x * stride]];
            if ((y - aFirst) % rowsPerFold == rowsPerFold - 1 && y + 1 < aEnd) {
                own.resize(values, 0);
                for (size_t v = 0; v < values; ++v) own[v] += uint64_t(even[v]) + odd[v];
                std::fill(even.begin(), even.end(), 0);
                std::fill(odd.begin(), odd.end(), 0);
            }
        }
        const std::lock_guard<std::mutex> lock(merge);
        for (size_t v = 0; v < values; ++v)
            aHistogram.counts[v] += uint64_t(even[v]) + odd[v] + (own.empty() ? 0 : own[v]);
    });
    for (size_t v = 0; v < values; ++v) aHistogram.total += aHistogram.counts[v];
    size_t first = 0;
    while (first < values && aHistogram.counts[first] == 0) ++first;
    size_t last = values;
    while (last > first && aHistogram.counts[last - 1] == 0) --last;
    aHistogram.minimum = first < values ? double(first) : 0.0;
    aHistogram.maximum = last > first ? double(last - 1) : 0.0;
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
    const size_t bins = aHistogram.counts.size();
    size_t first = 0;
    double below = 0.0;
    while (first + 1 < bins && below + double(aHistogram.counts[first]) <= limit)
        below += double(aHistogram.counts[first++]);
    size_t last = bins - 1;
    double above = 0.0;
    while (last > first && above + double(aHistogram.counts[last]) <= limit)
        above += double(aHistogram.counts[last--]);
    const double width = aHistogram.binWidth();
    double minimum = aHistogram.low + double(first) * width;
    // Integer bins end on their own value; others on the bin's upper edge.
    double maximum = aHistogram.low + double(last) * width + (aHistogram.perValue ? 0.0 : width);
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
