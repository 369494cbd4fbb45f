#include "InfoCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <variant>

#include "AcquisitionReport.h"
#include "DorudURIVuruda.h"
#include "LSMInfoRecord.h"
#include "PixelDataType.h"
#include "Reporter.h"
#include "StackSummary.h"
#include "TextCleaning.h"

namespace korvane::tools {

namespace {

// Collects the record printout, which the reading core sends through the reporters at level 8.
class RecordCapture : public ReporterImpl {
  public:
    static constexpr int kId = 810;
    explicit RecordCapture(std::string& aText) : mText(aText) {}
    int getId() override { return kId; }
    void progress(int, int) override {}
    void progress(float, float, float, float, float) override {}
    void message(int aLevel, const std::string& aText) override {
        if (aLevel == 8) mText += aText;
    }
    void note(int, const std::string&) override {}

  private:
    std::string& mText;
};

std::string recordPrintout(const LSMInfoRecord& aRecord) {
    std::string text;
    Reporter::addReporter(new RecordCapture(text));
    printLSMInfoRecord(aRecord);
    Reporter::removeReporter(RecordCapture::kId);
    return text;
}

// Record values as JSON numbers; doubles keep every bit (Qt writes the shortest text that reads back
// the same), and what JSON cannot hold, infinities and NaN, becomes null.
struct JsonNumber {
    QJsonValue operator()(int64_t aValue) const { return QJsonValue(qint64(aValue)); }
    QJsonValue operator()(double aValue) const { return QJsonValue(aValue); }
    QJsonValue operator()(const std::vector<int64_t>& aValues) const {
        QJsonArray array;
        for (const int64_t value : aValues) array.append(qint64(value));
        return array;
    }
};

std::string hexColor(uint32_t aRgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(aRgb & 0xffffff));
    return text;
}

QString utf8(const std::string& aText) { return QString::fromUtf8(aText.data(), int(aText.size())); }

}  // namespace

void printInfo(const std::string& aPath, bool aJson) {
    DorudURIVuruda reader;
    reader.open(aPath);
    const StackSummary stack = summarize(reader);
    const std::string record = recordPrintout(reader.getInfoRecord());
    std::error_code error;
    const uintmax_t fileSize = std::filesystem::file_size(aPath, error);

    if (aJson) {
        QJsonObject json{
            {"file", utf8(textFromFile(aPath))},
            {"format", utf8(reader.getFormat())},
            {"sizeX", stack.sizeX},
            {"sizeY", stack.sizeY},
            {"sizeZ", stack.sizeZ},
            {"sizeC", stack.sizeC},
            {"sizeT", stack.sizeT},
            {"voxelSize", QJsonArray{stack.voxelSize[0], stack.voxelSize[1], stack.voxelSize[2]}},
            {"timeInterval", stack.timeInterval},
            {"compression", utf8(compressionName(stack.compression))},
            {"fileSize", static_cast<qint64>(fileSize)}};
        QJsonArray types, colors, names;
        for (int c = 0; c < stack.sizeC; ++c) {
            types.append(utf8(pixelDataTypeName(stack.pixelTypes[c])));
            colors.append(utf8(hexColor(stack.channelColors[c])));
            names.append(utf8(stack.channelNames[c]));
        }
        json["pixelTypes"] = types;
        json["channelColors"] = colors;
        json["channelNames"] = names;
        QJsonObject fields;
        for (const auto& [name, value] : lsmRecordValues(reader.getInfoRecord()))
            fields[QLatin1String(name)] = std::visit(JsonNumber{}, value);
        json["lsmRecord"] = fields;
        json["acquisition"] = acquisitionJson(reader.getAcquisition());
        std::cout << QJsonDocument(json).toJson(QJsonDocument::Indented).constData();
        return;
    }

    std::cout << "File:           " << aPath << "\n"
              << "Format:         " << reader.getFormat() << "\n"
              << "File size:      " << fileSize << " bytes\n"
              << "Size:           x " << stack.sizeX << ", y " << stack.sizeY << ", z " << stack.sizeZ
              << ", channels " << stack.sizeC << ", timepoints " << stack.sizeT << "\n"
              << "Voxel size:     x " << stack.voxelSize[0] << ", y " << stack.voxelSize[1] << ", z "
              << stack.voxelSize[2] << " micrometres\n"
              << "Time interval:  " << stack.timeInterval << " s\n"
              << "Compression:    " << compressionName(stack.compression) << "\n"
              << "Channels:\n";
    for (int c = 0; c < stack.sizeC; ++c)
        std::cout << "  " << c << "  " << pixelDataTypeName(stack.pixelTypes[c]) << "  "
                  << hexColor(stack.channelColors[c]) << "  " << stack.channelNames[c] << "\n";
    std::cout << "\nLSM record:\n" << record << acquisitionText(reader.getAcquisition());
}

}  // namespace korvane::tools
