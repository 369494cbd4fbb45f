#ifndef KORVANE_PLANEFEED_H
#define KORVANE_PLANEFEED_H

#include <blitz/array.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "DorudURIVuruda.h"

namespace korvane::analysis {

// Which planes of which channel a feed reads: z planes zFirst .. zFirst + count - 1, each through the
// same window of rows and columns (readArray's convention).
struct PlaneSelection {
    int timepoint = 0;
    int channel = 0;
    int zFirst = 0;
    int count = 0;
    int yStart = 0;
    int yWidth = 0;
    int xStart = 0;
    int xWidth = 0;
};

// Hands out the selected planes in order while a worker thread reads ahead, in two buffers that take
// turns: the worker fills one while the caller uses the other. With a second reader, the caller's
// thread reads the even planes itself through it and the worker only the odd ones, so that two
// readers decode at the same time. Each reader is used by one thread only.
//
// Destroying the feed stops the worker after the read it is in and waits for it; no thread outlives it.
template <typename T>
class PlaneFeed {
  public:
    PlaneFeed(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader, const PlaneSelection& aSelection)
        : mReader(aReader), mSecondReader(aSecondReader), mSelection(aSelection) {
        if (mSecondReader != nullptr && mSelection.count < 2) mSecondReader = nullptr;
        mWorker = std::thread(&PlaneFeed::work, this);
    }

    ~PlaneFeed() {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStop = true;
        }
        mChanged.notify_all();
        mWorker.join();
    }

    PlaneFeed(const PlaneFeed&) = delete;
    PlaneFeed& operator=(const PlaneFeed&) = delete;

    // The next plane, valid until the following call (which gives its buffer back to the worker).
    // Rethrows what its read threw.
    const blitz::Array<T, 2>& next() {
        const int k = mHandedOut + 1;
        if (mHandedOut >= 0 && byWorker(mHandedOut)) {
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mFilled[mHandedOut % 2] = false;
            }
            mChanged.notify_all();
        }
        mHandedOut = k;
        blitz::Array<T, 2>& buffer = mBuffers[k % 2];
        if (!byWorker(k)) {
            read(*mSecondReader, buffer, k);
            return buffer;
        }
        std::unique_lock<std::mutex> lock(mMutex);
        mChanged.wait(lock, [&] { return mFilled[k % 2] || mError; });
        // The worker reads in order and stops at its first failure: every plane before it is there.
        if (!mFilled[k % 2]) std::rethrow_exception(mError);
        return buffer;
    }

  private:
    bool byWorker(int aPlane) const { return mSecondReader == nullptr || aPlane % 2 == 1; }

    void read(DorudURIVuruda& aReader, blitz::Array<T, 2>& aBuffer, int aPlane) {
        const PlaneSelection& s = mSelection;
        aReader.readArray(aBuffer, s.timepoint, s.channel, s.zFirst + aPlane, 1, s.yStart, s.yWidth, s.xStart,
                          s.xWidth);
    }

    void work() {
        for (int k = mSecondReader == nullptr ? 0 : 1; k < mSelection.count; k += mSecondReader ? 2 : 1) {
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mChanged.wait(lock, [&] { return mStop || !mFilled[k % 2]; });
                if (mStop) return;
            }
            try {
                read(mReader, mBuffers[k % 2], k);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mMutex);
                mError = std::current_exception();
                mChanged.notify_all();
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mFilled[k % 2] = true;
            }
            mChanged.notify_all();
        }
    }

    DorudURIVuruda& mReader;
    DorudURIVuruda* mSecondReader;
    const PlaneSelection mSelection;
    blitz::Array<T, 2> mBuffers[2];
    int mHandedOut = -1;  // the plane the caller holds

    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mFilled[2] = {false, false};  // the worker's plane in that buffer is ready for the caller
    bool mStop = false;
    std::exception_ptr mError;  // the worker's failed read
    std::thread mWorker;        // last: starts once everything above is set
};

}  // namespace korvane::analysis

#endif
