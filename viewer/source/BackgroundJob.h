#ifndef KORVANE_BACKGROUNDJOB_H
#define KORVANE_BACKGROUNDJOB_H

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Runs one piece of work at a time on a thread of its own, so that the window stays responsive, and
// hands its progress and its outcome to the thread this object lives on. Work that was cancelled or
// replaced by newer work delivers nothing. Destroying the job stops all work and waits for it.
class BackgroundJob : public QObject {
    Q_OBJECT

  public:
    // Told the steps done of the total; returns false once the work is to stop.
    using Progress = std::function<bool(int aDone, int aTotal)>;
    // The work, run on the worker thread. What it returns runs afterwards on this object's thread,
    // unless the work was cancelled or replaced by then.
    using Work = std::function<std::function<void()>(const Progress& aProgress)>;

    explicit BackgroundJob(QObject* aParent = nullptr);
    ~BackgroundJob() override;

    // Cancels any work still running, then starts aWork at once: the old work finishes on its own thread
    // (within a read), so that the window never waits for it.
    void start(Work aWork);
    // The running work stops at its next progress call and delivers nothing; returns at once.
    void cancel();
    // Started, and neither delivered nor cancelled yet.
    bool isRunning() const { return mRunning; }

  signals:
    void progressed(int aDone, int aTotal);
    // The work ended and its outcome ran (not sent for cancelled or replaced work).
    void finished();

  private:
    void retire();

    // A thread with the flag it sets when done.
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    Worker mWorker;
    std::vector<Worker> mRetired;  // cancelled, still finishing their read
    std::shared_ptr<std::atomic<bool>> mCancelled;
    uint64_t mSerial = 0;  // the work whose outcome is still wanted
    bool mRunning = false;
};

#endif
