#include "OmeTiffWriter.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "AtomicOutput.h"
#include "PixelDataType.h"
#include "TiffOutputStream.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

namespace korvane::tools {

namespace {

template <typename T>
void writePlane(TIFF* aTiff, TiffOutputStream& aStream, const StackSummary& aStack, const T* aPlane,
                uint16_t aCompression, int64_t aIndex, const std::string& aXml) {
    const tmsize_t rowBytes = tmsize_t(aStack.sizeX) * tmsize_t(sizeof(T));
    // Strips of about 256 KiB keep libtiff's buffers small and the strip tables short.
    const uint32_t rowsPerStrip = uint32_t(std::clamp<tmsize_t>((256 << 10) / rowBytes, 1, aStack.sizeY));
    TIFFSetField(aTiff, TIFFTAG_IMAGEWIDTH, uint32_t(aStack.sizeX));
    TIFFSetField(aTiff, TIFFTAG_IMAGELENGTH, uint32_t(aStack.sizeY));
    TIFFSetField(aTiff, TIFFTAG_BITSPERSAMPLE, uint16_t(8 * sizeof(T)));
    TIFFSetField(aTiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
    TIFFSetField(aTiff, TIFFTAG_SAMPLEFORMAT,
                 std::is_floating_point<T>::value ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(aTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(aTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(aTiff, TIFFTAG_COMPRESSION, aCompression);
    TIFFSetField(aTiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (aIndex == 0) {
        TIFFSetField(aTiff, TIFFTAG_IMAGEDESCRIPTION, aXml.c_str());
        TIFFSetField(aTiff, TIFFTAG_SOFTWARE, "korvane-lsm " KORVANE_VERSION);
    }
    unsigned char* data = reinterpret_cast<unsigned char*>(const_cast<T*>(aPlane));
    for (uint32_t row = 0, strip = 0; row < uint32_t(aStack.sizeY); row += rowsPerStrip, ++strip) {
        const tmsize_t bytes = tmsize_t(std::min(rowsPerStrip, uint32_t(aStack.sizeY) - row)) * rowBytes;
        // Raw strips skip libtiff's copy into its own buffer when there is nothing to encode.
        const tmsize_t written = aCompression == COMPRESSION_NONE
                                     ? TIFFWriteRawStrip(aTiff, strip, data + row * rowBytes, bytes)
                                     : TIFFWriteEncodedStrip(aTiff, strip, data + row * rowBytes, bytes);
        if (written != bytes)
            throw std::runtime_error("cannot write plane " + std::to_string(aIndex) + ": " +
                                     aStream.tiffError());
    }
    if (TIFFWriteDirectory(aTiff) != 1)
        throw std::runtime_error("cannot write directory " + std::to_string(aIndex) + ": " +
                                 aStream.tiffError());
}

// Planes are read a few z at a time, as many as fit into 2 MiB (at least one): few source calls
// when planes are small, while the planes read stay in the processor's cache until they are written,
// which saves about a tenth of the time against larger batches. Together with the reader's own buffer
// of one directory this bounds the memory whatever the stack's size.
template <typename T>
bool writePlanes(const std::vector<OmeImagePlanes>& aImages, TIFF* aTiff, TiffOutputStream& aStream,
                 const std::string& aXml, uint16_t aCompression, const ConvertOptions& aOptions) {
    int64_t total = 0, done = 0;
    for (const OmeImagePlanes& image : aImages)
        total += int64_t(image.stack.sizeT) * image.stack.sizeC * image.stack.sizeZ;
    PlaneBlock block{blitz::Array<T, 3>()};
    for (const OmeImagePlanes& image : aImages) {
        const StackSummary& stack = image.stack;
        const uint64_t planePixels = uint64_t(stack.sizeX) * uint64_t(stack.sizeY);
        const int chunk =
            int(std::clamp<uint64_t>((2 << 20) / (planePixels * sizeof(T)), 1, uint64_t(stack.sizeZ)));
        for (int t = 0; t < stack.sizeT; ++t) {
            for (int c = 0; c < stack.sizeC; ++c) {
                for (int z = 0; z < stack.sizeZ; z += chunk) {
                    const int count = std::min(chunk, stack.sizeZ - z);
                    image.source.readPlanes(block, t, c, z, count);
                    const auto* planes = std::get_if<blitz::Array<T, 3>>(&block);
                    if (planes == nullptr || uint64_t(planes->size()) != planePixels * uint64_t(count) ||
                        !planes->isStorageContiguous())
                        throw std::logic_error("a plane source gave planes of another type or extent");
                    for (int k = 0; k < count; ++k) {
                        writePlane(aTiff, aStream, stack, planes->dataFirst() + uint64_t(k) * planePixels,
                                   aCompression, done, aXml);
                        ++done;
                        if (aOptions.progress && !aOptions.progress(done, total)) return false;
                    }
                }
            }
        }
    }
    return true;
}

}  // namespace

bool writeOmeTiff(OmePlaneSource& aSource, const StackSummary& aStack, int aPixelType,
                  const std::string& aXml, const std::string& aOutputPath, const ConvertOptions& aOptions) {
    return writeOmeTiff({{aSource, aStack}}, aPixelType, aXml, aOutputPath, aOptions);
}

bool writeOmeTiff(const std::vector<OmeImagePlanes>& aImages, int aPixelType, const std::string& aXml,
                  const std::string& aOutputPath, const ConvertOptions& aOptions) {
    const uint16_t compression = aOptions.compression == OutputCompression::Lzw ? COMPRESSION_LZW
                                 : aOptions.compression == OutputCompression::Deflate
                                     ? COMPRESSION_ADOBE_DEFLATE
                                     : COMPRESSION_NONE;
    // Classic TIFF offsets end at 4 GiB. Compressed strips can outgrow their data (LZW by up to half),
    // and every directory with its strip tables takes some room.
    long double bound = aXml.size() + (1 << 20);
    for (const OmeImagePlanes& image : aImages) {
        const StackSummary& stack = image.stack;
        const long double planes = (long double)stack.sizeT * stack.sizeC * stack.sizeZ;
        bound += (long double)stack.sizeX * stack.sizeY * pixelTypeBytes(aPixelType) * planes *
                     (compression == COMPRESSION_NONE ? 1 : 2) +
                 planes * 4096.0L;
    }
    const bool bigTiff = aOptions.bigTiff || bound >= 4294967296.0L;

    AtomicOutput output(aOutputPath);
    TiffOutputStream stream(output.temporaryPath());
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(stream.open(bigTiff ? "w8l" : "wl"), TIFFClose);
    if (!tiff)
        throw std::runtime_error("cannot write '" + output.temporaryPath() + "': " + stream.tiffError());
    bool complete;
    switch (aPixelType) {
        case TYPE_UINT8:
            complete = writePlanes<unsigned char>(aImages, tiff.get(), stream, aXml, compression, aOptions);
            break;
        case TYPE_UINT16:
            complete = writePlanes<unsigned short>(aImages, tiff.get(), stream, aXml, compression, aOptions);
            break;
        case TYPE_UINT32:
            complete = writePlanes<unsigned int>(aImages, tiff.get(), stream, aXml, compression, aOptions);
            break;
        case TYPE_FLOAT:
            complete = writePlanes<float>(aImages, tiff.get(), stream, aXml, compression, aOptions);
            break;
        case TYPE_DOUBLE:
            complete = writePlanes<double>(aImages, tiff.get(), stream, aXml, compression, aOptions);
            break;
        default:
            throw std::invalid_argument("no OME-TIFF sample type for " + pixelDataTypeName(aPixelType));
    }
    if (!complete) return false;
    if (TIFFFlush(tiff.get()) != 1)
        throw std::runtime_error("cannot complete the output: " + stream.tiffError());
    tiff.reset();
    stream.finish();
    output.commit(aOptions.replace);
    return true;
}

}  // namespace korvane::tools
