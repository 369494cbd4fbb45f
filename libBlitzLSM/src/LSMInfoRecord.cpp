#include "LSMInfoRecord.h"

#include <cstring>
#include <string>

#include "Reporter.h"

namespace {

// Bounds-checked little-endian field access; fields outside the stored bytes read as 0.
class RecordBytes {
  public:
    RecordBytes(const unsigned char* aBytes, std::size_t aCount) : mBytes(aBytes), mCount(aCount) {}

    uint64_t unsignedAt(std::size_t aOffset, std::size_t aWidth) const {
        if (aOffset + aWidth > mCount) return 0;
        uint64_t value = 0;
        for (std::size_t i = 0; i < aWidth; ++i) value |= uint64_t(mBytes[aOffset + i]) << (8 * i);
        return value;
    }
    int16_t int16At(std::size_t aOffset) const { return static_cast<int16_t>(unsignedAt(aOffset, 2)); }
    int32_t int32At(std::size_t aOffset) const { return static_cast<int32_t>(unsignedAt(aOffset, 4)); }
    double doubleAt(std::size_t aOffset) const {
        const uint64_t bits = unsignedAt(aOffset, 8);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const unsigned char* mBytes;
    std::size_t mCount;
};

// "int dimensionX" padded with blanks to 30 characters, then "= ".
std::string label(const char* aType, const char* aName) {
    std::string text = std::string(aType) + " " + aName;
    if (text.size() < 30) text.append(30 - text.size(), ' ');
    return text + "= ";
}

template <typename V>
void printField(const char* aType, const char* aName, V aValue) {
    reporterMessages << label(aType, aName) << aValue << std::endl;
}

void printInt(const char* aName, int32_t aValue) { printField("int", aName, aValue); }
void printShort(const char* aName, int16_t aValue) { printField("short", aName, aValue); }
void printDouble(const char* aName, double aValue) { printField("double", aName, aValue); }
void separate() { reporterMessages << std::endl; }

}  // namespace

bool decodeLSMInfoRecord(const void* aBytes, std::size_t aCount, LSMInfoRecord& aRecord) {
    std::memset(&aRecord, 0, sizeof aRecord);
    if (aBytes == nullptr || aCount < kLSMInfoRecordInterpretedSize) return false;
    const RecordBytes b(static_cast<const unsigned char*>(aBytes), aCount);
    LSMInfoRecord& r = aRecord;
    r.headerWord0 = b.int32At(0);
    r.headerWord1 = b.int32At(4);
    r.dimensionX = b.int32At(8);
    r.dimensionY = b.int32At(12);
    r.dimensionZ = b.int32At(16);
    r.dimensionChannels = b.int32At(20);
    r.dimensionTime = b.int32At(24);
    r.intensityDataType = b.int32At(28);
    r.thumbnailX = b.int32At(32);
    r.thumbnailY = b.int32At(36);
    r.voxelSizeX_m = b.doubleAt(40);
    r.voxelSizeY_m = b.doubleAt(48);
    r.voxelSizeZ_m = b.doubleAt(56);
    r.originX_m = b.doubleAt(64);
    r.originY_m = b.doubleAt(72);
    r.originZ_m = b.doubleAt(80);
    r.ScanType = b.int16At(88);
    r.SpectralScan = b.int16At(90);
    r.DataType = b.int32At(92);
    r.OffsetVectorOverlay = b.int32At(96);
    r.OffsetInputLut = b.int32At(100);
    r.OffsetOutputLut = b.int32At(104);
    r.OffsetChannelColors = b.int32At(108);
    r.TimeIntervall = b.doubleAt(112);
    r.OffsetChannelDataTypes = b.int32At(120);
    r.OffsetScanInformation = b.int32At(124);
    r.OffsetKsData = b.int32At(128);
    r.OffsetTimeStamps = b.int32At(132);
    r.OffsetEventList = b.int32At(136);
    r.OffsetRoi = b.int32At(140);
    r.OffsetBleachRoi = b.int32At(144);
    r.OffsetNextRecording = b.int32At(148);
    r.DisplayAspectX = b.doubleAt(152);
    r.DisplayAspectY = b.doubleAt(160);
    r.DisplayAspectZ = b.doubleAt(168);
    r.DisplayAspectTime = b.doubleAt(176);
    r.OffsetMeanOfRoisOverlay = b.int32At(184);
    r.OffsetTopoIsolineOverlay = b.int32At(188);
    r.OffsetTopoProfileOverlay = b.int32At(192);
    r.OffsetLinescanOverlay = b.int32At(196);
    r.ToolbarFlags = b.int32At(200);
    r.OffsetChannelWavelength = b.int32At(204);
    r.OffsetChannelFactors = b.int32At(208);
    r.ObjectiveSphereCorrection = b.int32At(212);
    r.OffsetUnmixParameters = b.int32At(216);
    return true;
}

void printLSMInfoRecord(const LSMInfoRecord& r) {
    reporterMessages << ReporterLevel(8);
    printInt("dimensionX", r.dimensionX);
    printInt("dimensionY", r.dimensionY);
    printInt("dimensionZ", r.dimensionZ);
    separate();
    printInt("dimensionChannels", r.dimensionChannels);
    printInt("dimensionTime", r.dimensionTime);
    separate();
    printInt("intensityDataType", r.intensityDataType);
    separate();
    printInt("thumbnailX", r.thumbnailX);
    printInt("thumbnailY", r.thumbnailY);
    separate();
    printDouble("voxelSizeX_m", r.voxelSizeX_m);
    printDouble("voxelSizeY_m", r.voxelSizeY_m);
    printDouble("voxelSizeZ_m", r.voxelSizeZ_m);
    separate();
    printDouble("originX_m", r.originX_m);
    printDouble("originY_m", r.originY_m);
    printDouble("originZ_m", r.originZ_m);
    separate();
    printShort("ScanType", r.ScanType);
    printShort("SpectralScan", r.SpectralScan);
    printInt("DataType", r.DataType);
    printInt("OffsetVectorOverlay", r.OffsetVectorOverlay);
    printInt("OffsetInputLut", r.OffsetInputLut);
    printInt("OffsetOutputLut", r.OffsetOutputLut);
    printInt("OffsetChannelColors", r.OffsetChannelColors);
    printDouble("TimeIntervall", r.TimeIntervall);
    separate();
    printInt("OffsetChannelDataTypes", r.OffsetChannelDataTypes);
    separate();
    printInt("OffsetScanInformation", r.OffsetScanInformation);
    printInt("OffsetKsData", r.OffsetKsData);
    printInt("OffsetTimeStamps", r.OffsetTimeStamps);
    printInt("OffsetEventList", r.OffsetEventList);
    printInt("OffsetRoi", r.OffsetRoi);
    printInt("OffsetBleachRoi", r.OffsetBleachRoi);
    printInt("OffsetNextRecording", r.OffsetNextRecording);
    separate();
    printDouble("DisplayAspectX", r.DisplayAspectX);
    printDouble("DisplayAspectY", r.DisplayAspectY);
    printDouble("DisplayAspectZ", r.DisplayAspectZ);
    printDouble("DisplayAspectTime", r.DisplayAspectTime);
    separate();
    printInt("OffsetMeanOfRoisOverlay", r.OffsetMeanOfRoisOverlay);
    separate();
    printInt("OffsetTopoIsolineOverlay", r.OffsetTopoIsolineOverlay);
    printInt("OffsetTopoProfileOverlay", r.OffsetTopoProfileOverlay);
    printInt("OffsetLinescanOverlay", r.OffsetLinescanOverlay);
    separate();
    printInt("ToolbarFlags", r.ToolbarFlags);
    printInt("OffsetChannelWavelength", r.OffsetChannelWavelength);
    printInt("OffsetChannelFactors", r.OffsetChannelFactors);
    printInt("ObjectiveSphereCorrection", r.ObjectiveSphereCorrection);
    printInt("OffsetUnmixParameters", r.OffsetUnmixParameters);
}
