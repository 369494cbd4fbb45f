#ifndef KORVANE_LSMINFORECORD_H
#define KORVANE_LSMINFORECORD_H

#include <cstddef>
#include <cstdint>

// The private record of TIFF tag 34412 in the first directory of an LSM file. All values are
// little-endian in the file; decodeLSMInfoRecord assembles them byte by byte.
struct LSMInfoRecord {
    int32_t headerWord0;
    int32_t headerWord1;
    int32_t dimensionX;
    int32_t dimensionY;
    int32_t dimensionZ;
    int32_t dimensionChannels;
    int32_t dimensionTime;
    int32_t intensityDataType;
    int32_t thumbnailX;
    int32_t thumbnailY;
    double voxelSizeX_m;
    double voxelSizeY_m;
    double voxelSizeZ_m;
    double originX_m;
    double originY_m;
    double originZ_m;
    int16_t ScanType;
    int16_t SpectralScan;
    int32_t DataType;
    int32_t OffsetVectorOverlay;
    int32_t OffsetInputLut;
    int32_t OffsetOutputLut;
    int32_t OffsetChannelColors;
    double TimeIntervall;
    int32_t OffsetChannelDataTypes;
    int32_t OffsetScanInformation;
    int32_t OffsetKsData;
    int32_t OffsetTimeStamps;
    int32_t OffsetEventList;
    int32_t OffsetRoi;
    int32_t OffsetBleachRoi;
    int32_t OffsetNextRecording;
    double DisplayAspectX;
    double DisplayAspectY;
    double DisplayAspectZ;
    double DisplayAspectTime;
    int32_t OffsetMeanOfRoisOverlay;
    int32_t OffsetTopoIsolineOverlay;
    int32_t OffsetTopoProfileOverlay;
    int32_t OffsetLinescanOverlay;
    int32_t ToolbarFlags;
    int32_t OffsetChannelWavelength;
    int32_t OffsetChannelFactors;
    int32_t ObjectiveSphereCorrection;
    int32_t OffsetUnmixParameters;
};

// Bytes of the record as stored in the file, and the prefix the reader actually interprets.
constexpr std::size_t kLSMInfoRecordSize = 220;
constexpr std::size_t kLSMInfoRecordInterpretedSize = 124;

// Decodes aCount bytes; fields lying beyond aCount are left 0. Returns false (record all zero)
// when aCount is smaller than the interpreted prefix or aBytes is null.
bool decodeLSMInfoRecord(const void* aBytes, std::size_t aCount, LSMInfoRecord& aRecord);

// Prints every field from dimensionX to OffsetUnmixParameters through reporterMessages at level 8.
void printLSMInfoRecord(const LSMInfoRecord& aRecord);

#endif
