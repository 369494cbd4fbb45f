#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "LSMInfoRecord.h"
#include "LsmTestSupport.h"

namespace {

void put32(std::vector<unsigned char>& aBytes, size_t aOffset, int32_t aValue) {
    for (int i = 0; i < 4; ++i) aBytes[aOffset + i] = static_cast<unsigned char>(uint32_t(aValue) >> (8 * i));
}

void putDouble(std::vector<unsigned char>& aBytes, size_t aOffset, double aValue) {
    uint64_t bits;
    std::memcpy(&bits, &aValue, 8);
    for (int i = 0; i < 8; ++i) aBytes[aOffset + i] = static_cast<unsigned char>(bits >> (8 * i));
}

// A record whose every int32 field holds three times its offset, so a field read from the wrong
// place shows.
std::vector<unsigned char> distinctRecord() {
    std::vector<unsigned char> bytes(kLSMInfoRecordSize, 0);
    for (size_t offset = 0; offset < kLSMInfoRecordSize; offset += 4)
        put32(bytes, offset, int32_t(offset) * 3);
    putDouble(bytes, 40, 2.0e-7);
    putDouble(bytes, 48, 3.5e-7);
    putDouble(bytes, 56, 1e-6);
    putDouble(bytes, 64, -1.25);
    putDouble(bytes, 72, 0);
    putDouble(bytes, 80, 123456789.0);
    bytes[88] = 0xFE;  // ScanType -2
    bytes[89] = 0xFF;
    bytes[90] = 7;  // SpectralScan 7
    bytes[91] = 0;
    putDouble(bytes, 112, 0.5);
    for (size_t offset = 152; offset < 184; offset += 8) putDouble(bytes, offset, offset / 8.0);
    return bytes;
}

}  // namespace

TEST(LsmInfoRecord, DecodesLittleEndianFieldsFromUnalignedBytes) {
    const std::vector<unsigned char> stored = distinctRecord();
    std::vector<unsigned char> shifted(stored.size() + 1);
    std::memcpy(shifted.data() + 1, stored.data(), stored.size());  // odd address: no aligned loads
    LSMInfoRecord record;
    ASSERT_TRUE(decodeLSMInfoRecord(shifted.data() + 1, stored.size(), record));
    EXPECT_EQ(record.dimensionX, 24);
    EXPECT_EQ(record.dimensionTime, 72);
    EXPECT_EQ(record.intensityDataType, 84);
    EXPECT_EQ(record.thumbnailY, 108);
    EXPECT_DOUBLE_EQ(record.voxelSizeX_m, 2.0e-7);
    EXPECT_DOUBLE_EQ(record.voxelSizeY_m, 3.5e-7);
    EXPECT_DOUBLE_EQ(record.originZ_m, 123456789.0);
    EXPECT_EQ(record.ScanType, 0xFFFE);
    EXPECT_EQ(record.SpectralScan, 7);
    EXPECT_EQ(record.DataType, 276);
    EXPECT_EQ(record.OffsetChannelColors, 324);
    EXPECT_DOUBLE_EQ(record.TimeIntervall, 0.5);
    EXPECT_EQ(record.OffsetChannelDataTypes, 360);
    EXPECT_DOUBLE_EQ(record.DisplayAspectTime, 22.0);
    uint64_t sphereCorrection;  // eight bytes at 212, not an int and an offset
    std::memcpy(&sphereCorrection, &record.ObjectiveSphereCorrection, 8);
    EXPECT_EQ(sphereCorrection, 636 | uint64_t(648) << 32);
    EXPECT_EQ(record.OffsetUnmixParameters, 660u);
    EXPECT_EQ(record.DimensionP, 792);
    EXPECT_EQ(record.DimensionsReserved[15], 996);
    EXPECT_EQ(record.OffsetTilePositions, 1008u);
    EXPECT_EQ(record.OffsetPositions, 1128u);
}

// The record ends at the shorter of StructureSize and the tag; a field ending past it reads 0.
TEST(LsmInfoRecord, FieldsPastTheRecordLengthReadAsZero) {
    std::vector<unsigned char> stored = distinctRecord();
    const struct {
        size_t tagBytes;
        int32_t structureSize;
        uint32_t offsetNextRecording, offsetUnmixParameters, offsetAcquisitionParameters, offsetPositions;
    } cases[] = {
        {380, 152, 444, 0, 0, 0},        // the oldest records end after OffsetNextRecording
        {380, 224, 444, 660, 0, 0},      // later ones after OffsetUnmixParameters
        {224, 512, 444, 660, 0, 0},      // a tag shorter than the size it states
        {222, 512, 444, 0, 0, 0},        // a field cut in two is absent
        {380, 12, 444, 660, 672, 1128},  // no record is that short: the size states nothing
    };
    for (const auto& c : cases) {
        put32(stored, 4, c.structureSize);
        LSMInfoRecord record;
        ASSERT_TRUE(decodeLSMInfoRecord(stored.data(), c.tagBytes, record));
        EXPECT_EQ(record.OffsetNextRecording, c.offsetNextRecording) << c.tagBytes << " " << c.structureSize;
        EXPECT_EQ(record.OffsetUnmixParameters, c.offsetUnmixParameters)
            << c.tagBytes << " " << c.structureSize;
        EXPECT_EQ(record.OffsetAcquisitionParameters, c.offsetAcquisitionParameters) << c.tagBytes;
        EXPECT_EQ(record.OffsetPositions, c.offsetPositions) << c.tagBytes << " " << c.structureSize;
    }
}

TEST(LsmInfoRecord, RecordShorterThanTheInterpretedPartIsRefusedAndTheTailIsOptional) {
    const std::vector<unsigned char> stored = distinctRecord();
    LSMInfoRecord record;
    EXPECT_FALSE(decodeLSMInfoRecord(stored.data(), kLSMInfoRecordInterpretedSize - 1, record));
    EXPECT_EQ(record.dimensionX, 0);
    EXPECT_FALSE(decodeLSMInfoRecord(nullptr, 500, record));

    ASSERT_TRUE(decodeLSMInfoRecord(stored.data(), kLSMInfoRecordInterpretedSize, record));
    EXPECT_EQ(record.OffsetChannelDataTypes, 360);
    EXPECT_EQ(record.OffsetScanInformation, 0);  // beyond the stored bytes: never read
    EXPECT_EQ(record.OffsetUnmixParameters, 0);
}

TEST(LsmInfoRecord, PrintoutListsEveryFieldInGroupsAtLevelEight) {
    const std::vector<unsigned char> stored = distinctRecord();
    LSMInfoRecord record;
    ASSERT_TRUE(decodeLSMInfoRecord(stored.data(), stored.size(), record));
    korvane::lsmtest::CapturedMessages captured;
    printLSMInfoRecord(record);
    for (const auto& message : captured.messages()) EXPECT_EQ(message.first, 8) << message.second;
    const std::string expected =
        "int dimensionX                = 24\n"
        "int dimensionY                = 36\n"
        "int dimensionZ                = 48\n"
        "\n"
        "int dimensionChannels         = 60\n"
        "int dimensionTime             = 72\n"
        "\n"
        "int intensityDataType         = 84\n"
        "\n"
        "int thumbnailX                = 96\n"
        "int thumbnailY                = 108\n"
        "\n"
        "double voxelSizeX_m           = 2e-07\n"
        "double voxelSizeY_m           = 3.5e-07\n"
        "double voxelSizeZ_m           = 1e-06\n"
        "\n"
        "double originX_m              = -1.25\n"
        "double originY_m              = 0\n"
        "double originZ_m              = 1.23457e+08\n"
        "\n"
        "short ScanType                = -2\n"
        "short SpectralScan            = 7\n"
        "int DataType                  = 276\n"
        "int OffsetVectorOverlay       = 288\n"
        "int OffsetInputLut            = 300\n"
        "int OffsetOutputLut           = 312\n"
        "int OffsetChannelColors       = 324\n"
        "double TimeIntervall          = 0.5\n"
        "\n"
        "int OffsetChannelDataTypes    = 360\n"
        "\n"
        "int OffsetScanInformation     = 372\n"
        "int OffsetKsData              = 384\n"
        "int OffsetTimeStamps          = 396\n"
        "int OffsetEventList           = 408\n"
        "int OffsetRoi                 = 420\n"
        "int OffsetBleachRoi           = 432\n"
        "int OffsetNextRecording       = 444\n"
        "\n"
        "double DisplayAspectX         = 19\n"
        "double DisplayAspectY         = 20\n"
        "double DisplayAspectZ         = 21\n"
        "double DisplayAspectTime      = 22\n"
        "\n"
        "int OffsetMeanOfRoisOverlay   = 552\n"
        "\n"
        "int OffsetTopoIsolineOverlay  = 564\n"
        "int OffsetTopoProfileOverlay  = 576\n"
        "int OffsetLinescanOverlay     = 588\n"
        "\n"
        "int ToolbarFlags              = 600\n"
        "int OffsetChannelWavelength   = 612\n"
        "int OffsetChannelFactors      = 624\n"
        "int ObjectiveSphereCorrection = 636\n"
        "int OffsetUnmixParameters     = 648\n";
    EXPECT_EQ(captured.text(), expected);
}
