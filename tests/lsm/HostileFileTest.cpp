#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::everyPlaneMatches;
using korvane::lsmtest::fileHash;
using korvane::lsmtest::thrownMessage;
namespace kt = korvane::testsupport;

namespace {

enum class Outcome { Refused, ReadCorrectly, WrongPicture };

// Opens the file and reads every channel of every plane; a damaged file must either be refused with
// a BlitzFileIOException or still deliver exactly what was written.
Outcome readEverything(const std::string& aPath, const kt::LsmSpec& aSpec, std::string& aMessage) {
    DorudURIVuruda reader;
    aMessage = thrownMessage([&] {
        reader.open(aPath);
        if (!everyPlaneMatches(reader, aSpec)) throw std::runtime_error("wrong picture");
    });
    if (aMessage == "<no exception>") return Outcome::ReadCorrectly;
    if (aMessage.compare(0, 6, "<other") == 0) return Outcome::WrongPicture;
    return Outcome::Refused;
}

std::vector<char> fileBytes(const std::string& aPath) {
    std::ifstream in(aPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(HostileFiles, TruncationAtAnyOffsetIsRefusedOrHarmless) {
    kt::ScopedFile whole("whole.lsm");
    kt::ScopedFile cut("cut.lsm");
    for (const kt::Layout layout : {kt::Layout::DirectoriesFirst, kt::Layout::Interleaved})
        for (const kt::Compression compression : {kt::Compression::None, kt::Compression::LZW}) {
            kt::LsmSpec recipe = kt::lsmSpec(6, 4, 2, 2, 2, {3, 3});
            recipe.stripsPerChannel = 2;
            recipe.layout = layout;
            recipe.compression = compression;
            kt::writeLsm(whole.path(), recipe);
            const std::vector<char> bytes = fileBytes(whole.path());
            int refused = 0;
            for (size_t size = 0; size < bytes.size(); size += 1 + bytes.size() / 80) {
                {
                    std::ofstream out(cut.path(), std::ios::binary | std::ios::trunc);
                    out.write(bytes.data(), std::streamsize(size));
                }
                const uint64_t before = fileHash(cut.path());
                std::string message;
                const Outcome outcome = readEverything(cut.path(), recipe, message);
                ASSERT_NE(outcome, Outcome::WrongPicture) << "cut at " << size << ": " << message;
                if (outcome == Outcome::Refused) ++refused;
                ASSERT_EQ(fileHash(cut.path()), before);
            }
            EXPECT_GT(refused, 65);  // only cuts in trailing preview data can be harmless
        }
}

TEST(HostileFiles, DamagedStructuresAreRefusedAndTheFileStaysUnchanged) {
    kt::ScopedFile file("hostile.lsm");
    struct Case {
        const char* what;
        kt::LsmSpec recipe;
        bool mustBeRefused;
    };
    auto base = [] {
        kt::LsmSpec recipe = kt::lsmSpec(8, 6, 3, 2, 2, {1, 1});
        recipe.stripsPerChannel = 2;
        return recipe;
    };
    std::vector<Case> cases;
    auto add = [&](const char* aWhat, bool aMustBeRefused, auto aChange) {
        kt::LsmSpec recipe = base();
        aChange(recipe);
        cases.push_back({aWhat, recipe, aMustBeRefused});
    };
    using K = kt::StripFaultKind;
    add("tiny record", true, [](kt::LsmSpec& s) { s.recordLength = 4; });
    add("record without the type offset", true, [](kt::LsmSpec& s) { s.recordLength = 120; });
    add("no LSM tag", true, [](kt::LsmSpec& s) { s.omitLsmTag = true; });
    add("strip offset beyond the end", true, [](kt::LsmSpec& s) {
        s.stripFaults = {{5, 3, K::OffsetBeyondEndOfFile}};
    });
    add("strip offset at 2^32 - 1", true, [](kt::LsmSpec& s) {
        s.stripFaults = {{2, 0, K::OffsetRaw, 0xffffffffu}};
    });
    add("byte count too large", false, [](kt::LsmSpec& s) {
        s.stripFaults = {{0, 1, K::ByteCountTooLarge}};
    });
    add("byte count too small", false, [](kt::LsmSpec& s) {
        s.stripFaults = {{3, 2, K::ByteCountTooSmall}};
    });
    add("byte count zero", false, [](kt::LsmSpec& s) { s.stripFaults = {{4, 0, K::ByteCountZero}}; });
    add("byte count 2^32 - 1", false, [](kt::LsmSpec& s) {
        s.stripFaults = {{1, 1, K::ByteCountRaw, 0xffffffffu}};
    });
    add("missing directories", true, [](kt::LsmSpec& s) { s.writeDirectoryPairs = 5; });
    add("directory loop", true, [](kt::LsmSpec& s) {
        s.directoryLoop = kt::DirectoryLoop::SelfLoop;
        s.selfLoopDirectory = 4;
    });
    add("loop from the last directory", false,
        [](kt::LsmSpec& s) { s.directoryLoop = kt::DirectoryLoop::LastToFirst; });
    add("more channels than strips", true, [](kt::LsmSpec& s) { s.record.dimensionChannels = 3; });
    add("more planes than directories", true, [](kt::LsmSpec& s) { s.record.dimensionZ = 4; });
    add("wider than stored", true, [](kt::LsmSpec& s) { s.record.dimensionX = 9; });
    add("type array of wrong codes", true, [](kt::LsmSpec& s) {
        s.useChannelTypeArray = true;
        s.channelTypeArrayValues = {1, -7};
    });
    add("type array cut by the end of file", true, [](kt::LsmSpec& s) {
        s.useChannelTypeArray = true;
        s.record.offsetChannelDataTypes = -1;
    });
    add("colour array offset negative", true,
        [](kt::LsmSpec& s) { s.declaredColorArrayOffset = -2000000000; });
    add("huge colour count", true, [](kt::LsmSpec& s) { s.declaredColorCount = 0x7fffffff; });
    add("absurd extents", true, [](kt::LsmSpec& s) {
        s.record.dimensionX = 0x7fffffff;
        s.record.dimensionY = 0x7fffffff;
    });
    add("absurd stack depth", true, [](kt::LsmSpec& s) {
        s.record.dimensionZ = 0x7fffffff;
        s.record.dimensionTime = 0x7fffffff;
    });
    add("absurd channel count", true, [](kt::LsmSpec& s) { s.record.dimensionChannels = 0x7fffffff; });

    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        kt::writeLsm(file.path(), c.recipe);
        const uint64_t before = fileHash(file.path());
        std::string message;
        const Outcome outcome = readEverything(file.path(), c.recipe, message);
        EXPECT_NE(outcome, Outcome::WrongPicture) << message;
        if (c.mustBeRefused) {
            EXPECT_EQ(outcome, Outcome::Refused) << message;
        }
        EXPECT_EQ(fileHash(file.path()), before);
    }
}

TEST(HostileFiles, AbsurdExtentsAreRefusedBeforeAnyAllocation) {
    kt::ScopedFile file("absurd.lsm");
    kt::LsmSpec recipe = kt::lsmSpec(8, 6, 2, 1, 1);
    recipe.record.dimensionX = 0x7fffffff;
    recipe.record.dimensionY = 0x7fffffff;
    kt::writeLsm(file.path(), recipe);
    const std::string size = std::to_string(kt::writeLsmWithInfo(file.path(), recipe).fileSize);
    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<unsigned char, 1> row;
    EXPECT_READER_ERROR(
        reader.readArray(row, 0, 0, 0, 1, 0, 1, 0, 4),
        "Requested 1 plane(s) of 2147483647 x 2147483647 pixels and 1 channel(s) cannot be held by "
        "file '" +
            file.path() + "' of " + size + " byte.");
    EXPECT_TRUE(reader.isOpen());

    recipe = kt::lsmSpec(8, 6, 2, 1, 1);
    recipe.record.dimensionZ = 0x7fffffff;
    recipe.record.dimensionTime = 0x7fffffff;
    kt::writeLsm(file.path(), recipe);
    reader.open(file.path());
    blitz::Array<unsigned char, 3> planes;
    EXPECT_READER_ERROR(
        reader.readArray(planes, 0, 0, 0, 0, 0, 0, 0, 0),
        "Requested 2147483647 plane(s) of 8 x 6 pixels and 1 channel(s) cannot be held by file '" +
            file.path() + "' of " + size + " byte.");
    // The last plane's directory number does not even fit libtiff's 32 bits.
    const uint64_t last = 2 * (uint64_t(0x7ffffffe) * 0x7fffffff + 0x7ffffffe);
    EXPECT_READER_ERROR(reader.readArray(planes, 0x7ffffffe, 0, 0x7ffffffe, 1, 0, 0, 0, 0),
                        "Error while setting image directory to " + std::to_string(last) + ", abort.");
    EXPECT_FALSE(reader.isOpen());
}
