#include "ZProjection.h"

#include <exception>
#include <memory>
#include <sstream>

#include "BlitzFileIOException.h"
#include "DorudURIVuruda.h"
#include "PixelDataType.h"
#include "PlaneFeed.h"
#include "ProjectPlanes.h"
#include "ZAccumulator.h"

namespace korvane::analysis {

namespace {

const char* const kClassName = "ZProjection";

int lastPlane(const ZProjectionRequest& aRequest, int aSizeZ) {
    return aRequest.zLast < 0 ? aSizeZ - 1 : aRequest.zLast;
}

template <typename T>
std::optional<ProjectedPlane> project(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader,
                                      const ZProjectionRequest& aRequest, const ProjectionProgress& aProgress,
                                      int aCount) {
    const PlaneSelection selection{aRequest.timepoint, aRequest.channel, aRequest.zFirst, aCount,
                                   aRequest.yStart,    aRequest.yWidth,  aRequest.xStart, aRequest.xWidth};
    std::unique_ptr<PlaneFeed<T>> feed;
    try {
        feed = std::make_unique<PlaneFeed<T>>(aReader, aSecondReader, selection);
    } catch (const std::exception& e) {
        KORVANE_THROW(kClassName, "Could not start reading planes: " << e.what() << ".");
    }
    // The window's extents come with the first plane, so that the reader checks the request itself.
    std::unique_ptr<ZAccumulator<T>> accumulator;
    for (int k = 0; k < aCount; ++k) {
        const blitz::Array<T, 2>& plane = feed->next();
        if (!accumulator) {
            try {
                accumulator =
                    std::make_unique<ZAccumulator<T>>(aRequest.method, plane.rows(), plane.columns());
            } catch (const std::exception& e) {
                KORVANE_THROW(kClassName, "Could not allocate a projection of "
                                              << plane.rows() << " x " << plane.columns()
                                              << " pixels: " << e.what() << ".");
            }
        }
        accumulator->add(plane.dataFirst());
        if (aProgress && !aProgress(k + 1, aCount)) return std::nullopt;
    }
    feed.reset();  // the worker is done before the result is handed over
    return accumulator->result();
}

}  // namespace

int projectedPlaneCount(const ZProjectionRequest& aRequest, int aSizeZ) {
    const int last = lastPlane(aRequest, aSizeZ);
    if (aRequest.zFirst < 0 || aRequest.zFirst > last || last >= aSizeZ) return 0;
    return last - aRequest.zFirst + 1;
}

std::optional<ProjectedPlane> projectPlanes(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader,
                                            const ZProjectionRequest& aRequest,
                                            const ProjectionProgress& aProgress) {
    // The reader's own messages for a closed file or a missing channel come first.
    const int type = aReader.getPixelType(aRequest.channel);
    const int sizeZ = aReader.getSizeZ();
    const int count = projectedPlaneCount(aRequest, sizeZ);
    if (count == 0)
        KORVANE_THROW(kClassName, "Requested z planes ["
                                      << aRequest.zFirst << " - " << lastPlane(aRequest, sizeZ)
                                      << "] are no range within the stack's z planes [0 - " << sizeZ << ").");
    if (aProgress && !aProgress(0, count)) return std::nullopt;
    switch (type) {
        case TYPE_UINT8:
            return project<unsigned char>(aReader, aSecondReader, aRequest, aProgress, count);
        case TYPE_UINT16:
            return project<unsigned short>(aReader, aSecondReader, aRequest, aProgress, count);
        case TYPE_FLOAT:
            return project<float>(aReader, aSecondReader, aRequest, aProgress, count);
        default:
            KORVANE_THROW(kClassName, "Cannot project samples of type " << pixelDataTypeName(type) << ".");
    }
}

std::optional<ProjectedPlane> projectZ(DorudURIVuruda& aReader, const ZProjectionRequest& aRequest,
                                       const ProjectionProgress& aProgress) {
    return projectPlanes(aReader, nullptr, aRequest, aProgress);
}

}  // namespace korvane::analysis
