#ifndef KORVANE_ORTHOSTACK_H
#define KORVANE_ORTHOSTACK_H

#include <cstdint>
#include <functional>
#include <variant>

#include "AnyPlane.h"
#include "BlitzArray.h"
#include "PlaneRequest.h"

class DorudURIVuruda;

// The planes of one channel at one timepoint, kept for cutting the orthogonal views. Stored with z
// innermost (extents rows, columns, planes), so that an x-z slice (one row) and a y-z slice (one column)
// both read runs of neighbouring elements: a slice redraws at the speed of its picture, wherever it lies.
using AnyStack = std::variant<std::monostate, blitz::Array<unsigned char, 3>, blitz::Array<unsigned short, 3>,
                              blitz::Array<unsigned int, 3>, blitz::Array<float, 3>>;

// The columns and rows of the x-y picture that a stack covers, as readArray takes them (widths of 0 run
// to the end).
struct StackWindow {
    int xStart = 0;
    int xWidth = 0;
    int yStart = 0;
    int yWidth = 0;

    bool operator==(const StackWindow& aOther) const {
        return xStart == aOther.xStart && xWidth == aOther.xWidth && yStart == aOther.yStart &&
               yWidth == aOther.yWidth;
    }
};

// The window a shown plane covers.
StackWindow stackWindowOf(const PlaneRequest& aRequest);

inline bool isEmptyStack(const AnyStack& aStack) { return std::holds_alternative<std::monostate>(aStack); }

// Bytes of a stack of aCount elements of aType.
uint64_t stackBytes(uint64_t aCount, ElementType aType);

// What the orthogonal views may keep of the stack: a quarter of the machine's physical memory, which
// leaves it usable beside them.
uint64_t stackMemoryLimit();

// Reads every z plane of channel aChannel at timepoint aTimepoint through aWindow, converted to aType as
// the x-y view loads it. aProgress gets the planes read of the total and stops the reading by returning
// false (which gives an empty stack). Throws BlitzFileIOException, also when the memory is not there.
AnyStack readStack(DorudURIVuruda& aReader, int aTimepoint, int aChannel, ElementType aType,
                   const StackWindow& aWindow, const std::function<bool(int, int)>& aProgress);

// Columns, rows and planes of a stack; zeros for none.
int stackColumns(const AnyStack& aStack);
int stackRows(const AnyStack& aStack);
int stackPlanes(const AnyStack& aStack);

// Row aY of the stack as a plane of z rows by x columns, and column aX as y rows by z columns. Both share
// the stack's elements (nothing is copied) and keep it alive; the caller keeps inside the stack.
AnyPlane xzSlice(const AnyStack& aStack, int aY);
AnyPlane yzSlice(const AnyStack& aStack, int aX);

#endif
