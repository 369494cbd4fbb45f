#include "LsmFileWriter.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "AtomicOutput.h"
#include "LittleEndian.h"

namespace korvane::tools {

namespace {

constexpr ttag_t kLsmInfoTag = 34412;
constexpr size_t kRecordSize = 220;
constexpr size_t kOffsetChannelColors = 108;

void putInt32(std::vector<unsigned char>& aBytes, size_t aAt, int32_t aValue) {
    lsm::putLittleEndian(&aBytes[aAt], uint32_t(aValue), 4);
}

void putDouble(std::vector<unsigned char>& aBytes, size_t aAt, double aValue) {
    lsm::putLittleEndianDouble(&aBytes[aAt], aValue);
}

// The info record, padded to a multiple of four, then the colour block: six header words (size,
// colour count, name count, offset of the colours, offset of the names, mono), the colours as R, G,
// B, 0, and every name as a 32-bit length (with the closing NUL) followed by its bytes.
std::vector<unsigned char> recordAndColorBlock(const LsmStack& aStack) {
    std::vector<unsigned char> bytes(kRecordSize, 0);
    putInt32(bytes, 0, 0x0400494C);
    putInt32(bytes, 4, int32_t(kRecordSize));
    const int32_t dims[] = {aStack.sizeX, aStack.sizeY, aStack.sizeZ, aStack.sizeC, aStack.sizeT, 1, 4, 4};
    for (size_t i = 0; i < 8; ++i) putInt32(bytes, 8 + 4 * i, dims[i]);  // ..., 8-bit samples, preview size
    putDouble(bytes, 40, aStack.voxelSizeX);
    putDouble(bytes, 48, aStack.voxelSizeY);
    putDouble(bytes, 56, aStack.voxelSizeZ);
    putDouble(bytes, 112, aStack.timeInterval);

    const size_t blockStart = bytes.size();
    const size_t colorsAt = 24, namesAt = colorsAt + 4 * size_t(aStack.sizeC);
    bytes.resize(blockStart + namesAt, 0);
    for (int c = 0; c < aStack.sizeC; ++c) {
        const uint32_t rgb = c < int(aStack.channelColors.size()) ? aStack.channelColors[c] : 0xffffff;
        for (int k = 0; k < 3; ++k) bytes[blockStart + colorsAt + 4 * c + k] = uint8_t(rgb >> (16 - 8 * k));
    }
    for (int c = 0; c < aStack.sizeC; ++c) {
        const std::string name =
            c < int(aStack.channelNames.size()) ? aStack.channelNames[c] : "Ch" + std::to_string(c + 1);
        const size_t at = bytes.size();
        bytes.resize(at + 4 + name.size() + 1, 0);
        putInt32(bytes, at, int32_t(name.size() + 1));
        std::memcpy(&bytes[at + 4], name.data(), name.size());
    }
    const int32_t header[] = {int32_t(bytes.size() - blockStart),
                              aStack.sizeC,
                              aStack.sizeC,
                              int32_t(colorsAt),
                              int32_t(namesAt),
                              0};
    for (size_t i = 0; i < 6; ++i) putInt32(bytes, blockStart + 4 * i, header[i]);
    return bytes;
}

// Where libtiff put the value of tag 34412 in the first directory of the classic little-endian TIFF.
uint32_t recordPosition(std::FILE* aFile) {
    unsigned char word[12];
    auto u16 = [&](int at) { return lsm::littleEndian16(word + at); };
    auto u32 = [&](int at) { return lsm::littleEndian32(word + at); };
    if (std::fseek(aFile, 0, SEEK_SET) != 0 || std::fread(word, 1, 8, aFile) != 8) return 0;
    const uint32_t directory = u32(4);
    if (std::fseek(aFile, long(directory), SEEK_SET) != 0 || std::fread(word, 1, 2, aFile) != 2) return 0;
    for (uint32_t entries = u16(0); entries > 0; --entries) {
        if (std::fread(word, 1, 12, aFile) != 12) return 0;
        if (u16(0) == kLsmInfoTag) return u32(8);
    }
    return 0;
}

void check(int aResult, const char* aWhat) {
    if (aResult != 1) throw std::runtime_error(std::string("libtiff failed to ") + aWhat);
}

}  // namespace

void writeLsmStack(const std::string& aPath, const LsmStack& aStack) {
    AtomicOutput output(aPath);
    std::vector<unsigned char> record = recordAndColorBlock(aStack);
    {
        std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(output.temporaryPath().c_str(), "wl"),
                                                    TIFFClose);
        if (!tiff) throw std::runtime_error("cannot write '" + output.temporaryPath() + "'");
        static const TIFFFieldInfo kInfoField = {kLsmInfoTag,
                                                 TIFF_VARIABLE2,
                                                 TIFF_VARIABLE2,
                                                 TIFF_BYTE,
                                                 FIELD_CUSTOM,
                                                 1,
                                                 1,
                                                 const_cast<char*>("CZ_LSMINFO")};
        check(TIFFMergeFieldInfo(tiff.get(), &kInfoField, 1) == 0, "register the LSM info tag");
        TIFF* t = tiff.get();
        const tmsize_t planeBytes = tmsize_t(aStack.sizeX) * aStack.sizeY;
        std::vector<uint8_t> plane(static_cast<size_t>(planeBytes));
        const uint8_t preview[4 * 4 * 3] = {};
        for (int ti = 0; ti < aStack.sizeT; ++ti) {
            for (int z = 0; z < aStack.sizeZ; ++z) {
                TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
                TIFFSetField(t, TIFFTAG_IMAGEWIDTH, aStack.sizeX);
                TIFFSetField(t, TIFFTAG_IMAGELENGTH, aStack.sizeY);
                TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
                TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, aStack.sizeC);
                TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
                TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
                TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, aStack.sizeY);
                if (ti == 0 && z == 0) TIFFSetField(t, kLsmInfoTag, uint32_t(record.size()), record.data());
                for (int c = 0; c < aStack.sizeC; ++c) {
                    for (int y = 0; y < aStack.sizeY; ++y)
                        for (int x = 0; x < aStack.sizeX; ++x)
                            plane[size_t(y) * aStack.sizeX + x] = aStack.value(ti, c, z, y, x);
                    check(TIFFWriteEncodedStrip(t, c, plane.data(), planeBytes) == planeBytes,
                          "write a strip");
                }
                check(TIFFWriteDirectory(t), "write an image directory");

                TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
                TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4);
                TIFFSetField(t, TIFFTAG_IMAGELENGTH, 4);
                TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
                TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
                TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
                TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
                TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
                check(TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(preview), sizeof preview) ==
                          tmsize_t(sizeof preview),
                      "write a preview");
                check(TIFFWriteDirectory(t), "write a preview directory");
            }
        }
    }

    // The colour block's file offset is known only now that libtiff has placed the record.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(output.temporaryPath().c_str(), "r+b"),
                                                         std::fclose);
    const uint32_t at = file ? recordPosition(file.get()) : 0;
    if (at == 0) throw std::runtime_error("cannot find the LSM record in '" + output.temporaryPath() + "'");
    std::vector<unsigned char> offset(4);
    putInt32(offset, 0, int32_t(at + kRecordSize));
    if (std::fseek(file.get(), long(at + kOffsetChannelColors), SEEK_SET) != 0 ||
        std::fwrite(offset.data(), 1, 4, file.get()) != 4 || std::fclose(file.release()) != 0)
        throw std::runtime_error("cannot complete '" + output.temporaryPath() + "'");
    output.commit(true);
}

}  // namespace korvane::tools
