// korvane-lsm: looks into LSM stacks and converts them to OME-TIFF from the command line.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "BlitzFileIOException.h"
#include "DorudURIVuruda.h"
#include "InfoCommand.h"
#include "OmeTiffConverter.h"
#include "OmeXml.h"
#include "ProjectedPlaneSource.h"
#include "StackSummary.h"
#include "ToolArguments.h"
#include "ZProjector.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

using namespace korvane::tools;
using korvane::analysis::ProjectionMethod;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: korvane-lsm info FILE.lsm [--json]\n"
    "       korvane-lsm convert IN.lsm OUT.ome.tif [--compression none|lzw|deflate] [--bigtiff] [--force]\n"
    "       korvane-lsm project --method max|min|mean|sum|sd [--z FROM:TO] IN.lsm OUT.ome.tif\n"
    "                   [--compression none|lzw|deflate] [--bigtiff] [--force]\n"
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
    "      compression of the pixel data, the file size, and the file's LSM record field by field;\n"
    "      then what the microscope recorded about the acquisition, in sections: the scan type, the\n"
    "      recording (name, description, notes, objective, scan mode, zoom, pixel spacing, start time\n"
    "      as the microscope's clock showed it, user, microscope), the lasers, each track with its\n"
    "      detection channels (detector, gain, amplifier, pinhole, filter, detected band),\n"
    "      illumination channels (wavelength, power), beam splitters and data channels, timers and\n"
    "      markers, the time stamps (count, first, last, mean interval), events, each channel's\n"
    "      detected wavelengths and the stage positions. What the file does not record is left out.\n"
    "\n"
    "  convert IN.lsm OUT.ome.tif\n"
    "      Writes the stack as OME-TIFF: one TIFF directory per plane, in the order z fastest, then\n"
    "      channel, then timepoint (DimensionOrder XYZCT); the first directory's ImageDescription\n"
    "      holds the OME-XML (schema 2016-06) with the sizes, the sample type, the voxel size in\n"
    "      micrometres, the time increment, each channel's name and colour, and one TiffData and one\n"
    "      Plane entry per plane (with the time since the first timepoint, from the time stamps).\n"
    "      What the file records about the acquisition goes with it: the acquisition date, the\n"
    "      description and the user, and an Instrument with the microscope, the objective (its\n"
    "      magnification, numerical aperture, immersion and correction read from its label), the lasers,\n"
    "      detectors and emission filters the channels used, linked from each channel together with its\n"
    "      excitation and emission wavelengths and pinhole. Pixel values are copied exactly. Channels\n"
    "      of different sample types are all written in the widest of them (8-bit < 16-bit < 32-bit\n"
    "      < float, double for 32-bit integers beside float), which holds every value unchanged.\n"
    "      A file of several stage positions or mosaic tiles gives one OME image for each, named\n"
    "      after the file with the position and tile.\n"
    "      The stack is read and written one plane at a time, so memory use does not grow with its\n"
    "      size. The output is written to a hidden temporary file beside OUT and renamed to OUT only\n"
    "      when complete: a failed or interrupted conversion never leaves a partial OUT. When standard\n"
    "      error is a terminal, a progress bar is shown there.\n"
    "\n"
    "  project --method METHOD IN.lsm OUT.ome.tif\n"
    "      Projects every channel at every timepoint over its z planes (all of them, or those --z\n"
    "      gives) and writes the projections as OME-TIFF with one z plane, as convert writes a stack:\n"
    "      the same layout and metadata, the same temporary file, progress bar and exit statuses.\n"
    "      METHOD is max or min (the brightest or darkest sample, in the channel's own type), mean,\n"
    "      sum or sd (the sample standard deviation, divided by n - 1). Mean and sd are written as\n"
    "      float; sum as 32-bit unsigned integers for 8- and 16-bit data (a sum beyond 4294967295\n"
    "      stays at 4294967295) and as float for float data. NaN samples are left out. Channels\n"
    "      whose projections differ in type are all written in the widest of them. Of a file with\n"
    "      several stage positions or mosaic tiles only the first is projected, and a warning says so.\n"
    "\n"
    "OPTIONS\n"
    "  --json                   info: print one JSON object instead of text, with the keys sizeX,\n"
    "                           sizeY, sizeZ, sizeC, sizeT, pixelTypes, voxelSize ([x, y, z] in\n"
    "                           micrometres), timeInterval (seconds), channelNames, channelColors\n"
    "                           (\"#rrggbb\"), compression, fileSize (bytes), format, file and\n"
    "                           lsmRecord (every field of the record, as numbers; doubles\n"
    "                           exactly as stored, null when not finite) and acquisition: scanType\n"
    "                           (the record's number), scanTypeName, spectralScan, microscope,\n"
    "                           recording (name, description, notes, objective, scanMode,\n"
    "                           specialScanMode, user, bidirectional, zoom {x, y, z}, sample-,\n"
    "                           line- and planeSpacing in micrometres, startTime as\n"
    "                           YYYY-MM-DDTHH:MM:SS, local time), lasers (name, wavelength in nm\n"
    "                           where the name gives it, power in mW, acquired), tracks in file\n"
    "                           order (name, acquired, pixelTime in microseconds, averaging,\n"
    "                           timeBetweenStacks, detectionChannels with gain in V, amplifierGain,\n"
    "                           amplifierOffset, pinholeDiameter in micrometres, filter,\n"
    "                           spectralStart/Stop in nm; illuminationChannels with wavelength in\n"
    "                           nm and power in per cent; beamSplitters; dataChannels with\n"
    "                           imageChannel and bitsPerSample), timers, markers, timeStamps\n"
    "                           (seconds as stored, all of them), events (time in seconds, type,\n"
    "                           typeName, description), channelWavelengths ([from, to] in nm per\n"
    "                           channel, null when not known), positions and tilePositions\n"
    "                           ([x, y, z] as stored, taken to be metres). Values the file does not\n"
    "                           give are absent keys.\n"
    "  --compression METHOD     convert, project: none (the default), lzw or deflate; all three are\n"
    "                           lossless.\n"
    "  --bigtiff                convert, project: always write BigTIFF. Without it BigTIFF is chosen\n"
    "                           only when the output could pass 4 GiB, the limit of classic TIFF.\n"
    "  --force                  convert, project: replace OUT if it exists (otherwise it is left\n"
    "                           untouched).\n"
    "  --method METHOD          project: max, min, mean, sum or sd.\n"
    "  --z FROM:TO              project: only z planes FROM to TO, both included, counted from 0 as\n"
    "                           the viewer counts them; FROM: runs to the last plane, :TO from the\n"
    "                           first. Without it every plane is projected.\n"
    "  -h, --help               print this help and exit.\n"
    "  -v, --version            print the version and exit.\n"
    "  --                       ends the options: what follows are file names, even with a leading '-'.\n"
    "\n"
    "EXIT STATUS\n"
    "  0  success.\n"
    "  1  the input could not be read (the reader's message is printed on standard error), the\n"
    "     output could not be written, or OUT exists and --force was not given.\n"
    "  2  usage error: unknown command or option, wrong number of files, bad option value, an\n"
    "     output that is the input itself, or a --z range outside the stack or with FROM > TO.\n"
    "\n"
    "EXAMPLES\n"
    "  korvane-lsm info cells.lsm\n"
    "  korvane-lsm info --json cells.lsm | python3 -m json.tool\n"
    "  korvane-lsm convert cells.lsm cells.ome.tif\n"
    "  korvane-lsm convert --compression deflate --force cells.lsm cells.ome.tif\n"
    "  korvane-lsm project --method max cells.lsm cells-mip.ome.tif\n"
    "  korvane-lsm project --method mean --z 10:19 cells.lsm cells-mean.ome.tif\n"
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

// Refuses an output that is the input, and one that exists without --force, before any work: a long
// conversion should not end in this refusal (the final move checks again).
int checkOutput(const std::string& aInput, const std::string& aOutput, bool aReplace) {
    std::error_code error;
    if (std::filesystem::equivalent(aInput, aOutput, error))
        return usageError("the output '" + aOutput + "' is the input itself");
    if (!aReplace &&
        std::filesystem::symlink_status(aOutput, error).type() != std::filesystem::file_type::not_found &&
        !error)
        return failure("'" + aOutput + "' exists; use --force to replace it");
    return 0;
}

std::string imageName(const std::string& aInput) { return std::filesystem::path(aInput).filename().string(); }

// Files of several stage positions or mosaic tiles hold a stack for each; a projection has the first.
void warnOfFurtherSeries(DorudURIVuruda& aReader, const std::string& aInput) {
    const int series = aReader.getSeriesCount();
    if (series > 1)
        std::cerr << "korvane-lsm: warning: '" << aInput << "' holds " << series
                  << " series (stage positions or mosaic tiles); only the first is written\n";
}

int convert(const std::string& aInput, const std::string& aOutput, const ConvertOptions& aOptions) {
    if (const int refused = checkOutput(aInput, aOutput, aOptions.replace)) return refused;
    DorudURIVuruda reader;
    reader.open(aInput);
    ConvertOptions options = aOptions;
    if (isatty(STDERR_FILENO)) options.progress = drawProgress;
    convertToOmeTiff(reader, imageName(aInput), aOutput, options);
    return 0;
}

// A z range as FROM:TO; either end may be left out. Nothing when the text is no such range.
std::optional<std::pair<int, int>> zRangeFrom(const std::string& aText, int aSizeZ) {
    const std::string::size_type colon = aText.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto bound = [](const std::string& aNumber, int aDefault) -> std::optional<int> {
        if (aNumber.empty()) return aDefault;
        if (aNumber.size() > 9 || !std::all_of(aNumber.begin(), aNumber.end(),
                                               [](unsigned char c) { return std::isdigit(c) != 0; }))
            return std::nullopt;
        return std::stoi(aNumber);
    };
    const std::optional<int> from = bound(aText.substr(0, colon), 0);
    const std::optional<int> to = bound(aText.substr(colon + 1), aSizeZ - 1);
    if (!from || !to) return std::nullopt;
    return std::make_pair(*from, *to);
}

std::string projectionMethodTitle(ProjectionMethod aMethod) {
    switch (aMethod) {
        case ProjectionMethod::Maximum:
            return "Maximum";
        case ProjectionMethod::Minimum:
            return "Minimum";
        case ProjectionMethod::Mean:
            return "Mean";
        case ProjectionMethod::Sum:
            return "Sum";
        case ProjectionMethod::StandardDeviation:
            return "Standard deviation";
    }
    return "Unknown";
}

int project(ProjectionMethod aMethod, const std::optional<std::string>& aZRange, const std::string& aInput,
            const std::string& aOutput, const ConvertOptions& aOptions) {
    if (aZRange && !zRangeFrom(*aZRange, 1))
        return usageError("--z takes FROM:TO, z plane numbers counted from 0, not '" + *aZRange + "'");
    if (const int refused = checkOutput(aInput, aOutput, aOptions.replace)) return refused;
    korvane::analysis::ZProjector projector(aInput);
    DorudURIVuruda& reader = projector.reader();
    warnOfFurtherSeries(reader, aInput);
    const int sizeZ = reader.getSizeZ();
    const auto [zFirst, zLast] = zRangeFrom(aZRange.value_or(":"), sizeZ).value();
    if (zFirst >= sizeZ || zLast >= sizeZ)
        return usageError("--z " + *aZRange + " lies outside the stack's z planes 0 to " +
                          std::to_string(sizeZ - 1));
    if (zFirst > zLast) return usageError("--z " + *aZRange + ": FROM is past TO");
    requireLastPlane(reader, zLast);

    StackSummary stack = summarize(reader);
    stack.sizeZ = 1;
    stack.voxelSize[2] = 0;  // one plane stands for the range: no z step
    for (int& type : stack.pixelTypes) type = korvane::analysis::projectedPixelType(aMethod, type);
    const int type = commonPixelType(stack.pixelTypes);
    ProjectedPlaneSource source(projector, aMethod, zFirst, zLast,
                                isatty(STDERR_FILENO)
                                    ? std::function<void(int64_t, int64_t)>(
                                          [](int64_t aDone, int64_t aTotal) { drawProgress(aDone, aTotal); })
                                    : nullptr);
    ConvertOptions options = aOptions;
    options.progress = nullptr;  // the source shows the planes it reads
    OmeImageMetadata metadata = imageMetadata(reader, stack, imageName(aInput));
    // The values are no longer the detector's, and the image says where they come from.
    metadata.significantBits.reset();
    const std::string note = projectionMethodTitle(aMethod) + " projection of z planes " +
                             std::to_string(zFirst) + " to " + std::to_string(zLast);
    metadata.description = metadata.description.empty() ? note : metadata.description + "\n" + note;
    writeOmeTiff(source, stack, type, omeXml(stack, type, metadata), aOutput, options);
    return 0;
}

// The output options of convert and project; a usage error's message, or an empty text.
std::string outputOptions(const ToolArguments& aArguments, ConvertOptions& aOptions) {
    std::string method = aArguments.compression.value_or("");
    std::transform(method.begin(), method.end(), method.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (method == "lzw")
        aOptions.compression = OutputCompression::Lzw;
    else if (method == "deflate" || method == "zip")
        aOptions.compression = OutputCompression::Deflate;
    else if (!method.empty() && method != "none")
        return "unknown compression '" + method + "' (none, lzw or deflate)";
    aOptions.bigTiff = aArguments.bigTiff;
    aOptions.replace = aArguments.force;
    return std::string();
}

// The first option of aOptions that is set, for "COMMAND takes no --OPTION"; null when none is.
const char* firstSet(std::initializer_list<std::pair<bool, const char*>> aOptions) {
    for (const auto& [set, name] : aOptions)
        if (set) return name;
    return nullptr;
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
    const std::pair<bool, const char*> json{arguments.json, "json"};
    const std::pair<bool, const char*> projection[] = {{arguments.method.has_value(), "method"},
                                                       {arguments.zRange.has_value(), "z"}};

    try {
        if (command == "info") {
            if (const char* option = firstSet({{arguments.compression.has_value(), "compression"},
                                               {arguments.bigTiff, "bigtiff"},
                                               {arguments.force, "force"},
                                               projection[0],
                                               projection[1]}))
                return usageError(std::string("info takes no --") + option);
            if (files.size() != 1) return usageError("info needs exactly one FILE");
            printInfo(files[0], arguments.json);
            return 0;
        }
        if (command == "convert" || command == "project") {
            const bool converting = command == "convert";
            if (const char* option =
                    converting ? firstSet({json, projection[0], projection[1]}) : firstSet({json}))
                return usageError(command + " takes no --" + option);
            if (files.size() != 2) return usageError(command + " needs IN and OUT");
            ConvertOptions options;
            const std::string wrong = outputOptions(arguments, options);
            if (!wrong.empty()) return usageError(wrong);
            if (converting) return convert(files[0], files[1], options);
            if (!arguments.method) return usageError("project needs --method (max, min, mean, sum or sd)");
            const auto method = korvane::analysis::projectionMethodNamed(*arguments.method);
            if (!method)
                return usageError("unknown projection method '" + *arguments.method +
                                  "' (max, min, mean, sum or sd)");
            return project(*method, arguments.zRange, files[0], files[1], options);
        }
        return usageError("unknown command '" + command + "'");
    } catch (const BlitzFileIOException& e) {
        return failure(e.what());
    } catch (const std::exception& e) {
        return failure(e.what());
    }
}
