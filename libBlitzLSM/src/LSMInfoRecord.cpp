#include "LSMInfoRecord.h"

#include <array>
#include <string>
#include <type_traits>

#include "LittleEndian.h"
#include "Reporter.h"

namespace {

using korvane::lsm::littleEndian16;
using korvane::lsm::littleEndian32;
using korvane::lsm::littleEndianDouble;
using korvane::lsm::putLittleEndian;
using korvane::lsm::putLittleEndianDouble;
using R = LSMInfoRecord;

// A line of the printout that shows stored bytes as an int but is no field: bytes 212-219 hold the
// 8-byte ObjectiveSphereCorrection, which the printout has always shown as two ints, the second
// labelled OffsetUnmixParameters. Scripts parse those lines, so they stay.
struct PrintedWord {};

using Member =
    std::variant<PrintedWord, uint16_t R::*, int32_t R::*, uint32_t R::*, double R::*, int32_t (R::*)[16]>;

enum class Printout : unsigned char { Hidden, Line, LineAfterBlank };
constexpr Printout kHidden = Printout::Hidden;
constexpr Printout kLine = Printout::Line;
constexpr Printout kGroup = Printout::LineAfterBlank;

struct Field {
    const char* name;
    std::size_t offset;
    Member member;
    Printout printout;
};

// The record's layout, in the order of the file. Decoding, printout and values all go by it.
const Field kFields[] = {
    {"MagicNumber", 0, &R::MagicNumber, kHidden},
    {"StructureSize", 4, &R::StructureSize, kHidden},
    {"dimensionX", 8, &R::dimensionX, kLine},
    {"dimensionY", 12, &R::dimensionY, kLine},
    {"dimensionZ", 16, &R::dimensionZ, kLine},
    {"dimensionChannels", 20, &R::dimensionChannels, kGroup},
    {"dimensionTime", 24, &R::dimensionTime, kLine},
    {"intensityDataType", 28, &R::intensityDataType, kGroup},
    {"thumbnailX", 32, &R::thumbnailX, kGroup},
    {"thumbnailY", 36, &R::thumbnailY, kLine},
    {"voxelSizeX_m", 40, &R::voxelSizeX_m, kGroup},
    {"voxelSizeY_m", 48, &R::voxelSizeY_m, kLine},
    {"voxelSizeZ_m", 56, &R::voxelSizeZ_m, kLine},
    {"originX_m", 64, &R::originX_m, kGroup},
    {"originY_m", 72, &R::originY_m, kLine},
    {"originZ_m", 80, &R::originZ_m, kLine},
    {"ScanType", 88, &R::ScanType, kGroup},
    {"SpectralScan", 90, &R::SpectralScan, kLine},
    {"DataType", 92, &R::DataType, kLine},
    {"OffsetVectorOverlay", 96, &R::OffsetVectorOverlay, kLine},
    {"OffsetInputLut", 100, &R::OffsetInputLut, kLine},
    {"OffsetOutputLut", 104, &R::OffsetOutputLut, kLine},
    {"OffsetChannelColors", 108, &R::OffsetChannelColors, kLine},
    {"TimeIntervall", 112, &R::TimeIntervall, kLine},
    {"OffsetChannelDataTypes", 120, &R::OffsetChannelDataTypes, kGroup},
    {"OffsetScanInformation", 124, &R::OffsetScanInformation, kGroup},
    {"OffsetKsData", 128, &R::OffsetKsData, kLine},
    {"OffsetTimeStamps", 132, &R::OffsetTimeStamps, kLine},
    {"OffsetEventList", 136, &R::OffsetEventList, kLine},
    {"OffsetRoi", 140, &R::OffsetRoi, kLine},
    {"OffsetBleachRoi", 144, &R::OffsetBleachRoi, kLine},
    {"OffsetNextRecording", 148, &R::OffsetNextRecording, kLine},
    {"DisplayAspectX", 152, &R::DisplayAspectX, kGroup},
    {"DisplayAspectY", 160, &R::DisplayAspectY, kLine},
    {"DisplayAspectZ", 168, &R::DisplayAspectZ, kLine},
    {"DisplayAspectTime", 176, &R::DisplayAspectTime, kLine},
    {"OffsetMeanOfRoisOverlay", 184, &R::OffsetMeanOfRoisOverlay, kGroup},
    {"OffsetTopoIsolineOverlay", 188, &R::OffsetTopoIsolineOverlay, kGroup},
    {"OffsetTopoProfileOverlay", 192, &R::OffsetTopoProfileOverlay, kLine},
    {"OffsetLinescanOverlay", 196, &R::OffsetLinescanOverlay, kLine},
    {"ToolbarFlags", 200, &R::ToolbarFlags, kGroup},
    {"OffsetChannelWavelength", 204, &R::OffsetChannelWavelength, kLine},
    {"OffsetChannelFactors", 208, &R::OffsetChannelFactors, kLine},
    {"ObjectiveSphereCorrection", 212, &R::ObjectiveSphereCorrection, kHidden},
    {"ObjectiveSphereCorrection", 212, PrintedWord{}, kLine},
    {"OffsetUnmixParameters", 216, PrintedWord{}, kLine},
    {"OffsetUnmixParameters", 220, &R::OffsetUnmixParameters, kHidden},
    {"OffsetAcquisitionParameters", 224, &R::OffsetAcquisitionParameters, kHidden},
    {"OffsetCharacteristics", 228, &R::OffsetCharacteristics, kHidden},
    {"OffsetPalette", 232, &R::OffsetPalette, kHidden},
    {"TimeDifferenceX", 236, &R::TimeDifferenceX, kHidden},
    {"TimeDifferenceY", 244, &R::TimeDifferenceY, kHidden},
    {"TimeDifferenceZ", 252, &R::TimeDifferenceZ, kHidden},
    {"InternalUse1", 260, &R::InternalUse1, kHidden},
    {"DimensionP", 264, &R::DimensionP, kHidden},
    {"DimensionM", 268, &R::DimensionM, kHidden},
    {"DimensionsReserved", 272, &R::DimensionsReserved, kHidden},
    {"OffsetTilePositions", 336, &R::OffsetTilePositions, kHidden},
    {"OffsetPositions", 376, &R::OffsetPositions, kHidden},
};

template <typename T>
T load(const unsigned char* aBytes) {
    if constexpr (std::is_same_v<T, double>)
        return littleEndianDouble(aBytes);
    else if constexpr (sizeof(T) == 2)
        return T(littleEndian16(aBytes));
    else
        return T(littleEndian32(aBytes));
}

template <typename T>
void store(unsigned char* aBytes, T aValue) {
    if constexpr (std::is_same_v<T, double>)
        putLittleEndianDouble(aBytes, aValue);
    else
        putLittleEndian(aBytes, uint64_t(std::make_unsigned_t<T>(aValue)), sizeof(T));
}

// Reads one field from the stored record of aLength bytes; what lies past its end stays 0.
struct Decode {
    const unsigned char* bytes;
    std::size_t length;
    std::size_t offset;
    R& record;

    void operator()(PrintedWord) const {}
    template <typename T>
    void operator()(T R::*aMember) const {
        if (offset + sizeof(T) <= length) record.*aMember = load<T>(bytes + offset);
    }
    void operator()(int32_t (R::*aMember)[16]) const {
        for (std::size_t i = 0; i < 16 && offset + 4 * (i + 1) <= length; ++i)
            (record.*aMember)[i] = load<int32_t>(bytes + offset + 4 * i);
    }
};

// Lays a field out as the file stores it.
struct Encode {
    unsigned char* bytes;
    std::size_t offset;
    const R& record;

    void operator()(PrintedWord) const {}
    template <typename T>
    void operator()(T R::*aMember) const {
        store(bytes + offset, record.*aMember);
    }
    void operator()(int32_t (R::*aMember)[16]) const {
        for (std::size_t i = 0; i < 16; ++i) store(bytes + offset + 4 * i, (record.*aMember)[i]);
    }
};

struct Value {
    const R& record;

    LSMFieldValue operator()(PrintedWord) const { return int64_t(0); }
    LSMFieldValue operator()(double R::*aMember) const { return record.*aMember; }
    template <typename T>
    LSMFieldValue operator()(T R::*aMember) const {
        return int64_t(record.*aMember);
    }
    LSMFieldValue operator()(int32_t (R::*aMember)[16]) const {
        return std::vector<int64_t>(std::begin(record.*aMember), std::end(record.*aMember));
    }
};

// Record length: the StructureSize, when the tag holds more; a StructureSize too small for the
// interpreted prefix states no length.
std::size_t recordLength(const unsigned char* aBytes, std::size_t aCount) {
    const int32_t structureSize = load<int32_t>(aBytes + 4);
    if (structureSize >= int32_t(kLSMInfoRecordInterpretedSize) && std::size_t(structureSize) < aCount)
        return std::size_t(structureSize);
    return aCount;
}

// The type a line of the printout shows its stored bytes in.
struct PrintedType {
    const char* operator()(uint16_t R::*) const { return "short"; }
    const char* operator()(double R::*) const { return "double"; }
    template <typename M>
    const char* operator()(M) const {
        return "int";
    }
};

// "int dimensionX" padded with blanks to 30 characters, "= ", and the value the stored bytes hold
// in that type.
void printLine(const Field& aField, const unsigned char* aStored) {
    const std::string type = std::visit(PrintedType{}, aField.member);
    std::string label = type + " " + aField.name;
    if (label.size() < 30) label.append(30 - label.size(), ' ');
    reporterMessages << label << "= ";
    const unsigned char* bytes = aStored + aField.offset;
    if (type == "short")
        reporterMessages << load<int16_t>(bytes);
    else if (type == "double")
        reporterMessages << load<double>(bytes);
    else
        reporterMessages << load<int32_t>(bytes);
    reporterMessages << std::endl;
}

}  // namespace

bool decodeLSMInfoRecord(const void* aBytes, std::size_t aCount, LSMInfoRecord& aRecord) {
    aRecord = LSMInfoRecord();
    if (aBytes == nullptr || aCount < kLSMInfoRecordInterpretedSize) return false;
    const auto* bytes = static_cast<const unsigned char*>(aBytes);
    const std::size_t length = recordLength(bytes, aCount);
    for (const Field& field : kFields) std::visit(Decode{bytes, length, field.offset, aRecord}, field.member);
    return true;
}

void printLSMInfoRecord(const LSMInfoRecord& aRecord) {
    std::array<unsigned char, kLSMInfoRecordSize> stored{};
    for (const Field& field : kFields) std::visit(Encode{stored.data(), field.offset, aRecord}, field.member);
    reporterMessages << ReporterLevel(8);
    for (const Field& field : kFields) {
        if (field.printout == Printout::Hidden) continue;
        if (field.printout == Printout::LineAfterBlank) reporterMessages << std::endl;
        printLine(field, stored.data());
    }
}

std::vector<std::pair<const char*, LSMFieldValue>> lsmRecordValues(const LSMInfoRecord& aRecord) {
    std::vector<std::pair<const char*, LSMFieldValue>> values;
    for (const Field& field : kFields)
        if (!std::holds_alternative<PrintedWord>(field.member))
            values.emplace_back(field.name, std::visit(Value{aRecord}, field.member));
    return values;
}
