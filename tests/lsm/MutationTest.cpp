#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;

namespace {

std::vector<char> fileBytes(const std::string& aPath) {
    std::ifstream in(aPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& aPath, const std::vector<char>& aBytes) {
    std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
    out.write(aBytes.data(), static_cast<std::streamsize>(aBytes.size()));
}

// Values that tend to break size and offset arithmetic when they land in a count, an offset or an extent.
uint32_t interestingWord(std::mt19937& aRandom, uint32_t aFileSize) {
    const uint32_t words[] = {
        0u,          1u,          2u,          0x7fffffffu, 0x80000000u,   0xffffffffu,
        0xfffffffeu, 0x00010000u, 0x0000ffffu, aFileSize,   aFileSize - 1, aFileSize + 1};
    return words[aRandom() % (sizeof(words) / sizeof(words[0]))];
}

// Opens the file and reads every channel of every timepoint as a whole stack, then one windowed plane.
// Anything may fail, but only with the reader's own exception.
void readAll(const std::string& aPath) {
    DorudURIVuruda reader;
    try {
        reader.open(aPath);
        blitz::Array<float, 3> stack;
        for (int t = 0; t < reader.getSizeT(); ++t)
            for (int c = 0; c < reader.getSizeC(); ++c) reader.readArray(stack, t, c, 0, 0, 0, 0, 0, 0);
        blitz::Array<unsigned char, 2> plane;
        reader.readArray(plane, reader.getSizeT() - 1, reader.getSizeC() - 1, reader.getSizeZ() - 1, 1,
                         reader.getSizeY() / 2, 0, reader.getSizeX() / 2, 0);
    } catch (const BlitzFileIOException&) {
    }
}

}  // namespace

// Random damage to the directories, the info record and the blocks it points to, reproducible by seed:
// every damaged file must end in a BlitzFileIOException or a completed read, never in a crash, another
// exception type, a hang or (under the sanitizers) an invalid memory access.
TEST(HostileFiles, RandomlyDamagedStructuresNeverEscapeTheReadersException) {
    kt::ScopedFile original("original.lsm");
    kt::ScopedFile damaged("damaged.lsm");
    // KORVANE_MUTATION_ROUNDS and KORVANE_MUTATION_SEED allow longer hunts by hand.
    const char* roundsText = std::getenv("KORVANE_MUTATION_ROUNDS");
    const char* seedText = std::getenv("KORVANE_MUTATION_SEED");
    const int rounds = roundsText ? std::atoi(roundsText) : 1000;
    std::mt19937 random(seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 20261207u);
    int mutations = 0;
    for (const kt::Layout layout : {kt::Layout::DirectoriesFirst, kt::Layout::Interleaved})
        for (const kt::Compression compression :
             {kt::Compression::None, kt::Compression::LZW, kt::Compression::Deflate}) {
            kt::LsmSpec recipe = kt::lsmSpec(7, 5, 2, 2, 2, {kt::kLsmUint16, kt::kLsmUint16});
            recipe.stripsPerChannel = 2;
            recipe.layout = layout;
            recipe.compression = compression;
            recipe.useChannelTypeArray = true;
            const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(original.path(), recipe);
            const std::vector<char> bytes = fileBytes(original.path());
            // Mostly the structures: everything before the pixel data, or the whole file when interleaved.
            const size_t structureEnd = info.pixelDataStart > 0 && info.pixelDataStart < bytes.size()
                                            ? info.pixelDataStart
                                            : bytes.size();
            for (int round = 0; round < rounds; ++round, ++mutations) {
                std::vector<char> copy = bytes;
                const int edits = 1 + static_cast<int>(random() % 4);
                for (int e = 0; e < edits; ++e) {
                    const size_t limit = (random() % 8 == 0) ? copy.size() : structureEnd;
                    const size_t at = random() % limit;
                    if (random() % 2 == 0 || at + 4 > copy.size()) {
                        copy[at] = static_cast<char>(random());
                    } else {
                        const uint32_t word = interestingWord(random, static_cast<uint32_t>(copy.size()));
                        std::memcpy(&copy[at], &word, 4);
                    }
                }
                writeBytes(damaged.path(), copy);
                SCOPED_TRACE("mutation " + std::to_string(mutations));
                EXPECT_NO_THROW(readAll(damaged.path()));
            }
        }
}
