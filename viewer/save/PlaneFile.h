#ifndef KORVANE_PLANEFILE_H
#define KORVANE_PLANEFILE_H

#include <string>

#include "AnyPlane.h"
#include "PlaneRequest.h"
#include "StackSummary.h"

// Writes a plane (the plane on screen, a projection) with its values in their own type as an OME-TIFF of
// one plane, through a temporary file beside aPath that takes the name only when complete. aFile tells
// what the open file says of itself (pixel sizes, channel names and colours) and aRequest where the plane
// lies in it, which decides what of that holds for the plane. An existing file is replaced only with
// aReplace. Throws std::runtime_error, leaving nothing behind.
void writePlaneOmeTiff(const AnyPlane& aPlane, const PlaneRequest& aRequest,
                       const korvane::tools::StackSummary& aFile, const std::string& aImageName,
                       const std::string& aPath, bool aReplace);

#endif
