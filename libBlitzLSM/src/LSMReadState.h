#ifndef KORVANE_LSMREADSTATE_H
#define KORVANE_LSMREADSTATE_H

#include <cstdint>
#include <vector>

#include "LSMDirectoryIndex.h"
#include "LSMPlaneCache.h"
#include "LSMScanLayout.h"

// What the block reads keep about the open file between calls; reset whenever a file is opened or
// closed.
struct LSMReadState {
    korvane::lsm::DirectoryIndex index;
    korvane::lsm::PlaneCache plane;
    // Directory libtiff has read last, when the block reads know it; libtiff's own directory number
    // is not used, as selecting by offset restarts its count.
    bool directoryKnown = false;
    uint64_t directory = 0;
    // Where the decoded strips of image directory startsDirectory begin, so that reading row after row
    // of one image does not ask libtiff for them each time.
    bool startsKnown = false;
    uint64_t startsDirectory = 0;
    std::vector<uint64_t> starts;
    // Which image holds which plane, decided at open, and the series (position or tile) read.
    korvane::lsm::ScanLayout layout;
    uint64_t series = 0;

    void reset() {
        index.reset();
        plane.clear();
        directoryKnown = false;
        startsKnown = false;
        starts.clear();
        layout = korvane::lsm::ScanLayout();
        series = 0;
    }
};

#endif
