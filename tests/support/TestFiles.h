#pragma once

#include <cstdint>
#include <string>

namespace korvane::testsupport {

// Folder for this process's test files: $TMPDIR (or /tmp) plus
// "korvane-tests-<pid>", created on first use and removed at exit if empty.
std::string tempDirectory();

// A path in tempDirectory() that no other call in this process returns.
// The file itself is not created.
std::string tempPath(const std::string& stem);

// Cuts (or extends with a hole) the file to `size` bytes. Throws
// std::runtime_error on failure.
void truncateFile(const std::string& path, uint64_t size);

// True when a file in `directory` with a large unwritten gap occupies far
// less disk space than its length, i.e. big sparse test files are cheap.
bool fileSystemSupportsSparseFiles(const std::string& directory);

// Bytes actually allocated on disk for `path` (st_blocks * 512).
uint64_t allocatedBytes(const std::string& path);

// Removes the file when it goes out of scope, so failing tests leave no litter.
class ScopedFile {
  public:
    explicit ScopedFile(const std::string& stem) : path_(tempPath(stem)) {}
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace korvane::testsupport
