// Writes the fuzzer's seed corpus: small stacks covering each sample type, compression and layout
// the reader knows.
#include <cstdio>
#include <string>

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
                 {"interleaved", kt::lsmSpec(5, 7, 3, 1, 2, {2})}};
    seeds[1].recipe.compression = kt::Compression::LZW;
    seeds[1].recipe.stripsPerChannel = 2;
    seeds[2].recipe.compression = kt::Compression::Deflate;
    seeds[3].recipe.useChannelTypeArray = true;
    seeds[4].recipe.layout = kt::Layout::Interleaved;
    seeds[4].recipe.stripsPerChannel = 3;
    try {
        for (const Seed& seed : seeds) kt::writeLsm(dir + "/" + seed.name + ".lsm", seed.recipe);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
