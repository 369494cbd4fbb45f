#include "ZProjection.h"

#include <tiffio.h>

#include <exception>
#include <memory>
#include <sstream>

#include "BlitzFileIOException.h"
#include "DorudURIVuruda.h"
#include "PixelDataType.h"
#include "PlaneFeed.h"
#include "ProjectPlanes.h"
#include "RowHalvesProjection.h"
#include "ZAccumulator.h"

namespace korvane::analysis {

namespace {

const char* const kClassName = "ZProjection";

int lastPlane(const ZProjectionRequest& aRequest, int aSizeZ) {
    return aRequest.zLast < 0 ? aSizeZ - 1 : aRequest.zLast;
}

template <typename T>
std::unique_ptr<ZAccumulator<T>> newAccumulator(ProjectionMethod aMethod, int aRows, int aColumns) {
    try {
        return std::make_unique<ZAccumulator<T>>(aMethod, aRows, aColumns);
    } catch (const std::exception& e) {
        KORVANE_THROW(kClassName, "Could not allocate a projection of " << aRows << " x " << aColumns
                                                                        << " pixels: " << e.what() << ".");
    }
}

// Works out the window's widths from aReader's extents, so that a second reader, should it see another
// file, is asked for the very same window and its planes fit the result. A window that does not lie in
// the stack is left to the reader to refuse, with its own message.
bool settleWindow(DorudURIVuruda& aReader, PlaneSelection& aSelection) {
    PlaneSelection& s = aSelection;
    const int64_t sizeY = aReader.getSizeY();
    const int64_t sizeX = aReader.getSizeX();
    const int64_t rows = s.yWidth > 0 ? s.yWidth : sizeY - s.yStart;
    const int64_t columns = s.xWidth > 0 ? s.xWidth : sizeX - s.xStart;
    if (s.yStart < 0 || rows < 1 || s.yStart + rows > sizeY || s.xStart < 0 || columns < 1 ||
        s.xStart + columns > sizeX)
        return false;
    s.yWidth = int(rows);
    s.xWidth = int(columns);
    return true;
}

template <typename T>
std::optional<ProjectedPlane> project(DorudURIVuruda& aReader, DorudURIVuruda* aSecondReader,
                                      const ZProjectionRequest& aRequest, const ProjectionProgress& aProgress,
                                      int aCount) {
    PlaneSelection selection{aRequest.timepoint, aRequest.channel, aRequest.zFirst, aCount,
                             aRequest.yStart,    aRequest.yWidth,  aRequest.xStart, aRequest.xWidth};
    // Two readers of an uncompressed file each read and reduce half of the window's rows.
    if (settleWindow(aReader, selection) && aSecondReader != nullptr &&
        aReader.getCompression() == COMPRESSION_NONE && selection.yWidth >= 2) {
        // The window's extents come from the record: the reader reads the last sample of the window's
        // first plane before memory is set aside for a window that a damaged record may have made huge.
        blitz::Array<T, 2> last;
        aReader.readArray(last, aRequest.timepoint, aRequest.channel, aRequest.zFirst, 1,
                          selection.yStart + selection.yWidth - 1, 1, selection.xStart + selection.xWidth - 1,
                          1);
        const auto accumulator = newAccumulator<T>(aRequest.method, selection.yWidth, selection.xWidth);
        if (!projectInRowHalves(aReader, *aSecondReader, selection, *accumulator, aProgress))
            return std::nullopt;
        return accumulator->result();
    }

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
        if (!accumulator) accumulator = newAccumulator<T>(aRequest.method, plane.rows(), plane.columns());
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
