#pragma once

// Writes LSM stacks (little-endian classic TIFF plus the microscope's info
// record) byte by byte, so tests control every offset and can damage files on
// purpose. Pixel values follow lsmTestValue() unless LsmSpec::values is set;
// expectedSample() tells what any element of a written file holds.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LzwEncoder.h"
#include "TestFiles.h"

namespace korvane::testsupport {

// Intensity data type codes of the info record.
constexpr int kLsmUint8 = 1;
constexpr int kLsmUint12 = 2;  // stored as 16-bit samples
constexpr int kLsmUint16 = 3;
constexpr int kLsmFloat32 = 5;

constexpr uint16_t kLsmInfoTag = 34412;
constexpr int32_t kLsmMagic = 0x00400494C;

// Byte offsets of the info record fields.
namespace lsmrecord {
constexpr int kMagic = 0;
constexpr int kRecordSize = 4;
constexpr int kDimensionX = 8;
constexpr int kDimensionY = 12;
constexpr int kDimensionZ = 16;
constexpr int kDimensionChannels = 20;
constexpr int kDimensionTime = 24;
constexpr int kIntensityDataType = 28;
constexpr int kThumbnailX = 32;
constexpr int kThumbnailY = 36;
constexpr int kVoxelSizeX = 40;
constexpr int kVoxelSizeY = 48;
constexpr int kVoxelSizeZ = 56;
constexpr int kOriginX = 64;
constexpr int kOriginY = 72;
constexpr int kOriginZ = 80;
constexpr int kScanType = 88;
constexpr int kSpectralScan = 90;
constexpr int kDataType = 92;
constexpr int kOffsetChannelColors = 108;
constexpr int kTimeInterval = 112;
constexpr int kOffsetChannelDataTypes = 120;
constexpr int kOffsetScanInformation = 124;
constexpr int kOffsetTimeStamps = 132;
constexpr int kOffsetEventList = 136;
constexpr int kOffsetChannelWavelength = 204;
constexpr int kOffsetCharacteristics = 228;
constexpr int kDimensionP = 264;
constexpr int kDimensionM = 268;
constexpr int kOffsetTilePositions = 336;
constexpr int kOffsetPositions = 376;
}  // namespace lsmrecord

// Little-endian bytes of a hand-made block, including ScanInformation entries (id, type, payload
// size, payload).
struct LeBytes {
    std::vector<uint8_t> bytes;
    LeBytes& u32(uint32_t value);
    LeBytes& f64(double value);
    LeBytes& chars(const std::string& text);  // without a NUL
    LeBytes& entry(uint32_t id, uint32_t type, const std::vector<uint8_t>& payload);
    LeBytes& open(uint32_t id) { return entry(id, 0, {}); }
    LeBytes& close() { return open(0xFFFFFFFF); }
    LeBytes& text(uint32_t id, const std::string& text);  // with a NUL
    LeBytes& int32(uint32_t id, int32_t value);
    LeBytes& float64(uint32_t id, double value);
};

// A block written among the metadata blocks; its file offset goes into the record at recordField.
struct LsmBlock {
    int recordField = 0;
    std::vector<uint8_t> bytes;
};

enum class Compression { None, LZW, Deflate };

enum class Layout {
    // Info record, colour block, type array and every directory first, then all
    // pixel data (what microscopes write).
    DirectoriesFirst,
    // Each directory directly followed by its own pixel data.
    Interleaved,
};

enum class DirectoryLoop {
    None,
    LastToFirst,  // the last written directory points back to the first
    SelfLoop,     // directory number `selfLoopDirectory` points to itself
};

enum class StripFaultKind {
    OffsetBeyondEndOfFile,  // stored offset = file size + 4096 (mod 2^32)
    OffsetIntoDirectories,  // stored offset = first image directory + 2
    OffsetRaw,              // stored offset = value
    ByteCountTooLarge,      // declared = bytes written + 4096
    ByteCountTooSmall,      // declared = bytes written / 2
    ByteCountZero,          // declared = 0
    ByteCountRaw,           // declared = value
};

// Damages one strip entry of image directory `image` (0, 1, ...) after the
// layout is fixed; the strip's bytes are still written where they belong.
struct StripFault {
    int image = 0;
    int strip = 0;  // channel * stripsPerChannel + strip within the channel
    StripFaultKind kind = StripFaultKind::OffsetRaw;
    uint32_t value = 0;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

using ValueFunction = std::function<double(int t, int c, int z, int y, int x)>;

// Overrides of info record fields; unset fields hold the true value.
struct LsmRecordOverrides {
    std::optional<int32_t> magic;
    std::optional<int32_t> recordSize;
    std::optional<int32_t> dimensionX;
    std::optional<int32_t> dimensionY;
    std::optional<int32_t> dimensionZ;
    std::optional<int32_t> dimensionChannels;
    std::optional<int32_t> dimensionTime;
    std::optional<int32_t> intensityDataType;
    std::optional<int32_t> thumbnailX;
    std::optional<int32_t> thumbnailY;
    std::optional<int32_t> offsetChannelColors;
    std::optional<int32_t> offsetChannelDataTypes;
};

struct LsmSpec {
    int sizeX = 16;
    int sizeY = 8;
    int sizeZ = 1;
    int sizeC = 1;
    int sizeT = 1;

    // One code (1, 2, 3 or 5) per channel; empty means all channels are uint8.
    // Unknown codes must be declared through `record.intensityDataType` or
    // `channelTypeArrayValues`, since the writer needs a real sample type.
    // Mixed sample sizes give per-channel BitsPerSample values, which libtiff
    // (4.5) refuses to open; such files need raw strip reads.
    std::vector<int> channelCodes;

    // intensityDataType is written as 0 and the per-channel codes go into the
    // channel data type array. Otherwise intensityDataType = channelCodes[0]
    // and the array is written only if `forceChannelTypeArray`.
    bool useChannelTypeArray = false;
    bool forceChannelTypeArray = false;
    // Written into the type array instead of channelCodes (any length).
    std::vector<int32_t> channelTypeArrayValues;

    // Info record. Fields beyond `recordLength` bytes are dropped, so a short
    // length writes a truncated record.
    int recordLength = 512;
    bool omitLsmTag = false;  // plain TIFF stack, no info record at all
    LsmRecordOverrides record;
    double voxelSizeX = 2e-7;  // metres
    double voxelSizeY = 2e-7;
    double voxelSizeZ = 1e-6;
    double originX = 0;
    double originY = 0;
    double originZ = 0;
    double timeInterval = 0;
    int16_t scanType = 0;
    int16_t spectralScan = 0;
    int32_t dataType = 0;

    // Channel colour block: a 24-byte header of six int32 words (block size,
    // colour count, name count, colour array offset, names offset, mono), the
    // colour entries (R, G, B, 0) at offset 24, then the names as NUL-terminated
    // strings back to back.
    bool colorBlock = true;
    int colorCount = -1;      // entries written; -1 = sizeC
    std::vector<Rgb> colors;  // cycled; empty = red, green, blue, white, ...
    std::vector<std::string> channelNames;
    int32_t mono = 0;
    std::optional<int32_t> declaredColorCount;        // header word only
    std::optional<int32_t> declaredColorArrayOffset;  // header word only

    // Further blocks, and raw 32-bit record words written last (over block offsets too).
    std::vector<LsmBlock> blocks;
    std::vector<std::pair<int, uint32_t>> recordWords;

    // Preview directory after each image: 8-bit, uncompressed, one strip,
    // samples from previewSample().
    int previewWidth = 4;
    int previewHeight = 4;
    bool previewRgb = true;

    // Planes (t * Z + z) stacked as the rows of one image directory, as
    // scans without y store them: T for a line scan, Z for an x-z scan
    // (sizeY 1 both). Must divide T * Z.
    int planesPerImage = 1;
    // All channels as samples of each pixel (PlanarConfig 1, one sample
    // size) instead of one run of strips per channel.
    bool contiguousSamples = false;

    // Each channel's rows of an image (all channels' with contiguous
    // samples) are cut into stripsPerChannel strips of rowsPerStrip(recipe)
    // rows; the last may be shorter.
    int stripsPerChannel = 1;
    Compression compression = Compression::None;
    // Microscope quirk: compressed strips are written back to back, but
    // StripByteCounts declares the uncompressed strip size, so declared strips
    // overlap their successors and the last ones run past end of file.
    bool lzwDeclaresUncompressedByteCounts = false;
    Layout layout = Layout::DirectoriesFirst;

    // DirectoriesFirst only: 0 = pixel data right after the directories,
    // otherwise it starts at this absolute position and the gap stays a hole.
    // Strip offsets at or above 4 GiB are stored modulo 2^32.
    uint64_t pixelDataStart = 0;
    // DirectoriesFirst only: images (0, 1, ...) in the order their strips and
    // previews are placed; empty = image order.
    std::vector<int> dataOrder;
    // Uncompressed only. Of each strip only its first and last row are written;
    // all rows in between are holes and read as 0 (see isSparseHoleRow()).
    bool sparsePixelData = false;

    // Replaces lsmTestValue(); results are converted with storedValue().
    ValueFunction values;

    // Damage.
    int writeDirectoryPairs = -1;  // image/preview pairs written; -1 = all images
    DirectoryLoop directoryLoop = DirectoryLoop::None;
    int selfLoopDirectory = 0;  // directory number in chain order
    std::vector<StripFault> stripFaults;
};

// Shorthand for the common fields.
LsmSpec lsmSpec(int x, int y, int z, int c, int t, std::vector<int> channelCodes = {});

struct StripLayout {
    int channel = 0;  // 0 for all with contiguous samples
    int firstRow = 0;
    int rows = 0;
    uint64_t position = 0;       // absolute file position of the first byte
    uint32_t size = 0;           // bytes written (compressed size if compressed)
    uint32_t storedOffset = 0;   // value in StripOffsets
    uint32_t declaredBytes = 0;  // value in StripByteCounts
};

struct ImageLayout {
    int t = 0;  // of the image's first plane
    int z = 0;
    uint32_t directoryOffset = 0;
    uint32_t previewDirectoryOffset = 0;
    uint64_t previewPosition = 0;
    std::vector<StripLayout> strips;  // in StripOffsets order
};

struct LsmLayoutInfo {
    uint64_t fileSize = 0;
    uint32_t recordOffset = 0;               // 0 when the tag is omitted
    uint32_t colorBlockOffset = 0;           // 0 when not written
    uint32_t channelTypeArrayOffset = 0;     // 0 when not written
    uint64_t pixelDataStart = 0;             // DirectoriesFirst: first pixel byte
    std::vector<uint32_t> directoryOffsets;  // every directory, chain order
    std::vector<ImageLayout> images;         // written images, t-major
};

// Throws std::invalid_argument for an inconsistent LsmSpec and
// std::runtime_error on I/O failure. Pixel data is written with positioned
// writes and the gaps are never filled, so holes stay sparse. Compressed strips
// are held in memory until written; uncompressed ones are made one at a time.
void writeLsm(const std::string& path, const LsmSpec& recipe);
LsmLayoutInfo writeLsmWithInfo(const std::string& path, const LsmSpec& recipe);

// Per written image directory, the absolute (unwrapped) strip positions.
std::vector<std::vector<uint64_t>> stripPositions(const LsmLayoutInfo& info);

// Default sample values, already in the stored type (exact in float32):
//   code 1:    (x + 3y + 17z + 41c + 59t) mod 256
//   code 2, 3: (37x + 911y + 4099z + 13007c + 257t) mod 65536
//   code 5:    (x - y) * 1.75 + 100.25z - 0.5c + 1000t, except at y = x = 0
//              of odd z planes: +3e9 for even c, -3e9 for odd c
double lsmTestValue(int code, int t, int c, int z, int y, int x);

// Conversion applied to custom values: integer codes round to nearest and
// clamp to the type's range (NaN -> 0), code 5 rounds to float32.
double storedValue(int code, double value);

// What the file written from `recipe` holds at (t, c, z, y, x): the custom or
// default value after storedValue(), or 0 in sparse holes.
double expectedSample(const LsmSpec& recipe, int t, int c, int z, int y, int x);

// With sparsePixelData, rows other than the first and last of their strip.
bool isSparseHoleRow(const LsmSpec& recipe, int y);

int rowsPerStrip(const LsmSpec& recipe);              // ceil(image rows / stripsPerChannel)
int channelCode(const LsmSpec& recipe, int channel);  // channelCodes or 1
int bytesPerSample(int code);                         // 1, 2, 2, 4; 0 if unknown

// Preview pixel `sample` (0 for greyscale) of image directory `image`.
uint8_t previewSample(int image, int y, int x, int sample);

// A one-directory 8-bit greyscale TIFF without the LSM tag.
void writePlainTiff(const std::string& path, int width = 8, int height = 4);
// A file that is no TIFF at all.
void writeNonTiff(const std::string& path);

}  // namespace korvane::testsupport
