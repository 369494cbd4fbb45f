#ifndef KORVANE_OMETIFFWRITER_H
#define KORVANE_OMETIFFWRITER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "OmePlaneSource.h"
#include "StackSummary.h"

namespace korvane::tools {

enum class OutputCompression { None, Lzw, Deflate };

struct ConvertOptions {
    OutputCompression compression = OutputCompression::None;
    bool bigTiff = false;  // otherwise BigTIFF only when the output could pass 4 GiB
    bool replace = false;  // an existing output is replaced
    // Called after each plane written; returning false cancels the writing.
    std::function<bool(int64_t aDone, int64_t aTotal)> progress;
};

// Writes the sizeT x sizeC x sizeZ planes of aStack's extents from aSource as OME-TIFF with samples of
// aPixelType (TYPE_UINT8, TYPE_UINT16, TYPE_UINT32, TYPE_FLOAT or TYPE_DOUBLE): one plane per directory
// in XYZCT order, aXml as the first directory's description. A few planes are held at a time, so memory
// does not grow with the stack. The output goes to a temporary file that becomes aOutputPath only when
// complete. Returns false when cancelled. Failures of the source come as it threw them, output failures
// as std::runtime_error; either way, and when cancelled, nothing is left under aOutputPath.
bool writeOmeTiff(OmePlaneSource& aSource, const StackSummary& aStack, int aPixelType,
                  const std::string& aXml, const std::string& aOutputPath, const ConvertOptions& aOptions);

// One of several images in a file: its planes and extents.
struct OmeImagePlanes {
    OmePlaneSource& source;
    StackSummary stack;
};

// The same for several images, their planes one image after the other (aXml describes them all).
bool writeOmeTiff(const std::vector<OmeImagePlanes>& aImages, int aPixelType, const std::string& aXml,
                  const std::string& aOutputPath, const ConvertOptions& aOptions);

}  // namespace korvane::tools

#endif
