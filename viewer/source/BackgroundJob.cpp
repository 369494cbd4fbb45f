#include "BackgroundJob.h"

#include <QMetaObject>
#include <QPointer>

namespace {

// Marks a worker done however its thread ends.
struct DoneOnExit {
    std::atomic<bool>& done;
    ~DoneOnExit() { done = true; }
};

}  // namespace

BackgroundJob::BackgroundJob(QObject* aParent) : QObject(aParent) {}

BackgroundJob::~BackgroundJob() {
    cancel();
    retire();
    for (Worker& worker : mRetired) worker.thread.join();
}

void BackgroundJob::retire() {
    if (mWorker.thread.joinable()) mRetired.push_back(std::move(mWorker));
    mWorker = Worker();
    // Those done by now go.
    for (auto worker = mRetired.begin(); worker != mRetired.end();) {
        if (*worker->done) {
            worker->thread.join();
            worker = mRetired.erase(worker);
        } else {
            ++worker;
        }
    }
}

void BackgroundJob::cancel() {
    if (mCancelled) *mCancelled = true;
    ++mSerial;
    mRunning = false;
}

void BackgroundJob::start(Work aWork) {
    cancel();
    retire();
    const uint64_t serial = ++mSerial;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    mCancelled = cancelled;
    mWorker.done = done;
    mRunning = true;
    // Both posts go through the event loop; the thread is joined before this object goes, and events
    // posted to an object that is gone are dropped, so nothing reaches a destroyed job.
    mWorker.thread = std::thread([this, serial, cancelled, done, work = std::move(aWork)] {
        const DoneOnExit finally{*done};
        int lastPercent = -1;
        const Progress progress = [&](int aDone, int aTotal) {
            if (*cancelled) return false;
            // A few hundred updates at most, whatever the number of steps.
            const int percent = aTotal > 0 ? int(int64_t(aDone) * 200 / aTotal) : 0;
            if (percent != lastPercent) {
                lastPercent = percent;
                QMetaObject::invokeMethod(
                    this,
                    [this, serial, aDone, aTotal] {
                        if (serial == mSerial && mRunning) emit progressed(aDone, aTotal);
                    },
                    Qt::QueuedConnection);
            }
            return true;
        };
        std::function<void()> outcome;
        try {
            outcome = work(progress);
        } catch (...) {
            // The work reports its own failures; anything else ends it without an outcome.
        }
        if (*cancelled) return;
        QMetaObject::invokeMethod(
            this,
            [this, serial, outcome = std::move(outcome)] {
                if (serial != mSerial || !mRunning) return;
                mRunning = false;
                if (outcome) outcome();
                emit finished();
            },
            Qt::QueuedConnection);
    });
}
