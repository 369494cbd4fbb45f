#include "LSMAcquisition.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <tuple>
#include <utility>

namespace {

// Track and list index of the data channel behind image channel aChannel; -1, -1 if there is none.
std::pair<int, int> dataChannelOf(const LSMAcquisition& aAcquisition, int aChannel) {
    std::vector<std::pair<int, int>> inFileOrder;
    for (size_t t = 0; t < aAcquisition.tracks.size(); ++t) {
        const std::vector<LSMDataChannel>& data = aAcquisition.tracks[t].dataChannels;
        for (size_t d = 0; d < data.size(); ++d) {
            if (data[d].imageChannel == aChannel) return {int(t), int(d)};
            inFileOrder.emplace_back(int(t), int(d));
        }
    }
    // Without a stored index the file order counts; a lambda stack's bins all come from one channel.
    if (size_t(aChannel) < inFileOrder.size()) {
        const std::pair<int, int> candidate = inFileOrder[size_t(aChannel)];
        if (!aAcquisition.tracks[size_t(candidate.first)].dataChannels[size_t(candidate.second)].imageChannel)
            return candidate;
    }
    if (aAcquisition.spectralScan && inFileOrder.size() == 1) return inFileOrder.front();
    return {-1, -1};
}

}  // namespace

LSMChannelHardware lsmChannelHardware(const LSMAcquisition& aAcquisition, int aChannel) {
    LSMChannelHardware link;
    if (aChannel < 0) return link;
    std::tie(link.track, link.dataChannel) = dataChannelOf(aAcquisition, aChannel);
    if (link.track < 0) return link;
    const LSMTrack& track = aAcquisition.tracks[size_t(link.track)];
    const std::string& name = track.dataChannels[size_t(link.dataChannel)].name;
    for (size_t d = 0; d < track.detectionChannels.size() && !name.empty(); ++d) {
        if (track.detectionChannels[d].name == name) {
            link.detectionChannel = int(d);
            break;
        }
    }
    for (size_t i = 0; i < track.illuminationChannels.size(); ++i)
        if (track.illuminationChannels[i].acquired.value_or(false))
            link.illuminationChannels.push_back(int(i));
    return link;
}

std::optional<LSMDateTime> lsmDateTimeFromDays(double aDays) {
    // 1900-01-01 is day 2, 9999-12-31 day 2958465.
    if (!std::isfinite(aDays) || aDays < 2.0 || aDays >= 2958466.0) return std::nullopt;
    const int64_t seconds = std::llround(aDays * 86400.0);
    int64_t days = seconds / 86400 - 25569;  // since 1970-01-01
    const int64_t ofDay = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian calendar, eras of 400 years).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    LSMDateTime result;
    result.day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    result.month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    result.year = int(yearOfEra + era * 400 + (result.month <= 2 ? 1 : 0));
    result.hour = int(ofDay / 3600);
    result.minute = int(ofDay / 60 % 60);
    result.second = int(ofDay % 60);
    return result;
}

std::string lsmIso8601(const LSMDateTime& aDateTime) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", aDateTime.year, aDateTime.month,
                  aDateTime.day, aDateTime.hour, aDateTime.minute, aDateTime.second);
    return text;
}

const char* lsmScanTypeName(int aScanType) {
    static const char* const kNames[] = {
        "x-y-z stack",      "z scan (x-z plane)",           "line scan",         "time series x-y",
        "time series x-z",  "time series mean of ROIs",     "time series x-y-z", "spline scan",
        "spline plane x-z", "time series spline plane x-z", "point mode"};
    return aScanType >= 0 && aScanType < int(std::size(kNames)) ? kNames[aScanType] : "unknown";
}

const char* lsmEventTypeName(uint32_t aType) {
    static const char* const kNames[] = {"marker", "timer change", "bleach start", "bleach stop", "trigger"};
    return aType < std::size(kNames) ? kNames[aType] : "unknown";
}
