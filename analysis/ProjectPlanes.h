#ifndef KORVANE_PROJECTPLANES_H
#define KORVANE_PROJECTPLANES_H

#include "ZProjection.h"

namespace korvane::analysis {

// projectZ() with an optional second reader open on the same file, which decodes every other plane on
// the calling thread (see PlaneFeed); null reads every plane through aReader.
std::optional<ProjectedPlane> projectPlanes(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader,
                                            const ZProjectionRequest& aRequest,
                                            const ProjectionProgress& aProgress);

}  // namespace korvane::analysis

#endif
