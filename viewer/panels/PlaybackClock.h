#ifndef KORVANE_PLAYBACKCLOCK_H
#define KORVANE_PLAYBACKCLOCK_H

#include <cstdint>

// Which frame playback shows when. Frames keep to the clock: when showing one takes longer than its
// time, the frames whose time has passed are skipped instead of shown late, so playback never falls
// behind and never asks for more than one plane at a time.
class PlaybackClock {
  public:
    // Playback of aCount frames from aFrame on, at aFramesPerSecond, starting at aNowMs (any steady
    // clock in milliseconds).
    void start(int aFrame, int aCount, double aFramesPerSecond, bool aLoop, int64_t aNowMs);

    // The frame due at aNowMs. Past the last frame it starts again at 0 when looping, otherwise it stays
    // at the last one.
    int frameAt(int64_t aNowMs) const;
    // Whether playback without looping has reached its last frame by aNowMs.
    bool finishedAt(int64_t aNowMs) const;
    // Milliseconds from aNowMs until the next frame is due (at least 1). Waiting for exactly that, rather
    // than a frame's interval after each shown frame, keeps a frame that shows in time from being skipped.
    int msUntilNextFrame(int64_t aNowMs) const;

  private:
    int64_t framesSince(int64_t aNowMs) const;

    int mFirst = 0;
    int mCount = 1;
    double mFramesPerSecond = 1.0;
    bool mLoop = false;
    int64_t mStartMs = 0;
};

#endif
