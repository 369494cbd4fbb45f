#include "OrthoStack.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "BlitzFileIOException.h"
#include "DorudURIVuruda.h"

namespace {

const char* const kClassName = "OrthoStack";

// Planes read before they are spread into the stack: each element then lands in a run of that many.
constexpr int kPlanesAtOnce = 8;
constexpr size_t kChunk = size_t(16) << 20;

// A y-z slice takes a few elements from each of a row's pages; with huge pages those are a few dozen
// instead of one per row, and the slice is cut without a TLB miss per row. Asked for before the memory is
// first touched; where the kernel does not give them nothing changes.
void askForHugePages(void* aData, size_t aBytes) {
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    if (aBytes < 2 * kHuge) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(aData) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(aData) + aBytes) & ~(kHuge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

template <typename T>
AnyStack readTyped(DorudURIVuruda& aReader, int aTimepoint, int aChannel, const StackWindow& aWindow,
                   const std::function<bool(int, int)>& aProgress) {
    const int planes = aReader.getSizeZ();
    if (planes < 1) KORVANE_THROW(kClassName, "The stack has no z planes.");
    std::vector<blitz::Array<T, 2>> batch(size_t(std::min(planes, kPlanesAtOnce)));
    blitz::Array<T, 3> stack;
    // Steps: the stack's memory in chunks, then its planes.
    int chunks = 0;
    int steps = planes;
    if (aProgress && !aProgress(0, steps)) return AnyStack();
    for (int first = 0; first < planes; first += kPlanesAtOnce) {
        const int count = std::min(kPlanesAtOnce, planes - first);
        for (int k = 0; k < count; ++k) {
            aReader.readArray(batch[size_t(k)], aTimepoint, aChannel, first + k, 1, aWindow.yStart,
                              aWindow.yWidth, aWindow.xStart, aWindow.xWidth);
            if (aProgress && !aProgress(chunks + first + k + 1, steps)) return AnyStack();
        }
        const int rows = batch[0].extent(0);
        const int cols = batch[0].extent(1);
        if (first == 0) {
            try {
                stack.resize(rows, cols, planes);
            } catch (const std::bad_alloc&) {
                KORVANE_THROW(kClassName, "Not enough memory for a stack of "
                                              << cols << " x " << rows << " x " << planes << " elements.");
            }
            const size_t bytes = size_t(stack.numElements()) * sizeof(T);
            askForHugePages(stack.dataFirst(), bytes);
            // The first planes touch every page of the stack; taking the pages first, chunk by chunk,
            // lets the progress move and a cancel stop while the kernel hands them out.
            chunks = int((bytes + kChunk - 1) / kChunk);
            steps = chunks + planes;
            char* memory = reinterpret_cast<char*>(stack.dataFirst());
            for (int c = 0; c < chunks; ++c) {
                std::memset(memory + size_t(c) * kChunk, 0, std::min(kChunk, bytes - size_t(c) * kChunk));
                if (aProgress && !aProgress(c + 1, steps)) return AnyStack();
            }
        }
        T* const base = stack.dataFirst();
        for (int y = 0; y < rows; ++y) {
            for (int k = 0; k < count; ++k) {
                const T* source = batch[size_t(k)].dataFirst() + size_t(y) * size_t(cols);
                T* target = base + (size_t(y) * size_t(cols)) * size_t(planes) + size_t(first + k);
                for (int x = 0; x < cols; ++x) target[size_t(x) * size_t(planes)] = source[x];
            }
        }
    }
    return stack;
}

template <typename Result, typename Visit>
Result visitStack(const AnyStack& aStack, Result aNone, Visit aVisit) {
    return std::visit(
        [&](const auto& aArray) -> Result {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>)
                return aNone;
            else
                return aVisit(aArray);
        },
        aStack);
}

}  // namespace

StackWindow stackWindowOf(const PlaneRequest& aRequest) {
    if (!aRequest.cropped) return StackWindow();
    return StackWindow{aRequest.xStart, aRequest.xWidth, aRequest.yStart, aRequest.yWidth};
}

uint64_t stackBytes(uint64_t aCount, ElementType aType) {
    return aCount * (aType == ElementType::UInt8 ? 1u : aType == ElementType::UInt16 ? 2u : 4u);
}

uint64_t stackMemoryLimit() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return uint64_t(1) << 30;  // a machine that does not say
    return uint64_t(pages) * uint64_t(pageSize) / 4;
}

AnyStack readStack(DorudURIVuruda& aReader, int aTimepoint, int aChannel, ElementType aType,
                   const StackWindow& aWindow, const std::function<bool(int, int)>& aProgress) {
    switch (aType) {
        case ElementType::UInt8:
            return readTyped<unsigned char>(aReader, aTimepoint, aChannel, aWindow, aProgress);
        case ElementType::UInt16:
            return readTyped<unsigned short>(aReader, aTimepoint, aChannel, aWindow, aProgress);
        case ElementType::UInt32:
            return readTyped<unsigned int>(aReader, aTimepoint, aChannel, aWindow, aProgress);
        case ElementType::Float:
            return readTyped<float>(aReader, aTimepoint, aChannel, aWindow, aProgress);
    }
    return AnyStack();
}

int stackRows(const AnyStack& aStack) {
    return visitStack(aStack, 0, [](const auto& aArray) { return aArray.extent(0); });
}

int stackColumns(const AnyStack& aStack) {
    return visitStack(aStack, 0, [](const auto& aArray) { return aArray.extent(1); });
}

int stackPlanes(const AnyStack& aStack) {
    return visitStack(aStack, 0, [](const auto& aArray) { return aArray.extent(2); });
}

AnyPlane xzSlice(const AnyStack& aStack, int aY) {
    return visitStack(aStack, AnyPlane(), [&](const auto& aArray) -> AnyPlane {
        auto slice = aArray(aY, blitz::Range::all(), blitz::Range::all());  // columns by planes
        slice.transposeSelf(blitz::secondDim, blitz::firstDim);
        return slice;
    });
}

AnyPlane yzSlice(const AnyStack& aStack, int aX) {
    return visitStack(aStack, AnyPlane(), [&](const auto& aArray) -> AnyPlane {
        return aArray(blitz::Range::all(), aX, blitz::Range::all());
    });
}
