#include "LsmWriter.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace korvane::testsupport {
namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;

enum : uint16_t { kTypeByte = 1, kTypeShort = 3, kTypeLong = 4 };

enum : uint16_t {
    kTagNewSubfileType = 254,
    kTagImageWidth = 256,
    kTagImageLength = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagPhotometric = 262,
    kTagStripOffsets = 273,
    kTagSamplesPerPixel = 277,
    kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279,
    kTagPlanarConfig = 284,
    kTagSampleFormat = 339,
};

void storeLE(uint8_t* dst, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(value >> (8 * i));
}

void appendLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    const size_t at = out.size();
    out.resize(at + bytes);
    storeLE(out.data() + at, value, bytes);
}

uint64_t alignEven(uint64_t pos) { return (pos + 1) & ~uint64_t{1}; }

// Rows of one image directory, and how many images hold the stack's planes.
int imageHeight(const LsmSpec& recipe) { return recipe.sizeY * recipe.planesPerImage; }
int imageCount(const LsmSpec& recipe) { return recipe.sizeT * recipe.sizeZ / recipe.planesPerImage; }

// ---------------------------------------------------------------------------
// Directories

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> data;  // little-endian values
    // Set when the value lives elsewhere in the file (the info record).
    std::optional<uint32_t> externalOffset;
};

Entry shortEntry(uint16_t tag, const std::vector<uint16_t>& values) {
    Entry e{tag, kTypeShort, static_cast<uint32_t>(values.size()), {}, {}};
    for (uint16_t v : values) appendLE(e.data, v, 2);
    return e;
}

Entry longEntry(uint16_t tag, const std::vector<uint32_t>& values) {
    Entry e{tag, kTypeLong, static_cast<uint32_t>(values.size()), {}, {}};
    for (uint32_t v : values) appendLE(e.data, v, 4);
    return e;
}

bool storedOutOfLine(const Entry& e) { return !e.externalOffset && e.data.size() > 4; }

// Entries plus the out-of-line values stored right behind the entry table.
class Directory {
  public:
    explicit Directory(std::vector<Entry> entries) : entries_(std::move(entries)) {
        std::sort(entries_.begin(), entries_.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    }

    uint64_t byteSize() const {
        uint64_t size = tableSize();
        for (const Entry& e : entries_)
            if (storedOutOfLine(e)) size += alignEven(e.data.size());
        return size;
    }

    uint64_t nextPointerPosition(uint64_t position) const { return position + 2 + 12 * entries_.size(); }

    std::vector<uint8_t> serialize(uint32_t position, uint32_t next) const {
        std::vector<uint8_t> out;
        std::vector<uint8_t> extra;
        appendLE(out, entries_.size(), 2);
        for (const Entry& e : entries_) {
            appendLE(out, e.tag, 2);
            appendLE(out, e.type, 2);
            appendLE(out, e.count, 4);
            if (e.externalOffset) {
                appendLE(out, *e.externalOffset, 4);
            } else if (storedOutOfLine(e)) {
                appendLE(out, position + tableSize() + extra.size(), 4);
                extra.insert(extra.end(), e.data.begin(), e.data.end());
                extra.resize(alignEven(extra.size()));
            } else {
                std::vector<uint8_t> inlineValue = e.data;
                inlineValue.resize(4);
                out.insert(out.end(), inlineValue.begin(), inlineValue.end());
            }
        }
        appendLE(out, next, 4);
        out.insert(out.end(), extra.begin(), extra.end());
        return out;
    }

  private:
    uint64_t tableSize() const { return 2 + 12 * entries_.size() + 4; }

    std::vector<Entry> entries_;
};

// ---------------------------------------------------------------------------
// Samples

void storeSample(int code, double value, uint8_t* dst) {
    switch (code) {
        case kLsmUint8:
            dst[0] = static_cast<uint8_t>(value);
            break;
        case kLsmUint12:
        case kLsmUint16:
            storeLE(dst, static_cast<uint16_t>(value), 2);
            break;
        case kLsmFloat32: {
            const float f = static_cast<float>(value);
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            storeLE(dst, bits, 4);
            break;
        }
        default:
            throw std::logic_error("no sample type for data type code " + std::to_string(code));
    }
}

// Value written for an element, ignoring sparse holes.
double writtenValue(const LsmSpec& recipe, int code, int t, int c, int z, int y, int x) {
    if (recipe.values) return storedValue(code, recipe.values(t, c, z, y, x));
    return lsmTestValue(code, t, c, z, y, x);
}

void encodeRow(const LsmSpec& recipe, int code, int t, int c, int z, int y, uint8_t* dst) {
    const int bps = bytesPerSample(code);
    for (int x = 0; x < recipe.sizeX; ++x)
        storeSample(code, writtenValue(recipe, code, t, c, z, y, x), dst + size_t(x) * bps);
}

// Row `row` of image `image` (its planes stacked, t-major), of one channel or of all side by side.
void encodeImageRow(const LsmSpec& recipe, int image, int channel, int row, uint8_t* dst) {
    const int plane = image * recipe.planesPerImage + row / recipe.sizeY;
    const int t = plane / recipe.sizeZ, z = plane % recipe.sizeZ, y = row % recipe.sizeY;
    if (!recipe.contiguousSamples)
        return encodeRow(recipe, channelCode(recipe, channel), t, channel, z, y, dst);
    const int bps = bytesPerSample(channelCode(recipe, 0));
    for (int x = 0; x < recipe.sizeX; ++x)
        for (int c = 0; c < recipe.sizeC; ++c) {
            const int code = channelCode(recipe, c);
            storeSample(code, writtenValue(recipe, code, t, c, z, y, x),
                        dst + (size_t(x) * recipe.sizeC + c) * bps);
        }
}

size_t rowBytesOf(const LsmSpec& recipe, int channel) {
    const size_t samples = size_t(recipe.sizeX) * (recipe.contiguousSamples ? recipe.sizeC : 1);
    return samples * bytesPerSample(channelCode(recipe, channel));
}

std::vector<uint8_t> rawStrip(const LsmSpec& recipe, int image, const StripLayout& strip) {
    const size_t rowBytes = rowBytesOf(recipe, strip.channel);
    std::vector<uint8_t> out(rowBytes * strip.rows);
    for (int r = 0; r < strip.rows; ++r)
        encodeImageRow(recipe, image, strip.channel, strip.firstRow + r, out.data() + r * rowBytes);
    return out;
}

std::vector<uint8_t> deflate(const std::vector<uint8_t>& raw) {
    uLongf size = compressBound(raw.size());
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, raw.data(), raw.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(size);
    return out;
}

std::vector<uint8_t> encodeStrip(const LsmSpec& recipe, const std::vector<uint8_t>& raw) {
    switch (recipe.compression) {
        case Compression::LZW:
            return encodeTiffLzw(raw);
        case Compression::Deflate:
            return deflate(raw);
        case Compression::None:
            break;
    }
    return raw;
}

uint16_t compressionTag(Compression c) {
    switch (c) {
        case Compression::LZW:
            return 5;
        case Compression::Deflate:
            return 8;
        case Compression::None:
            break;
    }
    return 1;
}

int samplesPerPreviewPixel(const LsmSpec& recipe) { return recipe.previewRgb ? 3 : 1; }

uint32_t previewBytes(const LsmSpec& recipe) {
    return uint32_t(recipe.previewWidth) * recipe.previewHeight * samplesPerPreviewPixel(recipe);
}

std::vector<uint8_t> previewData(const LsmSpec& recipe, int image) {
    const int spp = samplesPerPreviewPixel(recipe);
    std::vector<uint8_t> out;
    out.reserve(previewBytes(recipe));
    for (int y = 0; y < recipe.previewHeight; ++y)
        for (int x = 0; x < recipe.previewWidth; ++x)
            for (int s = 0; s < spp; ++s) out.push_back(previewSample(image, y, x, s));
    return out;
}

// ---------------------------------------------------------------------------
// Metadata blocks

int directoryPairs(const LsmSpec& recipe) {
    return recipe.writeDirectoryPairs < 0 ? imageCount(recipe) : recipe.writeDirectoryPairs;
}

int stripsPerImage(const LsmSpec& recipe) {
    return (recipe.contiguousSamples ? 1 : recipe.sizeC) * recipe.stripsPerChannel;
}

bool writesTypeArray(const LsmSpec& recipe) {
    return recipe.useChannelTypeArray || recipe.forceChannelTypeArray ||
           !recipe.channelTypeArrayValues.empty();
}

std::vector<uint8_t> typeArrayBlock(const LsmSpec& recipe) {
    std::vector<uint8_t> out;
    if (!recipe.channelTypeArrayValues.empty()) {
        for (int32_t v : recipe.channelTypeArrayValues) appendLE(out, static_cast<uint32_t>(v), 4);
    } else {
        for (int c = 0; c < recipe.sizeC; ++c)
            appendLE(out, static_cast<uint32_t>(channelCode(recipe, c)), 4);
    }
    return out;
}

std::vector<uint8_t> colorBlock(const LsmSpec& recipe) {
    static const Rgb kPalette[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},  {255, 255, 255},
                                   {255, 0, 255}, {0, 255, 255}, {255, 255, 0}};
    constexpr int kHeaderBytes = 24;
    const int count = recipe.colorCount < 0 ? recipe.sizeC : recipe.colorCount;
    std::vector<uint8_t> names;
    for (const std::string& name : recipe.channelNames) {
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(0);
    }
    const uint32_t colorsEnd = kHeaderBytes + 4 * uint32_t(count);

    std::vector<uint8_t> out;
    appendLE(out, colorsEnd + names.size(), 4);
    appendLE(out, static_cast<uint32_t>(recipe.declaredColorCount.value_or(count)), 4);
    appendLE(out, recipe.channelNames.size(), 4);
    appendLE(out, static_cast<uint32_t>(recipe.declaredColorArrayOffset.value_or(kHeaderBytes)), 4);
    appendLE(out, colorsEnd, 4);
    appendLE(out, static_cast<uint32_t>(recipe.mono), 4);
    for (int i = 0; i < count; ++i) {
        const Rgb rgb = recipe.colors.empty() ? kPalette[i % std::size(kPalette)]
                                              : recipe.colors[i % recipe.colors.size()];
        out.insert(out.end(), {rgb.r, rgb.g, rgb.b, 0});
    }
    out.insert(out.end(), names.begin(), names.end());
    return out;
}

std::vector<uint8_t> infoRecord(const LsmSpec& recipe, uint32_t colorOffset, uint32_t typeOffset,
                                const std::vector<uint32_t>& blockOffsets) {
    std::vector<uint8_t> rec(recipe.recordLength, 0);
    // A short record simply loses the fields that do not fit.
    auto put = [&](int offset, uint64_t value, int bytes) {
        if (offset + bytes <= recipe.recordLength) storeLE(rec.data() + offset, value, bytes);
    };
    auto put32 = [&](int offset, int32_t value) { put(offset, static_cast<uint32_t>(value), 4); };
    auto putDouble = [&](int offset, double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        put(offset, bits, 8);
    };
    const LsmRecordOverrides& o = recipe.record;
    using namespace lsmrecord;
    put32(kMagic, o.magic.value_or(kLsmMagic));
    put32(kRecordSize, o.recordSize.value_or(recipe.recordLength));
    put32(kDimensionX, o.dimensionX.value_or(recipe.sizeX));
    put32(kDimensionY, o.dimensionY.value_or(recipe.sizeY));
    put32(kDimensionZ, o.dimensionZ.value_or(recipe.sizeZ));
    put32(kDimensionChannels, o.dimensionChannels.value_or(recipe.sizeC));
    put32(kDimensionTime, o.dimensionTime.value_or(recipe.sizeT));
    put32(kIntensityDataType,
          o.intensityDataType.value_or(recipe.useChannelTypeArray ? 0 : channelCode(recipe, 0)));
    put32(kThumbnailX, o.thumbnailX.value_or(recipe.previewWidth));
    put32(kThumbnailY, o.thumbnailY.value_or(recipe.previewHeight));
    putDouble(kVoxelSizeX, recipe.voxelSizeX);
    putDouble(kVoxelSizeY, recipe.voxelSizeY);
    putDouble(kVoxelSizeZ, recipe.voxelSizeZ);
    putDouble(kOriginX, recipe.originX);
    putDouble(kOriginY, recipe.originY);
    putDouble(kOriginZ, recipe.originZ);
    put(kScanType, static_cast<uint16_t>(recipe.scanType), 2);
    put(kSpectralScan, static_cast<uint16_t>(recipe.spectralScan), 2);
    put32(kDataType, recipe.dataType);
    put32(kOffsetChannelColors, o.offsetChannelColors.value_or(static_cast<int32_t>(colorOffset)));
    putDouble(kTimeInterval, recipe.timeInterval);
    put32(kOffsetChannelDataTypes, o.offsetChannelDataTypes.value_or(static_cast<int32_t>(typeOffset)));
    for (size_t i = 0; i < recipe.blocks.size(); ++i) put(recipe.blocks[i].recordField, blockOffsets[i], 4);
    for (const auto& [field, word] : recipe.recordWords) put(field, word, 4);
    return rec;
}

Directory imageDirectory(const LsmSpec& recipe, const std::vector<uint32_t>& offsets,
                         const std::vector<uint32_t>& byteCounts, bool withRecord, uint32_t recordOffset,
                         const std::vector<uint8_t>& record) {
    std::vector<uint16_t> bits, formats;
    for (int c = 0; c < recipe.sizeC; ++c) {
        const int code = channelCode(recipe, c);
        bits.push_back(static_cast<uint16_t>(8 * bytesPerSample(code)));
        formats.push_back(code == kLsmFloat32 ? 3 : 1);
    }
    std::vector<Entry> entries = {
        longEntry(kTagNewSubfileType, {0}),
        longEntry(kTagImageWidth, {uint32_t(recipe.sizeX)}),
        longEntry(kTagImageLength, {uint32_t(imageHeight(recipe))}),
        shortEntry(kTagBitsPerSample, bits),
        shortEntry(kTagCompression, {compressionTag(recipe.compression)}),
        shortEntry(kTagPhotometric, {1}),
        longEntry(kTagStripOffsets, offsets),
        shortEntry(kTagSamplesPerPixel, {uint16_t(recipe.sizeC)}),
        longEntry(kTagRowsPerStrip, {uint32_t(rowsPerStrip(recipe))}),
        longEntry(kTagStripByteCounts, byteCounts),
        shortEntry(kTagPlanarConfig, {uint16_t(recipe.contiguousSamples ? 1 : 2)}),
        shortEntry(kTagSampleFormat, formats),
    };
    if (withRecord) {
        Entry tag{kLsmInfoTag, kTypeByte, uint32_t(recipe.recordLength), {}, {}};
        if (record.size() <= 4)
            tag.data = record;  // tiny (broken) records fit into the entry itself
        else
            tag.externalOffset = recordOffset;
        entries.push_back(std::move(tag));
    }
    return Directory(std::move(entries));
}

Directory previewDirectory(const LsmSpec& recipe, uint32_t offset) {
    const int spp = samplesPerPreviewPixel(recipe);
    return Directory({
        longEntry(kTagNewSubfileType, {1}),
        longEntry(kTagImageWidth, {uint32_t(recipe.previewWidth)}),
        longEntry(kTagImageLength, {uint32_t(recipe.previewHeight)}),
        shortEntry(kTagBitsPerSample, std::vector<uint16_t>(spp, 8)),
        shortEntry(kTagCompression, {1}),
        shortEntry(kTagPhotometric, {uint16_t(recipe.previewRgb ? 2 : 1)}),
        longEntry(kTagStripOffsets, {offset}),
        shortEntry(kTagSamplesPerPixel, {uint16_t(spp)}),
        longEntry(kTagRowsPerStrip, {uint32_t(recipe.previewHeight)}),
        longEntry(kTagStripByteCounts, {previewBytes(recipe)}),
        shortEntry(kTagPlanarConfig, {1}),
    });
}

// ---------------------------------------------------------------------------
// Output

class OutputFile {
  public:
    explicit OutputFile(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd_ < 0) fail("cannot create");
    }
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void writeAt(uint64_t position, const uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(position));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail("cannot write");
            data += n;
            size -= size_t(n);
            position += uint64_t(n);
        }
    }
    void writeAt(uint64_t position, const std::vector<uint8_t>& bytes) {
        writeAt(position, bytes.data(), bytes.size());
    }

    // Sets the length without writing the trailing gap, so it stays a hole.
    void finish(uint64_t size) {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) fail("cannot set size of");
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail("cannot close");
    }

  private:
    [[noreturn]] void fail(const char* what) {
        throw std::runtime_error(std::string(what) + " " + path_ + ": " + std::strerror(errno));
    }

    std::string path_;
    int fd_ = -1;
};

void validate(const LsmSpec& recipe) {
    auto require = [](bool ok, const char* message) {
        if (!ok) throw std::invalid_argument(std::string("LsmSpec: ") + message);
    };
    require(recipe.sizeX > 0 && recipe.sizeY > 0 && recipe.sizeZ > 0 && recipe.sizeC > 0 && recipe.sizeT > 0,
            "all dimensions must be positive");
    require(recipe.sizeC <= std::numeric_limits<uint16_t>::max(), "too many channels");
    require(recipe.channelCodes.empty() || int(recipe.channelCodes.size()) == recipe.sizeC,
            "channelCodes needs one code per channel");
    for (int code : recipe.channelCodes)
        require(bytesPerSample(code) > 0,
                "channel codes must be 1, 2, 3 or 5; declare others via the overrides");
    require(recipe.stripsPerChannel > 0, "stripsPerChannel must be positive");
    const int rows = rowsPerStrip(recipe);
    require(recipe.planesPerImage > 0 && (recipe.sizeT * recipe.sizeZ) % recipe.planesPerImage == 0,
            "planesPerImage must divide T * Z");
    require(recipe.planesPerImage == 1 || !recipe.sparsePixelData,
            "sparse pixel data needs one plane per image");
    for (int c = 0; c < recipe.sizeC; ++c)
        require(!recipe.contiguousSamples ||
                    bytesPerSample(channelCode(recipe, c)) == bytesPerSample(channelCode(recipe, 0)),
                "contiguous samples need one sample size");
    require((imageHeight(recipe) + rows - 1) / rows == recipe.stripsPerChannel,
            "stripsPerChannel would leave empty strips");
    require(uint64_t(rows) * recipe.sizeX * 4 < k4GiB, "strips must stay below 4 GiB");
    require(recipe.recordLength >= 0, "recordLength must not be negative");
    require(recipe.previewWidth > 0 && recipe.previewHeight > 0, "preview needs a positive size");
    require(recipe.colorCount >= -1, "colorCount must be -1 or more");
    require(!recipe.sparsePixelData || recipe.compression == Compression::None,
            "sparse pixel data needs uncompressed strips");
    require(recipe.pixelDataStart == 0 || recipe.layout == Layout::DirectoriesFirst,
            "pixelDataStart needs the DirectoriesFirst layout");
    require(recipe.writeDirectoryPairs >= -1 && recipe.writeDirectoryPairs <= imageCount(recipe),
            "writeDirectoryPairs must be -1 or at most the image count");
    const int pairs = directoryPairs(recipe);
    require(recipe.directoryLoop != DirectoryLoop::SelfLoop ||
                (recipe.selfLoopDirectory >= 0 && recipe.selfLoopDirectory < 2 * pairs),
            "selfLoopDirectory must name a written directory");
    std::vector<int> order = recipe.dataOrder;
    std::sort(order.begin(), order.end());
    for (size_t k = 0; k < order.size(); ++k)
        require(
            order[k] == int(k) && order.size() == size_t(pairs) && recipe.layout == Layout::DirectoriesFirst,
            "dataOrder must order every written image of the DirectoriesFirst layout");
    for (const StripFault& f : recipe.stripFaults)
        require(f.image >= 0 && f.image < pairs && f.strip >= 0 && f.strip < stripsPerImage(recipe),
                "strip fault names a strip that is not written");
}

void applyFault(const StripFault& fault, StripLayout& strip, const LsmLayoutInfo& info) {
    switch (fault.kind) {
        case StripFaultKind::OffsetBeyondEndOfFile:
            strip.storedOffset = static_cast<uint32_t>(info.fileSize + 4096);
            break;
        case StripFaultKind::OffsetIntoDirectories:
            strip.storedOffset = info.images.front().directoryOffset + 2;
            break;
        case StripFaultKind::OffsetRaw:
            strip.storedOffset = fault.value;
            break;
        case StripFaultKind::ByteCountTooLarge:
            strip.declaredBytes = strip.size + 4096;
            break;
        case StripFaultKind::ByteCountTooSmall:
            strip.declaredBytes = strip.size / 2;
            break;
        case StripFaultKind::ByteCountZero:
            strip.declaredBytes = 0;
            break;
        case StripFaultKind::ByteCountRaw:
            strip.declaredBytes = fault.value;
            break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Public helpers

LeBytes& LeBytes::u32(uint32_t value) {
    appendLE(bytes, value, 4);
    return *this;
}

LeBytes& LeBytes::f64(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendLE(bytes, bits, 8);
    return *this;
}

LeBytes& LeBytes::chars(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
}

LeBytes& LeBytes::entry(uint32_t id, uint32_t type, const std::vector<uint8_t>& payload) {
    u32(id).u32(type).u32(uint32_t(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
}

LeBytes& LeBytes::text(uint32_t id, const std::string& text) {
    std::vector<uint8_t> payload(text.begin(), text.end());
    payload.push_back(0);
    return entry(id, 2, payload);
}

LeBytes& LeBytes::int32(uint32_t id, int32_t value) {
    return entry(id, 4, LeBytes().u32(uint32_t(value)).bytes);
}

LeBytes& LeBytes::float64(uint32_t id, double value) { return entry(id, 5, LeBytes().f64(value).bytes); }

LsmSpec lsmSpec(int x, int y, int z, int c, int t, std::vector<int> channelCodes) {
    LsmSpec recipe;
    recipe.sizeX = x;
    recipe.sizeY = y;
    recipe.sizeZ = z;
    recipe.sizeC = c;
    recipe.sizeT = t;
    recipe.channelCodes = std::move(channelCodes);
    return recipe;
}

int bytesPerSample(int code) {
    switch (code) {
        case kLsmUint8:
            return 1;
        case kLsmUint12:
        case kLsmUint16:
            return 2;
        case kLsmFloat32:
            return 4;
        default:
            return 0;
    }
}

int channelCode(const LsmSpec& recipe, int channel) {
    return recipe.channelCodes.empty() ? kLsmUint8 : recipe.channelCodes.at(channel);
}

int rowsPerStrip(const LsmSpec& recipe) {
    const int strips = std::max(recipe.stripsPerChannel, 1);
    return (imageHeight(recipe) + strips - 1) / strips;
}

double lsmTestValue(int code, int t, int c, int z, int y, int x) {
    switch (code) {
        case kLsmUint8:
            return double(
                (int64_t(x) + 3 * int64_t(y) + 17 * int64_t(z) + 41 * int64_t(c) + 59 * int64_t(t)) % 256);
        case kLsmUint12:
        case kLsmUint16:
            return double((37 * int64_t(x) + 911 * int64_t(y) + 4099 * int64_t(z) + 13007 * int64_t(c) +
                           257 * int64_t(t)) %
                          65536);
        case kLsmFloat32:
            // Values beyond the int32 range catch readers that squeeze floats
            // through integers.
            if (x == 0 && y == 0 && z % 2 == 1) return c % 2 == 0 ? 3e9 : -3e9;
            return double(float((x - y) * 1.75 + z * 100.25 - c * 0.5 + t * 1000.0));
        default:
            return 0;
    }
}

double storedValue(int code, double value) {
    if (code == kLsmFloat32) return double(float(value));
    if (std::isnan(value)) return 0;
    const double maxValue = code == kLsmUint8 ? 255 : 65535;
    return std::round(std::clamp(value, 0.0, maxValue));
}

bool isSparseHoleRow(const LsmSpec& recipe, int y) {
    if (!recipe.sparsePixelData) return false;
    const int rows = rowsPerStrip(recipe);
    const int inStrip = y % rows;
    const int lastInStrip = std::min(rows, recipe.sizeY - (y - inStrip)) - 1;
    return inStrip != 0 && inStrip != lastInStrip;
}

double expectedSample(const LsmSpec& recipe, int t, int c, int z, int y, int x) {
    if (isSparseHoleRow(recipe, y)) return 0;
    return writtenValue(recipe, channelCode(recipe, c), t, c, z, y, x);
}

uint8_t previewSample(int image, int y, int x, int sample) {
    return static_cast<uint8_t>(image * 29 + y * 7 + x * 3 + sample * 85 + 1);
}

std::vector<std::vector<uint64_t>> stripPositions(const LsmLayoutInfo& info) {
    std::vector<std::vector<uint64_t>> out;
    for (const ImageLayout& image : info.images) {
        out.emplace_back();
        for (const StripLayout& strip : image.strips) out.back().push_back(strip.position);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Writer

void writeLsm(const std::string& path, const LsmSpec& recipe) { writeLsmWithInfo(path, recipe); }

LsmLayoutInfo writeLsmWithInfo(const std::string& path, const LsmSpec& recipe) {
    validate(recipe);
    const int pairs = directoryPairs(recipe);
    const int rows = rowsPerStrip(recipe);
    const bool compressed = recipe.compression != Compression::None;

    LsmLayoutInfo info;
    // Compressed strips are encoded up front because their sizes fix the
    // layout; uncompressed ones are generated while writing, keeping big
    // files out of memory.
    std::vector<std::vector<std::vector<uint8_t>>> encoded(pairs);
    for (int i = 0; i < pairs; ++i) {
        ImageLayout image;
        image.t = i * recipe.planesPerImage / recipe.sizeZ;
        image.z = i * recipe.planesPerImage % recipe.sizeZ;
        for (int c = 0; c < stripsPerImage(recipe) / recipe.stripsPerChannel; ++c) {
            const uint32_t rowBytes = uint32_t(rowBytesOf(recipe, c));
            for (int s = 0; s < recipe.stripsPerChannel; ++s) {
                StripLayout strip;
                strip.channel = c;
                strip.firstRow = s * rows;
                strip.rows = std::min(rows, imageHeight(recipe) - strip.firstRow);
                strip.size = rowBytes * strip.rows;
                strip.declaredBytes = strip.size;
                if (compressed) {
                    encoded[i].push_back(encodeStrip(recipe, rawStrip(recipe, i, strip)));
                    strip.size = uint32_t(encoded[i].back().size());
                    if (!recipe.lzwDeclaresUncompressedByteCounts) strip.declaredBytes = strip.size;
                }
                image.strips.push_back(strip);
            }
        }
        info.images.push_back(std::move(image));
    }

    // Directory sizes depend only on value counts, so placeholders size them.
    const std::vector<uint32_t> placeholders(stripsPerImage(recipe), 0);
    std::vector<uint8_t> record(recipe.omitLsmTag ? 0 : recipe.recordLength, 0);
    const uint64_t firstImageDirBytes =
        imageDirectory(recipe, placeholders, placeholders, !recipe.omitLsmTag, 0, record).byteSize();
    const uint64_t imageDirBytes =
        imageDirectory(recipe, placeholders, placeholders, false, 0, record).byteSize();
    const uint64_t previewDirBytes = previewDirectory(recipe, 0).byteSize();

    // Metadata blocks behind the header.
    uint64_t pos = 8;
    if (!recipe.omitLsmTag && recipe.recordLength > 4) {
        info.recordOffset = uint32_t(pos);
        pos = alignEven(pos + recipe.recordLength);
    }
    std::vector<uint8_t> colors;
    if (recipe.colorBlock) {
        colors = colorBlock(recipe);
        info.colorBlockOffset = uint32_t(pos);
        pos = alignEven(pos + colors.size());
    }
    std::vector<uint8_t> types;
    if (writesTypeArray(recipe)) {
        types = typeArrayBlock(recipe);
        info.channelTypeArrayOffset = uint32_t(pos);
        pos = alignEven(pos + types.size());
    }

    std::vector<uint32_t> blockOffsets;
    for (const LsmBlock& block : recipe.blocks) {
        blockOffsets.push_back(uint32_t(pos));
        pos = alignEven(pos + block.bytes.size());
    }

    const bool interleaved = recipe.layout == Layout::Interleaved;
    auto placeStrips = [&](ImageLayout& image) {
        for (StripLayout& strip : image.strips) {
            strip.position = pos;
            pos += strip.size;
        }
    };
    auto placePreview = [&](ImageLayout& image) {
        image.previewPosition = pos;
        pos += previewBytes(recipe);
    };
    auto placeDirectory = [&](uint32_t& offset, uint64_t bytes) {
        pos = alignEven(pos);
        if (pos + bytes >= k4GiB) throw std::invalid_argument("LsmSpec: directories must stay below 4 GiB");
        offset = uint32_t(pos);
        info.directoryOffsets.push_back(offset);
        pos += bytes;
    };
    for (int i = 0; i < pairs; ++i) {
        ImageLayout& image = info.images[i];
        placeDirectory(image.directoryOffset, i == 0 ? firstImageDirBytes : imageDirBytes);
        if (interleaved) placeStrips(image);
        placeDirectory(image.previewDirectoryOffset, previewDirBytes);
        if (interleaved) placePreview(image);
    }
    if (recipe.layout == Layout::DirectoriesFirst) {
        if (recipe.pixelDataStart != 0 && recipe.pixelDataStart < pos)
            throw std::invalid_argument("LsmSpec: pixelDataStart overlaps the directories");
        pos = std::max(pos, recipe.pixelDataStart);
        info.pixelDataStart = pos;
        for (int k = 0; k < pairs; ++k) {
            ImageLayout& image = info.images[recipe.dataOrder.empty() ? k : recipe.dataOrder[k]];
            placeStrips(image);
            placePreview(image);
        }
    }
    info.fileSize = pos;

    for (ImageLayout& image : info.images)
        for (StripLayout& strip : image.strips)
            strip.storedOffset = static_cast<uint32_t>(strip.position);  // wraps at 4 GiB
    for (const StripFault& fault : recipe.stripFaults)
        applyFault(fault, info.images[fault.image].strips[fault.strip], info);

    // Directory chain, possibly bent into a loop.
    std::vector<uint32_t> next(info.directoryOffsets.size(), 0);
    for (size_t k = 0; k + 1 < next.size(); ++k) next[k] = info.directoryOffsets[k + 1];
    if (!next.empty() && recipe.directoryLoop == DirectoryLoop::LastToFirst)
        next.back() = info.directoryOffsets.front();
    if (recipe.directoryLoop == DirectoryLoop::SelfLoop)
        next[recipe.selfLoopDirectory] = info.directoryOffsets[recipe.selfLoopDirectory];

    if (!recipe.omitLsmTag)
        record = infoRecord(recipe, info.colorBlockOffset, info.channelTypeArrayOffset, blockOffsets);

    OutputFile out(path);
    std::vector<uint8_t> header = {'I', 'I', 42, 0};
    appendLE(header, info.directoryOffsets.empty() ? 0 : info.directoryOffsets.front(), 4);
    out.writeAt(0, header);
    if (info.recordOffset != 0) out.writeAt(info.recordOffset, record);
    if (!colors.empty()) out.writeAt(info.colorBlockOffset, colors);
    if (!types.empty()) out.writeAt(info.channelTypeArrayOffset, types);
    for (size_t i = 0; i < recipe.blocks.size(); ++i) out.writeAt(blockOffsets[i], recipe.blocks[i].bytes);

    for (int i = 0; i < pairs; ++i) {
        const ImageLayout& image = info.images[i];
        std::vector<uint32_t> offsets, counts;
        for (const StripLayout& strip : image.strips) {
            offsets.push_back(strip.storedOffset);
            counts.push_back(strip.declaredBytes);
        }
        const Directory dir =
            imageDirectory(recipe, offsets, counts, i == 0 && !recipe.omitLsmTag, info.recordOffset, record);
        out.writeAt(image.directoryOffset, dir.serialize(image.directoryOffset, next[2 * i]));
        const Directory preview = previewDirectory(recipe, uint32_t(image.previewPosition));
        out.writeAt(image.previewDirectoryOffset,
                    preview.serialize(image.previewDirectoryOffset, next[2 * i + 1]));

        for (size_t s = 0; s < image.strips.size(); ++s) {
            const StripLayout& strip = image.strips[s];
            if (compressed) {
                out.writeAt(strip.position, encoded[i][s]);
            } else if (recipe.sparsePixelData) {
                std::vector<uint8_t> row(rowBytesOf(recipe, strip.channel));
                for (int r : {0, strip.rows - 1}) {
                    encodeImageRow(recipe, i, strip.channel, strip.firstRow + r, row.data());
                    out.writeAt(strip.position + r * row.size(), row);
                }
            } else {
                out.writeAt(strip.position, rawStrip(recipe, i, strip));
            }
        }
        out.writeAt(image.previewPosition, previewData(recipe, i));
    }
    out.finish(info.fileSize);
    return info;
}

// ---------------------------------------------------------------------------
// Other files

void writePlainTiff(const std::string& path, int width, int height) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("writePlainTiff: size must be positive");
    const uint32_t bytes = uint32_t(width) * height;
    const uint32_t dirOffset = 8;
    auto directory = [&](uint32_t dataOffset) {
        return Directory({
            longEntry(kTagNewSubfileType, {0}),
            longEntry(kTagImageWidth, {uint32_t(width)}),
            longEntry(kTagImageLength, {uint32_t(height)}),
            shortEntry(kTagBitsPerSample, {8}),
            shortEntry(kTagCompression, {1}),
            shortEntry(kTagPhotometric, {1}),
            longEntry(kTagStripOffsets, {dataOffset}),
            shortEntry(kTagSamplesPerPixel, {1}),
            longEntry(kTagRowsPerStrip, {uint32_t(height)}),
            longEntry(kTagStripByteCounts, {bytes}),
            shortEntry(kTagPlanarConfig, {1}),
        });
    };
    const uint32_t dataOffset = uint32_t(alignEven(dirOffset + directory(0).byteSize()));
    std::vector<uint8_t> data;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) data.push_back(previewSample(0, y, x, 0));

    OutputFile out(path);
    std::vector<uint8_t> header = {'I', 'I', 42, 0};
    appendLE(header, dirOffset, 4);
    out.writeAt(0, header);
    out.writeAt(dirOffset, directory(dataOffset).serialize(dirOffset, 0));
    out.writeAt(dataOffset, data);
    out.finish(dataOffset + bytes);
}

void writeNonTiff(const std::string& path) {
    static const char kText[] = "KorvaneViewer test file: plain text, no image in here.\n";
    OutputFile out(path);
    out.writeAt(0, reinterpret_cast<const uint8_t*>(kText), sizeof kText - 1);
    out.finish(sizeof kText - 1);
}

}  // namespace korvane::testsupport
