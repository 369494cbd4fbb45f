#include "LSMBlockFile.h"

#include <cstdio>
#include <sstream>

#include "LSMStreamProcedures.h"
#include "Reporter.h"

LSMBlockFile::LSMBlockFile(LSMStreamHandle& aHandle, uint64_t aFileSize, const std::string& aFileName)
    : mHandle(aHandle), mSize(aFileSize), mFileName(aFileName) {}

bool LSMBlockFile::present(const char* aBlock, uint64_t aOffset) const {
    if (aOffset < 8) return false;
    if (aOffset < mSize) return true;
    std::ostringstream problem;
    problem << "lies beyond the end of the file (" << mSize << " byte); it is ignored";
    warn(aBlock, aOffset, problem.str());
    return false;
}

bool LSMBlockFile::read(uint64_t aOffset, uint64_t aCount, std::vector<unsigned char>& aBytes) {
    if (aOffset > mSize || aCount > mSize - aOffset) return false;
    if (aCount == 0) return true;
    const toff_t position = static_cast<toff_t>(aOffset);
    if (BlitzLSMTIFFseek(&mHandle, position, SEEK_SET) != position) return false;
    const size_t start = aBytes.size();
    aBytes.resize(start + size_t(aCount));
    if (BlitzLSMTIFFread(&mHandle, aBytes.data() + start, static_cast<tmsize_t>(aCount)) !=
        static_cast<tmsize_t>(aCount)) {
        aBytes.resize(start);
        return false;
    }
    return true;
}

void LSMBlockFile::warn(const char* aBlock, uint64_t aOffset, const std::string& aProblem) const {
    std::ostringstream text;
    text << "WARNING: LSM file '" << mFileName << "': " << aBlock << " at byte " << aOffset << " " << aProblem
         << ".\n";
    Reporter::message(2, text.str());
}
