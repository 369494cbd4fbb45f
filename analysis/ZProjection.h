#ifndef KORVANE_ZPROJECTION_H
#define KORVANE_ZPROJECTION_H

#include <blitz/array.h>

#include <functional>
#include <optional>
#include <variant>

#include "ProjectionMethod.h"

class DorudURIVuruda;

namespace korvane::analysis {

// One channel of one timepoint over the planes zFirst to zLast, both included, and optionally only a
// window of each plane.
struct ZProjectionRequest {
    ProjectionMethod method = ProjectionMethod::Maximum;
    int timepoint = 0;
    int channel = 0;
    int zFirst = 0;
    int zLast = -1;  // below 0: the stack's last plane
    // The window as DorudURIVuruda::readArray takes it: widths of 0 or less run to the last row or column.
    int yStart = 0;
    int yWidth = 0;
    int xStart = 0;
    int xWidth = 0;
};

// A projection, rows by columns, in the type projectedPixelType() gives for the method and the channel:
// unsigned char, unsigned short, unsigned int or float.
using ProjectedPlane = std::variant<blitz::Array<unsigned char, 2>, blitz::Array<unsigned short, 2>,
                                    blitz::Array<unsigned int, 2>, blitz::Array<float, 2>>;

// Called on the projecting thread with the planes done out of the total: with 0 before the first plane
// is read, then after each plane. Returning false cancels the projection.
using ProjectionProgress = std::function<bool(int aDone, int aTotal)>;

// Planes the request covers in a stack of aSizeZ planes; 0 when its range does not lie in the stack.
int projectedPlaneCount(const ZProjectionRequest& aRequest, int aSizeZ);

// Projects planes read in order through aReader: a worker thread reads plane k + 1 while this thread
// reduces plane k, so at most two planes are held beside the result. The caller must leave aReader
// alone until this returns. Nothing when cancelled (the worker has stopped by then, within a plane).
//
// Maximum and minimum keep the samples. Integer samples are summed exactly; a sum beyond 4294967295
// stays at 4294967295. Mean and standard deviation come from exact 64-bit integer sums, or for float
// samples from double sums and Welford's update, and are rounded to float once at the end. The
// standard deviation is the sample one (divided by n - 1); a single plane gives 0. NaN samples count
// as missing: every method leaves them out, and a pixel that is NaN in every plane is NaN. Values
// beyond float's range become infinite.
//
// Reader failures, a range outside the stack and a lack of memory come as BlitzFileIOException (the
// reader's own message where the reader failed, which may also have closed it).
std::optional<ProjectedPlane> projectZ(DorudURIVuruda& aReader, const ZProjectionRequest& aRequest,
                                       const ProjectionProgress& aProgress = {});

}  // namespace korvane::analysis

#endif
