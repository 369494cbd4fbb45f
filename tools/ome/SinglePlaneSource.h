#ifndef KORVANE_SINGLEPLANESOURCE_H
#define KORVANE_SINGLEPLANESOURCE_H

#include <utility>
#include <variant>

#include "OmePlaneSource.h"

namespace korvane::tools {

// One plane, rows by columns, in any of the writable sample types.
using SinglePlane =
    std::variant<blitz::Array<unsigned char, 2>, blitz::Array<unsigned short, 2>,
                 blitz::Array<unsigned int, 2>, blitz::Array<float, 2>, blitz::Array<double, 2>>;

// A plane already in memory (a plane on screen, a projection) as a stack of one z, channel and
// timepoint. It is written in its own type or a wider one.
class SinglePlaneSource : public OmePlaneSource {
  public:
    explicit SinglePlaneSource(SinglePlane aPlane) : mPlane(std::move(aPlane)) {}
    void readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) override;

  private:
    SinglePlane mPlane;
};

}  // namespace korvane::tools

#endif
