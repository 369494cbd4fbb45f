#ifndef KORVANE_OMEINSTRUMENT_H
#define KORVANE_OMEINSTRUMENT_H

#include <optional>
#include <string>
#include <vector>

#include "LSMAcquisition.h"

namespace korvane::tools {

// The hardware an image's channels were recorded with, in OME's terms. Only hardware that a written
// channel reached through its data channel is listed; texts are empty and numbers unset where the
// file does not say.
struct OmeObjective {
    std::string model;  // the label
    std::optional<double> magnification, lensNA;
    std::string immersion, correction;
};

struct OmeLaser {
    std::string model;
    std::string medium, type;
    std::optional<double> wavelength_nm, power_mW;
};

struct OmeDetector {
    std::string model;
    std::string type;  // PMT or APD
    std::optional<double> gain, amplificationGain, offset, zoom;
};

struct OmeFilter {
    std::string model;
    std::string type;
    std::optional<double> cutIn_nm, cutOut_nm;
};

// How one written channel used that hardware; indices into OmeInstrument's lists, -1 for none.
struct OmeChannelSettings {
    int laser = -1;
    std::optional<double> excitation_nm;
    std::optional<double> attenuation;  // fraction of the laser light held back
    int detector = -1;
    int filter = -1;  // emission filter
    std::optional<double> emission_nm;
    std::optional<double> pinhole_um;
    std::string illuminationType, acquisitionMode, contrastMethod;
};

struct OmeInstrument {
    std::string microscopeModel;
    std::optional<OmeObjective> objective;
    std::vector<OmeLaser> lasers;
    std::vector<OmeDetector> detectors;
    std::vector<OmeFilter> filters;
    std::vector<OmeChannelSettings> channels;  // one per written channel

    bool empty() const {
        return microscopeModel.empty() && !objective && lasers.empty() && detectors.empty() &&
               filters.empty();
    }
};

// The instrument behind the written channels, aFileChannels[c] being the file's channel that written
// channel c holds. Each illumination line is matched to the laser whose name carries its wavelength,
// else to one whose kind emits it; lines no laser explains get a laser of their own.
OmeInstrument omeInstrument(const LSMAcquisition& aAcquisition, const std::vector<int>& aFileChannels);

}  // namespace korvane::tools

#endif
