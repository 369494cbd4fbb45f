#include "PlaybackClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

int PlaybackClock::msUntilNextFrame(int64_t aNowMs) const {
    const double nextMs = double(framesSince(aNowMs) + 1) * 1000.0 / mFramesPerSecond;
    const double wait = std::ceil(nextMs - 1e-6) - double(std::max<int64_t>(0, aNowMs - mStartMs));
    return int(std::clamp(wait, 1.0, double(std::numeric_limits<int>::max())));
}
