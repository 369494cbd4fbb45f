#ifndef KORVANE_HISTOGRAM_H
#define KORVANE_HISTOGRAM_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "AnyPlane.h"
#include "ChannelDisplay.h"

// Counts of a plane's values in equal bins from low to high. Planes of 8- and 16-bit elements count their
// integers from 0, one bin per value up to 4096 and bins of 16 values when larger values occur; others in
// bins over their finite range (NaN and infinities are not counted). The total, the smallest and largest
// value and the Auto range are always those of every element.
struct Histogram {
    // The counts of each value in one bin.
    struct Detail {
        size_t bin = 0;
        std::vector<uint64_t> counts;
    };

    double low = 0.0;
    double high = 0.0;  // the end of the last bin
    std::vector<uint64_t> counts;
    uint64_t total = 0;
    double minimum = 0.0;  // smallest and largest value counted
    double maximum = 0.0;
    bool perValue = false;  // integer values, each bin a whole number of them
    // Per-value counts of the bins wider than one value that hold the limits of the Auto range, so
    // that it comes out as exactly as from a count of every value.
    std::vector<Detail> details;
    // Planes of millions of 16-bit elements: the counts come from a sample of rows, scaled to the whole
    // plane, and the Auto range was found from every element as it is.
    bool sampled = false;
    std::pair<double, double> autoRange;

    bool isEmpty() const { return total == 0; }
    double binWidth() const { return counts.empty() ? 1.0 : (high - low) / double(counts.size()); }
};

Histogram histogramOf(const AnyPlane& aPlane);

// The counts of aHistogram over aColumns pixel columns spanning aAxisLow..aAxisHigh, each bin spread over
// the columns its values cover in proportion (an integer covering one value's width); the axis's last
// value counts in the last column.
std::vector<double> histogramColumns(const Histogram& aHistogram, double aAxisLow, double aAxisHigh,
                                     int aColumns);

// The share of values the Auto range leaves outside.
constexpr double kAutoSaturated = 0.0035;

// The display range that leaves aSaturated of the counted values outside, half below and half above,
// as brightness-and-contrast tools do; the data's own range when that would be empty. Exact for integers
// at kAutoSaturated; at other shares a limit in a bin without details falls on the bin's edge.
std::pair<double, double> saturatedRange(const Histogram& aHistogram, double aSaturated = kAutoSaturated);

// The range of the channel's type: 0..255, 0..4095 for 12-bit (0..65535 when the data go past it),
// 0..65535; the data's range for floats and 32-bit integers, whose type range shows nothing.
std::pair<double, double> fullRange(const ChannelInfo& aChannel, const Histogram& aHistogram);

#endif
