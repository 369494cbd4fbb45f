#include "PlaybackClock.h"

#include <algorithm>
#include <cmath>

void PlaybackClock::start(int aFrame, int aCount, double aFramesPerSecond, bool aLoop, int64_t aNowMs) {
    mCount = std::max(1, aCount);
    mFirst = std::clamp(aFrame, 0, mCount - 1);
    mFramesPerSecond = aFramesPerSecond > 0.0 && std::isfinite(aFramesPerSecond) ? aFramesPerSecond : 1.0;
    mLoop = aLoop;
    mStartMs = aNowMs;
}

int64_t PlaybackClock::framesSince(int64_t aNowMs) const {
    if (aNowMs <= mStartMs) return 0;
    // A hair above the exact product, so that a tick landing on a frame's time shows that frame.
    return int64_t(std::floor(double(aNowMs - mStartMs) * mFramesPerSecond / 1000.0 + 1e-9));
}

int PlaybackClock::frameAt(int64_t aNowMs) const {
    const int64_t frame = mFirst + framesSince(aNowMs);
    if (mLoop) return int(frame % mCount);
    return int(std::min<int64_t>(frame, mCount - 1));
}

bool PlaybackClock::finishedAt(int64_t aNowMs) const {
    return !mLoop && mFirst + framesSince(aNowMs) >= mCount - 1;
}

int PlaybackClock::intervalMs() const { return std::max(1, int(std::lround(1000.0 / mFramesPerSecond))); }
