#ifndef KORVANE_ANYPLANE_H
#define KORVANE_ANYPLANE_H

#include <QSize>
#include <cstddef>
#include <variant>

#include "BlitzArray.h"

// A plane in any of the element types the viewer loads (rows = first index), or nothing. Copies share
// the elements.
using AnyPlane = std::variant<std::monostate, blitz::Array<unsigned char, 2>, blitz::Array<unsigned short, 2>,
                              blitz::Array<unsigned int, 2>, blitz::Array<float, 2>>;

inline bool isEmptyPlane(const AnyPlane& aPlane) { return std::holds_alternative<std::monostate>(aPlane); }

// Makes aTarget share aSource's elements. Plain assignment between planes of one type would copy the
// elements into the target's own storage instead (Blitz++ arrays assign by value).
inline void sharePlane(AnyPlane& aTarget, const AnyPlane& aSource) {
    aTarget = std::monostate();
    aTarget = aSource;
}

// Columns by rows; empty for nothing.
inline QSize planeSize(const AnyPlane& aPlane) {
    return std::visit(
        [](const auto& aArray) -> QSize {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>) {
                return QSize(0, 0);
            } else {
                return QSize(aArray.extent(1), aArray.extent(0));
            }
        },
        aPlane);
}

// The element at column aX, row aY (counted from the plane's first element) as a double; the caller
// keeps inside planeSize().
inline double planeValue(const AnyPlane& aPlane, int aX, int aY) {
    return std::visit(
        [&](const auto& aArray) -> double {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>) {
                return 0.0;
            } else {
                return static_cast<double>(aArray(aArray.lbound(0) + aY, aArray.lbound(1) + aX));
            }
        },
        aPlane);
}

// Address of the first element, which tells planes apart without comparing them.
inline const void* planeData(const AnyPlane& aPlane) {
    return std::visit(
        [](const auto& aArray) -> const void* {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>) {
                return nullptr;
            } else {
                return aArray.numElements() > 0 ? static_cast<const void*>(aArray.dataFirst()) : nullptr;
            }
        },
        aPlane);
}

#endif
