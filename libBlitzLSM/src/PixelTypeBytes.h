#ifndef KORVANE_PIXELTYPEBYTES_H
#define KORVANE_PIXELTYPEBYTES_H

#include "PixelDataType.h"

namespace korvane {
namespace lsm {

// Bytes one sample of a channel occupies in the decoded strips; 0 for types an LSM file cannot hold.
inline int bytesPerSample(int aPixelType) {
    switch (aPixelType) {
        case TYPE_UINT8:
            return 1;
        case TYPE_UINT16:
            return 2;
        case TYPE_FLOAT:
            return 4;
        default:
            return 0;
    }
}

}  // namespace lsm
}  // namespace korvane

#endif
