#ifndef KORVANE_LSMFILEWRITER_H
#define KORVANE_LSMFILEWRITER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvane::tools {

// An 8-bit stack to be written as an LSM file.
struct LsmStack {
    int sizeX = 1, sizeY = 1, sizeZ = 1, sizeC = 1, sizeT = 1;
    double voxelSizeX = 0, voxelSizeY = 0, voxelSizeZ = 0;  // metres
    double timeInterval = 0;                                // seconds
    std::vector<std::string> channelNames;                  // one per channel, or empty
    std::vector<uint32_t> channelColors;                    // 0xRRGGBB, one per channel
    std::function<uint8_t(int t, int c, int z, int y, int x)> value;
};

// Writes the stack as microscopes do: per plane an image directory holding every channel as a
// strip of its own, then a small preview directory; the first directory carries the info record
// (tag 34412), followed by the channel colour block. Goes through a temporary file beside `path`;
// throws std::runtime_error on failure.
void writeLsmStack(const std::string& path, const LsmStack& stack);

}  // namespace korvane::tools

#endif
