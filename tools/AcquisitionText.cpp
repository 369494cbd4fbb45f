#include <cmath>
#include <iomanip>
#include <optional>
#include <sstream>

#include "AcquisitionReport.h"
#include "HardwareNames.h"

namespace korvane::tools {

namespace {

// One line of "  Label: value" pieces; pieces the file does not give are left out, and a line with
// none is not printed.
class Line {
  public:
    Line(std::ostringstream& aOut, std::string aLead) : mOut(aOut), mLead(std::move(aLead)) {}
    ~Line() {
        if (!mText.empty()) mOut << mLead << mText << "\n";
    }
    Line& operator()(const char* aLabel, const std::string& aText) {
        if (!aText.empty()) piece(aLabel, aText);
        return *this;
    }
    Line& operator()(const char* aLabel, const std::optional<double>& aValue, const char* aUnit = "") {
        if (!aValue) return *this;
        std::ostringstream value;
        value << std::setprecision(8) << *aValue << aUnit;
        piece(aLabel, value.str());
        return *this;
    }
    Line& operator()(const char* aLabel, const std::optional<bool>& aFlag) {
        if (aFlag) piece(aLabel, *aFlag ? "yes" : "no");
        return *this;
    }
    Line& operator()(const char* aLabel, const std::optional<int32_t>& aValue) {
        if (aValue) piece(aLabel, std::to_string(*aValue));
        return *this;
    }

  private:
    void piece(const char* aLabel, const std::string& aValue) {
        if (!mText.empty()) mText += ", ";
        mText += *aLabel ? std::string(aLabel) + " " + aValue : aValue;
    }
    std::ostringstream& mOut;
    std::string mLead, mText;
};

std::optional<double> nanometres(double aMetres) {
    return aMetres > 0 ? std::optional<double>(std::round(aMetres * 1e12) / 1e3) : std::nullopt;
}

void printTrack(std::ostringstream& aOut, const LSMTrack& aTrack, std::size_t aIndex) {
    aOut << "  " << (aTrack.name.empty() ? "Track " + std::to_string(aIndex + 1) + " (unnamed)" : aTrack.name)
         << "\n";
    Line(aOut, "    ")("acquired", aTrack.acquired)("pixel time", aTrack.pixelTime_us, " \xc2\xb5s")(
        "averaging", aTrack.samplingNumber)("time between stacks", aTrack.timeBetweenStacks_s, " s");
    for (const LSMDetectionChannel& d : aTrack.detectionChannels) {
        std::optional<double> from, to;
        if (d.spectralStart_nm.value_or(0) > 0 && d.spectralStop_nm.value_or(0) > 0) {
            from = d.spectralStart_nm;
            to = d.spectralStop_nm;
        }
        Line(aOut, "    Detection channel ")("", d.name.empty() ? std::string("(unnamed)") : d.name)(
            "detector", d.detectorName)("acquired", d.acquired)("gain", d.detectorGain_V, " V")(
            "amplifier gain", d.amplifierGain)("amplifier offset", d.amplifierOffset)(
            "pinhole", d.pinholeDiameter_um, " \xc2\xb5m")("filter", d.filterName)("band from", from, " nm")(
            "to", to, " nm")("dye", d.dyeName);
    }
    for (const LSMIlluminationChannel& i : aTrack.illuminationChannels)
        Line(aOut, "    Illumination channel ")("", i.name.empty() ? std::string("(unnamed)") : i.name)(
            "wavelength", i.wavelength_nm, " nm")("power", i.power_percent, " %")("acquired", i.acquired);
    for (const LSMBeamSplitter& b : aTrack.beamSplitters)
        Line(aOut, "    Beam splitter ")("", b.slot.empty() ? std::string("(unnamed)") : b.slot)("",
                                                                                                 b.filter);
    for (const LSMDataChannel& d : aTrack.dataChannels) {
        std::optional<int32_t> channel = d.imageChannel;
        Line(aOut, "    Data channel ")("", d.name.empty() ? std::string("(unnamed)") : d.name)(
            "image channel", channel)("bits", d.bitsPerSample)("acquired", d.acquired)("dye", d.dyeName);
    }
}

}  // namespace

std::string acquisitionText(const LSMAcquisition& aAcquisition) {
    std::ostringstream out;
    out << std::setprecision(10);
    const LSMRecording& r = aAcquisition.recording;
    out << "\nAcquisition:\n";
    out << "  Scan type:    " << aAcquisition.scanType << " (" << lsmScanTypeName(aAcquisition.scanType)
        << ")" << (aAcquisition.spectralScan ? ", spectral (lambda) scan" : "") << "\n";
    out << "Recording:\n";
    Line(out, "  Name:         ")("", r.name);
    Line(out, "  Description:  ")("", r.description);
    Line(out, "  Notes:        ")("", r.notes);
    Line(out, "  Objective:    ")("", r.objective);
    Line(out, "  Scan mode:    ")("", r.scanMode)("special", r.specialScanMode)("bidirectional",
                                                                                r.bidirectional);
    Line(out, "  Zoom:         ")("x", r.zoomX)("y", r.zoomY)("z", r.zoomZ);
    Line(out, "  Spacing:      ")("x", r.sampleSpacing_um, " \xc2\xb5m")("y", r.lineSpacing_um, " \xc2\xb5m")(
        "z", r.planeSpacing_um, " \xc2\xb5m");
    Line(out, "  Started:      ")("",
                                  r.startTime ? lsmIso8601(*r.startTime) + " (local time)" : std::string());
    Line(out, "  User:         ")("", r.user);
    Line(out, "  Microscope:   ")("", aAcquisition.microscopeModel);

    if (!aAcquisition.lasers.empty()) out << "Lasers:\n";
    for (const LSMLaser& laser : aAcquisition.lasers)
        Line(out, "  ")("", laser.name.empty() ? std::string("(unnamed)") : laser.name)(
            "wavelength", wavelengthInName(laser.name), " nm")("power", laser.power_mW, " mW")(
            "on", laser.acquired);
    if (!aAcquisition.tracks.empty()) out << "Tracks:\n";
    for (std::size_t t = 0; t < aAcquisition.tracks.size(); ++t) printTrack(out, aAcquisition.tracks[t], t);
    if (!aAcquisition.timers.empty()) out << "Timers:\n";
    for (const LSMTimer& timer : aAcquisition.timers)
        Line(out, "  ")("", timer.name.empty() ? std::string("(unnamed)") : timer.name)(
            "", timer.description)("interval", timer.interval_s, " s");
    if (!aAcquisition.markers.empty()) out << "Markers:\n";
    for (const LSMMarker& marker : aAcquisition.markers)
        Line(out, "  ")("", marker.name.empty() ? std::string("(unnamed)") : marker.name)("",
                                                                                          marker.description);

    const std::vector<double>& stamps = aAcquisition.timeStamps_s;
    out << "Time stamps:    " << stamps.size();
    if (!stamps.empty()) out << ", first " << stamps.front() << " s";
    if (stamps.size() > 1)
        out << ", last " << stamps.back() << " s, mean interval "
            << (stamps.back() - stamps.front()) / double(stamps.size() - 1) << " s";
    out << "\nEvents:         " << aAcquisition.events.size() << "\n";
    for (const LSMEvent& event : aAcquisition.events)
        out << "  " << event.time_s << " s  " << lsmEventTypeName(event.type)
            << (event.description.empty() ? "" : "  " + event.description) << "\n";
    if (!aAcquisition.channelWavelengths.empty()) out << "Channel wavelengths:\n";
    for (std::size_t c = 0; c < aAcquisition.channelWavelengths.size(); ++c) {
        const LSMWavelengthRange& band = aAcquisition.channelWavelengths[c];
        const std::optional<double> from = nanometres(band.start_m), to = nanometres(band.end_m);
        out << "  " << c << "  ";
        if (from && to)
            out << *from << " to " << *to << " nm\n";
        else
            out << "not known\n";
    }
    const std::pair<const char*, const std::vector<LSMPosition>*> places[] = {
        {"Positions:", &aAcquisition.positions}, {"Tile positions:", &aAcquisition.tilePositions}};
    for (const auto& [title, list] : places) {
        if (list->empty()) continue;
        out << title << "\n";
        for (const LSMPosition& p : *list)
            out << "  x " << p.x_m << ", y " << p.y_m << ", z " << p.z_m << " m\n";
    }
    return out.str();
}

}  // namespace korvane::tools
