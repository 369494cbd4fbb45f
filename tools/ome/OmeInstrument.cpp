#include "OmeInstrument.h"

#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "HardwareNames.h"
#include "ObjectiveText.h"

namespace korvane::tools {

namespace {

std::optional<double> positive(const std::optional<double>& aValue) {
    return aValue && *aValue > 0 ? aValue : std::nullopt;
}

// Files store 66 µm as 65.99999999999999; a millionth of the unit is below any instrument's precision.
std::optional<double> rounded(const std::optional<double>& aValue) {
    return aValue ? std::optional<double>(std::round(*aValue * 1e6) / 1e6) : std::nullopt;
}

// The file's laser that emits aWavelength: by the wavelength in its name, else by its kind; lasers
// switched on first. -1 when none does.
int laserFor(const std::vector<LSMLaser>& aLasers, double aWavelength) {
    int byKind = -1;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t k = 0; k < aLasers.size(); ++k) {
            const LSMLaser& laser = aLasers[k];
            if (pass == 0 && laser.acquired == false) continue;
            if (const std::optional<double> line = wavelengthInName(laser.name)) {
                if (std::fabs(*line - aWavelength) <= 1.0) return int(k);
                continue;
            }
            const LaserKind kind = laserKind(laser.name);
            if (byKind < 0 && aWavelength >= kind.linesFrom && aWavelength <= kind.linesTo) byKind = int(k);
        }
        if (byKind >= 0) return byKind;
    }
    return -1;
}

bool transmittedLight(const LSMDetectionChannel* aDetection, const std::string& aDataChannelName) {
    return aDataChannelName.rfind("ChD", 0) == 0 || (aDetection && aDetection->detectorName == "PmtD");
}

class InstrumentBuilder {
  public:
    explicit InstrumentBuilder(const LSMAcquisition& aAcquisition) : mAcquisition(aAcquisition) {
        mInstrument.microscopeModel = aAcquisition.microscopeModel;
        const std::string& label = aAcquisition.recording.objective;
        if (!label.empty()) {
            const ObjectiveText text = parseObjective(label);
            mInstrument.objective =
                OmeObjective{label, text.magnification, text.lensNA, text.immersion, text.correction};
        }
    }

    void addChannel(int aFileChannel) {
        OmeChannelSettings settings;
        const LSMChannelHardware link = lsmChannelHardware(mAcquisition, aFileChannel);
        if (link.track >= 0) {
            const LSMTrack& track = mAcquisition.tracks[std::size_t(link.track)];
            const LSMDetectionChannel* detection =
                link.detectionChannel >= 0 ? &track.detectionChannels[std::size_t(link.detectionChannel)]
                                           : nullptr;
            if (detection) useDetection(settings, *detection, link);
            if (!link.illuminationChannels.empty())
                useIllumination(settings,
                                track.illuminationChannels[std::size_t(link.illuminationChannels[0])]);
            emission(settings, aFileChannel, detection);
            describe(settings, detection, track.dataChannels[std::size_t(link.dataChannel)].name);
        }
        mInstrument.channels.push_back(settings);
    }

    OmeInstrument finish() {
        // A laser keeps one wavelength: its name's, else the one line it was used at.
        for (auto& [laser, lines] : mLaserLines)
            if (!mInstrument.lasers[std::size_t(laser)].wavelength_nm && lines.size() == 1)
                mInstrument.lasers[std::size_t(laser)].wavelength_nm = *lines.begin();
        return std::move(mInstrument);
    }

  private:
    void useDetection(OmeChannelSettings& aSettings, const LSMDetectionChannel& aDetection,
                      const LSMChannelHardware& aLink) {
        const auto key = std::make_pair(aLink.track, aLink.detectionChannel);
        auto found = mDetectors.find(key);
        if (found == mDetectors.end()) {
            OmeDetector detector;
            detector.model = aDetection.detectorName;
            detector.type = aDetection.detectorName.rfind("APD", 0) == 0 ? "APD" : "PMT";
            detector.gain = aDetection.detectorGain_V;
            detector.amplificationGain = aDetection.amplifierGain;
            detector.offset = aDetection.amplifierOffset;
            detector.zoom = positive(mAcquisition.recording.zoomX);
            mInstrument.detectors.push_back(detector);
            found = mDetectors.emplace(key, int(mInstrument.detectors.size() - 1)).first;
        }
        aSettings.detector = found->second;
        aSettings.pinhole_um = rounded(positive(aDetection.pinholeDiameter_um));
        if (const std::optional<FilterText> text = parseFilter(aDetection.filterName)) {
            auto filter = mFilters.find(aDetection.filterName);
            if (filter == mFilters.end()) {
                mInstrument.filters.push_back({aDetection.filterName, text->type, text->cutIn, text->cutOut});
                filter = mFilters.emplace(aDetection.filterName, int(mInstrument.filters.size() - 1)).first;
            }
            aSettings.filter = filter->second;
        }
    }

    void useIllumination(OmeChannelSettings& aSettings, const LSMIlluminationChannel& aLine) {
        const std::optional<double> wavelength =
            positive(aLine.wavelength_nm) ? aLine.wavelength_nm : wavelengthInName(aLine.name);
        if (!wavelength) return;
        // Files store 488 nm as 488.00000000000006; picometres are more than any laser line needs.
        aSettings.excitation_nm = std::round(*wavelength * 1e3) / 1e3;
        if (aLine.power_percent && *aLine.power_percent >= 0 && *aLine.power_percent <= 100)
            aSettings.attenuation = (100.0 - *aLine.power_percent) / 100.0;
        const int fileLaser = laserFor(mAcquisition.lasers, *aSettings.excitation_nm);
        // A line no laser explains becomes a laser of its own, one per wavelength.
        const auto key =
            fileLaser >= 0 ? std::make_pair(fileLaser, 0.0) : std::make_pair(-1, *aSettings.excitation_nm);
        auto found = mLasers.find(key);
        if (found == mLasers.end()) {
            OmeLaser laser;
            if (fileLaser >= 0) {
                const LSMLaser& source = mAcquisition.lasers[std::size_t(fileLaser)];
                const LaserKind kind = laserKind(source.name);
                laser = {source.name, kind.medium, kind.type, wavelengthInName(source.name),
                         positive(source.power_mW)};
            }
            mInstrument.lasers.push_back(laser);
            found = mLasers.emplace(key, int(mInstrument.lasers.size() - 1)).first;
        }
        aSettings.laser = found->second;
        mLaserLines[found->second].insert(*aSettings.excitation_nm);
    }

    // The middle of the detected band: the channel's own, else the detector's spectral range, else
    // the band filter's.
    void emission(OmeChannelSettings& aSettings, int aFileChannel, const LSMDetectionChannel* aDetection) {
        const std::vector<LSMWavelengthRange>& bands = mAcquisition.channelWavelengths;
        if (std::size_t(aFileChannel) < bands.size() && bands[std::size_t(aFileChannel)].start_m > 0 &&
            bands[std::size_t(aFileChannel)].end_m > 0) {
            const LSMWavelengthRange& band = bands[std::size_t(aFileChannel)];
            aSettings.emission_nm = std::round((band.start_m + band.end_m) / 2 * 1e12) / 1e3;
        } else if (aDetection && positive(aDetection->spectralStart_nm) &&
                   positive(aDetection->spectralStop_nm)) {
            aSettings.emission_nm = (*aDetection->spectralStart_nm + *aDetection->spectralStop_nm) / 2;
        } else if (aSettings.filter >= 0) {
            const OmeFilter& filter = mInstrument.filters[std::size_t(aSettings.filter)];
            if (filter.cutIn_nm && filter.cutOut_nm)
                aSettings.emission_nm = (*filter.cutIn_nm + *filter.cutOut_nm) / 2;
        }
    }

    void describe(OmeChannelSettings& aSettings, const LSMDetectionChannel* aDetection,
                  const std::string& aName) {
        const bool multiPhoton =
            aSettings.laser >= 0 && mInstrument.lasers[std::size_t(aSettings.laser)].medium == "TiSapphire";
        const bool transmitted = transmittedLight(aDetection, aName);
        aSettings.illuminationType = transmitted   ? "Transmitted"
                                     : multiPhoton ? "NonLinear"
                                                   : "Epifluorescence";
        aSettings.acquisitionMode = mAcquisition.spectralScan ? "SpectralImaging"
                                    : multiPhoton             ? "MultiPhotonMicroscopy"
                                                              : "LaserScanningConfocalMicroscopy";
        // Transmitted light may be bright field, phase contrast or DIC: the file does not say which.
        if (!transmitted) aSettings.contrastMethod = "Fluorescence";
    }

    const LSMAcquisition& mAcquisition;
    OmeInstrument mInstrument;
    std::map<std::pair<int, int>, int> mDetectors;  // (track, detection channel) -> detector
    std::map<std::string, int> mFilters;            // name -> filter
    std::map<std::pair<int, double>, int> mLasers;  // (file laser, or -1 and the line) -> laser
    std::map<int, std::set<double>> mLaserLines;    // laser -> wavelengths used
};

}  // namespace

OmeInstrument omeInstrument(const LSMAcquisition& aAcquisition, const std::vector<int>& aFileChannels) {
    InstrumentBuilder builder(aAcquisition);
    for (const int channel : aFileChannels) builder.addChannel(channel);
    return builder.finish();
}

}  // namespace korvane::tools
