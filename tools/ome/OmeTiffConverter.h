#ifndef KORVANE_OMETIFFCONVERTER_H
#define KORVANE_OMETIFFCONVERTER_H

#include <string>

#include "OmeTiffWriter.h"

class DorudURIVuruda;

namespace korvane::tools {

// Writes the stack the reader has open as OME-TIFF (writeOmeTiff() with the reader's planes, in the
// widest of its channels' types). Reader failures come as BlitzFileIOException.
bool convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions);

}  // namespace korvane::tools

#endif
