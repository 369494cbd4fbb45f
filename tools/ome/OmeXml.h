#ifndef KORVANE_OMEXML_H
#define KORVANE_OMEXML_H

#include <optional>
#include <string>
#include <vector>

#include "OmeInstrument.h"
#include "StackSummary.h"

class DorudURIVuruda;

namespace korvane::tools {

// What the OME-XML says about an image beyond its extents and channels. Texts are UTF-8 (the name
// may be any bytes) and left out when empty, numbers when unset.
struct OmeImageMetadata {
    std::string name;
    std::string description;
    std::string acquisitionDate;  // YYYY-MM-DDTHH:MM:SS, local time
    std::string experimenter;     // user name
    OmeInstrument instrument;     // its channels: none, or one per written channel
    std::optional<double> timeIncrement_s;
    std::vector<double> deltaT_s;  // since the first timepoint, one per written timepoint, or none
    std::optional<int> significantBits;
};

// The metadata of an image written from the file aReader has open: written channel c holds the file's
// channel aFileChannels[c] and written timepoint t the file's timepoint aFileTimepoints[t] (empty lists:
// the same numbers). aWritten gives the written extents.
OmeImageMetadata imageMetadata(DorudURIVuruda& aReader, const StackSummary& aWritten,
                               const std::string& aName, std::vector<int> aFileChannels = {},
                               std::vector<int> aFileTimepoints = {});

// The OME-XML (2016-06) for one image of XYZCT planes, stored one plane per TIFF directory: an
// Experimenter and an Instrument when the metadata has them, the Image with its Pixels, Channels, one
// TiffData and one Plane per plane.
std::string omeXml(const StackSummary& aStack, int aPixelType, const OmeImageMetadata& aMetadata);

// One image of a file with several (stage positions, mosaic tiles).
struct OmeImage {
    StackSummary stack;
    OmeImageMetadata metadata;
};

// The same for several images, stored one after the other, that share the first one's experimenter and
// instrument.
std::string omeXml(const std::vector<OmeImage>& aImages, int aPixelType);

// The same with nothing known but the image's name.
std::string omeXml(const StackSummary& aStack, int aPixelType, const std::string& aImageName);

}  // namespace korvane::tools

#endif
