#ifndef KORVANE_PLANEFILE_H
#define KORVANE_PLANEFILE_H

#include <string>

#include "AnyPlane.h"
#include "OmeXml.h"
#include "PlaneRequest.h"
#include "StackSummary.h"

// Writes a plane (the plane on screen, a projection) with its values in their own type as an OME-TIFF of
// one plane, through a temporary file beside aPath that takes the name only when complete. aFile tells
// what the open file says of itself (pixel sizes, channel names and colours), aMetadata the image's name
// and its acquisition (the instrument of the plane's channel, the time of its timepoint), and aRequest
// where the plane lies in the file, which decides what of all that holds for the plane. An existing file
// is replaced only with aReplace. Throws std::runtime_error, leaving nothing behind.
void writePlaneOmeTiff(const AnyPlane& aPlane, const PlaneRequest& aRequest,
                       const korvane::tools::StackSummary& aFile, korvane::tools::OmeImageMetadata aMetadata,
                       const std::string& aPath, bool aReplace);

#endif
