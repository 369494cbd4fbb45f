#ifndef KORVANE_LSMREADSTATE_H
#define KORVANE_LSMREADSTATE_H

#include <cstdint>

#include "LSMDirectoryIndex.h"
#include "LSMPlaneCache.h"

// What the block reads keep about the open file between calls; reset whenever a file is opened or
// closed.
struct LSMReadState {
    korvane::lsm::DirectoryIndex index;
    korvane::lsm::PlaneCache plane;
    // Directory libtiff has read last, when the block reads know it; libtiff's own directory number
    // is not used, as selecting by offset restarts its count.
    bool directoryKnown = false;
    uint64_t directory = 0;

    void reset() {
        index.reset();
        plane.clear();
        directoryKnown = false;
    }
};

#endif
