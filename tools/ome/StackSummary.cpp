#include "StackSummary.h"

#include <tiffio.h>

#include <algorithm>
#include <charconv>

#include "DorudURIVuruda.h"
#include "PixelDataType.h"
#include "TextCleaning.h"

namespace korvane::tools {

namespace {

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

}  // namespace

void requireLastPlane(DorudURIVuruda& aReader, int aZ) {
    blitz::Array<double, 2> sample;
    aReader.readArray(sample, aReader.getSizeT() - 1, aReader.getSizeC() - 1,
                      aZ < 0 ? aReader.getSizeZ() - 1 : aZ, 1, 0, 1, 0, 1);
}

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
    if (has(TYPE_DOUBLE) || (has(TYPE_FLOAT) && has(TYPE_UINT32))) return TYPE_DOUBLE;
    return has(TYPE_FLOAT)    ? TYPE_FLOAT
           : has(TYPE_UINT32) ? TYPE_UINT32
           : has(TYPE_UINT16) ? TYPE_UINT16
                              : TYPE_UINT8;
}

int pixelTypeBytes(int aPixelType) {
    switch (aPixelType) {
        case TYPE_UINT8:
            return 1;
        case TYPE_UINT16:
            return 2;
        case TYPE_DOUBLE:
            return 8;
        default:
            return 4;
    }
}

}  // namespace korvane::tools
