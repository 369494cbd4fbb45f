#include "BlitzBioReader.h"

#include <sstream>

namespace {
const char* const kClassName = "BlitzBioImageReader";

template <typename T>
std::string toText(const T& aValue) {
    std::ostringstream text;
    text << aValue;
    return text.str();
}

std::string vectorText(const FloatVector3& aVector) {
    std::ostringstream text;
    text << "(" << static_cast<double>(aVector[0]) << "," << static_cast<double>(aVector[1]) << ","
         << static_cast<double>(aVector[2]) << ")";
    return text.str();
}
}  // namespace

void BlitzBioReader::getProperties(PropertiesMap& aProperties, int aTimepoint, int aChannel, int aZPlane) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    aProperties.clear();
    aProperties["getCurrentFile()"] = getCurrentFile();
    aProperties["getFormat()"] = getFormat();
    aProperties["getPixelTypeName()"] = getPixelTypeName(aChannel);
    aProperties["getSeriesCount()"] = toText(getSeriesCount());
    aProperties["getSizeC()"] = toText(getSizeC());
    aProperties["getSizeT()"] = toText(getSizeT());
    aProperties["getSizeX()"] = toText(getSizeX());
    aProperties["getSizeY()"] = toText(getSizeY());
    aProperties["getSizeZ()"] = toText(getSizeZ());
    aProperties["getElementSize()"] = vectorText(getElementSize(aTimepoint, aChannel, aZPlane));
    aProperties["getStagePosition()"] = vectorText(getStagePosition(aTimepoint, aChannel, aZPlane));
    aProperties["getThumbSizeX()"] = toText(getThumbSizeX());
    aProperties["getThumbSizeY()"] = toText(getThumbSizeY());
}

std::string BlitzBioReader::getPixelTypeName(int aChannel) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return pixelDataTypeName(getPixelType(aChannel));
}
