#include "TiffOutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace korvane::tools {

namespace {

// Big enough that a small plane's directory and strips take a handful of writes per megabyte, small
// next to the planes a conversion holds anyway.
constexpr uint64_t kBufferBytes = 1 << 20;
// Writes at least this long are large strips: copying them into the buffer would cost more than it
// saves.
constexpr uint64_t kDirectWriteBytes = 128 << 10;

TiffOutputStream* self(thandle_t aHandle) { return static_cast<TiffOutputStream*>(aHandle); }

}  // namespace

TiffOutputStream::TiffOutputStream(const std::string& aPath) : mPath(aPath) {
    mFd = ::open(aPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (mFd < 0) throw std::runtime_error("cannot write '" + aPath + "': " + std::strerror(errno));
    mBuffer.reserve(kBufferBytes);
}

TiffOutputStream::~TiffOutputStream() {
    if (mFd >= 0) ::close(mFd);
}

TIFF* TiffOutputStream::open(const char* aMode) {
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), errorProc, this);
    return TIFFClientOpenExt(mPath.c_str(), aMode, this, readProc, writeProc, seekProc, closeProc, sizeProc,
                             mapProc, unmapProc, options.get());
}

int TiffOutputStream::errorProc(TIFF*, void* aStream, const char* aModule, const char* aFormat,
                                va_list aArguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, aFormat, aArguments);
    static_cast<TiffOutputStream*>(aStream)->mTiffError =
        std::string(aModule ? aModule : "libtiff") + ": " + text;
    return 1;  // handled: not passed on to the process-wide handler
}

void TiffOutputStream::finish() {
    flush();
    const int fd = mFd;
    mFd = -1;
    // Some file systems report a failed write only when the file is closed.
    if (::close(fd) != 0 && mError == 0) mError = errno;
    if (mError != 0) throw std::runtime_error("cannot write '" + mPath + "': " + std::strerror(mError));
}

bool TiffOutputStream::writeAt(const unsigned char* aData, uint64_t aSize, uint64_t aOffset) {
    while (aSize > 0) {
        const ssize_t written = ::pwrite(mFd, aData, aSize, off_t(aOffset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (mError == 0) mError = written < 0 ? errno : ENOSPC;
            return false;
        }
        aData += written;
        aSize -= uint64_t(written);
        aOffset += uint64_t(written);
    }
    return true;
}

bool TiffOutputStream::flush() {
    if (mBuffer.empty()) return mError == 0;
    const bool ok = writeAt(mBuffer.data(), mBuffer.size(), mBase);
    mBuffer.clear();
    return ok;
}

tmsize_t TiffOutputStream::write(const unsigned char* aData, uint64_t aSize) {
    if (mError != 0) return -1;
    const uint64_t bufferEnd = mBase + mBuffer.size();
    // Within or right after the buffered bytes, and fitting: overwrite or append in memory.
    if (aSize < kDirectWriteBytes && !mBuffer.empty() && mPosition >= mBase && mPosition <= bufferEnd &&
        mPosition + aSize <= mBase + kBufferBytes) {
        const uint64_t at = mPosition - mBase;
        if (at + aSize > mBuffer.size()) mBuffer.resize(at + aSize);
        std::memcpy(mBuffer.data() + at, aData, aSize);
    } else {
        if (!flush()) return -1;
        if (aSize >= kDirectWriteBytes) {
            if (!writeAt(aData, aSize, mPosition)) return -1;
        } else {
            mBase = mPosition;
            mBuffer.assign(aData, aData + aSize);
        }
    }
    mPosition += aSize;
    mSize = std::max(mSize, mPosition);
    return tmsize_t(aSize);
}

tmsize_t TiffOutputStream::read(unsigned char* aData, uint64_t aSize) {
    const uint64_t bufferEnd = mBase + mBuffer.size();
    if (mPosition >= mBase && mPosition + aSize <= bufferEnd) {
        std::memcpy(aData, mBuffer.data() + (mPosition - mBase), aSize);
        mPosition += aSize;
        return tmsize_t(aSize);
    }
    // Bytes that are all in the file are read from there; the buffer goes out first only when it
    // holds some of them.
    if (mPosition < bufferEnd && mPosition + aSize > mBase && !flush()) return -1;
    uint64_t done = 0;
    while (done < aSize) {
        const ssize_t got = ::pread(mFd, aData + done, aSize - done, off_t(mPosition + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += uint64_t(got);
    }
    mPosition += done;
    return tmsize_t(done);
}

tmsize_t TiffOutputStream::readProc(thandle_t aHandle, void* aData, tmsize_t aSize) {
    return aSize < 0 ? -1 : self(aHandle)->read(static_cast<unsigned char*>(aData), uint64_t(aSize));
}

tmsize_t TiffOutputStream::writeProc(thandle_t aHandle, void* aData, tmsize_t aSize) {
    return aSize < 0 ? -1 : self(aHandle)->write(static_cast<const unsigned char*>(aData), uint64_t(aSize));
}

toff_t TiffOutputStream::seekProc(thandle_t aHandle, toff_t aOffset, int aWhence) {
    TiffOutputStream& stream = *self(aHandle);
    // toff_t is unsigned; relative seeks backwards arrive as its two's complement.
    const uint64_t origin = aWhence == SEEK_CUR ? stream.mPosition : aWhence == SEEK_END ? stream.mSize : 0;
    const uint64_t target = origin + aOffset;
    if (aWhence != SEEK_SET && aWhence != SEEK_CUR && aWhence != SEEK_END) return toff_t(-1);
    if (target > uint64_t(INT64_MAX)) return toff_t(-1);
    stream.mPosition = target;
    return target;
}

int TiffOutputStream::closeProc(thandle_t aHandle) { return self(aHandle)->flush() ? 0 : -1; }

toff_t TiffOutputStream::sizeProc(thandle_t aHandle) { return self(aHandle)->mSize; }

}  // namespace korvane::tools
