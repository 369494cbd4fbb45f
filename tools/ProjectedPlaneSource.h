#ifndef KORVANE_PROJECTEDPLANESOURCE_H
#define KORVANE_PROJECTEDPLANESOURCE_H

#include <cstdint>
#include <functional>

#include "OmePlaneSource.h"
#include "ZProjector.h"

namespace korvane::tools {

// The z projections of a file's channels and timepoints, one plane (z 0) each, projected when the
// writer asks for them.
class ProjectedPlaneSource : public OmePlaneSource {
  public:
    // Planes aZFirst to aZLast, both included, of every channel and timepoint. aProgress gets the
    // planes read so far out of all the projections' planes.
    ProjectedPlaneSource(analysis::ZProjector& aProjector, analysis::ProjectionMethod aMethod, int aZFirst,
                         int aZLast, std::function<void(int64_t aDone, int64_t aTotal)> aProgress);

    void readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) override;

  private:
    analysis::ZProjector& mProjector;
    analysis::ProjectionMethod mMethod;
    int mZFirst, mZLast;
    std::function<void(int64_t, int64_t)> mProgress;
    int64_t mPlanesBefore = 0;  // read by the projections already handed out
};

}  // namespace korvane::tools

#endif
