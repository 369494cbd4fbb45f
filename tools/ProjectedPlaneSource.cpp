#include "ProjectedPlaneSource.h"

#include <stdexcept>

namespace korvane::tools {

using namespace korvane::analysis;

ProjectedPlaneSource::ProjectedPlaneSource(ZProjector& aProjector, ProjectionMethod aMethod, int aZFirst,
                                           int aZLast, std::function<void(int64_t, int64_t)> aProgress)
    : mProjector(aProjector),
      mMethod(aMethod),
      mZFirst(aZFirst),
      mZLast(aZLast),
      mProgress(std::move(aProgress)) {}

void ProjectedPlaneSource::readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) {
    if (aZ != 0 || aCount != 1) throw std::out_of_range("a projection has only z 0");
    DorudURIVuruda& reader = mProjector.reader();
    const int64_t perProjection = mZLast - mZFirst + 1;
    const int64_t total = perProjection * reader.getSizeC() * reader.getSizeT();
    ZProjectionRequest request;
    request.method = mMethod;
    request.timepoint = aTimepoint;
    request.channel = aChannel;
    request.zFirst = mZFirst;
    request.zLast = mZLast;
    const std::optional<ProjectedPlane> plane = mProjector.project(request, [&](int aDone, int) {
        if (mProgress) mProgress(mPlanesBefore + aDone, total);
        return true;
    });
    if (!plane) throw std::logic_error("a projection nobody cancelled was cancelled");
    mPlanesBefore += perProjection;
    // The writer's type is the widest of the channels' projected types: every value converts exactly.
    std::visit(
        [](const auto& aPlane, auto& aBlock) {
            using T = typename std::decay_t<decltype(aBlock)>::T_numtype;
            aBlock.resize(1, aPlane.rows(), aPlane.columns());
            aBlock(0, blitz::Range::all(), blitz::Range::all()) = blitz::cast<T>(aPlane);
        },
        *plane, aPlanes);
}

}  // namespace korvane::tools
