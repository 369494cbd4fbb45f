#include "LevelStack.h"

#include <limits>
#include <new>
#include <system_error>
#include <vector>

#include "PlaneDisplay.h"
#include "Renderer.h"
#include "ViewState.h"

namespace {

std::optional<LevelMapping> mappingFor(const ViewState& aState, bool aSmall, const AnyPlane& aXyPlane) {
    if (!aSmall || aState.composite()) return std::nullopt;
    LevelMapping mapping;
    mapping.automatic = aState.automaticContrast();
    if (mapping.automatic) {
        const GreyMapping grey = std::visit(
            [](const auto& aArray) -> GreyMapping {
                if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>)
                    return GreyMapping();
                else
                    return greyMappingFor(aArray);
            },
            aXyPlane);
        mapping.offset = grey.offset;
        mapping.scale = grey.scale;
    } else {
        const ChannelDisplay display = aState.display(aState.shown().index.channel);
        mapping.minimum = display.minimum;
        mapping.maximum = display.maximum;
    }
    return mapping;
}

// Where a stack's elements are and how many, to know levels built from it again.
struct Identity {
    size_t alternative = 0;
    const void* data = nullptr;
    int rows = 0;
    int columns = 0;
    int planes = 0;
    bool operator==(const Identity& aOther) const {
        return alternative == aOther.alternative && data == aOther.data && rows == aOther.rows &&
               columns == aOther.columns && planes == aOther.planes;
    }
};

Identity identityOf(const AnyStack& aStack) {
    const void* data = std::visit(
        [](const auto& aArray) -> const void* {
            if constexpr (std::is_same_v<std::decay_t<decltype(aArray)>, std::monostate>)
                return nullptr;
            else
                return aArray.data();
        },
        aStack);
    return {aStack.index(), data, stackRows(aStack), stackColumns(aStack), stackPlanes(aStack)};
}

}  // namespace

int LevelMapping::level(double aValue) const {
    return automatic ? greyLevel(aValue, GreyMapping{offset, scale}) : displayLevel(aValue, minimum, maximum);
}

bool LevelMapping::operator==(const LevelMapping& aOther) const {
    return automatic == aOther.automatic && minimum == aOther.minimum && maximum == aOther.maximum &&
           offset == aOther.offset && scale == aOther.scale;
}

std::optional<LevelMapping> levelMappingFor(const ViewState& aState, const AnyPlane& aSlice,
                                            const AnyPlane& aXyPlane) {
    const bool small = std::holds_alternative<blitz::Array<unsigned char, 2>>(aSlice) ||
                       std::holds_alternative<blitz::Array<unsigned short, 2>>(aSlice);
    return mappingFor(aState, small, aXyPlane);
}

std::optional<LevelMapping> levelMappingFor(const ViewState& aState, const AnyStack& aStack,
                                            const AnyPlane& aXyPlane) {
    const bool small = std::holds_alternative<blitz::Array<unsigned char, 3>>(aStack) ||
                       std::holds_alternative<blitz::Array<unsigned short, 3>>(aStack);
    return mappingFor(aState, small, aXyPlane);
}

template <typename T>
bool LevelStack::fill(const blitz::Array<T, 3>& aStack, const std::atomic<bool>& aStop) {
    mRows = aStack.extent(0);
    mColumns = aStack.extent(1);
    mPlanes = aStack.extent(2);
    const size_t count = size_t(mRows) * size_t(mColumns) * size_t(mPlanes);
    std::vector<unsigned char> levelOf(size_t(std::numeric_limits<T>::max()) + 1);
    for (size_t v = 0; v < levelOf.size(); ++v)
        levelOf[v] = static_cast<unsigned char>(mMapping.level(double(v)));
    if (!mXz || !mYz || count != mCount) {  // levels built before for another range are drawn over
        mXz.reset();
        mYz.reset();
        mXz.reset(new (std::nothrow) unsigned char[count]);
        mYz.reset(new (std::nothrow) unsigned char[count]);
        mCount = mXz && mYz ? count : 0;
        if (mCount == 0) return false;
    }
    const std::ptrdiff_t rowStride = aStack.stride(0);
    const std::ptrdiff_t columnStride = aStack.stride(1);
    const std::ptrdiff_t planeStride = aStack.stride(2);
    const T* first = &aStack(aStack.lbound(0), aStack.lbound(1), aStack.lbound(2));
    const size_t slice = size_t(mColumns) * size_t(mPlanes);
    for (int y = 0; y < mRows; ++y) {
        if (aStop) return false;
        unsigned char* xz = mXz.get() + size_t(y) * slice;
        for (int x = 0; x < mColumns; ++x) {
            const T* element = first + y * rowStride + x * columnStride;
            unsigned char* yz = mYz.get() + (size_t(x) * size_t(mRows) + size_t(y)) * size_t(mPlanes);
            for (int z = 0; z < mPlanes; ++z) {
                const unsigned char level = levelOf[element[z * planeStride]];
                yz[z] = level;
                xz[size_t(z) * size_t(mColumns) + size_t(x)] = level;
            }
        }
    }
    return true;
}

bool LevelStack::build(const AnyStack& aStack, const LevelMapping& aMapping, const std::atomic<bool>& aStop) {
    mMapping = aMapping;
    if (const auto* eight = std::get_if<blitz::Array<unsigned char, 3>>(&aStack)) return fill(*eight, aStop);
    if (const auto* sixteen = std::get_if<blitz::Array<unsigned short, 3>>(&aStack))
        return fill(*sixteen, aStop);
    return false;
}

bool LevelStackBuilder::isOf(const AnyStack& aStack, const LevelMapping& aMapping) const {
    return !isEmptyStack(mSource) && identityOf(mSource) == identityOf(aStack) && mMapping == aMapping;
}

const LevelStack* LevelStackBuilder::levelsFor(const AnyStack& aStack, const LevelMapping& aMapping,
                                               const std::function<uint64_t()>& aBytesAllowed) {
    if (isOf(aStack, aMapping)) {
        if (mThread.joinable() && mDone) {
            mThread.join();
            if (!mBuilt) mLevels.reset();  // not tried again for this stack and mapping
        }
        return mThread.joinable() ? nullptr : mLevels.get();
    }
    if (mLevels && identityOf(mSource) == identityOf(aStack)) {
        // A new range for the same stack is built over the old levels: giving a large stack's levels back
        // and taking them again would hold up the window at every step of a range being dragged.
        stop();
    } else {
        clear();  // the old levels' memory goes back before new levels take any
        const uint64_t elements =
            uint64_t(stackRows(aStack)) * uint64_t(stackColumns(aStack)) * uint64_t(stackPlanes(aStack));
        if (elements == 0 || elements > aBytesAllowed() / 2) return nullptr;  // two layouts, a byte each
        mSource = aStack;
        mLevels = std::make_unique<LevelStack>();
    }
    mMapping = aMapping;
    mStop = false;
    mDone = false;
    mBuilt = false;
    try {
        // The thread reads mSource and mMapping, which stay as they are until it has been joined.
        mThread = std::thread([this, levels = mLevels.get()] {
            mBuilt = levels->build(mSource, mMapping, mStop);
            mDone = true;
        });
    } catch (const std::system_error&) {
        mLevels.reset();  // drawn from the stack, as without the memory
    }
    return nullptr;
}

void LevelStackBuilder::stop() {
    if (mThread.joinable()) {
        mStop = true;
        mThread.join();
    }
}

void LevelStackBuilder::clear() {
    stop();
    mLevels.reset();
    mSource = AnyStack();
}
