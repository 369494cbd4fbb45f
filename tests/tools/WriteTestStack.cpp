// Writes an LSM stack for the korvane-lsm tests: OUT X Y Z C T CODE [KEEP_PERCENT]
// (CODE: 1 u8, 3 u16, 5 float; KEEP_PERCENT cuts the file short, leaving its directories intact).
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "LsmWriter.h"

using namespace korvane::testsupport;

int main(int argc, char** argv) {
    if (argc < 8) return 2;
    const int c = std::atoi(argv[5]);
    LsmSpec recipe = lsmSpec(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), c,
                             std::atoi(argv[6]), std::vector<int>(c, std::atoi(argv[7])));
    recipe.voxelSizeX = 1.5e-7;
    recipe.voxelSizeY = 2.5e-7;
    recipe.voxelSizeZ = 1.2e-6;
    recipe.timeInterval = 2.5;
    recipe.channelNames = {"not", "length", "prefixed"};  // lacking the length prefixes: no names
    writeLsm(argv[1], recipe);
    if (argc > 8) truncateFile(argv[1], std::filesystem::file_size(argv[1]) * std::atoi(argv[8]) / 100);
    return 0;
}
