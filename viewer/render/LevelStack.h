#ifndef KORVANE_LEVELSTACK_H
#define KORVANE_LEVELSTACK_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "AnyPlane.h"
#include "OrthoStack.h"

class ViewState;

// How a shown channel's values become display levels (0..255) before its colours: the channel's range,
// or automatic contrast with the x-y plane's mapping.
struct LevelMapping {
    bool automatic = false;
    double minimum = 0.0;
    double maximum = 0.0;
    float offset = 0.0f;
    float scale = 0.0f;

    int level(double aValue) const;
    bool operator==(const LevelMapping& aOther) const;
};

// The mapping the side views draw the shown channel with, when it draws alone and its elements have at
// most 16 bits (aSlice or the stack tells which); none otherwise. aXyPlane: the x-y view's plane of the
// channel, whose mapping automatic contrast takes so that the three views agree.
std::optional<LevelMapping> levelMappingFor(const ViewState& aState, const AnyPlane& aSlice,
                                            const AnyPlane& aXyPlane);
std::optional<LevelMapping> levelMappingFor(const ViewState& aState, const AnyStack& aStack,
                                            const AnyPlane& aXyPlane);

// The display levels of a kept 8- or 16-bit stack, a byte an element, laid out twice in the order the side
// pictures take them: each row's x-z slice as planes of columns, each column's y-z slice as rows of planes.
// A move of the crossing then reads two short runs and computes no mapping.
class LevelStack {
  public:
    // Fills the levels of aStack under aMapping; false when aStop was raised (checked between rows), the
    // stack has other elements or the memory is not there.
    bool build(const AnyStack& aStack, const LevelMapping& aMapping, const std::atomic<bool>& aStop);

    int rows() const { return mRows; }
    int columns() const { return mColumns; }
    int planes() const { return mPlanes; }
    const LevelMapping& mapping() const { return mMapping; }
    // Row aY's slice: planes() lines of columns() levels.
    const unsigned char* xzLevels(int aY) const {
        return mXz.get() + size_t(aY) * size_t(mPlanes) * size_t(mColumns);
    }
    // Column aX's slice: rows() lines of planes() levels.
    const unsigned char* yzLevels(int aX) const {
        return mYz.get() + size_t(aX) * size_t(mRows) * size_t(mPlanes);
    }

  private:
    template <typename T>
    bool fill(const blitz::Array<T, 3>& aStack, const std::atomic<bool>& aStop);

    int mRows = 0;
    int mColumns = 0;
    int mPlanes = 0;
    size_t mCount = 0;  // elements the buffers hold
    LevelMapping mMapping;
    // Not cleared when allocated: a large stack's levels would take a long, unstoppable while for it.
    std::unique_ptr<unsigned char[]> mXz;
    std::unique_ptr<unsigned char[]> mYz;
};

// Builds a stack's levels on a thread of its own while the side views draw from the stack itself, and hands
// them over once they are complete. The stack it builds from is kept here until the thread has ended, and
// the thread touches nothing else the window holds.
class LevelStackBuilder {
  public:
    LevelStackBuilder() = default;
    LevelStackBuilder(const LevelStackBuilder&) = delete;
    LevelStackBuilder& operator=(const LevelStackBuilder&) = delete;
    ~LevelStackBuilder() { clear(); }

    // The levels of aStack under aMapping once built; until then null, and building them is started when
    // they take at most what aBytesAllowed gives (two bytes an element; asked only then). Levels of
    // anything else are let go.
    const LevelStack* levelsFor(const AnyStack& aStack, const LevelMapping& aMapping,
                                const std::function<uint64_t()>& aBytesAllowed);
    // Stops any building and lets go of the levels and the stack.
    void clear();

  private:
    bool isOf(const AnyStack& aStack, const LevelMapping& aMapping) const;
    // Stops any building and waits for its thread (at most a row of the stack).
    void stop();

    AnyStack mSource;  // what the levels are (being) built from
    LevelMapping mMapping;
    std::unique_ptr<LevelStack> mLevels;
    bool mReady = false;
    std::thread mThread;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mDone{false};
    std::atomic<bool> mBuilt{false};
};

#endif
