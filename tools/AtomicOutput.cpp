#include "AtomicOutput.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace korvane::tools {

namespace {

// The temporary file a signal handler removes: a pointer to the owning AtomicOutput's own path,
// swapped in and out whole, so a handler sees a complete path or none and never allocates.
std::atomic<const char*> gPendingPath{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "a signal handler must read the path");

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removePendingAndDie(int aSignal) {
    if (const char* path = gPendingPath.load()) unlink(path);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(aSignal, &fallback, nullptr);
    raise(aSignal);
}

// Catches the signals that would end the process by default. A signal ignored at start stays
// ignored: under nohup a hang-up must not end a long conversion, and a handler of the caller's
// own is left alone.
void installCleanupHandlers() {
    static const bool installed = [] {
        for (const int s : kCleanupSignals) {
            struct sigaction current {};
            if (sigaction(s, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
                current.sa_handler != SIG_DFL)
                continue;
            struct sigaction cleanup {};
            cleanup.sa_handler = removePendingAndDie;
            sigemptyset(&cleanup.sa_mask);
            for (const int other : kCleanupSignals) sigaddset(&cleanup.sa_mask, other);
            sigaction(s, &cleanup, nullptr);
        }
        return true;
    }();
    (void)installed;
}

// Blocks the clean-up signals for its lifetime.
class CleanupSignalsHeld {
  public:
    CleanupSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int s : kCleanupSignals) sigaddset(&held, s);
        pthread_sigmask(SIG_BLOCK, &held, &mPrevious);
    }
    ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &mPrevious, nullptr); }
    CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
    CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

  private:
    sigset_t mPrevious;
};

std::runtime_error systemError(const std::string& aWhat, const std::string& aPath) {
    return std::runtime_error(aWhat + " '" + aPath + "': " + std::strerror(errno));
}

}  // namespace

AtomicOutput::AtomicOutput(const std::string& aFinalPath) : mFinalPath(aFinalPath) {
    const std::string::size_type slash = aFinalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : aFinalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? aFinalPath : aFinalPath.substr(slash + 1);
    mTemporaryPath = folder + "." + name + ".part-XXXXXX";
    installCleanupHandlers();
    int fd;
    {
        // A signal waits until the new file is published, so that a handler finds it.
        const CleanupSignalsHeld held;
        fd = mkstemp(mTemporaryPath.data());
        if (fd >= 0) gPendingPath.store(mTemporaryPath.c_str());
    }
    if (fd < 0) throw systemError("cannot create a temporary file beside", aFinalPath);
    // mkstemp makes the file private; the result should get the permissions any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
}

AtomicOutput::~AtomicOutput() {
    // Removed before it is forgotten: a signal in between must not leave the file behind.
    if (!mCommitted) unlink(mTemporaryPath.c_str());
    forgetPending();
}

void AtomicOutput::forgetPending() {
    const char* ours = mTemporaryPath.c_str();
    gPendingPath.compare_exchange_strong(ours, nullptr);
}

void AtomicOutput::commit(bool aReplace) {
    if (aReplace) {
        if (rename(mTemporaryPath.c_str(), mFinalPath.c_str()) != 0)
            throw systemError("cannot move the finished file to", mFinalPath);
    } else {
        // link() fails when the name exists, so no file that appeared meanwhile is overwritten; on file
        // systems without hard links a check followed by the move has to do.
        if (link(mTemporaryPath.c_str(), mFinalPath.c_str()) == 0) {
            unlink(mTemporaryPath.c_str());
        } else if (errno == EEXIST || access(mFinalPath.c_str(), F_OK) == 0) {
            throw std::runtime_error("'" + mFinalPath + "' exists; use --force to replace it");
        } else if (rename(mTemporaryPath.c_str(), mFinalPath.c_str()) != 0) {
            throw systemError("cannot move the finished file to", mFinalPath);
        }
    }
    mCommitted = true;
    forgetPending();
}

}  // namespace korvane::tools
