#ifndef KORVANE_LSMACQUISITION_H
#define KORVANE_LSMACQUISITION_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the microscope recorded about an acquisition, decoded once when an LSM file is opened.
//
// Texts are UTF-8 and empty when the file gives none or only blanks. Numbers the file does not give
// (or gives as NaN, infinite or absurdly large) are empty optionals. Every list keeps the file's
// order, so an index here is the item's position in the file. Units are in the member names.
// A block the reader found damaged is simply empty here; the reader warned through the reporter.

// Local date and time as the microscope's clock showed it; the file records no time zone.
struct LSMDateTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct LSMRecording {
    std::string name;
    std::string description;
    std::string notes;
    std::string objective;        // e.g. "Plan-Apochromat 40x/1.3 Oil DIC M27"
    std::string scanMode;         // "Stack", "Plane", "Line", ...
    std::string specialScanMode;  // "NoSpecialMode", "FocusStep", ...
    std::string user;
    std::optional<int32_t> samplesPerLine;
    std::optional<int32_t> linesPerPlane;
    std::optional<int32_t> planesPerVolume;
    std::optional<bool> bidirectional;  // scan direction
    std::optional<double> zoomX;
    std::optional<double> zoomY;
    std::optional<double> zoomZ;
    std::optional<double> sampleSpacing_um;  // pixel size in x
    std::optional<double> lineSpacing_um;    // pixel size in y
    std::optional<double> planeSpacing_um;   // z step
    std::optional<double> startTime_days;    // as stored: days since 1899-12-30 with fraction, local time
    std::optional<LSMDateTime> startTime;    // the same, decoded
};

struct LSMLaser {
    std::string name;  // often carries the wavelength: "HeNe543", "Diode 405-30"
    std::optional<bool> acquired;
    std::optional<double> power_mW;
};

struct LSMDetectionChannel {
    std::string name;          // channel name; a data channel of the same track carries the same name
    std::string detectorName;  // "Pmt1", "PmtSPI1", "APD2", ...
    std::optional<bool> acquired;
    std::optional<double> detectorGain_V;
    std::optional<double> amplifierGain;
    std::optional<double> amplifierOffset;
    std::optional<double> pinholeDiameter_um;
    std::string filterName;  // emission filter, e.g. "BP 505-530", "LP 560"
    std::optional<double> spectralStart_nm;
    std::optional<double> spectralStop_nm;
    std::string dyeName;
};

struct LSMIlluminationChannel {
    std::string name;  // usually the wavelength as text, "488"
    std::optional<bool> acquired;
    std::optional<double> wavelength_nm;
    std::optional<double> power_percent;  // transmission of the acousto-optic filter
};

struct LSMBeamSplitter {
    std::string slot;    // "HT", "NT1", "FW1", ...
    std::string filter;  // "MBS 488/543", "None", ...
    std::string name;
};

// One per stored image channel.
struct LSMDataChannel {
    std::string name;
    std::optional<int32_t> imageChannel;  // 0-based image channel index, running across tracks
    std::optional<bool> acquired;
    std::optional<uint32_t> color;  // 0x00BBGGRR
    std::optional<int32_t> bitsPerSample;
    std::string dyeName;
};

struct LSMTrack {
    std::string name;
    std::optional<bool> acquired;  // set on non-imaging tracks too: a track images only with data channels
    std::optional<int32_t> multiplexType;   // 0 after each line, 1 after each frame
    std::optional<int32_t> samplingMode;    // 0 sample, 1 line average, 2 frame average
    std::optional<int32_t> samplingNumber;  // averages
    std::optional<double> pixelTime_us;     // pixel dwell
    std::optional<double> timeBetweenStacks_s;
    std::vector<LSMDetectionChannel> detectionChannels;
    std::vector<LSMIlluminationChannel> illuminationChannels;
    std::vector<LSMBeamSplitter> beamSplitters;
    std::vector<LSMDataChannel> dataChannels;
};

struct LSMTimer {
    std::string name;
    std::string description;
    std::optional<double> interval_s;
    std::string triggerIn;
    std::string triggerOut;
};

struct LSMMarker {
    std::string name;
    std::string description;
    std::string triggerIn;
    std::string triggerOut;
};

struct LSMEvent {
    double time_s = 0.0;  // on the time stamps' clock
    uint32_t type = 0;    // 0 marker, 1 timer change, 2 bleach start, 3 bleach stop, 4 trigger
    std::string description;
};

// A channel's detected band; both 0 (or negative) when the file does not know it.
struct LSMWavelengthRange {
    double start_m = 0.0;
    double end_m = 0.0;
};

// Stage position of a scan position or mosaic tile. The unit is taken to be metres; no real file
// seen so far holds anything but (0, 0, 0), so this is unconfirmed.
struct LSMPosition {
    double x_m = 0.0;
    double y_m = 0.0;
    double z_m = 0.0;
};

struct LSMAcquisition {
    int scanType = 0;           // the info record's scan geometry code, see lsmScanTypeName
    bool spectralScan = false;  // a lambda stack: one image channel per wavelength bin
    LSMRecording recording;
    std::vector<LSMLaser> lasers;
    std::vector<LSMTrack> tracks;
    std::vector<LSMTimer> timers;
    std::vector<LSMMarker> markers;
    std::vector<double> timeStamps_s;  // one per time point, arbitrary epoch: use differences
    std::vector<LSMEvent> events;
    std::vector<LSMWavelengthRange> channelWavelengths;  // one per image channel
    std::vector<LSMPosition> positions;
    std::vector<LSMPosition> tilePositions;
    std::string microscopeModel;                                       // e.g. "LSM 880, AxioObserver"
    std::vector<std::pair<std::string, std::string>> characteristics;  // the whole key = value list
};

// The hardware behind image channel c: the data channel whose image channel index is c (or, when no
// data channel carries indices, the c-th data channel in file order; in a lambda stack with a single
// data channel, that one for every bin), its track, that track's detection channel of the same name,
// and the track's acquired illumination channels. Indices into LSMAcquisition::tracks and the
// track's lists; -1 where nothing matches.
struct LSMChannelHardware {
    int track = -1;
    int dataChannel = -1;
    int detectionChannel = -1;
    std::vector<int> illuminationChannels;
};
LSMChannelHardware lsmChannelHardware(const LSMAcquisition& aAcquisition, int aChannel);

// Decodes a day count since 1899-12-30 (with fraction) to the nearest second; nothing for values
// outside years 1900 to 9999.
std::optional<LSMDateTime> lsmDateTimeFromDays(double aDays);

// "YYYY-MM-DDTHH:MM:SS".
std::string lsmIso8601(const LSMDateTime& aDateTime);

// "x-y-z stack", "line scan", ...; "unknown" for codes the format does not define.
const char* lsmScanTypeName(int aScanType);

// "marker", "timer change", "bleach start", "bleach stop", "trigger"; "unknown" otherwise.
const char* lsmEventTypeName(uint32_t aType);

#endif
