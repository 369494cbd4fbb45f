#include "OmeTiffConverter.h"

#include <deque>

#include "DorudURIVuruda.h"
#include "OmeXml.h"
#include "ReaderPlaneSource.h"

namespace korvane::tools {

namespace {

// "cells.lsm, position 2, tile 3": the image of one series among several, position by position.
std::string seriesName(const std::string& aImageName, int aSeries, int aTiles) {
    const int position = aSeries / aTiles + 1, tile = aSeries % aTiles + 1;
    return aImageName + ", position " + std::to_string(position) +
           (aTiles > 1 ? ", tile " + std::to_string(tile) : std::string());
}

}  // namespace

bool convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions) {
    // Every stage position and mosaic tile the file holds becomes an image of its own.
    const int series = aReader.getSeriesCount();
    std::vector<OmeImage> images;
    std::deque<ReaderPlaneSource> sources;
    std::vector<OmeImagePlanes> planes;
    std::vector<int> types;
    for (int s = 0; s < series; ++s) {
        aReader.setSeries(s);
        requireLastPlane(aReader);
        StackSummary stack = summarize(aReader);
        // A stack of one plane has no z step, whatever the record holds.
        if (stack.sizeZ == 1) stack.voxelSize[2] = 0;
        const std::string name = series > 1 ? seriesName(aImageName, s, aReader.getTileCount()) : aImageName;
        images.push_back({stack, imageMetadata(aReader, stack, name)});
        sources.emplace_back(aReader, s);
        planes.push_back({sources.back(), stack});
        types.insert(types.end(), stack.pixelTypes.begin(), stack.pixelTypes.end());
    }
    aReader.setSeries(0);
    const int type = commonPixelType(types);
    return writeOmeTiff(planes, type, omeXml(images, type), aOutputPath, aOptions);
}

}  // namespace korvane::tools
