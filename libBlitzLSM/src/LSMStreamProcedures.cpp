#include "LSMStreamProcedures.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <limits>

#include "Reporter.h"

namespace {

LSMStreamHandle* handleOf(thandle_t aHandle) { return static_cast<LSMStreamHandle*>(aHandle); }

}  // namespace

tmsize_t BlitzLSMTIFFread(thandle_t aHandle, void* aBuffer, tmsize_t aSize) {
    LSMStreamHandle* handle = handleOf(aHandle);
    if (handle == nullptr || handle->file == nullptr || aSize < 0) return 0;
    std::clearerr(handle->file);
    const size_t got = std::fread(aBuffer, 1, static_cast<size_t>(aSize), handle->file);
    if (std::feof(handle->file)) {
        Reporter::message(2, "WARNING: BlitzLSMTIFFread() encountered EOF while reading\n");
    } else if (std::ferror(handle->file)) {
        Reporter::message(1, "WARNING: BlitzLSMTIFFread() encountered unspecified error\n");
    }
    return static_cast<tmsize_t>(got);
}

tmsize_t BlitzLSMTIFFwrite(thandle_t aHandle, void* aBuffer, tmsize_t aSize) {
    LSMStreamHandle* handle = handleOf(aHandle);
    if (handle == nullptr || handle->file == nullptr || aSize < 0) return 0;
    const size_t written = std::fwrite(aBuffer, 1, static_cast<size_t>(aSize), handle->file);
    if (std::ferror(handle->file)) {
        Reporter::message(1, "WARNING: BlitzLSMTIFFwrite() encountered unspecified error\n");
    }
    return static_cast<tmsize_t>(written);
}

toff_t BlitzLSMTIFFseek(thandle_t aHandle, toff_t aOffset, int aWhence) {
    LSMStreamHandle* handle = handleOf(aHandle);
    if (handle == nullptr || handle->file == nullptr) return 0;
    // libtiff passes negative SEEK_CUR/SEEK_END distances as wrapped unsigned values.
    const uint64_t target = aOffset + (handle->correctOffsets ? handle->correction : 0);
    if (aWhence == SEEK_SET && target > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    if (fseeko(handle->file, static_cast<off_t>(static_cast<int64_t>(target)), aWhence) != 0) return 0;
    if (std::feof(handle->file)) {
        Reporter::message(1, "WARNING: BlitzLSMTIFFseek() encountered EOF while seeking\n");
    } else if (std::ferror(handle->file)) {
        Reporter::message(1, "WARNING: BlitzLSMTIFFseek() encountered unspecified error\n");
    }
    return aOffset;
}

int BlitzLSMTIFFclose(thandle_t aHandle) {
    LSMStreamHandle* handle = handleOf(aHandle);
    if (handle == nullptr || handle->file == nullptr) return -1;
    FILE* file = handle->file;
    handle->file = nullptr;  // the stream is gone whatever fclose reports
    return std::fclose(file) == 0 ? 0 : -1;
}

toff_t BlitzLSMTIFFsize(thandle_t aHandle) {
    LSMStreamHandle* handle = handleOf(aHandle);
    if (handle == nullptr || handle->file == nullptr) return 0;
    // Asked several times per block read: a stat leaves the stream and its buffer alone, where a seek
    // to the end and back would throw the buffered bytes away.
    struct stat info;
    if (fstat(fileno(handle->file), &info) == 0 && S_ISREG(info.st_mode))
        return info.st_size < 0 ? 0 : static_cast<toff_t>(info.st_size);
    const off_t current = ftello(handle->file);
    if (current < 0) return 0;
    if (fseeko(handle->file, 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(handle->file);
    fseeko(handle->file, current, SEEK_SET);
    return size < 0 ? 0 : static_cast<toff_t>(size);
}
