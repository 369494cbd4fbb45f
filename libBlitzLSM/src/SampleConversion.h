#ifndef KORVANE_SAMPLECONVERSION_H
#define KORVANE_SAMPLECONVERSION_H

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

namespace korvane {
namespace lsm {

// One sample of type Source as a Target: the plain C++ conversion (integers wrap to the target's
// width, floating point to integer truncates toward zero), except that floating-point values an
// integer target cannot hold saturate and NaN becomes 0, where the plain conversion is undefined.
template <typename Source, typename Target>
inline Target convertSample(Source aValue) {
    if constexpr (std::is_floating_point<Source>::value && std::is_integral<Target>::value) {
        if (std::isnan(aValue)) return Target(0);
        const double truncated = std::trunc(static_cast<double>(aValue));
        // Both bounds are powers of two (or 0), so they are exact in double.
        const double lowest = static_cast<double>(std::numeric_limits<Target>::lowest());
        const double beyondMax = std::ldexp(1.0, std::numeric_limits<Target>::digits);
        if (truncated < lowest) return std::numeric_limits<Target>::lowest();
        if (truncated >= beyondMax) return std::numeric_limits<Target>::max();
        return static_cast<Target>(truncated);
    } else {
        return static_cast<Target>(aValue);
    }
}

// Converts aCount samples stored back to back (host byte order, any alignment) into aTarget;
// samples of the target's own type are copied as bytes.
template <typename Source, typename Target>
inline void convertRow(const unsigned char* aSource, Target* aTarget, std::size_t aCount) {
    if constexpr (std::is_same<Source, Target>::value) {
        std::memcpy(aTarget, aSource, aCount * sizeof(Target));
    } else {
        for (std::size_t i = 0; i < aCount; ++i) {
            Source value;
            std::memcpy(&value, aSource + i * sizeof(Source), sizeof(Source));
            aTarget[i] = convertSample<Source, Target>(value);
        }
    }
}

// Converts aCount samples, aStride bytes apart, into aTarget; samples back to back go through
// convertRow.
template <typename Source, typename Target>
inline void convertSamples(const unsigned char* aSource, std::size_t aStride, Target* aTarget,
                           std::size_t aCount) {
    if (aStride == sizeof(Source)) return convertRow<Source, Target>(aSource, aTarget, aCount);
    for (std::size_t i = 0; i < aCount; ++i) {
        Source value;
        std::memcpy(&value, aSource + i * aStride, sizeof(Source));
        aTarget[i] = convertSample<Source, Target>(value);
    }
}

}  // namespace lsm
}  // namespace korvane

#endif
