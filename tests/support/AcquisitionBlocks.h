#pragma once

// Acquisition blocks shared by the tests and the fuzzer's seed corpus.

#include <cstdint>
#include <vector>

#include "LsmWriter.h"

namespace korvane::testsupport {

// A ScanInformation tree with the quirks of real files: a name with garbage after its NUL, blank and
// "\r\n" placeholders, an objective "Plan 63x/1.4 Öl" in Windows-1252 without NUL, start day
// 42888.651192129626, zoom stored as an integer, an unknown sub-block, laser "HeNe543" (acquire -1,
// 1.5 mW), track "T1" with detection channels "Ch9" (not acquired) and "Ch1" (700 V, pinhole 52.5),
// illumination 488 nm (acquire 1, then a repeated 0) and 561 nm (not acquired), data channel "Ch1"
// for image channel 0, timer "Timer1" named twice, and a user entry after the recording closed.
std::vector<uint8_t> quirkyScanInformation();

// Time stamps 100 s + 0.1 s * i, and events at 100 s + i of type i % 5 named "event i", whose text
// starts right after the header (even i) or after a zero word (odd i).
std::vector<LsmBlock> timeBlocks(int aStamps, uint32_t aEvents);

}  // namespace korvane::testsupport
