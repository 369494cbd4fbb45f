#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane::testsupport {

// Encodes one TIFF strip with TIFF's LZW variant (Compression = 5): codes are
// packed MSB first, the stream opens with ClearCode (256) and ends with
// EndOfInformation (257), code width grows from 9 to 12 bits with the
// "early change" convention, and the table is cleared before it overflows.
std::vector<uint8_t> encodeTiffLzw(const uint8_t* data, size_t size);
std::vector<uint8_t> encodeTiffLzw(const std::vector<uint8_t>& data);

}  // namespace korvane::testsupport
