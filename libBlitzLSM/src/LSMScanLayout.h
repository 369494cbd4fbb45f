#ifndef KORVANE_LSMSCANLAYOUT_H
#define KORVANE_LSMSCANLAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "LSMInfoRecord.h"

namespace korvane {
namespace lsm {

// Where channel c's samples lie in the decoded bytes of one image directory (its strips laid end to
// end): row r of the directory starts at base + r * rowBytes, and column x is stride bytes after
// column x - 1, offset bytes into the row.
struct ChannelBytes {
    uint64_t base = 0;
    uint64_t rowBytes = 0;
    uint64_t stride = 0;
    uint64_t offset = 0;
};

// Where the planes of a stack lie among the image directories of one LSM file. Plane p = t * Z + z of
// series s fills rows [(p % k) * Y, (p % k + 1) * Y) of image directory s * D + p / k, k being
// planesPerDirectory and D directoriesPerSeries; its TIFF directory number is twice that, as every
// image is followed by its preview. A line scan keeps all its timepoints, an x-z scan all its z planes
// as the rows of one image (k = T or Z, Y = 1); an x-y stack has one image per plane (k = 1).
struct ScanLayout {
    uint64_t planesPerDirectory = 1;
    uint64_t directoriesPerSeries = 1;
    int positions = 1;
    int tiles = 1;
    int seriesCount = 1;
    // Samples of all channels side by side in each pixel (TIFF planar configuration 1) rather than one
    // plane of rows per channel.
    bool contiguous = false;
    std::vector<ChannelBytes> channels;
    uint64_t directoryBytes = 0;  // decoded bytes of one image directory, saturated at 2^64 - 1
    // Set when the image directories do not fit what the record describes: reads are refused with it.
    std::string refusal;

    // The image directory holding plane aPlane of series aSeries, and which of the image's planes it is.
    // One division at most: row after row of a line scan comes through here.
    uint64_t directory(uint64_t aSeries, uint64_t aPlane, uint64_t& aInImage) const {
        const uint64_t image = planesPerDirectory == 1       ? aPlane
                               : aPlane < planesPerDirectory ? 0
                                                             : aPlane / planesPerDirectory;
        aInImage = aPlane - image * planesPerDirectory;
        return 2 * (aSeries * directoriesPerSeries + image);
    }
    uint64_t directory(uint64_t aSeries, uint64_t aPlane) const {
        return 2 * (aSeries * directoriesPerSeries + aPlane / planesPerDirectory);
    }
    uint64_t lastDirectory(uint64_t aSeries) const { return 2 * ((aSeries + 1) * directoriesPerSeries - 1); }
};

// What the first image directory shows.
struct FirstImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 1;
    bool contiguous = false;
};

// Readable name of a ScanType code, "scan type N" for codes the format does not define.
std::string scanTypeName(uint16_t aScanType);

// The layout of a file whose record is aRecord (extents at least 1) and whose channels have
// aSampleBytes bytes each, as far as the record and its first image tell. Returns false with aError
// when the first image fits no layout of the record's scan type.
bool decideScanLayout(const LSMInfoRecord& aRecord, const std::vector<int>& aSampleBytes,
                      const FirstImage& aFirst, const std::string& aFileName, ScanLayout& aLayout,
                      std::string& aError);

// Splits the file into one series per position and tile when it holds aImageDirectories image
// directories, exactly what all of them need; otherwise every read is refused.
void assignSeries(ScanLayout& aLayout, uint64_t aImageDirectories, const std::string& aFileName);

}  // namespace lsm
}  // namespace korvane

#endif
