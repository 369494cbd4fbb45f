#ifndef KORVANE_LSMBLOCKFILE_H
#define KORVANE_LSMBLOCKFILE_H

#include <cstdint>
#include <string>
#include <vector>

struct LSMStreamHandle;

// The open LSM file as the acquisition blocks see it: bounded positioned reads through the reader's
// own stream procedures, and the warning a damaged block gives.
class LSMBlockFile {
  public:
    LSMBlockFile(LSMStreamHandle& aHandle, uint64_t aFileSize, const std::string& aFileName);

    uint64_t size() const { return mSize; }

    // Whether aOffset names a block: 0 and offsets below 8 (inside the file header) mean absent, an
    // offset at or past the end of the file is warned about and taken as absent.
    bool present(const char* aBlock, uint64_t aOffset) const;

    // Appends the aCount bytes at aOffset to aBytes; false, appending nothing, unless all of them lie
    // inside the file and were read.
    bool read(uint64_t aOffset, uint64_t aCount, std::vector<unsigned char>& aBytes);

    // "WARNING: LSM file '<name>': <block> at byte <offset> <problem>.", through the reporter.
    void warn(const char* aBlock, uint64_t aOffset, const std::string& aProblem) const;

  private:
    LSMStreamHandle& mHandle;
    uint64_t mSize;
    std::string mFileName;
};

#endif
