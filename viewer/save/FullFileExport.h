#ifndef KORVANE_FULLFILEEXPORT_H
#define KORVANE_FULLFILEEXPORT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <string>

class QThread;

// Converts a whole file to OME-TIFF in the background, the way `korvane-lsm convert` does: on a worker
// thread with a reader of its own, so that the window's reader stays free to show planes meanwhile. It
// reports its progress and can be cancelled; cancelled or failed, it leaves nothing behind.
class FullFileExport : public QObject {
    Q_OBJECT

  public:
    enum class Outcome { Written, Cancelled, Failed };

    explicit FullFileExport(QObject* aParent = nullptr);
    // Cancels a conversion still running and waits for it.
    ~FullFileExport() override;

    // Starts converting aInput (bytes, as the system names files) to aOutput; false when one runs.
    bool start(const QByteArray& aInput, const std::string& aOutput, bool aReplace);
    bool isRunning() const { return mThread != nullptr; }
    void cancel() { mCancel = true; }

  signals:
    // Planes written so far, of all planes (0 while the file opens).
    void progressed(qint64 aDone, qint64 aTotal);
    // aMessage: what failed.
    void finished(FullFileExport::Outcome aOutcome, const QString& aMessage);

  private:
    void run();
    void collect();

    QThread* mThread = nullptr;
    QTimer mPoll;  // hands the worker's progress to the window a few times a second
    QByteArray mInput;
    std::string mOutput;
    bool mReplace = false;
    std::atomic<bool> mCancel{false};
    std::atomic<int64_t> mDone{0};
    std::atomic<int64_t> mTotal{0};
    // Written by the worker, read once it has finished.
    Outcome mOutcome = Outcome::Failed;
    std::string mMessage;
};

#endif
