#include "OmeTiffConverter.h"

#include "OmeXml.h"
#include "ReaderPlaneSource.h"

namespace korvane::tools {

bool convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions) {
    const StackSummary stack = summarize(aReader);
    const int type = commonPixelType(stack.pixelTypes);
    ReaderPlaneSource source(aReader);
    return writeOmeTiff(source, stack, type, omeXml(stack, type, aImageName), aOutputPath, aOptions);
}

}  // namespace korvane::tools
