#ifndef KORVANE_STACKSUMMARY_H
#define KORVANE_STACKSUMMARY_H

#include <cstdint>
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

// Reads one sample of plane aZ (the last when negative) of the current series' last timepoint and
// channel, the last plane a conversion reads, and so throws the reader's exception for a file too short
// for the extents its record declares: before anything is built for each declared plane, which for a
// damaged record could be billions.
void requireLastPlane(DorudURIVuruda& aReader, int aZ = -1);

// "none", "LZW", "Deflate" or "TIFF code N".
std::string compressionName(int aTiffCode);

// The one sample type all channels convert to without loss: the widest of 8-bit < 16-bit < 32-bit
// unsigned < float < double, except that 32-bit integers beside float need double, since float holds
// integers exactly only up to 2^24.
int commonPixelType(const std::vector<int>& aPixelTypes);

// Bytes of one sample of a type commonPixelType() can give.
int pixelTypeBytes(int aPixelType);

}  // namespace korvane::tools

#endif
