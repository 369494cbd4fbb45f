#ifndef KORVANE_LSMSTRIPREADER_H
#define KORVANE_LSMSTRIPREADER_H

#include <tiffio.h>

#include <cstdint>

#include "LSMStreamProcedures.h"

namespace korvane {
namespace lsm {

struct StripReadResult {
    bool ok;               // false: strip failedStrip could not be decoded
    uint32_t stripCount;   // strips of the directory
    uint32_t failedStrip;  // meaningful only when ok is false
    uint64_t byteCount;    // bytes the strips decode to, counted in full even where the buffer was full
};

// Decodes every strip of libtiff's current directory, end to end, into aBuffer without ever writing
// past aCapacity bytes. The caller sets aHandle.pageIndex; correctOffsets is raised only around the
// reading of one strip.
StripReadResult readDirectoryStrips(TIFF* aTiff, LSMStreamHandle& aHandle, uint64_t aFileSize,
                                    unsigned char* aBuffer, uint64_t aCapacity);

}  // namespace lsm
}  // namespace korvane

#endif
