#ifndef KORVANE_PROJECTPLANES_H
#define KORVANE_PROJECTPLANES_H

#include "ZProjection.h"

namespace korvane::analysis {

// projectZ() with an optional second reader open on the same file, used on a thread of its own: for
// uncompressed planes it reads and reduces half of every plane's rows (see projectInRowHalves), for
// compressed ones it decodes every other plane (see PlaneFeed). Null reads every plane through aReader.
std::optional<ProjectedPlane> projectPlanes(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader,
                                            const ZProjectionRequest& aRequest,
                                            const ProjectionProgress& aProgress);

}  // namespace korvane::analysis

#endif
