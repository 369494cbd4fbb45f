#include "BackgroundJob.h"

#include <QMetaObject>
#include <QPointer>

BackgroundJob::BackgroundJob(QObject* aParent) : QObject(aParent) {}

BackgroundJob::~BackgroundJob() { stop(); }

void BackgroundJob::stop() {
    cancel();
    if (mThread.joinable()) mThread.join();
}

void BackgroundJob::cancel() {
    if (mCancelled) *mCancelled = true;
    ++mSerial;
    mRunning = false;
}

void BackgroundJob::start(Work aWork) {
    stop();
    const uint64_t serial = ++mSerial;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    mCancelled = cancelled;
    mRunning = true;
    // Both posts go through the event loop; the thread is joined before this object goes, and events
    // posted to an object that is gone are dropped, so nothing reaches a destroyed job.
    mThread = std::thread([this, serial, cancelled, work = std::move(aWork)] {
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
