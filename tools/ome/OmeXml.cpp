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

void writeChannel(std::ostringstream& aXml, const StackSummary& aStack, int aChannel,
                  const OmeChannelSettings* aSettings) {
    Attributes attributes{aXml};
    // OME colours are RGBA packed into a signed 32-bit integer.
    const int32_t rgba = static_cast<int32_t>(aStack.channelColors[aChannel] << 8 | 0xFFu);
    aXml << "      <Channel ID=\"Channel:0:" << aChannel << "\" Name=\""
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
        const std::optional<int32_t> bits = link.track < 0 ? std::nullopt
                                                           : acquisition.tracks[std::size_t(link.track)]
                                                                 .dataChannels[std::size_t(link.dataChannel)]
                                                                 .bitsPerSample;
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
    const char* const ns = "http://www.openmicroscopy.org/Schemas/OME/2016-06";
    const OmeInstrument& instrument = aMetadata.instrument;
    std::ostringstream xml;
    Attributes attributes{xml};
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<OME xmlns=\"" << ns << "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        << " xsi:schemaLocation=\"" << ns << " " << ns << "/ome.xsd\" Creator=\"korvane-lsm "
        << KORVANE_VERSION << "\">\n";
    // The schema's order: experimenters, instruments, then images.
    if (!aMetadata.experimenter.empty()) {
        xml << "  <Experimenter ID=\"Experimenter:0\"";
        attributes("UserName", aMetadata.experimenter);
        xml << "/>\n";
    }
    if (!instrument.empty()) writeInstrument(xml, instrument);
    xml << "  <Image ID=\"Image:0\" Name=\"" << xmlText(textFromFile(aMetadata.name)) << "\">\n";
    if (!aMetadata.acquisitionDate.empty())
        xml << "    <AcquisitionDate>" << aMetadata.acquisitionDate << "</AcquisitionDate>\n";
    if (!aMetadata.experimenter.empty()) xml << "    <ExperimenterRef ID=\"Experimenter:0\"/>\n";
    if (!aMetadata.description.empty())
        xml << "    <Description>" << xmlText(aMetadata.description) << "</Description>\n";
    if (!instrument.empty()) xml << "    <InstrumentRef ID=\"Instrument:0\"/>\n";
    if (instrument.objective) {
        xml << "    <ObjectiveSettings ID=\"Objective:0:0\"";
        attributes("Medium", mediumOf(instrument.objective->immersion));
        xml << "/>\n";
    }
    xml << "    <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZCT\" Type=\"" << omeTypeName(aPixelType) << "\""
        << " SizeX=\"" << aStack.sizeX << "\" SizeY=\"" << aStack.sizeY << "\" SizeZ=\"" << aStack.sizeZ
        << "\""
        << " SizeC=\"" << aStack.sizeC << "\" SizeT=\"" << aStack.sizeT << "\"";
    // The schema wants positive sizes, so a voxel size the file leaves at 0 is left out, and so are the
    // placeholders below a picometre (1e-19 m) that files store for "not set". The unit defaults to
    // micrometres.
    const char* const axes[] = {"PhysicalSizeX", "PhysicalSizeY", "PhysicalSizeZ"};
    for (int i = 0; i < 3; ++i)
        if (aStack.voxelSize[i] >= 1e-6) attributes(axes[i], aStack.voxelSize[i]);
    if (aMetadata.timeIncrement_s && *aMetadata.timeIncrement_s > 0)
        attributes("TimeIncrement", aMetadata.timeIncrement_s, "s");
    const int typeBits = 8 * pixelTypeBytes(aPixelType);
    if (aMetadata.significantBits && *aMetadata.significantBits <= typeBits && aPixelType != TYPE_FLOAT &&
        aPixelType != TYPE_DOUBLE)
        xml << " SignificantBits=\"" << *aMetadata.significantBits << "\"";
    xml << " BigEndian=\"false\" Interleaved=\"false\">\n";
    for (int c = 0; c < aStack.sizeC; ++c)
        writeChannel(
            xml, aStack, c,
            std::size_t(c) < instrument.channels.size() ? &instrument.channels[std::size_t(c)] : nullptr);
    int64_t ifd = 0;
    for (int t = 0; t < aStack.sizeT; ++t)
        for (int c = 0; c < aStack.sizeC; ++c)
            for (int z = 0; z < aStack.sizeZ; ++z)
                xml << "      <TiffData IFD=\"" << ifd++ << "\" FirstZ=\"" << z << "\" FirstC=\"" << c
                    << "\" FirstT=\"" << t << "\" PlaneCount=\"1\"/>\n";
    const bool timed = aMetadata.deltaT_s.size() == std::size_t(aStack.sizeT);
    for (int t = 0; t < aStack.sizeT; ++t)
        for (int c = 0; c < aStack.sizeC; ++c)
            for (int z = 0; z < aStack.sizeZ; ++z) {
                xml << "      <Plane TheZ=\"" << z << "\" TheT=\"" << t << "\" TheC=\"" << c << "\"";
                if (timed) attributes("DeltaT", aMetadata.deltaT_s[std::size_t(t)], "s");
                xml << "/>\n";
            }
    xml << "    </Pixels>\n  </Image>\n</OME>\n";
    return xml.str();
}

}  // namespace korvane::tools
