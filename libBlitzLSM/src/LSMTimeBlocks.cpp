// The TimeStamps and EventList blocks: per-timepoint times and what happened during the acquisition,
// both in seconds on the same clock of arbitrary epoch.
#include <algorithm>
#include <cmath>
#include <string>

#include "LSMAcquisitionBlocks.h"
#include "LSMText.h"
#include "LittleEndian.h"

namespace {

using korvane::lsm::littleEndian32;
using korvane::lsm::littleEndianDouble;

constexpr uint32_t kMaxEvents = 65535;
constexpr uint32_t kMaxEventText = 64 * 1024;

bool printable(unsigned char aByte) { return aByte >= 0x20 && aByte != 0x7F; }

// An event's text may or may not follow a further 32-bit word. When the four bytes after the header
// are zero, or control bytes followed by a printable one, the text starts after them.
uint32_t eventTextStart(const unsigned char* aEvent, uint32_t aSize) {
    if (aSize < 20) return 16;
    const unsigned char* word = aEvent + 16;
    const bool zero = word[0] == 0 && word[1] == 0 && word[2] == 0 && word[3] == 0;
    const bool control =
        !printable(word[0]) && !printable(word[1]) && !printable(word[2]) && !printable(word[3]);
    return zero || (control && aSize > 20 && printable(aEvent[20])) ? 20 : 16;
}

}  // namespace

void readTimeStamps(LSMBlockFile& aFile, uint64_t aOffset, std::vector<double>& aTimeStamps) {
    const char* const kBlock = "TimeStamps block";
    if (!aFile.present(kBlock, aOffset)) return;
    std::vector<unsigned char> header;
    if (!aFile.read(aOffset, 8, header))
        return aFile.warn(kBlock, aOffset, "is cut off by the end of the file");
    const int32_t size = int32_t(littleEndian32(&header[0]));
    const int32_t count = int32_t(littleEndian32(&header[4]));
    if (size < 8 || count < 0 || uint64_t(count) > uint64_t(size - 8) / 8)
        return aFile.warn(kBlock, aOffset,
                          "declares " + std::to_string(count) + " time stamps in " + std::to_string(size) +
                              " byte; it is ignored");
    std::vector<unsigned char> bytes;
    if (!aFile.read(aOffset + 8, uint64_t(count) * 8, bytes))
        return aFile.warn(
            kBlock, aOffset,
            "of " + std::to_string(count) + " time stamps runs past the end of the file; it is ignored");
    if (uint64_t(size) != 8 + uint64_t(count) * 8)
        aFile.warn(kBlock, aOffset,
                   "is " + std::to_string(size) + " byte long for " + std::to_string(count) +
                       " time stamps; the stamps are kept");
    std::vector<double> stamps(size_t(count), 0.0);
    for (size_t i = 0; i < stamps.size(); ++i) {
        stamps[i] = littleEndianDouble(&bytes[8 * i]);
        if (!std::isfinite(stamps[i]))
            return aFile.warn(kBlock, aOffset, "holds a time stamp that is not a number; it is ignored");
    }
    aTimeStamps.swap(stamps);
}

void readEventList(LSMBlockFile& aFile, uint64_t aOffset, std::vector<LSMEvent>& aEvents) {
    const char* const kBlock = "EventList block";
    if (!aFile.present(kBlock, aOffset)) return;
    std::vector<unsigned char> bytes;
    if (!aFile.read(aOffset, 8, bytes))
        return aFile.warn(kBlock, aOffset, "is cut off by the end of the file");
    const uint32_t size = littleEndian32(&bytes[0]);
    const uint32_t count = littleEndian32(&bytes[4]);
    if (size < 8 || count > kMaxEvents || uint64_t(count) * 16 > size - 8)
        return aFile.warn(kBlock, aOffset,
                          "declares " + std::to_string(count) + " events in " + std::to_string(size) +
                              " byte; it is ignored");
    if (!aFile.read(aOffset + 8, size - 8, bytes))
        return aFile.warn(
            kBlock, aOffset,
            "of " + std::to_string(size) + " byte runs past the end of the file; it is ignored");
    std::vector<LSMEvent> events;
    events.reserve(count);
    uint32_t position = 8;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t left = size - position;
        const uint32_t entrySize = left >= 4 ? littleEndian32(&bytes[position]) : 0;
        if (entrySize < 16 || entrySize > left)
            return aFile.warn(kBlock, aOffset,
                              "has event " + std::to_string(i + 1) + " of " + std::to_string(entrySize) +
                                  " byte where " + std::to_string(left) + " are left; it is ignored");
        const unsigned char* event = &bytes[position];
        LSMEvent parsed;
        parsed.time_s = littleEndianDouble(event + 4);
        parsed.type = littleEndian32(event + 12);
        if (!std::isfinite(parsed.time_s))
            return aFile.warn(
                kBlock, aOffset,
                "has event " + std::to_string(i + 1) + " at a time that is not a number; it is ignored");
        const uint32_t textStart = eventTextStart(event, entrySize);
        const uint32_t textSize = std::min(entrySize - textStart, kMaxEventText);
        parsed.description = decodeLSMText(event + textStart, textSize);
        events.push_back(std::move(parsed));
        position += entrySize;
    }
    aEvents.swap(events);
}
