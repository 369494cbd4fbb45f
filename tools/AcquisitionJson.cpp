#include <QJsonArray>
#include <cmath>

#include "AcquisitionReport.h"
#include "HardwareNames.h"

namespace korvane::tools {

namespace {

QString utf8(const std::string& aText) { return QString::fromUtf8(aText.data(), int(aText.size())); }

// Keys for what the file gives; nothing for what it does not.
struct Object {
    QJsonObject json;
    Object& operator()(const char* aKey, const std::string& aText) {
        if (!aText.empty()) json[QLatin1String(aKey)] = utf8(aText);
        return *this;
    }
    template <typename T>
    Object& operator()(const char* aKey, const std::optional<T>& aValue) {
        if (aValue) json[QLatin1String(aKey)] = *aValue;
        return *this;
    }
    Object& operator()(const char* aKey, const QJsonValue& aValue) {
        json[QLatin1String(aKey)] = aValue;
        return *this;
    }
};

std::optional<double> nanometres(double aMetres) {
    return aMetres > 0 ? std::optional<double>(std::round(aMetres * 1e12) / 1e3) : std::nullopt;
}

QJsonObject trackJson(const LSMTrack& aTrack) {
    QJsonArray detection, illumination, splitters, data;
    for (const LSMDetectionChannel& d : aTrack.detectionChannels)
        detection.append(Object{}("name", d.name)("detector", d.detectorName)("acquired", d.acquired)(
                             "gain", d.detectorGain_V)("amplifierGain", d.amplifierGain)(
                             "amplifierOffset", d.amplifierOffset)("pinholeDiameter", d.pinholeDiameter_um)(
                             "filter", d.filterName)("spectralStart", d.spectralStart_nm)(
                             "spectralStop", d.spectralStop_nm)("dye", d.dyeName)
                             .json);
    for (const LSMIlluminationChannel& i : aTrack.illuminationChannels)
        illumination.append(Object{}("name", i.name)("wavelength", i.wavelength_nm)("power", i.power_percent)(
                                "acquired", i.acquired)
                                .json);
    for (const LSMBeamSplitter& b : aTrack.beamSplitters)
        splitters.append(Object{}("slot", b.slot)("filter", b.filter)("name", b.name).json);
    for (const LSMDataChannel& d : aTrack.dataChannels) {
        const std::optional<int> channel =
            d.imageChannel ? std::optional<int>(*d.imageChannel) : std::nullopt;
        const std::optional<int> bits = d.bitsPerSample ? std::optional<int>(*d.bitsPerSample) : std::nullopt;
        data.append(Object{}("name", d.name)("imageChannel", channel)("bitsPerSample", bits)(
                        "acquired", d.acquired)("dye", d.dyeName)
                        .json);
    }
    const std::optional<int> averages =
        aTrack.samplingNumber ? std::optional<int>(*aTrack.samplingNumber) : std::nullopt;
    return Object{}("name", aTrack.name)("acquired", aTrack.acquired)("pixelTime", aTrack.pixelTime_us)(
               "averaging", averages)("timeBetweenStacks", aTrack.timeBetweenStacks_s)(
               "detectionChannels", detection)("illuminationChannels", illumination)(
               "beamSplitters", splitters)("dataChannels", data)
        .json;
}

QJsonArray positionsJson(const std::vector<LSMPosition>& aPositions) {
    QJsonArray list;
    for (const LSMPosition& p : aPositions) list.append(QJsonArray{p.x_m, p.y_m, p.z_m});
    return list;
}

}  // namespace

QJsonObject acquisitionJson(const LSMAcquisition& aAcquisition) {
    const LSMRecording& r = aAcquisition.recording;
    const QJsonObject zoom = Object{}("x", r.zoomX)("y", r.zoomY)("z", r.zoomZ).json;
    Object recording;
    recording("name", r.name)("description", r.description)("notes", r.notes)("objective", r.objective)(
        "scanMode", r.scanMode)("specialScanMode", r.specialScanMode)("user", r.user)(
        "bidirectional", r.bidirectional)("sampleSpacing", r.sampleSpacing_um)(
        "lineSpacing", r.lineSpacing_um)("planeSpacing", r.planeSpacing_um);
    if (!zoom.isEmpty()) recording("zoom", zoom);
    if (r.startTime) recording("startTime", utf8(lsmIso8601(*r.startTime)));

    QJsonArray lasers, tracks, timers, markers, stamps, events, wavelengths;
    for (const LSMLaser& laser : aAcquisition.lasers)
        lasers.append(Object{}("name", laser.name)("wavelength", wavelengthInName(laser.name))(
                          "power", laser.power_mW)("acquired", laser.acquired)
                          .json);
    for (const LSMTrack& track : aAcquisition.tracks) tracks.append(trackJson(track));
    for (const LSMTimer& timer : aAcquisition.timers)
        timers.append(
            Object{}("name", timer.name)("description", timer.description)("interval", timer.interval_s)(
                "triggerIn", timer.triggerIn)("triggerOut", timer.triggerOut)
                .json);
    for (const LSMMarker& marker : aAcquisition.markers)
        markers.append(Object{}("name", marker.name)("description", marker.description)(
                           "triggerIn", marker.triggerIn)("triggerOut", marker.triggerOut)
                           .json);
    for (const double stamp : aAcquisition.timeStamps_s) stamps.append(stamp);
    for (const LSMEvent& event : aAcquisition.events)
        events.append(
            Object{}("time", QJsonValue(event.time_s))("type", QJsonValue(qint64(event.type)))(
                "typeName", std::string(lsmEventTypeName(event.type)))("description", event.description)
                .json);
    // A band the file leaves at zero is not known: null, so that the list stays one per channel.
    for (const LSMWavelengthRange& band : aAcquisition.channelWavelengths) {
        const std::optional<double> from = nanometres(band.start_m), to = nanometres(band.end_m);
        wavelengths.append(from && to ? QJsonValue(QJsonArray{*from, *to}) : QJsonValue());
    }
    return Object{}("scanType", QJsonValue(aAcquisition.scanType))(
               "scanTypeName", std::string(lsmScanTypeName(aAcquisition.scanType)))(
               "spectralScan", QJsonValue(aAcquisition.spectralScan))("recording", recording.json)(
               "microscope", aAcquisition.microscopeModel)("lasers", lasers)("tracks", tracks)(
               "timers", timers)("markers", markers)("timeStamps", stamps)("events", events)(
               "channelWavelengths", wavelengths)("positions", positionsJson(aAcquisition.positions))(
               "tilePositions", positionsJson(aAcquisition.tilePositions))
        .json;
}

}  // namespace korvane::tools
