// Writes the fuzzer's seed corpus: small stacks covering each sample type, compression, layout and scan
// type the reader knows, and stacks carrying every acquisition block, well formed and damaged.
#include <cstdio>
#include <string>

#include "AcquisitionBlocks.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    struct Seed {
        const char* name;
        kt::LsmSpec recipe;
    } seeds[] = {{"u8", kt::lsmSpec(8, 6, 2, 1, 1)},
                 {"u16-lzw", kt::lsmSpec(8, 6, 2, 2, 2, {3, 3})},
                 {"float-deflate", kt::lsmSpec(6, 4, 1, 2, 1, {5, 5})},
                 {"type-array", kt::lsmSpec(6, 4, 1, 2, 1, {1, 1})},
                 {"interleaved", kt::lsmSpec(5, 7, 3, 1, 2, {2})},
                 {"line-scan", kt::lsmSpec(6, 1, 1, 2, 40, {1, 1})},
                 {"xzt-contiguous-lzw", kt::lsmSpec(4, 1, 5, 2, 2, {3, 3})},
                 {"positions", kt::lsmSpec(4, 3, 1, 1, 4)}};
    seeds[1].recipe.compression = kt::Compression::LZW;
    seeds[1].recipe.stripsPerChannel = 2;
    seeds[2].recipe.compression = kt::Compression::Deflate;
    seeds[3].recipe.useChannelTypeArray = true;
    seeds[4].recipe.layout = kt::Layout::Interleaved;
    seeds[4].recipe.stripsPerChannel = 3;
    seeds[5].recipe.scanType = 2;  // every timepoint a row of one image
    seeds[5].recipe.planesPerImage = 40;
    seeds[5].recipe.stripsPerChannel = 3;
    seeds[6].recipe.scanType = 4;  // every z plane a row of the image of its timepoint
    seeds[6].recipe.planesPerImage = 5;
    seeds[6].recipe.contiguousSamples = true;
    seeds[6].recipe.compression = kt::Compression::LZW;
    seeds[7].recipe.record.dimensionTime = 2;  // two positions of two timepoints
    seeds[7].recipe.recordWords = {{kt::lsmrecord::kDimensionP, 2}};
    namespace rec = kt::lsmrecord;
    kt::LsmSpec blocks = kt::lsmSpec(4, 4, 1, 2, 2);
    blocks.blocks = kt::timeBlocks(2, 3);
    blocks.blocks.push_back({rec::kOffsetScanInformation, kt::quirkyScanInformation()});
    blocks.blocks.push_back(
        {rec::kOffsetChannelWavelength, kt::LeBytes().u32(2).f64(4e-7).f64(5e-7).f64(0).f64(0).bytes});
    blocks.blocks.push_back({rec::kOffsetPositions, kt::LeBytes().u32(1).f64(1e-6).f64(2e-6).f64(0).bytes});
    blocks.blocks.push_back({rec::kOffsetTilePositions, kt::LeBytes().u32(1).f64(0).f64(0).f64(3e-6).bytes});
    const std::string characteristics =
        "ANSI\r\nBEGIN Characteristics 10001\r\n\tDevice = LSM 880\r\nEND\r\n";
    blocks.blocks.push_back(
        {rec::kOffsetCharacteristics,
         kt::LeBytes().u32(uint32_t(characteristics.size())).chars(characteristics).bytes});
    kt::LsmSpec damaged = kt::lsmSpec(4, 4, 1, 1, 1);
    kt::LeBytes deep;
    for (int i = 0; i < 20; ++i) deep.open(i == 0 ? 0x10000000 : 0x20000000);
    damaged.blocks = {{rec::kOffsetScanInformation, deep.bytes},
                      {rec::kOffsetTimeStamps, kt::LeBytes().u32(16).u32(5).f64(1).bytes},
                      {rec::kOffsetEventList, kt::LeBytes().u32(24).u32(1).u32(8).f64(0).u32(0).bytes},
                      {rec::kOffsetCharacteristics, kt::LeBytes().u32(1 << 20).chars("ANSI").bytes}};
    try {
        kt::writeLsm(dir + "/acquisition.lsm", blocks);
        kt::writeLsm(dir + "/acquisition-damaged.lsm", damaged);
        for (const Seed& seed : seeds) kt::writeLsm(dir + "/" + seed.name + ".lsm", seed.recipe);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
