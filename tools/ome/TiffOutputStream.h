#ifndef KORVANE_TIFFOUTPUTSTREAM_H
#define KORVANE_TIFFOUTPUTSTREAM_H

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::tools {

// A new TIFF file written through a write-behind buffer. libtiff's own file procedures issue a
// system call for every seek and every few bytes of a directory, which dominates the time when the
// planes are small; here directories and small strips gather in one buffer and go out in large
// writes, while large strips go to the file directly. Reads and seeks see the buffered bytes, so
// libtiff can still read back and patch the directory links it has written.
class TiffOutputStream {
  public:
    // Truncates and opens aPath; throws std::runtime_error when it cannot.
    explicit TiffOutputStream(const std::string& aPath);
    ~TiffOutputStream();
    TiffOutputStream(const TiffOutputStream&) = delete;
    TiffOutputStream& operator=(const TiffOutputStream&) = delete;

    // A libtiff handle writing to this stream ("w", "wl", "w8l", ...); null on failure. The stream
    // must outlive it.
    TIFF* open(const char* aMode);

    // The last error libtiff reported on the handle, for the caller's message; "unknown error" if none.
    const std::string& tiffError() const { return mTiffError; }

    // Writes out what is buffered and closes the file; throws std::runtime_error on any write error
    // met since opening.
    void finish();

  private:
    static tmsize_t readProc(thandle_t aHandle, void* aData, tmsize_t aSize);
    static tmsize_t writeProc(thandle_t aHandle, void* aData, tmsize_t aSize);
    static toff_t seekProc(thandle_t aHandle, toff_t aOffset, int aWhence);
    static int closeProc(thandle_t aHandle);
    static toff_t sizeProc(thandle_t aHandle);
    static int mapProc(thandle_t, void**, toff_t*) { return 0; }
    static void unmapProc(thandle_t, void*, toff_t) {}
    // Kept per handle rather than in libtiff's process-wide handler, which readers on other threads
    // set too.
    static int errorProc(TIFF*, void* aStream, const char* aModule, const char* aFormat, va_list aArguments);

    tmsize_t read(unsigned char* aData, uint64_t aSize);
    tmsize_t write(const unsigned char* aData, uint64_t aSize);
    bool flush();
    bool writeAt(const unsigned char* aData, uint64_t aSize, uint64_t aOffset);

    std::string mPath;
    int mFd = -1;
    std::vector<unsigned char> mBuffer;  // file bytes [mBase, mBase + mBuffer.size())
    uint64_t mBase = 0;
    uint64_t mPosition = 0;
    uint64_t mSize = 0;
    int mError = 0;  // errno of the first failed write
    std::string mTiffError = "unknown error";
};

}  // namespace korvane::tools

#endif
