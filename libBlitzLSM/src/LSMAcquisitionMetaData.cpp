#include "LSMAcquisitionMetaData.h"

#include <charconv>

// Units are spelled as UTF-8 bytes ("\xC2\xB5" is µ) so that the source encoding does not matter.
namespace {

const char* const kDash = "\xE2\x80\x93";  // –
constexpr size_t kListedItems = 20;        // longer lists show their first and last item

// Shortest form with at most aPrecision significant digits and a point as decimal separator, whatever
// the process locale says.
std::string number(double aValue, int aPrecision = 6) {
    char text[64];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, aValue, std::chars_format::general, aPrecision);
    return std::string(text, end.ptr);
}

class Writer {
  public:
    explicit Writer(std::map<std::string, std::string>& aMap) : mMap(aMap) {}

    void text(const std::string& aKey, const std::string& aValue) {
        if (!aValue.empty()) mMap[aKey] = aValue;
    }
    void value(const std::string& aKey, const std::optional<double>& aValue) {
        if (aValue) mMap[aKey] = number(*aValue);
    }
    void value(const std::string& aKey, const std::optional<int32_t>& aValue) {
        if (aValue) mMap[aKey] = std::to_string(*aValue);
    }
    void flag(const std::string& aKey, const std::optional<bool>& aValue) {
        if (aValue) mMap[aKey] = *aValue ? "yes" : "no";
    }
    // Lists of more than kListedItems items show only their first and last.
    template <typename T, typename Describe>
    void list(const std::string& aSection, const std::string& aItem, const std::vector<T>& aItems,
              Describe aDescribe) {
        if (aItems.empty()) return;
        mMap[aSection + "/count"] = std::to_string(aItems.size());
        if (aItems.size() <= kListedItems) {
            for (size_t i = 0; i < aItems.size(); ++i)
                mMap[aSection + "/" + aItem + " " + std::to_string(i + 1)] = aDescribe(aItems[i]);
        } else {
            mMap[aSection + "/first"] = aDescribe(aItems.front());
            mMap[aSection + "/last"] = aDescribe(aItems.back());
        }
    }

  private:
    std::map<std::string, std::string>& mMap;
};

std::string range(double aStart, double aStop) { return number(aStart) + kDash + number(aStop); }

void writeRecording(Writer& w, const LSMRecording& r) {
    const std::string k = "Recording/";
    w.text(k + "Name", r.name);
    w.text(k + "Description", r.description);
    w.text(k + "Notes", r.notes);
    w.text(k + "Objective", r.objective);
    w.text(k + "Scan mode", r.scanMode);
    w.text(k + "Special scan mode", r.specialScanMode);
    w.text(k + "User", r.user);
    if (r.startTime) w.text(k + "Start time", lsmIso8601(*r.startTime));
    w.value(k + "Samples per line", r.samplesPerLine);
    w.value(k + "Lines per plane", r.linesPerPlane);
    w.value(k + "Planes per volume", r.planesPerVolume);
    if (r.bidirectional) w.text(k + "Scan direction", *r.bidirectional ? "bidirectional" : "unidirectional");
    w.value(k + "Zoom X", r.zoomX);
    w.value(k + "Zoom Y", r.zoomY);
    w.value(k + "Zoom Z", r.zoomZ);
    w.value(k + "Sample spacing (\xC2\xB5m)", r.sampleSpacing_um);
    w.value(k + "Line spacing (\xC2\xB5m)", r.lineSpacing_um);
    w.value(k + "Plane spacing (\xC2\xB5m)", r.planeSpacing_um);
}

void writeTrack(Writer& w, const std::string& k, const LSMTrack& t) {
    w.text(k + "Name", t.name);
    w.flag(k + "Acquired", t.acquired);
    w.value(k + "Pixel time (\xC2\xB5s)", t.pixelTime_us);
    w.value(k + "Time between stacks (s)", t.timeBetweenStacks_s);
    w.value(k + "Averages", t.samplingNumber);
    for (size_t i = 0; i < t.detectionChannels.size(); ++i) {
        const LSMDetectionChannel& d = t.detectionChannels[i];
        if (!d.acquired.value_or(true)) continue;
        const std::string dk = k + "Detection channel " + std::to_string(i + 1) + "/";
        w.text(dk + "Name", d.name);
        w.text(dk + "Detector", d.detectorName);
        w.value(dk + "Detector gain (V)", d.detectorGain_V);
        w.value(dk + "Amplifier gain", d.amplifierGain);
        w.value(dk + "Amplifier offset", d.amplifierOffset);
        w.value(dk + "Pinhole diameter (\xC2\xB5m)", d.pinholeDiameter_um);
        w.text(dk + "Filter", d.filterName);
        if (d.spectralStart_nm && d.spectralStop_nm && *d.spectralStop_nm > 0)
            w.text(dk + "Spectral range (nm)", range(*d.spectralStart_nm, *d.spectralStop_nm));
        w.text(dk + "Dye", d.dyeName);
    }
    for (size_t i = 0; i < t.illuminationChannels.size(); ++i) {
        const LSMIlluminationChannel& l = t.illuminationChannels[i];
        if (!l.acquired.value_or(true)) continue;
        const std::string ik = k + "Illumination channel " + std::to_string(i + 1) + "/";
        w.text(ik + "Name", l.name);
        w.value(ik + "Wavelength (nm)", l.wavelength_nm);
        w.value(ik + "Power (%)", l.power_percent);
    }
    for (size_t i = 0; i < t.beamSplitters.size(); ++i) {
        const LSMBeamSplitter& b = t.beamSplitters[i];
        w.text(k + "Beam splitter " + std::to_string(i + 1), b.slot.empty() ? b.filter
                                                             : b.filter.empty()
                                                                 ? b.slot
                                                                 : b.filter + " (" + b.slot + ")");
    }
    for (size_t i = 0; i < t.dataChannels.size(); ++i) {
        const LSMDataChannel& d = t.dataChannels[i];
        const std::string dk = k + "Data channel " + std::to_string(i + 1) + "/";
        w.text(dk + "Name", d.name);
        w.value(dk + "Image channel", d.imageChannel);
        w.value(dk + "Bits per sample", d.bitsPerSample);
        w.text(dk + "Dye", d.dyeName);
    }
}

// What the hardware link and the wavelength block tell about one image channel.
void writeImageChannel(Writer& w, const LSMAcquisition& a, int c) {
    const std::string k = "Image channel " + std::to_string(c) + "/";
    const LSMChannelHardware link = lsmChannelHardware(a, c);
    if (link.track >= 0) {
        const std::string track = "Track " + std::to_string(link.track + 1);
        w.text(k + "Track", track);
        if (link.detectionChannel >= 0)
            w.text(k + "Detection channel",
                   track + "/Detection channel " + std::to_string(link.detectionChannel + 1));
        std::string excitation;
        for (const int i : link.illuminationChannels) {
            const LSMIlluminationChannel& l = a.tracks[size_t(link.track)].illuminationChannels[size_t(i)];
            if (!l.wavelength_nm) continue;
            excitation += (excitation.empty() ? "" : ", ") + number(*l.wavelength_nm);
        }
        w.text(k + "Excitation (nm)", excitation);
    }
    if (size_t(c) < a.channelWavelengths.size()) {
        const LSMWavelengthRange& band = a.channelWavelengths[size_t(c)];
        if (band.start_m > 0 && band.end_m > 0)
            w.text(k + "Detected band (nm)", range(band.start_m * 1e9, band.end_m * 1e9));
    }
}

std::string position(const LSMPosition& aPosition) {
    return number(aPosition.x_m * 1e6) + ", " + number(aPosition.y_m * 1e6) + ", " +
           number(aPosition.z_m * 1e6);
}

}  // namespace

std::map<std::string, std::string> lsmAcquisitionMetaData(const LSMAcquisition& a, int aChannels) {
    std::map<std::string, std::string> map;
    Writer w(map);
    writeRecording(w, a.recording);
    w.text("Microscope/Model", a.microscopeModel);
    for (size_t i = 0; i < a.lasers.size(); ++i) {
        const std::string k = "Laser " + std::to_string(i + 1) + "/";
        w.text(k + "Name", a.lasers[i].name);
        w.flag(k + "Acquired", a.lasers[i].acquired);
        w.value(k + "Power (mW)", a.lasers[i].power_mW);
    }
    for (size_t i = 0; i < a.tracks.size(); ++i)
        writeTrack(w, "Track " + std::to_string(i + 1) + "/", a.tracks[i]);
    for (int c = 0; c < aChannels; ++c) writeImageChannel(w, a, c);
    for (size_t i = 0; i < a.timers.size(); ++i) {
        const std::string k = "Timer " + std::to_string(i + 1) + "/";
        w.text(k + "Name", a.timers[i].name);
        w.text(k + "Description", a.timers[i].description);
        w.value(k + "Interval (s)", a.timers[i].interval_s);
    }
    for (size_t i = 0; i < a.markers.size(); ++i) {
        const std::string k = "Marker " + std::to_string(i + 1) + "/";
        w.text(k + "Name", a.markers[i].name);
        w.text(k + "Description", a.markers[i].description);
    }
    const std::vector<double>& stamps = a.timeStamps_s;
    if (!stamps.empty()) {
        w.text("Time stamps/count", std::to_string(stamps.size()));
        w.text("Time stamps/first (s)", number(stamps.front(), 10));
        if (stamps.size() > 1) {
            w.text("Time stamps/last (s)", number(stamps.back(), 10));
            w.text("Time stamps/interval (s)",
                   number((stamps.back() - stamps.front()) / double(stamps.size() - 1)));
        }
    }
    w.list("Events", "Event", a.events, [](const LSMEvent& e) {
        return number(e.time_s, 10) + " s, " + lsmEventTypeName(e.type) +
               (e.description.empty() ? "" : ": ") + e.description;
    });
    w.list("Positions", "Position", a.positions,
           [](const LSMPosition& p) { return position(p) + " \xC2\xB5m"; });
    w.list("Tile positions", "Tile", a.tilePositions,
           [](const LSMPosition& p) { return position(p) + " \xC2\xB5m"; });
    return map;
}
