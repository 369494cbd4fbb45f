#include "AtomicOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace korvane::tools {

namespace {

// The temporary file a signal handler removes; only one output is written at a time.
char gPendingPath[4096];

void removePendingAndDie(int aSignal) {
    if (gPendingPath[0] != '\0') unlink(gPendingPath);
    std::signal(aSignal, SIG_DFL);
    raise(aSignal);
}

std::runtime_error systemError(const std::string& aWhat, const std::string& aPath) {
    return std::runtime_error(aWhat + " '" + aPath + "': " + std::strerror(errno));
}

}  // namespace

AtomicOutput::AtomicOutput(const std::string& aFinalPath) : mFinalPath(aFinalPath) {
    const std::string::size_type slash = aFinalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : aFinalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? aFinalPath : aFinalPath.substr(slash + 1);
    std::string pattern = folder + "." + name + ".part-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) throw systemError("cannot create a temporary file beside", aFinalPath);
    // mkstemp makes the file private; the result should get the permissions any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    mTemporaryPath = buffer.data();
    if (mTemporaryPath.size() < sizeof gPendingPath) {
        std::memcpy(gPendingPath, mTemporaryPath.c_str(), mTemporaryPath.size() + 1);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, removePendingAndDie);
    }
}

AtomicOutput::~AtomicOutput() {
    if (!mCommitted) unlink(mTemporaryPath.c_str());
    gPendingPath[0] = '\0';
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
    gPendingPath[0] = '\0';
}

}  // namespace korvane::tools
