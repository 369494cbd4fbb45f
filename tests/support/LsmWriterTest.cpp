// Checks the LSM test-file writer with plain libtiff (and, where libtiff
// refuses a file, with a few lines of raw TIFF parsing written here from the
// TIFF rules), so writer bugs cannot hide behind a reader sharing them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <tuple>

#include "LsmWriter.h"

namespace kt = korvane::testsupport;

namespace {

// libtiff warns about the private tag on every directory; keep logs readable.
const bool kQuietLibtiff = [] {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    return true;
}();

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(const std::string& path) { return TiffPtr(TIFFOpen(path.c_str(), "r")); }

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t readLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

int32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int32_t>(readLE(b.data() + at, 4));
}

double leDouble(const std::vector<uint8_t>& b, size_t at) {
    const uint64_t bits = readLE(b.data() + at, 8);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

double decodeSample(int code, const uint8_t* p) {
    switch (code) {
        case kt::kLsmUint8:
            return p[0];
        case kt::kLsmUint12:
        case kt::kLsmUint16:
            return double(readLE(p, 2));
        default: {
            const uint32_t bits = uint32_t(readLE(p, 4));
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
    }
}

// Strip s holds channel s / stripsPerChannel, rows from (s % stripsPerChannel)
// * rowsPerStrip on. Every decoded sample must equal expectedSample().
testing::AssertionResult stripMatches(const kt::LsmSpec& recipe, int t, int z, int strip,
                                      uint32_t rowsPerStrip, const std::vector<uint8_t>& bytes) {
    const int c = strip / recipe.stripsPerChannel;
    const int firstRow = (strip % recipe.stripsPerChannel) * int(rowsPerStrip);
    const int rows = std::min(int(rowsPerStrip), recipe.sizeY - firstRow);
    const int code = kt::channelCode(recipe, c);
    const size_t bps = size_t(kt::bytesPerSample(code));
    if (bytes.size() != size_t(rows) * recipe.sizeX * bps)
        return testing::AssertionFailure() << "strip " << strip << " has " << bytes.size() << " bytes";
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < recipe.sizeX; ++x) {
            const double got = decodeSample(code, bytes.data() + (size_t(r) * recipe.sizeX + x) * bps);
            const double want = kt::expectedSample(recipe, t, c, z, firstRow + r, x);
            if (got != want)
                return testing::AssertionFailure()
                       << "(t,c,z,y,x)=(" << t << "," << c << "," << z << "," << firstRow + r << "," << x
                       << "): " << got << " != " << want;
        }
    return testing::AssertionSuccess();
}

std::vector<uint8_t> readEncodedStrip(TIFF* tif, uint32_t strip) {
    std::vector<uint8_t> buf(size_t(TIFFStripSize(tif)));
    const tmsize_t n = TIFFReadEncodedStrip(tif, strip, buf.data(), tmsize_t(buf.size()));
    buf.resize(n < 0 ? 0 : size_t(n));
    return buf;
}

std::vector<uint32_t> stripOffsetsOf(TIFF* tif) {
    std::vector<uint32_t> out;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
        out.push_back(uint32_t(TIFFGetStrileOffset(tif, s)));
    return out;
}

std::vector<uint32_t> byteCountsOf(TIFF* tif) {
    std::vector<uint32_t> out;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
        out.push_back(uint32_t(TIFFGetStrileByteCount(tif, s)));
    return out;
}

// A TIFF kept in memory: the codec checks open thousands of tiny files.
struct MemoryFile {
    std::vector<uint8_t> data;
    uint64_t pos = 0;

    static tmsize_t read(thandle_t h, void* buf, tmsize_t size) {
        auto* f = static_cast<MemoryFile*>(h);
        const uint64_t n =
            std::min<uint64_t>(uint64_t(size), f->data.size() - std::min<uint64_t>(f->pos, f->data.size()));
        if (n > 0) std::memcpy(buf, f->data.data() + f->pos, n);
        f->pos += n;
        return tmsize_t(n);
    }
    static tmsize_t write(thandle_t h, void* buf, tmsize_t size) {
        auto* f = static_cast<MemoryFile*>(h);
        if (f->data.size() < f->pos + uint64_t(size)) f->data.resize(f->pos + uint64_t(size));
        std::memcpy(f->data.data() + f->pos, buf, size_t(size));
        f->pos += uint64_t(size);
        return size;
    }
    static toff_t seek(thandle_t h, toff_t off, int whence) {
        auto* f = static_cast<MemoryFile*>(h);
        f->pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? f->pos + off : f->data.size() + off;
        return f->pos;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return static_cast<MemoryFile*>(h)->data.size(); }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}

    TiffPtr open(const char* mode) {
        pos = 0;
        return TiffPtr(TIFFClientOpen("memory", mode, this, read, write, seek, close, size, map, unmap));
    }
};

// Decodes one compressed strip with libtiff's own codec by wrapping it into a
// one-strip 8-bit TIFF of `rawSize` pixels.
std::vector<uint8_t> decodeWithLibtiff(const std::vector<uint8_t>& encoded, size_t rawSize,
                                       uint16_t compression) {
    MemoryFile file;
    {
        TiffPtr out = file.open("w");
        if (!out) return {};
        TIFFSetField(out.get(), TIFFTAG_IMAGEWIDTH, uint32_t(rawSize));
        TIFFSetField(out.get(), TIFFTAG_IMAGELENGTH, 1u);
        TIFFSetField(out.get(), TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(out.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(out.get(), TIFFTAG_COMPRESSION, compression);
        TIFFSetField(out.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(out.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(out.get(), TIFFTAG_ROWSPERSTRIP, 1u);
        std::vector<uint8_t> copy = encoded;
        if (TIFFWriteRawStrip(out.get(), 0, copy.data(), tmsize_t(copy.size())) < 0) return {};
    }
    TiffPtr in = file.open("r");
    if (!in) return {};
    return readEncodedStrip(in.get(), 0);
}

// libtiff's decoder stops once it has the bytes it wants, so it never looks
// at EndOfInformation. This strict decoder also insists on the leading Clear,
// the EndOfInformation code at the right width and no codes out of range.
std::optional<std::vector<uint8_t>> strictLzwDecode(const std::vector<uint8_t>& in) {
    size_t bit = 0;
    int width = 9;
    auto read = [&]() -> std::optional<uint32_t> {
        if (bit + width > in.size() * 8) return std::nullopt;
        uint32_t code = 0;
        for (int i = 0; i < width; ++i, ++bit) code = (code << 1) | ((in[bit / 8] >> (7 - bit % 8)) & 1);
        return code;
    };
    struct Node {
        int32_t prefix;  // -1 for single bytes
        uint8_t last;
        uint8_t first;
    };
    std::vector<Node> table;
    auto reset = [&] {
        table.clear();
        for (int b = 0; b < 258; ++b) table.push_back({-1, uint8_t(b), uint8_t(b)});
        width = 9;
    };
    auto append = [&](std::vector<uint8_t>& out, uint32_t code) {
        const size_t start = out.size();
        for (int32_t c = int32_t(code); c >= 0; c = table[c].prefix) out.push_back(table[c].last);
        std::reverse(out.begin() + start, out.end());
    };
    if (read() != 256u) return std::nullopt;
    reset();
    std::vector<uint8_t> out;
    int32_t prev = -1;
    while (auto code = read()) {
        if (*code == 257) return in.size() * 8 - bit < 8 ? std::optional(out) : std::nullopt;
        if (*code == 256) {
            reset();
            prev = -1;
            continue;
        }
        const bool known = *code < table.size() && (*code < 256 || *code > 257);
        if (!known && !(prev >= 0 && *code == table.size())) return std::nullopt;
        if (prev >= 0) {
            const uint8_t first = known ? table[*code].first : table[prev].first;
            table.push_back({prev, first, table[prev].first});
            if (table.size() == 4095) return std::nullopt;  // the next code would need 13 bits
            if (table.size() == 511 || table.size() == 1023 || table.size() == 2047) ++width;
        }
        append(out, *code);
        prev = int32_t(*code);
    }
    return std::nullopt;
}

// Minimal directory parsing for files libtiff will not open.
struct RawDirectory {
    std::map<uint16_t, std::vector<uint32_t>> values;
    uint32_t next = 0;
};

RawDirectory parseDirectory(const std::vector<uint8_t>& file, uint32_t offset) {
    RawDirectory dir;
    const size_t n = size_t(readLE(&file.at(offset), 2));
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = &file.at(offset + 2 + 12 * i);
        const auto tag = uint16_t(readLE(e, 2));
        const auto type = uint16_t(readLE(e + 2, 2));
        const auto count = uint32_t(readLE(e + 4, 4));
        const int size = type == 3 ? 2 : type == 4 ? 4 : 1;
        const uint8_t* p = size * count <= 4 ? e + 8 : &file.at(readLE(e + 8, 4));
        for (uint32_t k = 0; k < count; ++k) dir.values[tag].push_back(uint32_t(readLE(p + k * size, size)));
    }
    dir.next = uint32_t(readLE(&file.at(offset + 2 + 12 * n), 4));
    return dir;
}

// The info record as libtiff hands it out.
std::vector<uint8_t> lsmRecordOf(TIFF* tif) {
    uint32_t count = 0;
    uint8_t* data = nullptr;
    if (!TIFFGetField(tif, kt::kLsmInfoTag, &count, &data)) return {};
    return {data, data + count};
}

const char* compressionName(kt::Compression c) {
    return c == kt::Compression::LZW ? "Lzw" : c == kt::Compression::Deflate ? "Deflate" : "None";
}

uint16_t compressionCode(kt::Compression c) {
    return c == kt::Compression::LZW       ? COMPRESSION_LZW
           : c == kt::Compression::Deflate ? COMPRESSION_ADOBE_DEFLATE
                                           : COMPRESSION_NONE;
}

// ---------------------------------------------------------------------------

using RoundTripParam = std::tuple<kt::Compression, kt::Layout, int>;

class LsmRoundTrip : public testing::TestWithParam<RoundTripParam> {};

TEST_P(LsmRoundTrip, LibtiffDecodesEveryStripAndPreview) {
    const auto [compression, layout, code] = GetParam();
    // Odd width and a short last strip catch row stride and strip size slips.
    kt::LsmSpec recipe = kt::lsmSpec(13, 10, 3, 2, 2, {code, code});
    recipe.stripsPerChannel = 3;
    recipe.compression = compression;
    recipe.layout = layout;
    kt::ScopedFile file("roundtrip.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);

    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    ASSERT_EQ(TIFFNumberOfDirectories(tif.get()), 2u * 2 * 3);
    for (int image = 0; image < 6; ++image) {
        const int t = image / 3, z = image % 3;
        SCOPED_TRACE("image " + std::to_string(image));
        ASSERT_TRUE(TIFFSetDirectory(tif.get(), tdir_t(2 * image)));
        EXPECT_EQ(TIFFCurrentDirOffset(tif.get()), info.images[image].directoryOffset);
        uint32_t subfile = 99, width = 0, height = 0, rows = 0;
        uint16_t bits = 0, spp = 0, planar = 0, comp = 0, format = 0;
        TIFFGetField(tif.get(), TIFFTAG_SUBFILETYPE, &subfile);
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif.get(), TIFFTAG_ROWSPERSTRIP, &rows);
        TIFFGetField(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &comp);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
        EXPECT_EQ(subfile, 0u);
        EXPECT_EQ(width, 13u);
        EXPECT_EQ(height, 10u);
        EXPECT_EQ(rows, 4u);
        EXPECT_EQ(bits, 8 * kt::bytesPerSample(code));
        EXPECT_EQ(spp, 2);
        EXPECT_EQ(planar, PLANARCONFIG_SEPARATE);
        EXPECT_EQ(comp, compressionCode(compression));
        EXPECT_EQ(format, code == kt::kLsmFloat32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
        EXPECT_EQ(lsmRecordOf(tif.get()).size(), image == 0 ? 512u : 0u);

        ASSERT_EQ(TIFFNumberOfStrips(tif.get()), 6u);
        const std::vector<uint32_t> offsets = stripOffsetsOf(tif.get());
        for (uint32_t s = 0; s < 6; ++s) {
            EXPECT_TRUE(stripMatches(recipe, t, z, int(s), rows, readEncodedStrip(tif.get(), s)));
            // Where the strips sit is the point of the two layouts.
            if (layout == kt::Layout::DirectoriesFirst)
                EXPECT_GE(offsets[s], info.directoryOffsets.back());
            else
                EXPECT_TRUE(offsets[s] > info.images[image].directoryOffset &&
                            offsets[s] < info.images[image].previewDirectoryOffset);
        }

        ASSERT_TRUE(TIFFSetDirectory(tif.get(), tdir_t(2 * image + 1)));
        TIFFGetField(tif.get(), TIFFTAG_SUBFILETYPE, &subfile);
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
        EXPECT_EQ(subfile, uint32_t(FILETYPE_REDUCEDIMAGE));
        EXPECT_EQ(width, 4u);
        EXPECT_EQ(spp, 3);
        const std::vector<uint8_t> preview = readEncodedStrip(tif.get(), 0);
        ASSERT_EQ(preview.size(), 4u * 4 * 3);
        EXPECT_EQ(preview[3 * (4 * 2 + 1) + 2], kt::previewSample(image, 2, 1, 2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllCodecsLayoutsAndTypes, LsmRoundTrip,
    testing::Combine(testing::Values(kt::Compression::None, kt::Compression::LZW, kt::Compression::Deflate),
                     testing::Values(kt::Layout::DirectoriesFirst, kt::Layout::Interleaved),
                     testing::Values(kt::kLsmUint8, kt::kLsmUint12, kt::kLsmUint16, kt::kLsmFloat32)),
    [](const testing::TestParamInfo<RoundTripParam>& info) {
        const kt::Layout layout = std::get<1>(info.param);
        return std::string(compressionName(std::get<0>(info.param))) +
               (layout == kt::Layout::Interleaved ? "Interleaved" : "DirectoriesFirst") + "Code" +
               std::to_string(std::get<2>(info.param));
    });

// libtiff refuses differing BitsPerSample values, so mixed-type files are
// parsed by hand; compressed strips still go through libtiff's codecs.
class MixedChannelTypes : public testing::TestWithParam<kt::Compression> {};

TEST_P(MixedChannelTypes, StripsHoldEachChannelInItsOwnType) {
    kt::LsmSpec recipe = kt::lsmSpec(9, 6, 2, 4, 1, {1, 3, 5, 2});
    recipe.useChannelTypeArray = true;
    recipe.stripsPerChannel = 2;
    recipe.compression = GetParam();
    kt::ScopedFile file("mixed.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    const std::vector<uint8_t> bytes = readFile(file.path());

    ASSERT_EQ(bytes.size(), info.fileSize);
    ASSERT_EQ(le32(bytes, 4), int32_t(info.directoryOffsets[0]));
    uint32_t offset = info.directoryOffsets[0];
    for (int z = 0; z < 2; ++z) {
        const RawDirectory dir = parseDirectory(bytes, offset);
        EXPECT_EQ(dir.values.at(258), (std::vector<uint32_t>{8, 16, 32, 16}));
        EXPECT_EQ(dir.values.at(339), (std::vector<uint32_t>{1, 1, 3, 1}));
        const std::vector<uint32_t>& offsets = dir.values.at(273);
        const std::vector<uint32_t>& counts = dir.values.at(279);
        ASSERT_EQ(offsets.size(), 8u);
        for (int s = 0; s < 8; ++s) {
            const int c = s / 2;
            const uint32_t rows = 3;
            const size_t rawSize = rows * 9 * size_t(kt::bytesPerSample(kt::channelCode(recipe, c)));
            std::vector<uint8_t> strip(bytes.begin() + offsets[s], bytes.begin() + offsets[s] + counts[s]);
            if (recipe.compression != kt::Compression::None)
                strip = decodeWithLibtiff(strip, rawSize, compressionCode(recipe.compression));
            EXPECT_TRUE(stripMatches(recipe, 0, z, s, rows, strip));
        }
        offset = parseDirectory(bytes, dir.next).next;  // skip the preview
    }
    EXPECT_EQ(offset, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, MixedChannelTypes,
                         testing::Values(kt::Compression::None, kt::Compression::LZW,
                                         kt::Compression::Deflate),
                         [](const testing::TestParamInfo<kt::Compression>& info) {
                             return std::string(compressionName(info.param));
                         });

// ---------------------------------------------------------------------------

TEST(LsmInfoRecord, DescribesTheStackAndPointsAtTheColourBlock) {
    kt::LsmSpec recipe = kt::lsmSpec(7, 5, 3, 2, 4, {3, 3});
    recipe.voxelSizeX = 1.5e-7;
    recipe.voxelSizeZ = 2.5e-6;
    recipe.timeInterval = 12.5;
    recipe.channelNames = {"Ch1", "T PMT"};
    kt::ScopedFile file("record.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    const std::vector<uint8_t> rec = lsmRecordOf(tif.get());
    ASSERT_EQ(rec.size(), 512u);

    using namespace kt::lsmrecord;
    EXPECT_EQ(le32(rec, kMagic), 0x0400494C);
    EXPECT_EQ(le32(rec, kRecordSize), 512);
    EXPECT_EQ(le32(rec, kDimensionX), 7);
    EXPECT_EQ(le32(rec, kDimensionY), 5);
    EXPECT_EQ(le32(rec, kDimensionZ), 3);
    EXPECT_EQ(le32(rec, kDimensionChannels), 2);
    EXPECT_EQ(le32(rec, kDimensionTime), 4);
    EXPECT_EQ(le32(rec, kIntensityDataType), 3);
    EXPECT_EQ(le32(rec, kThumbnailX), 4);
    EXPECT_EQ(le32(rec, kThumbnailY), 4);
    EXPECT_EQ(leDouble(rec, kVoxelSizeX), 1.5e-7);
    EXPECT_EQ(leDouble(rec, kVoxelSizeY), 2e-7);
    EXPECT_EQ(leDouble(rec, kVoxelSizeZ), 2.5e-6);
    EXPECT_EQ(leDouble(rec, kTimeInterval), 12.5);
    EXPECT_EQ(le32(rec, kOffsetChannelDataTypes), 0);
    for (size_t i = kOffsetChannelDataTypes + 4; i < rec.size(); ++i)
        ASSERT_EQ(rec[i], 0) << "stray byte at " << i;

    const uint32_t colors = uint32_t(le32(rec, kOffsetChannelColors));
    ASSERT_EQ(colors, info.colorBlockOffset);
    const std::vector<uint8_t> bytes = readFile(file.path());
    EXPECT_EQ(le32(bytes, colors + 0), 24 + 2 * 4 + 4 + 6);  // header, colours, names
    EXPECT_EQ(le32(bytes, colors + 4), 2);
    EXPECT_EQ(le32(bytes, colors + 8), 2);
    EXPECT_EQ(le32(bytes, colors + 12), 24);
    EXPECT_EQ(le32(bytes, colors + 16), 32);
    EXPECT_EQ(le32(bytes, colors + 20), 0);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + colors + 24, bytes.begin() + colors + 32),
              (std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 0, 0}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[colors + 32]), 10),
              std::string("Ch1\0T PMT\0", 10));

    for (tdir_t d = 1; d < 2 * 3 * 4; ++d) {
        ASSERT_TRUE(TIFFSetDirectory(tif.get(), d));
        EXPECT_TRUE(lsmRecordOf(tif.get()).empty()) << "directory " << d;
    }
}

TEST(LsmInfoRecord, ChannelTypeArrayHoldsPerChannelCodes) {
    kt::LsmSpec recipe = kt::lsmSpec(4, 4, 1, 3, 1, {2, 2, 2});
    recipe.useChannelTypeArray = true;
    kt::ScopedFile file("types.lsm");
    kt::writeLsm(file.path(), recipe);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    const std::vector<uint8_t> rec = lsmRecordOf(tif.get());
    ASSERT_EQ(rec.size(), 512u);
    EXPECT_EQ(le32(rec, kt::lsmrecord::kIntensityDataType), 0);
    const uint32_t array = uint32_t(le32(rec, kt::lsmrecord::kOffsetChannelDataTypes));
    ASSERT_NE(array, 0u);
    const std::vector<uint8_t> bytes = readFile(file.path());
    for (int c = 0; c < 3; ++c) EXPECT_EQ(le32(bytes, array + 4 * c), 2);

    // Forcing the array keeps the single code in the record.
    recipe.useChannelTypeArray = false;
    recipe.forceChannelTypeArray = true;
    recipe.channelTypeArrayValues = {2, 4, 2};
    kt::writeLsm(file.path(), recipe);
    tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    const std::vector<uint8_t> forced = lsmRecordOf(tif.get());
    EXPECT_EQ(le32(forced, kt::lsmrecord::kIntensityDataType), 2);
    const uint32_t forcedArray = uint32_t(le32(forced, kt::lsmrecord::kOffsetChannelDataTypes));
    EXPECT_EQ(le32(readFile(file.path()), forcedArray + 4), 4);
}

TEST(LsmInfoRecord, OverridesAndShortRecordsLie) {
    kt::LsmSpec recipe = kt::lsmSpec(6, 4, 2, 1, 1);
    recipe.record.dimensionZ = 9;
    recipe.record.intensityDataType = 4;
    recipe.record.offsetChannelColors = 0x7ffffff0;
    recipe.record.offsetChannelDataTypes = -1;
    recipe.declaredColorCount = 0x10000000;
    recipe.declaredColorArrayOffset = 1 << 20;
    kt::ScopedFile file("lies.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    std::vector<uint8_t> rec = lsmRecordOf(tif.get());
    using namespace kt::lsmrecord;
    EXPECT_EQ(le32(rec, kDimensionX), 6);
    EXPECT_EQ(le32(rec, kDimensionZ), 9);
    EXPECT_EQ(le32(rec, kIntensityDataType), 4);
    EXPECT_EQ(le32(rec, kOffsetChannelColors), 0x7ffffff0);
    EXPECT_EQ(le32(rec, kOffsetChannelDataTypes), -1);
    const std::vector<uint8_t> bytes = readFile(file.path());
    EXPECT_EQ(le32(bytes, info.colorBlockOffset + 4), 0x10000000);
    EXPECT_EQ(le32(bytes, info.colorBlockOffset + 12), 1 << 20);
    // The real colour entry is still written where a sane header would say.
    EXPECT_EQ(bytes[info.colorBlockOffset + 24], 255);

    recipe = kt::lsmSpec(6, 4, 2, 1, 1);
    recipe.recordLength = 100;
    kt::writeLsm(file.path(), recipe);
    tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    rec = lsmRecordOf(tif.get());
    ASSERT_EQ(rec.size(), 100u);
    EXPECT_EQ(le32(rec, kRecordSize), 100);
    EXPECT_EQ(le32(rec, kDimensionZ), 2);
    EXPECT_EQ(leDouble(rec, kVoxelSizeZ), 1e-6);

    recipe.omitLsmTag = true;
    kt::writeLsm(file.path(), recipe);
    tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    EXPECT_EQ(TIFFNumberOfDirectories(tif.get()), 4u);
    EXPECT_TRUE(lsmRecordOf(tif.get()).empty());
}

// ---------------------------------------------------------------------------

TEST(TiffLzw, LibtiffDecodesLargeRandomAndRepetitiveData) {
    std::mt19937 rng(1234);
    std::vector<uint8_t> random(200 * 1024);
    for (uint8_t& b : random) b = uint8_t(rng());
    std::vector<uint8_t> runs(150 * 1024, 7);
    std::vector<uint8_t> pattern(100 * 1024);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t((i * i / 7) % 13);
    std::vector<uint8_t> mixed = pattern;
    mixed.insert(mixed.end(), random.begin(), random.begin() + 70000);
    mixed.insert(mixed.end(), runs.begin(), runs.end());

    for (const auto* data : {&random, &runs, &pattern, &mixed}) {
        const std::vector<uint8_t> encoded = kt::encodeTiffLzw(*data);
        EXPECT_EQ(decodeWithLibtiff(encoded, data->size(), COMPRESSION_LZW), *data)
            << data->size() << " bytes";
        EXPECT_EQ(strictLzwDecode(encoded), *data) << data->size() << " bytes";
    }
    // An encoder that never reuses its table would still round-trip.
    EXPECT_LT(kt::encodeTiffLzw(runs).size(), runs.size() / 50);
    EXPECT_LT(kt::encodeTiffLzw(pattern).size(), pattern.size() / 4);
}

TEST(TiffLzw, StreamsEndingAroundEveryWidthChangeDecode) {
    // Every prefix of one random buffer ends after a different number of codes,
    // so together they end on each code width switch and on the table reset.
    std::mt19937 rng(99);
    std::vector<uint8_t> data(4300);
    for (uint8_t& b : data) b = uint8_t(rng() % 48);  // repeats early, filling the table faster
    for (size_t n = 1; n <= data.size(); ++n) {
        const std::vector<uint8_t> prefix(data.begin(), data.begin() + n);
        const std::vector<uint8_t> encoded = kt::encodeTiffLzw(prefix);
        ASSERT_EQ(decodeWithLibtiff(encoded, n, COMPRESSION_LZW), prefix) << "prefix of " << n;
        ASSERT_EQ(strictLzwDecode(encoded), prefix) << "prefix of " << n;
    }
}

// ---------------------------------------------------------------------------

TEST(LsmQuirks, LzwStripsDeclareUncompressedSizes) {
    kt::LsmSpec recipe = kt::lsmSpec(32, 12, 2, 2, 1, {3, 3});
    recipe.stripsPerChannel = 2;
    recipe.compression = kt::Compression::LZW;
    // Smooth rows, as from a microscope, so LZW actually shrinks the strips.
    recipe.values = [](int, int c, int z, int y, int x) { return 1000 * c + 10 * z + y + x / 8; };
    recipe.lzwDeclaresUncompressedByteCounts = true;
    kt::ScopedFile file("quirk.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    const std::vector<uint8_t> bytes = readFile(file.path());
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);

    uint64_t end = 0;
    for (int image = 0; image < 2; ++image) {
        ASSERT_TRUE(TIFFSetDirectory(tif.get(), tdir_t(2 * image)));
        const std::vector<uint32_t> offsets = stripOffsetsOf(tif.get());
        const std::vector<uint32_t> counts = byteCountsOf(tif.get());
        const auto& strips = info.images[image].strips;
        ASSERT_EQ(counts.size(), 4u);
        for (size_t s = 0; s < 4; ++s) {
            EXPECT_EQ(counts[s], 6u * 32 * 2);
            EXPECT_EQ(offsets[s], strips[s].position);
            EXPECT_LT(strips[s].size, counts[s]);
            // Back to back, so each declared strip overlaps the next.
            if (s > 0) {
                EXPECT_EQ(offsets[s], offsets[s - 1] + strips[s - 1].size);
            }
            const std::vector<uint8_t> compressed(bytes.begin() + offsets[s],
                                                  bytes.begin() + offsets[s] + strips[s].size);
            EXPECT_TRUE(stripMatches(recipe, 0, image, int(s), 6,
                                     decodeWithLibtiff(compressed, counts[s], COMPRESSION_LZW)));
            end = std::max<uint64_t>(end, uint64_t(offsets[s]) + counts[s]);
        }
    }
    EXPECT_GT(end, info.fileSize);
}

TEST(LsmValues, DefaultFormulaSpansEachTypesRange) {
    double max16 = 0, min32 = 0, max32 = 0;
    bool fraction = false;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            max16 = std::max(max16, kt::lsmTestValue(3, 0, 1, 2, y, x));
            const double f = kt::lsmTestValue(5, 0, 1, 1, y, x);
            min32 = std::min(min32, f);
            max32 = std::max(max32, f);
            fraction |= f != std::floor(f);
            ASSERT_EQ(kt::lsmTestValue(1, 1, 1, 1, y, x), (x + 3 * y + 17 + 41 + 59) % 256);
        }
    EXPECT_GT(max16, 32767);
    EXPECT_LE(max16, 65535);
    EXPECT_TRUE(fraction);
    EXPECT_EQ(min32, -3e9);
    EXPECT_GT(kt::lsmTestValue(5, 0, 0, 1, 0, 0), 2147483647.0);
    EXPECT_NE(kt::lsmTestValue(1, 0, 0, 0, 0, 1), kt::lsmTestValue(1, 0, 0, 0, 1, 0));
}

TEST(LsmValues, CustomValuesAreConvertedToTheChannelType) {
    EXPECT_EQ(kt::storedValue(1, 300.4), 255);
    EXPECT_EQ(kt::storedValue(1, -3), 0);
    EXPECT_EQ(kt::storedValue(1, 2.5), 3);
    EXPECT_EQ(kt::storedValue(3, 70000), 65535);
    EXPECT_EQ(kt::storedValue(2, NAN), 0);
    EXPECT_EQ(kt::storedValue(5, 0.1), double(0.1f));

    kt::LsmSpec recipe = kt::lsmSpec(5, 3, 1, 2, 1, {1, 3});
    recipe.values = [](int, int c, int, int y, int x) { return c == 0 ? 100.0 * x - 50 : y * 1e5; };
    kt::ScopedFile file("custom.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    // Mixed sample sizes: libtiff will not open this, so read the bytes.
    const std::vector<uint8_t> bytes = readFile(file.path());
    const std::vector<uint32_t> offsets = parseDirectory(bytes, info.directoryOffsets[0]).values.at(273);
    EXPECT_EQ(bytes[offsets[0] + 0], 0);
    EXPECT_EQ(bytes[offsets[0] + 2], 150);
    EXPECT_EQ(bytes[offsets[0] + 4], 255);
    EXPECT_EQ(readLE(&bytes[offsets[1] + 2 * 5], 2), 65535u);
    EXPECT_EQ(kt::expectedSample(recipe, 0, 0, 0, 1, 4), 255);
}

TEST(LsmValues, SparseStripsHoldOnlyTheirFirstAndLastRows) {
    kt::LsmSpec recipe = kt::lsmSpec(6, 10, 1, 1, 1, {3});
    recipe.stripsPerChannel = 3;  // rows 0-3, 4-7, 8-9
    recipe.sparsePixelData = true;
    kt::ScopedFile file("sparse-small.lsm");
    kt::writeLsm(file.path(), recipe);
    std::vector<int> holes;
    for (int y = 0; y < 10; ++y)
        if (kt::isSparseHoleRow(recipe, y)) holes.push_back(y);
    EXPECT_EQ(holes, (std::vector<int>{1, 2, 5, 6}));

    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    for (uint32_t s = 0; s < 3; ++s)
        EXPECT_TRUE(stripMatches(recipe, 0, 0, int(s), 4, readEncodedStrip(tif.get(), s)));
    EXPECT_EQ(kt::expectedSample(recipe, 0, 0, 0, 1, 3), 0);
    EXPECT_NE(kt::lsmTestValue(3, 0, 0, 0, 1, 3), 0);
}

// ---------------------------------------------------------------------------

TEST(DamagedFiles, DirectoryChainsCanLoopOrStopEarly) {
    kt::LsmSpec recipe = kt::lsmSpec(4, 4, 3, 1, 2);
    recipe.directoryLoop = kt::DirectoryLoop::LastToFirst;
    kt::ScopedFile file("loop.lsm");
    kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    std::vector<uint8_t> bytes = readFile(file.path());
    uint32_t offset = uint32_t(le32(bytes, 4));
    for (uint32_t expected : info.directoryOffsets) {
        ASSERT_EQ(offset, expected);
        offset = parseDirectory(bytes, offset).next;
    }
    EXPECT_EQ(offset, info.directoryOffsets.front());

    recipe.directoryLoop = kt::DirectoryLoop::SelfLoop;
    recipe.selfLoopDirectory = 3;
    info = kt::writeLsmWithInfo(file.path(), recipe);
    bytes = readFile(file.path());
    EXPECT_EQ(parseDirectory(bytes, info.directoryOffsets[2]).next, info.directoryOffsets[3]);
    EXPECT_EQ(parseDirectory(bytes, info.directoryOffsets[3]).next, info.directoryOffsets[3]);

    recipe.directoryLoop = kt::DirectoryLoop::None;
    recipe.writeDirectoryPairs = 2;
    kt::writeLsm(file.path(), recipe);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    EXPECT_EQ(TIFFNumberOfDirectories(tif.get()), 4u);
    EXPECT_EQ(le32(lsmRecordOf(tif.get()), kt::lsmrecord::kDimensionZ), 3);
}

TEST(DamagedFiles, StripFaultsChangeOnlyTheDeclaredValues) {
    kt::LsmSpec recipe = kt::lsmSpec(8, 8, 2, 2, 1);
    recipe.stripsPerChannel = 2;
    using K = kt::StripFaultKind;
    recipe.stripFaults = {{0, 0, K::OffsetBeyondEndOfFile, 0}, {0, 1, K::OffsetIntoDirectories, 0},
                          {0, 2, K::OffsetRaw, 12345},         {0, 3, K::ByteCountTooLarge, 0},
                          {1, 0, K::ByteCountTooSmall, 0},     {1, 1, K::ByteCountZero, 0},
                          {1, 3, K::ByteCountRaw, 7}};
    kt::ScopedFile file("faults.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    std::vector<uint32_t> offsets = stripOffsetsOf(tif.get());
    std::vector<uint32_t> counts = byteCountsOf(tif.get());
    EXPECT_GT(offsets[0], info.fileSize);
    EXPECT_GT(offsets[1], info.directoryOffsets.front());
    EXPECT_LT(offsets[1], info.pixelDataStart);
    EXPECT_EQ(offsets[2], 12345u);
    EXPECT_EQ(counts[3], 32u + 4096);
    EXPECT_EQ(counts[0], 32u);

    ASSERT_TRUE(TIFFSetDirectory(tif.get(), 2));
    offsets = stripOffsetsOf(tif.get());
    counts = byteCountsOf(tif.get());
    EXPECT_EQ(counts, (std::vector<uint32_t>{16, 0, 32, 7}));
    EXPECT_EQ(offsets[2], info.images[1].strips[2].position);
    // The data itself is still where it belongs.
    EXPECT_TRUE(stripMatches(recipe, 0, 1, 2, 4, readEncodedStrip(tif.get(), 2)));
}

TEST(DamagedFiles, TruncatedPixelDataLeavesDirectoriesReadable) {
    const kt::LsmSpec recipe = kt::lsmSpec(16, 16, 3, 1, 1);
    kt::ScopedFile file("truncated.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    kt::truncateFile(file.path(), info.pixelDataStart + 10);
    EXPECT_EQ(readFile(file.path()).size(), info.pixelDataStart + 10);
    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    EXPECT_EQ(TIFFNumberOfDirectories(tif.get()), 6u);
    EXPECT_EQ(lsmRecordOf(tif.get()).size(), 512u);
}

TEST(DamagedFiles, PlainTiffAndNonTiff) {
    kt::ScopedFile plain("plain.tif");
    kt::writePlainTiff(plain.path(), 5, 3);
    TiffPtr tif = openTiff(plain.path());
    ASSERT_TRUE(tif);
    EXPECT_EQ(TIFFNumberOfDirectories(tif.get()), 1u);
    EXPECT_TRUE(lsmRecordOf(tif.get()).empty());
    const std::vector<uint8_t> pixels = readEncodedStrip(tif.get(), 0);
    ASSERT_EQ(pixels.size(), 15u);
    EXPECT_EQ(pixels[5 * 2 + 4], kt::previewSample(0, 2, 4, 0));

    kt::ScopedFile text("text.lsm");
    kt::writeNonTiff(text.path());
    EXPECT_FALSE(openTiff(text.path()));
    EXPECT_FALSE(readFile(text.path()).empty());
}

TEST(WriterErrors, InvalidSpecsAndUnwritablePathsThrow) {
    kt::ScopedFile file("invalid.lsm");
    auto invalid = [&](auto change) {
        kt::LsmSpec recipe = kt::lsmSpec(8, 8, 2, 2, 1);
        change(recipe);
        EXPECT_THROW(kt::writeLsm(file.path(), recipe), std::invalid_argument);
    };
    invalid([](kt::LsmSpec& s) { s.channelCodes = {1, 4}; });
    invalid([](kt::LsmSpec& s) { s.channelCodes = {1}; });
    invalid([](kt::LsmSpec& s) { s.stripsPerChannel = 7; });  // 2 rows each: 4 strips only
    invalid([](kt::LsmSpec& s) {
        s.sparsePixelData = true;
        s.compression = kt::Compression::LZW;
    });
    invalid([](kt::LsmSpec& s) { s.pixelDataStart = 16; });
    invalid([](kt::LsmSpec& s) { s.stripFaults = {{2, 0, kt::StripFaultKind::ByteCountZero, 0}}; });
    EXPECT_THROW(kt::writeLsm(kt::tempDirectory() + "/missing/dir/x.lsm", kt::lsmSpec(4, 4, 1, 1, 1)),
                 std::runtime_error);
}

// ---------------------------------------------------------------------------

TEST(BigSparseFile, StripOffsetsPast4GiBAreStoredWrapped) {
    const std::string dir = kt::tempDirectory();
    if (!kt::fileSystemSupportsSparseFiles(dir))
        GTEST_SKIP() << "file system under " << dir << " does not keep sparse files small";

    constexpr uint64_t kGiB = uint64_t{1} << 30;
    constexpr uint64_t kStripBytes = 2048 * 8192;
    kt::LsmSpec recipe = kt::lsmSpec(8192, 8192, 3, 1, 1);
    recipe.stripsPerChannel = 4;
    recipe.sparsePixelData = true;
    recipe.pixelDataStart = 4 * kGiB - 5 * kStripBytes;
    kt::ScopedFile file("big.lsm");
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);

    struct stat st {};
    ASSERT_EQ(::stat(file.path().c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), info.fileSize);
    EXPECT_GT(info.fileSize, 4 * kGiB + 6 * kStripBytes);
    EXPECT_LT(kt::allocatedBytes(file.path()), uint64_t{16} << 20);

    TiffPtr tif = openTiff(file.path());
    ASSERT_TRUE(tif);
    ASSERT_EQ(TIFFNumberOfDirectories(tif.get()), 6u);
    const int fd = ::open(file.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const auto positions = kt::stripPositions(info);
    int wrapped = 0;
    for (int z = 0; z < 3; ++z) {
        ASSERT_TRUE(TIFFSetDirectory(tif.get(), tdir_t(2 * z)));
        const std::vector<uint32_t> stored = stripOffsetsOf(tif.get());
        EXPECT_EQ(byteCountsOf(tif.get()), std::vector<uint32_t>(4, uint32_t(kStripBytes)));
        for (int s = 0; s < 4; ++s) {
            // Strips follow each other, each image's preview after its strips.
            const uint64_t position =
                recipe.pixelDataStart + (4 * z + s) * kStripBytes + z * uint64_t(4 * 4 * 3);
            ASSERT_EQ(positions[z][s], position);
            EXPECT_EQ(stored[s], uint32_t(position));
            wrapped += position >= 4 * kGiB;

            std::vector<uint8_t> row(8192);
            for (int r : {0, 1, 2047}) {
                const int y = 2048 * s + r;
                ASSERT_EQ(::pread(fd, row.data(), row.size(), off_t(position + r * 8192)), 8192);
                for (int x = 0; x < 8192; x += 97)
                    ASSERT_EQ(row[x], kt::expectedSample(recipe, 0, 0, z, y, x)) << z << "," << y << "," << x;
                EXPECT_EQ(r == 1, kt::isSparseHoleRow(recipe, y));
            }
        }
    }
    ::close(fd);
    EXPECT_GE(wrapped, 6);
}

}  // namespace
