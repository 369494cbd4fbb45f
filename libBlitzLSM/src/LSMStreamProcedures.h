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
    double bytesPerPage;  // estimated file bytes per directory (informative; the correction uses unwrapBase)
    uint64_t fileSize;    // set by open
    // True file position no strip of directory pageIndex lies below: where the previous image
    // directory's first strip starts (the microscope writes planes in order), 0 for the first plane.
    uint64_t unwrapBase = 0;
};

// libtiff client procedures over an LSMStreamHandle. Problems are broadcast as warnings through the
// reporter registry, never thrown.
tmsize_t BlitzLSMTIFFread(thandle_t aHandle, void* aBuffer, tmsize_t aSize);
tmsize_t BlitzLSMTIFFwrite(thandle_t aHandle, void* aBuffer, tmsize_t aSize);
toff_t BlitzLSMTIFFseek(thandle_t aHandle, toff_t aOffset, int aWhence);
int BlitzLSMTIFFclose(thandle_t aHandle);
toff_t BlitzLSMTIFFsize(thandle_t aHandle);

// What the seek procedure adds to aOffset: 0 unless correctOffsets is set, otherwise the fewest
// whole 4 GiB steps that lift a 32-bit aOffset to unwrapBase or above. The result may lie past the
// end of the file; the read there then comes up short, as it must for a truncated file.
uint64_t lsmOffsetCorrection(const LSMStreamHandle& aHandle, uint64_t aOffset);

#endif
