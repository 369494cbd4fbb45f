#include "OmeTiffConverter.h"

#include <blitz/array.h>
#include <tiffio.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "AtomicOutput.h"
#include "DorudURIVuruda.h"
#include "PixelDataType.h"
#include "TextCleaning.h"
#include "TiffOutputStream.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

namespace korvane::tools {

namespace {

// The last message libtiff gave while writing, for the error the conversion reports.
std::string gTiffError;

void keepTiffError(const char* aModule, const char* aFormat, va_list aArguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, aFormat, aArguments);
    gTiffError = std::string(aModule ? aModule : "libtiff") + ": " + text;
}

// Shortest text that reads back as the same double, independent of the locale.
std::string number(double aValue) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, aValue);
    return std::string(text, result.ptr);
}

// Metres to micrometres by moving the decimal point, so that 2e-07 m gives 0.2 and not the
// 0.19999999999999998 a multiplication leaves.
double micrometres(double aMetres) {
    char text[48];
    const auto written = std::to_chars(text, text + sizeof text, aMetres, std::chars_format::scientific);
    const std::string scientific(text, written.ptr);
    const std::string::size_type e = scientific.find('e');
    if (e == std::string::npos) return aMetres * 1e6;  // inf or nan
    const std::string shifted =
        scientific.substr(0, e) + "e" + std::to_string(std::stoi(scientific.substr(e + 1)) + 6);
    double value = aMetres * 1e6;
    std::from_chars(shifted.data(), shifted.data() + shifted.size(), value);
    return value;
}

const char* omeTypeName(int aPixelType) {
    return aPixelType == TYPE_FLOAT ? "float" : aPixelType == TYPE_UINT16 ? "uint16" : "uint8";
}

template <typename T>
void writePlane(TIFF* aTiff, const StackSummary& aStack, const T* aPlane, uint16_t aCompression,
                int64_t aIndex, const std::string& aXml) {
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
            throw std::runtime_error("cannot write plane " + std::to_string(aIndex) + ": " + gTiffError);
    }
    if (TIFFWriteDirectory(aTiff) != 1)
        throw std::runtime_error("cannot write directory " + std::to_string(aIndex) + ": " + gTiffError);
}

// Planes are read a few z at a time, as many as fit into 2 MiB (at least one): few reader calls
// when planes are small, while the planes read stay in the processor's cache until they are written,
// which saves about a tenth of the time against larger batches. Together with the reader's own buffer
// of one directory this bounds the memory whatever the stack's size.
template <typename T>
void writePlanes(DorudURIVuruda& aReader, const StackSummary& aStack, TIFF* aTiff, const std::string& aXml,
                 uint16_t aCompression, const ConvertOptions& aOptions) {
    const int64_t total = int64_t(aStack.sizeT) * aStack.sizeC * aStack.sizeZ;
    const uint64_t planeBytes = uint64_t(aStack.sizeX) * uint64_t(aStack.sizeY) * sizeof(T);
    const int chunk = int(std::clamp<uint64_t>((2 << 20) / planeBytes, 1, uint64_t(aStack.sizeZ)));
    blitz::Array<T, 3> planes;
    int64_t done = 0;
    for (int t = 0; t < aStack.sizeT; ++t) {
        for (int c = 0; c < aStack.sizeC; ++c) {
            for (int z = 0; z < aStack.sizeZ; z += chunk) {
                const int count = std::min(chunk, aStack.sizeZ - z);
                aReader.readArray(planes, t, c, z, count, 0, 0, 0, 0);
                for (int k = 0; k < count; ++k) {
                    writePlane(aTiff, aStack, planes.dataFirst() + uint64_t(k) * planeBytes / sizeof(T),
                               aCompression, done, aXml);
                    ++done;
                    if (aOptions.progress) aOptions.progress(done, total);
                }
            }
        }
    }
}

}  // namespace

StackSummary summarize(DorudURIVuruda& aReader) {
    StackSummary stack;
    stack.sizeX = aReader.getSizeX();
    stack.sizeY = aReader.getSizeY();
    stack.sizeZ = aReader.getSizeZ();
    stack.sizeC = aReader.getSizeC();
    stack.sizeT = aReader.getSizeT();
    const LSMInfoRecord& record = aReader.getInfoRecord();
    stack.voxelSize[0] = micrometres(record.voxelSizeX_m);
    stack.voxelSize[1] = micrometres(record.voxelSizeY_m);
    stack.voxelSize[2] = micrometres(record.voxelSizeZ_m);
    stack.timeInterval = aReader.getTimeInterval();
    stack.compression = aReader.getCompression();
    for (int c = 0; c < stack.sizeC; ++c) {
        stack.pixelTypes.push_back(aReader.getPixelType(c));
        stack.channelColors.push_back(aReader.getChannelColor(c));
        const std::string name = textFromFile(aReader.getChannelName(c));
        stack.channelNames.push_back(name.empty() ? "Channel " + std::to_string(c) : name);
    }
    return stack;
}

std::string compressionName(int aTiffCode) {
    switch (aTiffCode) {
        case COMPRESSION_NONE:
            return "none";
        case COMPRESSION_LZW:
            return "LZW";
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return "Deflate";
        default:
            return "TIFF code " + std::to_string(aTiffCode);
    }
}

int commonPixelType(const std::vector<int>& aPixelTypes) {
    const auto has = [&](int aType) {
        return std::find(aPixelTypes.begin(), aPixelTypes.end(), aType) != aPixelTypes.end();
    };
    return has(TYPE_FLOAT) ? TYPE_FLOAT : has(TYPE_UINT16) ? TYPE_UINT16 : TYPE_UINT8;
}

std::string omeXml(const StackSummary& aStack, int aPixelType, const std::string& aImageName) {
    const char* const ns = "http://www.openmicroscopy.org/Schemas/OME/2016-06";
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<OME xmlns=\"" << ns << "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        << " xsi:schemaLocation=\"" << ns << " " << ns << "/ome.xsd\" Creator=\"korvane-lsm "
        << KORVANE_VERSION << "\">\n"
        << "  <Image ID=\"Image:0\" Name=\"" << xmlText(textFromFile(aImageName)) << "\">\n"
        << "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZCT\" Type=\"" << omeTypeName(aPixelType) << "\""
        << " SizeX=\"" << aStack.sizeX << "\" SizeY=\"" << aStack.sizeY << "\" SizeZ=\"" << aStack.sizeZ
        << "\""
        << " SizeC=\"" << aStack.sizeC << "\" SizeT=\"" << aStack.sizeT << "\"";
    // The schema wants positive sizes, so a voxel size the file leaves at 0 is left out; the unit
    // defaults to micrometres.
    const char* const axes[] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i)
        if (aStack.voxelSize[i] > 0)
            xml << " PhysicalSize" << axes[i] << "=\"" << number(aStack.voxelSize[i]) << "\"";
    if (aStack.timeInterval > 0)
        xml << " TimeIncrement=\"" << number(aStack.timeInterval) << "\" TimeIncrementUnit=\"s\"";
    xml << " BigEndian=\"false\" Interleaved=\"false\">\n";
    for (int c = 0; c < aStack.sizeC; ++c) {
        // OME colours are RGBA packed into a signed 32-bit integer.
        const int32_t rgba = static_cast<int32_t>(aStack.channelColors[c] << 8 | 0xFFu);
        xml << "      <Channel ID=\"Channel:0:" << c << "\" Name=\"" << xmlText(aStack.channelNames[c])
            << "\" SamplesPerPixel=\"1\" Color=\"" << rgba << "\"/>\n";
    }
    int64_t ifd = 0;
    for (int t = 0; t < aStack.sizeT; ++t)
        for (int c = 0; c < aStack.sizeC; ++c)
            for (int z = 0; z < aStack.sizeZ; ++z)
                xml << "      <TiffData IFD=\"" << ifd++ << "\" FirstZ=\"" << z << "\" FirstC=\"" << c
                    << "\" FirstT=\"" << t << "\" PlaneCount=\"1\"/>\n";
    xml << "    </Pixels>\n  </Image>\n</OME>\n";
    return xml.str();
}

void convertToOmeTiff(DorudURIVuruda& aReader, const std::string& aImageName, const std::string& aOutputPath,
                      const ConvertOptions& aOptions) {
    const StackSummary stack = summarize(aReader);
    const int type = commonPixelType(stack.pixelTypes);
    const std::string xml = omeXml(stack, type, aImageName);
    const uint16_t compression = aOptions.compression == OutputCompression::Lzw ? COMPRESSION_LZW
                                 : aOptions.compression == OutputCompression::Deflate
                                     ? COMPRESSION_ADOBE_DEFLATE
                                     : COMPRESSION_NONE;
    // Classic TIFF offsets end at 4 GiB. Compressed strips can outgrow their data (LZW by up to half),
    // and every directory with its strip tables takes some room.
    const uint64_t planes = uint64_t(stack.sizeT) * uint64_t(stack.sizeC) * uint64_t(stack.sizeZ);
    const uint64_t sampleBytes = type == TYPE_UINT8 ? 1 : type == TYPE_UINT16 ? 2 : 4;
    const long double pixelBytes = (long double)stack.sizeX * stack.sizeY * sampleBytes * planes;
    const long double bound =
        pixelBytes * (compression == COMPRESSION_NONE ? 1 : 2) + planes * 4096.0L + xml.size() + (1 << 20);
    const bool bigTiff = aOptions.bigTiff || bound >= 4294967296.0L;

    AtomicOutput output(aOutputPath);
    TIFFSetErrorHandler(keepTiffError);
    gTiffError = "unknown error";
    TiffOutputStream stream(output.temporaryPath());
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(stream.open(bigTiff ? "w8l" : "wl"), TIFFClose);
    if (!tiff) throw std::runtime_error("cannot write '" + output.temporaryPath() + "': " + gTiffError);
    if (type == TYPE_FLOAT)
        writePlanes<float>(aReader, stack, tiff.get(), xml, compression, aOptions);
    else if (type == TYPE_UINT16)
        writePlanes<uint16_t>(aReader, stack, tiff.get(), xml, compression, aOptions);
    else
        writePlanes<uint8_t>(aReader, stack, tiff.get(), xml, compression, aOptions);
    if (TIFFFlush(tiff.get()) != 1) throw std::runtime_error("cannot complete the output: " + gTiffError);
    tiff.reset();
    stream.finish();
    output.commit(aOptions.replace);
}

}  // namespace korvane::tools
