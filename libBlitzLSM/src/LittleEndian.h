#ifndef KORVANE_LITTLEENDIAN_H
#define KORVANE_LITTLEENDIAN_H

#include <cstdint>
#include <cstring>

// LSM files store every number little-endian. These assemble and lay out values byte by byte, so
// they need no alignment and give the same result on any host.
namespace korvane::lsm {

inline uint64_t littleEndian(const unsigned char* aBytes, unsigned aWidth) {
    uint64_t value = 0;
    for (unsigned i = 0; i < aWidth; ++i) value |= uint64_t(aBytes[i]) << (8 * i);
    return value;
}

inline uint16_t littleEndian16(const unsigned char* aBytes) { return uint16_t(littleEndian(aBytes, 2)); }
inline uint32_t littleEndian32(const unsigned char* aBytes) { return uint32_t(littleEndian(aBytes, 4)); }
inline uint64_t littleEndian64(const unsigned char* aBytes) { return littleEndian(aBytes, 8); }

inline double littleEndianDouble(const unsigned char* aBytes) {
    const uint64_t bits = littleEndian64(aBytes);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void putLittleEndian(unsigned char* aBytes, uint64_t aValue, unsigned aWidth) {
    for (unsigned i = 0; i < aWidth; ++i) aBytes[i] = static_cast<unsigned char>(aValue >> (8 * i));
}

inline void putLittleEndianDouble(unsigned char* aBytes, double aValue) {
    uint64_t bits;
    std::memcpy(&bits, &aValue, sizeof bits);
    putLittleEndian(aBytes, bits, 8);
}

}  // namespace korvane::lsm

#endif
