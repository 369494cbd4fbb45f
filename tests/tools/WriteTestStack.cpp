// Writes an LSM stack for the korvane-lsm tests: OUT X Y Z C T CODE [KEY=VALUE...]
// (CODE: 1 u8, 2 12-bit in u16, 3 u16, 5 float; KEY keep: per cent of the file kept, cutting it short with
// its directories intact; positions: stage positions that share T; declaredT: the record's timepoints
// whatever the file holds; other KEYs set the record's doubles:
// voxelSizeX, originY, timeInterval, ...).
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
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
    const std::map<std::string, double*> doubles = {
        {"voxelSizeX", &recipe.voxelSizeX},    {"voxelSizeY", &recipe.voxelSizeY},
        {"voxelSizeZ", &recipe.voxelSizeZ},    {"originX", &recipe.originX},
        {"originY", &recipe.originY},          {"originZ", &recipe.originZ},
        {"timeInterval", &recipe.timeInterval}};
    double keep = 100, positions = 1, declaredT = 0;
    for (int i = 8; i < argc; ++i) {
        const char* equals = std::strchr(argv[i], '=');
        const std::string key(argv[i], equals ? equals - argv[i] : 0);
        const auto field = doubles.find(key);
        if (equals == nullptr ||
            (key != "keep" && key != "positions" && key != "declaredT" && field == doubles.end()))
            return 2;
        *(key == "keep"        ? &keep
          : key == "positions" ? &positions
          : key == "declaredT" ? &declaredT
                               : field->second) = std::strtod(equals + 1, nullptr);
    }
    if (positions > 1) {  // T is then the timepoints of all positions, one position after the other
        recipe.record.dimensionTime = recipe.sizeT / int(positions);
        recipe.recordWords = {{lsmrecord::kDimensionP, uint32_t(positions)}};
    }
    if (declaredT > 0) recipe.record.dimensionTime = int32_t(declaredT);
    writeLsm(argv[1], recipe);
    if (keep < 100) truncateFile(argv[1], std::uintmax_t(std::filesystem::file_size(argv[1]) * keep / 100));
    return 0;
}
