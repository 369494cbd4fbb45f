// korvane-lsm: looks into LSM stacks and converts them to OME-TIFF from the command line.
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <variant>

#include "DorudURIVuruda.h"
#include "LSMInfoRecord.h"
#include "OmeTiffConverter.h"
#include "PixelDataType.h"
#include "Reporter.h"
#include "StackSummary.h"
#include "TextCleaning.h"
#include "ToolArguments.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

using namespace korvane::tools;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: korvane-lsm info FILE.lsm [--json]\n"
    "       korvane-lsm convert IN.lsm OUT.ome.tif [--compression none|lzw|deflate] [--bigtiff] [--force]\n"
    "       korvane-lsm --help | --version\n";

const char* const kHelp =
    "\n"
    "Looks into confocal-microscopy stacks stored as LSM files and converts them to OME-TIFF, an open\n"
    "format that most imaging programs read. A stack has x, y, z planes, channels and timepoints.\n"
    "\n"
    "COMMANDS\n"
    "  info FILE.lsm\n"
    "      Prints the stack's sizes (x, y, z, channels, timepoints), each channel's sample type, name\n"
    "      and display colour, the voxel size in micrometres, the time between timepoints, the\n"
    "      compression of the pixel data, the file size, and the file's LSM record field by field.\n"
    "\n"
    "  convert IN.lsm OUT.ome.tif\n"
    "      Writes the stack as OME-TIFF: one TIFF directory per plane, in the order z fastest, then\n"
    "      channel, then timepoint (DimensionOrder XYZCT); the first directory's ImageDescription\n"
    "      holds the OME-XML (schema 2016-06) with the sizes, the sample type, the voxel size in\n"
    "      micrometres, the time increment, each channel's name and colour, and one TiffData entry per\n"
    "      plane. Pixel values are copied exactly. Channels of different sample types are all written\n"
    "      in the widest of them (8-bit < 16-bit < float), which holds every value unchanged.\n"
    "      The stack is read and written one plane at a time, so memory use does not grow with its\n"
    "      size. The output is written to a hidden temporary file beside OUT and renamed to OUT only\n"
    "      when complete: a failed or interrupted conversion never leaves a partial OUT. When standard\n"
    "      error is a terminal, a progress bar is shown there.\n"
    "\n"
    "OPTIONS\n"
    "  --json                   info: print one JSON object instead of text, with the keys sizeX,\n"
    "                           sizeY, sizeZ, sizeC, sizeT, pixelTypes, voxelSize ([x, y, z] in\n"
    "                           micrometres), timeInterval (seconds), channelNames, channelColors\n"
    "                           (\"#rrggbb\"), compression, fileSize (bytes), format, file and\n"
    "                           lsmRecord (every field of the record, as numbers; doubles\n"
    "                           exactly as stored, null when not finite).\n"
    "  --compression METHOD     convert: none (the default), lzw or deflate; all three are lossless.\n"
    "  --bigtiff                convert: always write BigTIFF. Without it BigTIFF is chosen only\n"
    "                           when the output could pass 4 GiB, the limit of classic TIFF.\n"
    "  --force                  convert: replace OUT if it exists (otherwise it is left untouched).\n"
    "  -h, --help               print this help and exit.\n"
    "  -v, --version            print the version and exit.\n"
    "  --                       ends the options: what follows are file names, even with a leading '-'.\n"
    "\n"
    "EXIT STATUS\n"
    "  0  success.\n"
    "  1  the input could not be read (the reader's message is printed on standard error), the\n"
    "     output could not be written, or OUT exists and --force was not given.\n"
    "  2  usage error: unknown command or option, wrong number of files, bad option value, or an\n"
    "     output that is the input itself.\n"
    "\n"
    "EXAMPLES\n"
    "  korvane-lsm info cells.lsm\n"
    "  korvane-lsm info --json cells.lsm | python3 -m json.tool\n"
    "  korvane-lsm convert cells.lsm cells.ome.tif\n"
    "  korvane-lsm convert --compression deflate --force cells.lsm cells.ome.tif\n"
    "  for f in *.lsm; do korvane-lsm convert \"$f\" \"${f%.lsm}.ome.tif\" || echo \"failed: $f\"; done\n";

int usageError(const std::string& aMessage) {
    std::cerr << "korvane-lsm: " << aMessage << "\n" << kUsage << "Try 'korvane-lsm --help' for more.\n";
    return kExitUsage;
}

// True while a progress bar line is unfinished on standard error.
bool gBarOpen = false;

int failure(const std::string& aMessage) {
    if (gBarOpen) std::cerr << "\n";
    std::cerr << "korvane-lsm: " << aMessage;
    if (aMessage.empty() || aMessage.back() != '\n') std::cerr << "\n";
    return kExitFailure;
}

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

int info(const std::string& aPath, bool aJson) {
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
        std::cout << QJsonDocument(json).toJson(QJsonDocument::Indented).constData();
        return 0;
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
    std::cout << "\nLSM record:\n" << record;
    return 0;
}

// Redraws the bar only when the shown percentage changes.
bool drawProgress(int64_t aDone, int64_t aTotal) {
    static int shown = -1;
    const int percent = aTotal > 0 ? int(aDone * 100 / aTotal) : 100;
    if (percent == shown && aDone != aTotal) return true;
    shown = percent;
    const int width = 40, filled = percent * width / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%  plane %lld of %lld", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), percent, static_cast<long long>(aDone),
                 static_cast<long long>(aTotal));
    gBarOpen = aDone != aTotal;
    if (!gBarOpen) std::fputc('\n', stderr);
    std::fflush(stderr);
    return true;
}

int convert(const std::string& aInput, const std::string& aOutput, const ConvertOptions& aOptions) {
    std::error_code error;
    if (std::filesystem::equivalent(aInput, aOutput, error))
        return usageError("the output '" + aOutput + "' is the input itself");
    // Checked first so that a long conversion does not end in this refusal; the final move checks again.
    if (!aOptions.replace &&
        std::filesystem::symlink_status(aOutput, error).type() != std::filesystem::file_type::not_found &&
        !error)
        return failure("'" + aOutput + "' exists; use --force to replace it");
    DorudURIVuruda reader;
    reader.open(aInput);
    ConvertOptions options = aOptions;
    if (isatty(STDERR_FILENO)) options.progress = drawProgress;
    convertToOmeTiff(reader, std::filesystem::path(aInput).filename().string(), aOutput, options);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ToolArguments arguments;
    const std::string error = parseToolArguments(argc, argv, arguments);
    if (!error.empty()) return usageError(error);
    if (arguments.help) {
        std::cout << kUsage << kHelp;
        return 0;
    }
    if (arguments.version) {
        std::cout << "korvane-lsm " << KORVANE_VERSION << "\n";
        return 0;
    }

    if (arguments.words.empty()) return usageError("no command given");
    const std::string& command = arguments.words.front();
    const std::vector<std::string> files(arguments.words.begin() + 1, arguments.words.end());

    try {
        if (command == "info") {
            const std::pair<bool, const char*> convertOptions[] = {
                {arguments.compression.has_value(), "compression"},
                {arguments.bigTiff, "bigtiff"},
                {arguments.force, "force"}};
            for (const auto& [set, name] : convertOptions)
                if (set) return usageError(std::string("info takes no --") + name);
            if (files.size() != 1) return usageError("info needs exactly one FILE");
            return info(files[0], arguments.json);
        }
        if (command == "convert") {
            if (arguments.json) return usageError("convert takes no --json");
            if (files.size() != 2) return usageError("convert needs IN and OUT");
            ConvertOptions options;
            std::string method = arguments.compression.value_or("");
            std::transform(method.begin(), method.end(), method.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            if (method == "lzw")
                options.compression = OutputCompression::Lzw;
            else if (method == "deflate" || method == "zip")
                options.compression = OutputCompression::Deflate;
            else if (!method.empty() && method != "none")
                return usageError("unknown compression '" + method + "' (none, lzw or deflate)");
            options.bigTiff = arguments.bigTiff;
            options.replace = arguments.force;
            return convert(files[0], files[1], options);
        }
        return usageError("unknown command '" + command + "'");
    } catch (const BlitzFileIOException& e) {
        return failure(e.what());
    } catch (const std::exception& e) {
        return failure(e.what());
    }
}
