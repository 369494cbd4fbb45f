#include "OmeXml.h"

#include <charconv>
#include <sstream>

#include "PixelDataType.h"
#include "TextCleaning.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

namespace korvane::tools {

namespace {

// Shortest text that reads back as the same double, independent of the locale.
std::string number(double aValue) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, aValue);
    return std::string(text, result.ptr);
}

const char* omeTypeName(int aPixelType) {
    switch (aPixelType) {
        case TYPE_UINT16:
            return "uint16";
        case TYPE_UINT32:
            return "uint32";
        case TYPE_FLOAT:
            return "float";
        case TYPE_DOUBLE:
            return "double";
        default:
            return "uint8";
    }
}

}  // namespace

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

}  // namespace korvane::tools
