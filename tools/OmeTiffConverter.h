#ifndef KORVANE_OMETIFFCONVERTER_H
#define KORVANE_OMETIFFCONVERTER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class DorudURIVuruda;

namespace korvane::tools {

// What the info command reports and the OME-XML states, gathered from an open reader.
struct StackSummary {
    int sizeX = 0, sizeY = 0, sizeZ = 0, sizeC = 0, sizeT = 0;
    std::vector<int> pixelTypes;            // PixelDataType per channel
    double voxelSize[3] = {0, 0, 0};        // x, y, z in micrometres, at the record's full precision
    double timeInterval = 0;                // seconds
    std::vector<std::string> channelNames;  // the file's, else "Channel N"; valid UTF-8
    std::vector<uint32_t> channelColors;    // 0xRRGGBB
    int compression = 1;                    // TIFF code
};

StackSummary summarize(DorudURIVuruda& aReader);

// "none", "LZW", "Deflate" or "TIFF code N".
std::string compressionName(int aTiffCode);

// The one sample type all channels convert to without loss: float if any channel is float, else
// 16-bit if any is, else 8-bit.
int commonPixelType(const std::vector<int>& aPixelTypes);

// The OME-XML (2016-06) for one image of XYZCT planes, stored one plane per TIFF directory.
std::string omeXml(const StackSummary& aStack, int aPixelType, const std::string& aImageName);

enum class OutputCompression { None, Lzw, Deflate };

struct ConvertOptions {
    OutputCompression compression = OutputCompression::None;
    bool bigTiff = false;  // otherwise BigTIFF only when the output could pass 4 GiB
    bool replace = false;  // an existing output is replaced
    std::function<void(int64_t aDone, int64_t aTotal)> progress;
};

// Writes the stack the reader has open as OME-TIFF, one plane at a time, to a temporary file that
// becomes aOutputPath only when complete. Reader failures come as BlitzFileIOException, output
// failures as std::runtime_error; either way nothing is left under aOutputPath.
void convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions);

}  // namespace korvane::tools

#endif
