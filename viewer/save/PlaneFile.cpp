#include "PlaneFile.h"

#include <stdexcept>
#include <type_traits>

#include "OmeTiffWriter.h"
#include "OmeXml.h"
#include "PixelDataType.h"
#include "SinglePlaneSource.h"

namespace {

template <typename T>
constexpr int pixelTypeOf() {
    if constexpr (std::is_same_v<T, unsigned char>) return TYPE_UINT8;
    if constexpr (std::is_same_v<T, unsigned short>) return TYPE_UINT16;
    if constexpr (std::is_same_v<T, unsigned int>) return TYPE_UINT32;
    if constexpr (std::is_same_v<T, float>) return TYPE_FLOAT;
    return TYPE_DOUBLE;
}

}  // namespace

void writePlaneOmeTiff(const AnyPlane& aPlane, const PlaneRequest& aRequest,
                       const korvane::tools::StackSummary& aFile, korvane::tools::OmeImageMetadata aMetadata,
                       const std::string& aPath, bool aReplace) {
    using namespace korvane::tools;
    const QSize size = planeSize(aPlane);
    if (size.isEmpty()) throw std::runtime_error("there is no plane to write");

    StackSummary plane;
    plane.sizeX = size.width();
    plane.sizeY = size.height();
    plane.sizeZ = plane.sizeC = plane.sizeT = 1;
    // Which of the file's pixel sizes still hold depends on what the plane's rows and columns are.
    switch (aRequest.mode) {
        case ViewMode::Plane:
            plane.voxelSize[0] = aFile.voxelSize[0];
            plane.voxelSize[1] = aFile.voxelSize[1];
            plane.voxelSize[2] = aFile.voxelSize[2];  // the spacing of the section it was taken from
            break;
        case ViewMode::Projection:
            plane.voxelSize[0] = aFile.voxelSize[0];
            plane.voxelSize[1] = aFile.voxelSize[1];
            break;
        case ViewMode::ScanImage:
            // Lines stacked along z have the z spacing between rows; along time rows are no length.
            plane.voxelSize[0] = aFile.voxelSize[0];
            plane.voxelSize[1] = aFile.sizeT == 1 ? aFile.voxelSize[2] : 0.0;
            break;
        default:
            break;  // left out rather than stated wrongly
    }
    // One timepoint has no interval; a scan image's rows are the times (or z planes) themselves. The bits
    // the detector filled describe its samples, not sums or means of them.
    aMetadata.timeIncrement_s.reset();
    if (aRequest.mode == ViewMode::ScanImage) aMetadata.deltaT_s.clear();
    if (aRequest.mode != ViewMode::Plane) aMetadata.significantBits.reset();

    const int channel = aRequest.index.channel;
    if (channel >= 0 && size_t(channel) < aFile.channelNames.size() &&
        size_t(channel) < aFile.channelColors.size()) {
        plane.channelNames = {aFile.channelNames[size_t(channel)]};
        plane.channelColors = {aFile.channelColors[size_t(channel)]};
    } else {
        plane.channelNames = {"Channel " + std::to_string(channel)};
        plane.channelColors = {0xFFFFFFu};
    }

    std::visit(
        [&](const auto& aArray) {
            using Array = std::decay_t<decltype(aArray)>;
            if constexpr (std::is_same_v<Array, std::monostate>) {
                throw std::runtime_error("there is no plane to write");
            } else {
                const int type = pixelTypeOf<typename Array::T_numtype>();
                plane.pixelTypes = {type};
                SinglePlaneSource source{SinglePlane(aArray)};
                ConvertOptions options;
                options.replace = aReplace;
                writeOmeTiff(source, plane, type, omeXml(plane, type, aMetadata), aPath, options);
            }
        },
        aPlane);
}
