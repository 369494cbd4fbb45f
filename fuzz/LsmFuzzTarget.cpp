// libFuzzer entry: the input is an LSM file opened through the reader's own stream procedures.
// Every reader operation must either succeed or throw BlitzFileIOException; anything else escapes
// and ends the run.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "DorudURIVuruda.h"

namespace {

// Claims beyond these are skipped after open: reading them would only time out or run out of memory
// without reaching code the smaller claims do not.
constexpr uint64_t kMaxPlanePixels = uint64_t(1) << 18;
constexpr uint64_t kMaxPlaneReads = 512;

template <typename Action>
bool attempt(Action aAction) {
    try {
        aAction();
        return true;
    } catch (const BlitzFileIOException&) {
        return false;
    }
}

void queryEverything(DorudURIVuruda& aReader) {
    attempt([&] {
        PropertiesMap properties;
        aReader.getProperties(properties, 0, 0, 0);
        MetaDataMap metaData;
        aReader.getMetaData(metaData);
        aReader.getMetaDataValue("DimensionX");
        aReader.getElementSize(0, 0, 0);
        aReader.getStagePosition(0, 0, 0);
        aReader.getTimeInterval();
        aReader.getFormat();
        aReader.getCurrentFile();
        aReader.getSeriesCount();
        const LSMAcquisition& acquisition = aReader.getAcquisition();
        if (acquisition.recording.startTime) lsmIso8601(*acquisition.recording.startTime);
        for (int c = 0; c < aReader.getSizeC(); ++c) {
            aReader.getPixelType(c);
            aReader.getPixelTypeName(c);
            aReader.getChannelColor(c);
            // Every index the link gives must name an element of the model.
            const LSMChannelHardware link = lsmChannelHardware(acquisition, c);
            if (link.track < 0) continue;
            const LSMTrack& track = acquisition.tracks.at(size_t(link.track));
            track.dataChannels.at(size_t(link.dataChannel));
            if (link.detectionChannel >= 0) track.detectionChannels.at(size_t(link.detectionChannel));
            for (const int i : link.illuminationChannels) track.illuminationChannels.at(size_t(i));
        }
    });
}

void readEverything(DorudURIVuruda& aReader) {
    const uint64_t x = aReader.getSizeX(), y = aReader.getSizeY(), z = aReader.getSizeZ();
    const uint64_t c = aReader.getSizeC(), t = aReader.getSizeT();
    if (x * y > kMaxPlanePixels || z * c * t > kMaxPlaneReads) return;
    for (int ti = 0; ti < int(t); ++ti)
        for (int ci = 0; ci < int(c); ++ci) {
            blitz::Array<unsigned char, 3> stack;
            if (!attempt([&] { aReader.readArray(stack, ti, ci, 0, 0, 0, 0, 0, 0); })) return;
            for (int zi = 0; zi < int(z); ++zi) {
                blitz::Array<float, 2> plane;
                if (!attempt([&] { aReader.readArray(plane, ti, ci, zi, 1, 0, 0, 0, 0); })) return;
            }
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
    static const int fd = memfd_create("lsm-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, aData, aSize, 0) != ssize_t(aSize)) return 0;

    DorudURIVuruda reader;
    if (!attempt([&] { reader.open(path); })) return 0;
    queryEverything(reader);
    attempt([&] { readEverything(reader); });
    attempt([&] {  // the last position or tile, where there are several
        reader.setSeries(reader.getSeriesCount() - 1);
        if (reader.getSeriesCount() > 1) readEverything(reader);
    });
    attempt([&] {
        blitz::Array<unsigned short, 2> thumbnail;
        reader.readThumbnail(thumbnail);
    });
    reader.close();
    return 0;
}
