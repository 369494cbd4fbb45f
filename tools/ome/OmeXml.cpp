#include "OmeXml.h"

#include <charconv>
#include <cmath>
#include <numeric>
#include <sstream>

#include "DorudURIVuruda.h"
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

// Attributes that are left out when the file does not give them.
struct Attributes {
    std::ostringstream& xml;
    Attributes& operator()(const char* aName, const std::string& aText) {
        if (!aText.empty()) xml << " " << aName << "=\"" << xmlText(aText) << "\"";
        return *this;
    }
    Attributes& operator()(const char* aName, const std::optional<double>& aValue,
                           const char* aUnit = nullptr) {
        if (!aValue || !std::isfinite(*aValue)) return *this;
        xml << " " << aName << "=\"" << number(*aValue) << "\"";
        if (aUnit) xml << " " << aName << "Unit=\"" << aUnit << "\"";
        return *this;
    }
};

const char* const kMicrometre = "\xc2\xb5m";

void writeInstrument(std::ostringstream& aXml, const OmeInstrument& aInstrument) {
    Attributes attributes{aXml};
    aXml << "  <Instrument ID=\"Instrument:0\">\n";
    if (!aInstrument.microscopeModel.empty()) {
        aXml << "    <Microscope";
        attributes("Model", aInstrument.microscopeModel);
        aXml << "/>\n";
    }
    for (std::size_t k = 0; k < aInstrument.lasers.size(); ++k) {
        const OmeLaser& laser = aInstrument.lasers[k];
        aXml << "    <Laser ID=\"LightSource:0:" << k << "\"";
        attributes("Model", laser.model)("Power", laser.power_mW, "mW")("Type", laser.type)(
            "LaserMedium", laser.medium)("Wavelength", laser.wavelength_nm, "nm");
        aXml << "/>\n";
    }
    for (std::size_t k = 0; k < aInstrument.detectors.size(); ++k) {
        const OmeDetector& detector = aInstrument.detectors[k];
        aXml << "    <Detector ID=\"Detector:0:" << k << "\"";
        attributes("Model", detector.model)("Type", detector.type)("Gain", detector.gain)(
            "AmplificationGain", detector.amplificationGain)("Offset", detector.offset)("Zoom",
                                                                                        detector.zoom);
        aXml << "/>\n";
    }
    if (const std::optional<OmeObjective>& objective = aInstrument.objective) {
        aXml << "    <Objective ID=\"Objective:0:0\"";
        attributes("Model", objective->model)("Correction", objective->correction)(
            "Immersion", objective->immersion)("LensNA", objective->lensNA)("NominalMagnification",
                                                                            objective->magnification);
        aXml << "/>\n";
    }
    for (std::size_t k = 0; k < aInstrument.filters.size(); ++k) {
        const OmeFilter& filter = aInstrument.filters[k];
        aXml << "    <Filter ID=\"Filter:0:" << k << "\"";
        attributes("Model", filter.model)("Type", filter.type);
        if (!filter.cutIn_nm && !filter.cutOut_nm) {
            aXml << "/>\n";
            continue;
        }
        aXml << ">\n      <TransmittanceRange";
        attributes("CutIn", filter.cutIn_nm, "nm")("CutOut", filter.cutOut_nm, "nm");
        aXml << "/>\n    </Filter>\n";
    }
    aXml << "  </Instrument>\n";
}

// The medium an objective looks through, where OME's settings have a word for it.
std::string mediumOf(const std::string& aImmersion) {
    return aImmersion == "Oil" || aImmersion == "Water" || aImmersion == "Glycerol" || aImmersion == "Air"
               ? aImmersion
               : std::string();
}

void writeChannel(std::ostringstream& aXml, std::size_t aImage, const StackSummary& aStack, int aChannel,
                  const OmeChannelSettings* aSettings) {
    Attributes attributes{aXml};
    // OME colours are RGBA packed into a signed 32-bit integer.
    const int32_t rgba = static_cast<int32_t>(aStack.channelColors[aChannel] << 8 | 0xFFu);
    aXml << "      <Channel ID=\"Channel:" << aImage << ":" << aChannel << "\" Name=\""
         << xmlText(aStack.channelNames[aChannel]) << "\" SamplesPerPixel=\"1\"";
    if (aSettings) {
        attributes("IlluminationType", aSettings->illuminationType)(
            "PinholeSize", aSettings->pinhole_um, kMicrometre)("AcquisitionMode", aSettings->acquisitionMode)(
            "ContrastMethod", aSettings->contrastMethod)("ExcitationWavelength", aSettings->excitation_nm,
                                                         "nm")("EmissionWavelength", aSettings->emission_nm,
                                                               "nm");
    }
    aXml << " Color=\"" << rgba << "\"";
    if (!aSettings || (aSettings->laser < 0 && aSettings->detector < 0 && aSettings->filter < 0)) {
        aXml << "/>\n";
        return;
    }
    aXml << ">\n";
    if (aSettings->laser >= 0) {
        aXml << "        <LightSourceSettings ID=\"LightSource:0:" << aSettings->laser << "\"";
        attributes("Attenuation", aSettings->attenuation)("Wavelength", aSettings->excitation_nm, "nm");
        aXml << "/>\n";
    }
    if (aSettings->detector >= 0)
        aXml << "        <DetectorSettings ID=\"Detector:0:" << aSettings->detector << "\"/>\n";
    if (aSettings->filter >= 0)
        aXml << "        <LightPath>\n          <EmissionFilterRef ID=\"Filter:0:" << aSettings->filter
             << "\"/>\n        </LightPath>\n";
    aXml << "      </Channel>\n";
}

// Image aIndex, whose planes start at directory aIfd (advanced past them).
void writeImage(std::ostringstream& aXml, std::size_t aIndex, const OmeImage& aImage, int aPixelType,
                const OmeImageMetadata& aShared, int64_t& aIfd) {
    Attributes attributes{aXml};
    aXml << "  <Image ID=\"Image:" << aIndex << "\" Name=\"" << xmlText(textFromFile(aImage.metadata.name))
         << "\">\n";
    if (!aImage.metadata.acquisitionDate.empty())
        aXml << "    <AcquisitionDate>" << aImage.metadata.acquisitionDate << "</AcquisitionDate>\n";
    if (!aShared.experimenter.empty()) aXml << "    <ExperimenterRef ID=\"Experimenter:0\"/>\n";
    if (!aImage.metadata.description.empty())
        aXml << "    <Description>" << xmlText(aImage.metadata.description) << "</Description>\n";
    if (!aShared.instrument.empty()) aXml << "    <InstrumentRef ID=\"Instrument:0\"/>\n";
    if (aShared.instrument.objective) {
        aXml << "    <ObjectiveSettings ID=\"Objective:0:0\"";
        attributes("Medium", mediumOf(aShared.instrument.objective->immersion));
        aXml << "/>\n";
    }
    aXml << "    <Pixels ID=\"Pixels:" << aIndex << "\" DimensionOrder=\"XYZCT\" Type=\""
         << omeTypeName(aPixelType) << "\""
         << " SizeX=\"" << aImage.stack.sizeX << "\" SizeY=\"" << aImage.stack.sizeY << "\" SizeZ=\""
         << aImage.stack.sizeZ << "\""
         << " SizeC=\"" << aImage.stack.sizeC << "\" SizeT=\"" << aImage.stack.sizeT << "\"";
    // The schema wants positive sizes, so a voxel size the file leaves at 0 is left out, and so are the
    // placeholders below a picometre (1e-19 m) that files store for "not set". The unit defaults to
    // micrometres.
    const char* const axes[] = {"PhysicalSizeX", "PhysicalSizeY", "PhysicalSizeZ"};
    for (int i = 0; i < 3; ++i)
        if (aImage.stack.voxelSize[i] >= 1e-6) attributes(axes[i], aImage.stack.voxelSize[i]);
    if (aImage.metadata.timeIncrement_s && *aImage.metadata.timeIncrement_s > 0)
        attributes("TimeIncrement", aImage.metadata.timeIncrement_s, "s");
    const int typeBits = 8 * pixelTypeBytes(aPixelType);
    if (aImage.metadata.significantBits && *aImage.metadata.significantBits <= typeBits &&
        aPixelType != TYPE_FLOAT && aPixelType != TYPE_DOUBLE)
        aXml << " SignificantBits=\"" << *aImage.metadata.significantBits << "\"";
    aXml << " BigEndian=\"false\" Interleaved=\"false\">\n";
    for (int c = 0; c < aImage.stack.sizeC; ++c)
        writeChannel(aXml, aIndex, aImage.stack, c,
                     std::size_t(c) < aImage.metadata.instrument.channels.size()
                         ? &aImage.metadata.instrument.channels[std::size_t(c)]
                         : nullptr);
    for (int t = 0; t < aImage.stack.sizeT; ++t)
        for (int c = 0; c < aImage.stack.sizeC; ++c)
            for (int z = 0; z < aImage.stack.sizeZ; ++z)
                aXml << "      <TiffData IFD=\"" << aIfd++ << "\" FirstZ=\"" << z << "\" FirstC=\"" << c
                     << "\" FirstT=\"" << t << "\" PlaneCount=\"1\"/>\n";
    const bool timed = aImage.metadata.deltaT_s.size() == std::size_t(aImage.stack.sizeT);
    for (int t = 0; t < aImage.stack.sizeT; ++t)
        for (int c = 0; c < aImage.stack.sizeC; ++c)
            for (int z = 0; z < aImage.stack.sizeZ; ++z) {
                aXml << "      <Plane TheZ=\"" << z << "\" TheT=\"" << t << "\" TheC=\"" << c << "\"";
                if (timed) attributes("DeltaT", aImage.metadata.deltaT_s[std::size_t(t)], "s");
                aXml << "/>\n";
            }
    aXml << "    </Pixels>\n  </Image>\n";
}

}  // namespace

OmeImageMetadata imageMetadata(DorudURIVuruda& aReader, const StackSummary& aWritten,
                               const std::string& aName, std::vector<int> aFileChannels,
                               std::vector<int> aFileTimepoints) {
    if (aFileChannels.empty()) {
        aFileChannels.resize(std::size_t(aWritten.sizeC));
        std::iota(aFileChannels.begin(), aFileChannels.end(), 0);
    }
    if (aFileTimepoints.empty()) {
        aFileTimepoints.resize(std::size_t(aWritten.sizeT));
        std::iota(aFileTimepoints.begin(), aFileTimepoints.end(), 0);
    }
    const LSMAcquisition& acquisition = aReader.getAcquisition();
    OmeImageMetadata metadata;
    metadata.name = aName;
    metadata.description = acquisition.recording.description;
    if (acquisition.recording.startTime)
        metadata.acquisitionDate = lsmIso8601(*acquisition.recording.startTime);
    metadata.experimenter = acquisition.recording.user;
    metadata.instrument = omeInstrument(acquisition, aFileChannels);

    // Time stamps count when there is one for every timepoint; their epoch is arbitrary.
    const std::vector<double>& stamps = acquisition.timeStamps_s;
    const int sizeT = aReader.getSizeT();
    const double interval = aReader.getTimeInterval();
    const bool stamped = !stamps.empty() && stamps.size() >= std::size_t(sizeT);
    if (stamped && sizeT > 1)
        metadata.timeIncrement_s = (stamps[std::size_t(sizeT - 1)] - stamps[0]) / (sizeT - 1);
    else if (interval > 0)
        metadata.timeIncrement_s = interval;
    for (const int t : aFileTimepoints) {
        if (stamped && t >= 0 && std::size_t(t) < stamps.size())
            metadata.deltaT_s.push_back(stamps[std::size_t(t)] - stamps[0]);
        else if (interval > 0)
            metadata.deltaT_s.push_back(t * interval);
    }

    // Bits the detector filled, when every written channel's data channel agrees on them.
    for (const int c : aFileChannels) {
        const LSMChannelHardware link = lsmChannelHardware(acquisition, c);
        std::optional<int32_t> bits = link.track < 0 ? std::nullopt
                                                     : acquisition.tracks[std::size_t(link.track)]
                                                           .dataChannels[std::size_t(link.dataChannel)]
                                                           .bitsPerSample;
        // Without the detector's word, the data type code still tells 12-bit data kept in 16 bits.
        if (!bits && aReader.getSignificantBits(c) == 12) bits = 12;
        if (!bits || *bits <= 0 || (metadata.significantBits && *metadata.significantBits != *bits)) {
            metadata.significantBits.reset();
            break;
        }
        metadata.significantBits = *bits;
    }
    return metadata;
}

std::string omeXml(const StackSummary& aStack, int aPixelType, const std::string& aImageName) {
    OmeImageMetadata metadata;
    metadata.name = aImageName;
    if (aStack.timeInterval > 0) metadata.timeIncrement_s = aStack.timeInterval;
    return omeXml(aStack, aPixelType, metadata);
}

std::string omeXml(const StackSummary& aStack, int aPixelType, const OmeImageMetadata& aMetadata) {
    return omeXml({{aStack, aMetadata}}, aPixelType);
}

std::string omeXml(const std::vector<OmeImage>& aImages, int aPixelType) {
    const char* const ns = "http://www.openmicroscopy.org/Schemas/OME/2016-06";
    // The images of one file share the experimenter and the instrument.
    const OmeImageMetadata& first = aImages.at(0).metadata;
    std::ostringstream xml;
    Attributes attributes{xml};
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<OME xmlns=\"" << ns << "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        << " xsi:schemaLocation=\"" << ns << " " << ns << "/ome.xsd\" Creator=\"korvane-lsm "
        << KORVANE_VERSION << "\">\n";
    // The schema's order: experimenters, instruments, then images.
    if (!first.experimenter.empty()) {
        xml << "  <Experimenter ID=\"Experimenter:0\"";
        attributes("UserName", first.experimenter);
        xml << "/>\n";
    }
    if (!first.instrument.empty()) writeInstrument(xml, first.instrument);
    int64_t ifd = 0;
    for (std::size_t k = 0; k < aImages.size(); ++k) writeImage(xml, k, aImages[k], aPixelType, first, ifd);
    xml << "</OME>\n";
    return xml.str();
}

}  // namespace korvane::tools
