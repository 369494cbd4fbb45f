#include "ZAccumulator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace korvane::analysis {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A double beyond float's range has no float to convert to (undefined behaviour), so it saturates to
// infinity as float arithmetic would have.
float toFloat(double aValue) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (aValue > kLargest) return std::numeric_limits<float>::infinity();
    if (aValue < -kLargest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(aValue);
}

// Sample standard deviation from the number of samples and the sum of their squared deviations.
float standardDeviation(uint64_t aCount, double aSquaredDeviations) {
    if (aCount == 0) return kNaN;
    if (aCount == 1) return 0.0f;
    return toFloat(std::sqrt(aSquaredDeviations / double(aCount - 1)));  // NaN from infinities stays
}

template <typename T>
constexpr bool kFloat = std::is_floating_point<T>::value;

}  // namespace

template <typename T>
ZAccumulator<T>::ZAccumulator(ProjectionMethod aMethod, int aRows, int aColumns)
    : mMethod(aMethod), mPixels(size_t(aRows) * size_t(aColumns)) {
    switch (mMethod) {
        case ProjectionMethod::Maximum:
        case ProjectionMethod::Minimum:
            mExtreme.resize(aRows, aColumns);
            return;
        case ProjectionMethod::Sum:
            if constexpr (kFloat<T>) {
                mFloatSum.assign(mPixels, 0.0);
                mCount.assign(mPixels, 0);
            } else {
                mSum.resize(aRows, aColumns);
                mSum = 0u;
            }
            break;
        case ProjectionMethod::Mean:
            if constexpr (kFloat<T>) {
                mFloatSum.assign(mPixels, 0.0);
                mCount.assign(mPixels, 0);
            } else {
                mTotal.assign(mPixels, 0);
            }
            break;
        case ProjectionMethod::StandardDeviation:
            if constexpr (kFloat<T>) {
                mMean.assign(mPixels, 0.0);
                mDeviation.assign(mPixels, 0.0);
                mCount.assign(mPixels, 0);
            } else {
                mTotal.assign(mPixels, 0);
                mSquares.assign(mPixels, 0);
            }
            break;
    }
    if (kFloat<T> || mMethod != ProjectionMethod::Sum) mFloats.resize(aRows, aColumns);
}

template <typename T>
void ZAccumulator<T>::addPixels(const T* aSamples, size_t aFirst, size_t aCount, bool aFirstPlane) {
    switch (mMethod) {
        case ProjectionMethod::Maximum:
        case ProjectionMethod::Minimum:
            addExtreme(aSamples, aFirst, aCount, aFirstPlane);
            break;
        case ProjectionMethod::Sum:
        case ProjectionMethod::Mean:
            addSum(aSamples, aFirst, aCount);
            break;
        case ProjectionMethod::StandardDeviation:
            addMoments(aSamples, aFirst, aCount);
            break;
    }
}

template <typename T>
void ZAccumulator<T>::addExtreme(const T* aSamples, size_t aFirst, size_t aCount, bool aFirstPlane) {
    T* extreme = mExtreme.dataFirst() + aFirst;
    if (aFirstPlane) {
        std::copy(aSamples, aSamples + aCount, extreme);
        return;
    }
    const bool maximum = mMethod == ProjectionMethod::Maximum;
    if constexpr (kFloat<T>) {
        // A NaN sample never wins; a NaN kept so far gives way to any sample.
        for (size_t i = 0; i < aCount; ++i) {
            const T v = aSamples[i];
            if ((maximum ? v > extreme[i] : v < extreme[i]) || std::isnan(extreme[i])) extreme[i] = v;
        }
    } else if (maximum) {
        for (size_t i = 0; i < aCount; ++i) extreme[i] = std::max(extreme[i], aSamples[i]);
    } else {
        for (size_t i = 0; i < aCount; ++i) extreme[i] = std::min(extreme[i], aSamples[i]);
    }
}

template <typename T>
void ZAccumulator<T>::addSum(const T* aSamples, size_t aFirst, size_t aCount) {
    if constexpr (kFloat<T>) {
        double* sum = mFloatSum.data() + aFirst;
        uint32_t* count = mCount.data() + aFirst;
        for (size_t i = 0; i < aCount; ++i) {
            if (std::isnan(aSamples[i])) continue;
            sum[i] += aSamples[i];
            ++count[i];
        }
    } else if (mMethod == ProjectionMethod::Sum) {
        // Saturating: a sum that does not fit 32 bits stays at the largest value instead of wrapping.
        unsigned* sum = mSum.dataFirst() + aFirst;
        for (size_t i = 0; i < aCount; ++i) {
            const unsigned total = sum[i] + aSamples[i];
            sum[i] = total < sum[i] ? std::numeric_limits<unsigned>::max() : total;
        }
    } else {
        uint64_t* total = mTotal.data() + aFirst;
        for (size_t i = 0; i < aCount; ++i) total[i] += aSamples[i];
    }
}

template <typename T>
void ZAccumulator<T>::addMoments(const T* aSamples, size_t aFirst, size_t aCount) {
    if constexpr (kFloat<T>) {
        double* mean = mMean.data() + aFirst;
        double* deviation = mDeviation.data() + aFirst;
        uint32_t* count = mCount.data() + aFirst;
        // Welford's update: no cancellation between large sums on long stacks of similar values.
        for (size_t i = 0; i < aCount; ++i) {
            const double v = aSamples[i];
            if (std::isnan(v)) continue;
            const uint32_t n = ++count[i];
            const double delta = v - mean[i];
            mean[i] += delta / n;
            deviation[i] += delta * (v - mean[i]);
        }
    } else {
        uint64_t* total = mTotal.data() + aFirst;
        uint64_t* squares = mSquares.data() + aFirst;
        for (size_t i = 0; i < aCount; ++i) {
            const uint64_t v = aSamples[i];
            total[i] += v;
            squares[i] += v * v;
        }
    }
}

template <typename T>
ProjectedPlane ZAccumulator<T>::result() {
    const size_t pixels = mPixels;
    if (mMethod == ProjectionMethod::Maximum || mMethod == ProjectionMethod::Minimum)
        return ProjectedPlane(mExtreme);
    if constexpr (!kFloat<T>) {
        if (mMethod == ProjectionMethod::Sum) return ProjectedPlane(mSum);
    }

    float* out = mFloats.dataFirst();
    for (size_t i = 0; i < pixels; ++i) {
        if constexpr (kFloat<T>) {
            const uint32_t n = mCount[i];
            switch (mMethod) {
                case ProjectionMethod::Sum:
                    out[i] = n == 0 ? kNaN : toFloat(mFloatSum[i]);
                    break;
                case ProjectionMethod::Mean:
                    out[i] = n == 0 ? kNaN : toFloat(mFloatSum[i] / n);
                    break;
                default:
                    out[i] = standardDeviation(n, mDeviation[i]);
                    break;
            }
        } else if (mMethod == ProjectionMethod::Mean) {
            out[i] = float(double(mTotal[i]) / double(mPlanes));
        } else {
            // n * sum of squares - sum^2 is exact in 128 bits for any stack a file can hold.
            using Wide = unsigned __int128;
            const Wide spread = Wide(mPlanes) * mSquares[i] - Wide(mTotal[i]) * mTotal[i];
            out[i] = standardDeviation(mPlanes, double(spread) / double(mPlanes));
        }
    }
    return ProjectedPlane(mFloats);
}

template class ZAccumulator<unsigned char>;
template class ZAccumulator<unsigned short>;
template class ZAccumulator<float>;

}  // namespace korvane::analysis
