#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DorudURIVuruda.h"

namespace {

// Per channel, FNV-1a (64 bit) of the plane's samples as little-endian bytes in row order, computed
// once with an independent TIFF reader from the raw strips.
struct RealFile {
    const char* name;
    int sizeX, sizeY, sizeZ, sizeC, sizeT;
    int pixelType;
    std::vector<uint64_t> channelHashes;  // z = 0, t = 0: every file holds one plane
};

void PrintTo(const RealFile& aFile, std::ostream* aStream) { *aStream << aFile.name; }

const std::vector<RealFile>& realFiles() {
    static const std::vector<RealFile> files = {
        {"sample01_3ch_512_u8.lsm",
         512,
         512,
         1,
         3,
         1,
         TYPE_UINT8,
         {0x031d6e2d8ac67727ull, 0x2ce0f7f3371d3c46ull, 0x9d09b3c1adcf95a3ull}},
        {"sample02_spectral32ch_256_u8.lsm",
         256,
         256,
         1,
         32,
         1,
         TYPE_UINT8,
         {0x0abd9ad537857725ull, 0xcc8a8a80458c1c1dull, 0xefa61bca3430fa74ull, 0xe1dc1dbd33a18ee8ull,
          0xc28566d2401cdb94ull, 0x8ce3a9bf8b06fcd0ull, 0x47efa7b228dceac4ull, 0x663fe4dcc1a6a3b1ull,
          0xe703444848e96bb3ull, 0xcab2c2e08767de44ull, 0x5db3396ac7b32552ull, 0xaa14dcd3c5029bc0ull,
          0x0d9c74b172d21db6ull, 0x5e8809fc6082b61eull, 0xf062ad2e34d9ea0bull, 0xcee27341dc288d33ull,
          0xbdcb79c81d3b34feull, 0x3eb4264b08dbb9ebull, 0xb1cdcd47f4d40489ull, 0x318c1d3ef2a8bb0eull,
          0x4e1775f5ae9982a5ull, 0x21aa7f3b3e6c21acull, 0xe47594cca4c5200bull, 0x0c60db24854da561ull,
          0x1e4c38fad3a4f10full, 0xa37d06bdfdc95eb7ull, 0x160d5d6a43eb8ed5ull, 0xfa5dbbaac0f699e0ull,
          0xa624fd1a49765e59ull, 0x1df6ba33cc7b5ce2ull, 0x767f9817fb5ef1deull, 0xa6f48c2925af084eull}},
        {"sample03_spectral31ch_256_u8.lsm",
         256,
         256,
         1,
         31,
         1,
         TYPE_UINT8,
         {0x57d0ed2463cd6e3full, 0xbdefb2dfb654d5efull, 0x83d996b88aeff38aull, 0xb652e781e8d25e44ull,
          0x20991fa5edd9670eull, 0x307842c104c1f883ull, 0x4b211fbc06fb37b5ull, 0xa90e3cf4f49e68fdull,
          0x9057e088c5522572ull, 0x51b94231a57d92f4ull, 0x66748128010cee96ull, 0x7cb86070d1bd4b8bull,
          0xc6913604b5295ad5ull, 0x58829c1fa7eb869bull, 0x378c2a8f45d27822ull, 0xa339eadcb43bc9f9ull,
          0x9f0b416d7344aff9ull, 0xe07721320167150cull, 0x5e53d2598cd9549aull, 0x1ec3dbc31ecb0f14ull,
          0x2dfa17ea016eb5dfull, 0xe74461a757f40af8ull, 0x4cd22e410a240877ull, 0xb3b53bc564cdf7a9ull,
          0xe60d7312b9e01a9bull, 0x2950e43dca9a59d5ull, 0x14035b1263132db6ull, 0x13dfcfd4eb6c0a1full,
          0xff4d28a6cf8f9445ull, 0xebaa37134c43e58dull, 0xc77ab0ba041ff6e3ull}},
        {"sample04_1ch_512_u16.lsm", 512, 512, 1, 1, 1, TYPE_UINT16, {0xbe853ff47d54193cull}},
        {"sample05_3ch_512_u8.lsm",
         512,
         512,
         1,
         3,
         1,
         TYPE_UINT8,
         {0x6c09e9da009bbf61ull, 0xa962b84aa6504d25ull, 0xf82e723062613ff6ull}},
        {"sample06_2ch_1024_u8.lsm",
         1024,
         1024,
         1,
         2,
         1,
         TYPE_UINT8,
         {0x488a27200f2af783ull, 0x76f6207aac34ef80ull}},
    };
    return files;
}

template <typename T>
uint64_t planeHash(const blitz::Array<T, 2>& aPlane, uint64_t hash = 14695981039346656037ull) {
    const T* data = aPlane.dataFirst();
    for (size_t i = 0; i < size_t(aPlane.numElements()); ++i)
        for (size_t b = 0; b < sizeof(T); ++b) {
            hash ^= (uint64_t(data[i]) >> (8 * b)) & 0xFF;
            hash *= 1099511628211ull;
        }
    return hash;
}

class RealData : public ::testing::TestWithParam<RealFile> {};

}  // namespace

TEST_P(RealData, EveryChannelOfEveryPlaneMatchesAnIndependentReader) {
    const RealFile& expected = GetParam();
    const std::string path = std::string(KORVANE_REALDATA_DIR) + "/" + expected.name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) GTEST_SKIP() << "real LSM file " << path << " is not available";

    DorudURIVuruda reader;
    reader.open(path);
    ASSERT_EQ(reader.getSizeX(), expected.sizeX);
    ASSERT_EQ(reader.getSizeY(), expected.sizeY);
    ASSERT_EQ(reader.getSizeZ(), expected.sizeZ);
    ASSERT_EQ(reader.getSizeC(), expected.sizeC);
    ASSERT_EQ(reader.getSizeT(), expected.sizeT);
    for (int c = 0; c < expected.sizeC; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        ASSERT_EQ(reader.getPixelType(c), expected.pixelType);
        if (expected.pixelType == TYPE_UINT8) {
            blitz::Array<unsigned char, 2> plane;
            reader.readArray(plane, 0, c, 0, 1, 0, 0, 0, 0);
            EXPECT_EQ(planeHash(plane), expected.channelHashes[c]);
        } else {
            blitz::Array<unsigned short, 2> plane;
            reader.readArray(plane, 0, c, 0, 1, 0, 0, 0, 0);
            EXPECT_EQ(planeHash(plane), expected.channelHashes[c]);
        }
    }
    EXPECT_TRUE(reader.isOpen());
}

INSTANTIATE_TEST_SUITE_P(MicroscopeFiles, RealData, ::testing::ValuesIn(realFiles()),
                         [](const ::testing::TestParamInfo<RealFile>& aInfo) {
                             return std::string(aInfo.param.name).substr(0, 8);
                         });

// A line scan's one image holds its 1000 lines, each a timepoint: read line by line, they are the bytes
// an independent TIFF reader finds in the image, in order.
TEST(RealLineScan, EachLineIsATimepoint) {
    const std::string path = std::string(KORVANE_REALDATA_DIR) + "/sample08_linescan_1024x1000_u8.lsm";
    struct stat info;
    if (stat(path.c_str(), &info) != 0) GTEST_SKIP() << "real LSM file " << path << " is not available";
    DorudURIVuruda reader;
    reader.open(path);
    ASSERT_EQ(std::vector<int>({reader.getSizeX(), reader.getSizeY(), reader.getSizeZ(), reader.getSizeT()}),
              std::vector<int>({1024, 1, 1, 1000}));
    uint64_t hash = 14695981039346656037ull;
    blitz::Array<unsigned char, 2> line;
    for (int t = 0; t < 1000; ++t) {
        reader.readArray(line, t, 0, 0, 1, 0, 0, 0, 0);
        hash = planeHash(line, hash);
    }
    EXPECT_EQ(hash, 0x106a2449f112ef04ull);
}
