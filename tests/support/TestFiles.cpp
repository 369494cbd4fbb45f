#include "TestFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace korvane::testsupport {
namespace {

std::runtime_error ioError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Set once the folder owner below is gone; a plain bool stays valid while
// later static destructors run.
bool gTempDirectoryReleased = false;

// Removes the per-process folder at exit; rmdir leaves it alone when files
// remain. Files kept by statics that outlive this owner retry in ~ScopedFile.
struct TempDirectoryOwner {
    std::string path;
    ~TempDirectoryOwner() {
        if (!path.empty()) ::rmdir(path.c_str());
        gTempDirectoryReleased = true;
    }
};

}  // namespace

std::string tempDirectory() {
    static TempDirectoryOwner owner;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = (base && *base) ? base : "/tmp";
        dir += "/korvane-tests-" + std::to_string(::getpid());
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw ioError("cannot create", dir);
        owner.path = dir;
    });
    return owner.path;
}

std::string tempPath(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    return tempDirectory() + "/" + std::to_string(counter++) + "-" + stem;
}

void truncateFile(const std::string& path, uint64_t size) {
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) throw ioError("cannot truncate", path);
}

uint64_t allocatedBytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw ioError("cannot stat", path);
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

bool fileSystemSupportsSparseFiles(const std::string& directory) {
    const std::string path = directory + "/.sparse-probe-" + std::to_string(::getpid());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    constexpr off_t kLength = 64 << 20;
    const char byte = 1;
    bool ok = ::pwrite(fd, &byte, 1, kLength - 1) == 1 && ::fsync(fd) == 0;
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0 && st.st_size == kLength &&
         static_cast<uint64_t>(st.st_blocks) * 512 < (1u << 20);
    ::close(fd);
    ::unlink(path.c_str());
    return ok;
}

ScopedFile::~ScopedFile() {
    ::unlink(path_.c_str());
    if (gTempDirectoryReleased) ::rmdir(path_.substr(0, path_.rfind('/')).c_str());
}

}  // namespace korvane::testsupport
