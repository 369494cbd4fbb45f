#ifndef KORVANE_ACQUISITIONREPORT_H
#define KORVANE_ACQUISITIONREPORT_H

#include <QJsonObject>
#include <string>

#include "LSMAcquisition.h"

namespace korvane::tools {

// The acquisition record in readable sections (recording, lasers, tracks with their channels,
// timers and markers, time stamps summarised, events, channel wavelengths, positions); what the file
// does not give is not printed.
std::string acquisitionText(const LSMAcquisition& aAcquisition);

// The same as JSON: numbers in the units the keys' descriptions in --help give, absent keys for what
// the file does not give, every time stamp.
QJsonObject acquisitionJson(const LSMAcquisition& aAcquisition);

}  // namespace korvane::tools

#endif
