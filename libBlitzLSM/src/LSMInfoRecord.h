#ifndef KORVANE_LSMINFORECORD_H
#define KORVANE_LSMINFORECORD_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

// The private record of TIFF tag 34412 in the first directory of an LSM file, decoded from its
// little-endian bytes. A field the stored record does not reach reads as 0; every Offset* field is
// an absolute file position, 0 when the block is absent.
struct LSMInfoRecord {
    uint32_t MagicNumber;
    int32_t StructureSize;
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
    uint16_t ScanType;      // scan geometry: 0 x-y-z stack, 2 line scan, 3 x-y time series, ...
    uint16_t SpectralScan;  // 1 for a lambda acquisition, one channel per wavelength band
    uint32_t DataType;      // 0 original, 1 calculated, ...; not the sample type
    uint32_t OffsetVectorOverlay;
    uint32_t OffsetInputLut;
    uint32_t OffsetOutputLut;
    uint32_t OffsetChannelColors;
    double TimeIntervall;  // seconds
    uint32_t OffsetChannelDataTypes;
    uint32_t OffsetScanInformation;
    uint32_t OffsetKsData;
    uint32_t OffsetTimeStamps;
    uint32_t OffsetEventList;
    uint32_t OffsetRoi;
    uint32_t OffsetBleachRoi;
    uint32_t OffsetNextRecording;
    double DisplayAspectX;
    double DisplayAspectY;
    double DisplayAspectZ;
    double DisplayAspectTime;
    uint32_t OffsetMeanOfRoisOverlay;
    uint32_t OffsetTopoIsolineOverlay;
    uint32_t OffsetTopoProfileOverlay;
    uint32_t OffsetLinescanOverlay;
    uint32_t ToolbarFlags;
    uint32_t OffsetChannelWavelength;
    uint32_t OffsetChannelFactors;
    double ObjectiveSphereCorrection;
    uint32_t OffsetUnmixParameters;
    uint32_t OffsetAcquisitionParameters;
    uint32_t OffsetCharacteristics;
    uint32_t OffsetPalette;
    double TimeDifferenceX;
    double TimeDifferenceY;
    double TimeDifferenceZ;
    uint32_t InternalUse1;
    int32_t DimensionP;  // positions; 0 or less means one
    int32_t DimensionM;  // mosaic tiles; 0 or less means one
    int32_t DimensionsReserved[16];
    uint32_t OffsetTilePositions;
    uint32_t OffsetPositions;
};

// Bytes of the record that the fields cover, and the prefix the reader needs to open a file.
constexpr std::size_t kLSMInfoRecordSize = 380;
constexpr std::size_t kLSMInfoRecordInterpretedSize = 124;

// Decodes the aCount bytes of the tag. The record ends at its StructureSize when that is shorter
// than the tag (and not shorter than the interpreted prefix, which no real record is); fields
// ending past the record read as 0. Returns false (record all zero) when aCount is smaller than the
// interpreted prefix or aBytes is null.
bool decodeLSMInfoRecord(const void* aBytes, std::size_t aCount, LSMInfoRecord& aRecord);

// Prints the fields from dimensionX to ObjectiveSphereCorrection, in groups, through
// reporterMessages at level 8.
void printLSMInfoRecord(const LSMInfoRecord& aRecord);

// A field's value: integers exactly, doubles as stored, arrays element by element.
using LSMFieldValue = std::variant<int64_t, double, std::vector<int64_t>>;

// Every field of the record by name, in the order of the file.
std::vector<std::pair<const char*, LSMFieldValue>> lsmRecordValues(const LSMInfoRecord& aRecord);

#endif
