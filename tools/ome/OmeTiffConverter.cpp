#include "OmeTiffConverter.h"

#include "OmeXml.h"
#include "ReaderPlaneSource.h"

namespace korvane::tools {

bool convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions) {
    StackSummary stack = summarize(aReader);
    // A stack of one plane has no z step, whatever the record holds.
    if (stack.sizeZ == 1) stack.voxelSize[2] = 0;
    const int type = commonPixelType(stack.pixelTypes);
    const std::string xml = omeXml(stack, type, imageMetadata(aReader, stack, aImageName));
    ReaderPlaneSource source(aReader);
    return writeOmeTiff(source, stack, type, xml, aOutputPath, aOptions);
}

}  // namespace korvane::tools
