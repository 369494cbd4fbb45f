#ifndef KORVANE_LSMSTREAMPROCEDURES_H
#define KORVANE_LSMSTREAMPROCEDURES_H

#include <tiffio.h>

#include <cstdint>
#include <cstdio>

// Client data handed to libtiff: the reader's own stdio stream plus what the seek procedure needs
// to undo the 32-bit wrap-around of strip offsets in files larger than 4 GiB.
struct LSMStreamHandle {
    FILE* file;
    const char* fileName;
    bool correctOffsets;  // true only while one strip of image data is read
    uint32_t pageIndex;   // directory whose strips are read
    double bytesPerPage;  // estimated file bytes per directory (informative; strips are placed by the index)
    uint64_t fileSize;    // set by open
    // Added to every offset the seek procedure is given while correctOffsets is set: what lifts the
    // stored offset of the strip being read to where the strip lies.
    uint64_t correction = 0;
};

// libtiff client procedures over an LSMStreamHandle. Problems are broadcast as warnings through the
// reporter registry, never thrown.
tmsize_t BlitzLSMTIFFread(thandle_t aHandle, void* aBuffer, tmsize_t aSize);
tmsize_t BlitzLSMTIFFwrite(thandle_t aHandle, void* aBuffer, tmsize_t aSize);
toff_t BlitzLSMTIFFseek(thandle_t aHandle, toff_t aOffset, int aWhence);
int BlitzLSMTIFFclose(thandle_t aHandle);
toff_t BlitzLSMTIFFsize(thandle_t aHandle);

#endif
