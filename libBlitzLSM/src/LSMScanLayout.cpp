#include "LSMScanLayout.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace korvane {
namespace lsm {
namespace {

// Hostile records may claim extents whose byte counts pass 2^64; saturated, they can only fail the
// size checks of the reads.
uint64_t product(uint64_t a, uint64_t b) { return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b; }
uint64_t sum(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace

std::string scanTypeName(uint16_t aScanType) {
    static const char* const kNames[] = {"x-y-z stack",       "x-z scan",
                                         "line scan",         "x-y time series",
                                         "x-z time series",   "mean-of-ROI time series",
                                         "x-y-z time series", "spline scan",
                                         "spline x-z scan",   "spline x-z time series",
                                         "point scan"};
    return aScanType < std::size(kNames) ? kNames[aScanType] : "scan type " + std::to_string(aScanType);
}

bool decideScanLayout(const LSMInfoRecord& aRecord, const std::vector<int>& aSampleBytes,
                      const FirstImage& aFirst, const std::string& aFileName, ScanLayout& aLayout,
                      std::string& aError) {
    aLayout = ScanLayout();
    const uint64_t x = uint64_t(aRecord.dimensionX);
    const uint64_t y = uint64_t(aRecord.dimensionY);
    const uint64_t z = uint64_t(aRecord.dimensionZ);
    const uint64_t t = uint64_t(aRecord.dimensionTime);

    // Scan types without y keep their z planes or timepoints as the rows of one image. Older files
    // store one image per plane instead; which of the two a file holds, its first image tells.
    uint64_t stacked = 1;
    const char* rows = nullptr;
    switch (aRecord.ScanType) {
        case 1:  // x-z
        case 4:  // x-z, one image per timepoint
        case 8:  // spline x-z
        case 9:  // spline x-z, one image per timepoint
            stacked = z;
            rows = "z planes";
            break;
        case 2:                        // line
        case 5:                        // mean of ROIs
        case 10:                       // point
            stacked = z == 1 ? t : 0;  // no known order of lines over z and time
            rows = "timepoints";
            break;
        default:  // x-y images, one per plane; spline scans are taken to be stored so too
            break;
    }
    const bool oneImagePerPlane = aFirst.width == x && aFirst.height == y;
    if (rows != nullptr && y == 1 && stacked > 1 && aFirst.width == x && aFirst.height == stacked) {
        aLayout.planesPerDirectory = stacked;
    } else if (rows != nullptr && !oneImagePerPlane) {
        std::ostringstream text;
        text << "The first image of file '" << aFileName << "' is " << aFirst.width << " x " << aFirst.height
             << " pixels, which fits no layout of a " << scanTypeName(aRecord.ScanType) << " (ScanType "
             << aRecord.ScanType << ") of " << x << " x " << y << " pixels, " << z << " z plane(s) and " << t
             << " timepoint(s): ";
        if (y == 1 && stacked > 1)
            text << "one image of " << x << " x " << stacked << " (its " << rows << " as rows) or ";
        text << "one image of " << x << " x " << y << " per plane.";
        aError = text.str();
        return false;
    }
    aLayout.directoriesPerSeries = z * t / aLayout.planesPerDirectory;  // the divisor is 1, z or t (z = 1)

    // Every image holds all channels, as planes of rows one after the other or side by side in each pixel.
    const uint64_t channels = aSampleBytes.size();
    aLayout.contiguous = aFirst.contiguous && channels > 1;
    if (aLayout.contiguous && aFirst.samplesPerPixel != channels) {
        std::ostringstream text;
        text << "The first image of file '" << aFileName << "' holds " << aFirst.samplesPerPixel
             << " sample(s) per pixel, not one for each of its " << channels << " channels.";
        aError = text.str();
        return false;
    }
    const uint64_t pixels = product(x, product(aLayout.planesPerDirectory, y));
    uint64_t pixelBytes = 0;
    for (const int bytes : aSampleBytes) pixelBytes += uint64_t(bytes);  // at most 4 * 65535
    uint64_t before = 0;  // bytes of the channels before this one: in a pixel, or in the image
    for (const int bytes : aSampleBytes) {
        ChannelBytes channel;
        if (aLayout.contiguous) {
            channel.rowBytes = product(x, pixelBytes);
            channel.stride = pixelBytes;
            channel.offset = before;
            before += uint64_t(bytes);
        } else {
            channel.base = before;
            channel.rowBytes = product(x, uint64_t(bytes));
            channel.stride = uint64_t(bytes);
            before = sum(before, product(pixels, uint64_t(bytes)));
        }
        aLayout.channels.push_back(channel);
    }
    aLayout.directoryBytes = product(pixels, pixelBytes);

    aLayout.positions = std::max(aRecord.DimensionP, 1);
    aLayout.tiles = std::max(aRecord.DimensionM, 1);
    return true;
}

void assignSeries(ScanLayout& aLayout, uint64_t aImageDirectories, const std::string& aFileName) {
    const uint64_t series = uint64_t(aLayout.positions) * uint64_t(aLayout.tiles);
    if (series <= 1) return;
    // Directories come position by position (tile by tile), so each series is a run of them.
    const uint64_t each = aLayout.directoriesPerSeries;
    if (aImageDirectories % each == 0 && aImageDirectories / each == series) {
        aLayout.seriesCount = int(series);  // no more than the image directories a file can have
        return;
    }
    std::ostringstream text;
    text << "File '" << aFileName << "' records " << aLayout.positions << " position(s) and " << aLayout.tiles
         << " tile(s) of " << each << " image(s) each, but holds " << aImageDirectories
         << " image(s): which image belongs to which position or tile cannot be told.";
    aLayout.refusal = text.str();
}

}  // namespace lsm
}  // namespace korvane
