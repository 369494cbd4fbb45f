#include "AcquisitionBlocks.h"

#include <string>

namespace korvane::testsupport {

namespace {

std::vector<uint8_t> bytes(const std::string& aText) { return {aText.begin(), aText.end()}; }

}  // namespace

std::vector<uint8_t> quirkyScanInformation() {
    LeBytes s;
    s.open(0x10000000).entry(0x10000001, 2, bytes(std::string("Bead\0\x13", 6))).text(0x10000002, " ");
    s.text(0x10000003, "\\r\\n").entry(0x10000004, 2, bytes("Plan 63x/1.4 \xd6l"));
    s.float64(0x10000036, 42888.651192129626).int32(0x10000016, 2);
    s.open(0x77000000).text(0x10000001, "inside an unknown block").close();
    s.open(0x30000000).open(0x50000000).text(0x50000001, "HeNe543").int32(0x50000002, -1);
    s.float64(0x50000003, 1.5).close().close();
    s.open(0x20000000).open(0x40000000).text(0x4000000C, "T1").open(0x60000000);
    s.open(0x70000000).text(0x70000014, "Ch9").int32(0x7000000B, 0).close();
    s.open(0x70000000).text(0x70000014, "Ch1").int32(0x7000000B, 1).float64(0x70000003, 700);
    s.float64(0x70000009, 52.5).close().close().open(0x80000000);
    s.open(0x90000000).float64(0x90000003, 488).int32(0x90000004, 1).int32(0x90000004, 0).close();
    s.open(0x90000000).float64(0x90000003, 561).int32(0x90000004, 0).close().close();
    s.open(0xC0000000).open(0xD0000000).text(0xD0000001, "Ch1").int32(0xD0000003, 0).close().close();
    s.close().close();
    s.open(0x11000000).open(0x12000000).text(0x12000001, "Timer1").text(0x12000001, "").close().close();
    s.close().text(0x10000047, "after the recording");
    return s.bytes;
}

std::vector<LsmBlock> timeBlocks(int aStamps, uint32_t aEvents) {
    LeBytes stamps;
    stamps.u32(uint32_t(8 + 8 * aStamps)).u32(uint32_t(aStamps));
    for (int i = 0; i < aStamps; ++i) stamps.f64(100.0 + 0.1 * i);
    LeBytes events;
    for (uint32_t i = 0; i < aEvents; ++i) {
        const std::string text = "event " + std::to_string(i);
        const bool word = i % 2 == 1;
        events.u32(uint32_t(16 + (word ? 4 : 0) + text.size() + 1)).f64(100.0 + i).u32(i % 5);
        if (word) events.u32(0);
        events.chars(text + '\0');
    }
    LeBytes list;
    list.u32(uint32_t(8 + events.bytes.size()))
        .u32(aEvents)
        .chars({events.bytes.begin(), events.bytes.end()});
    return {{lsmrecord::kOffsetTimeStamps, stamps.bytes}, {lsmrecord::kOffsetEventList, list.bytes}};
}

}  // namespace korvane::testsupport
