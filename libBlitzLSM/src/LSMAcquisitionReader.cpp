#include <algorithm>
#include <exception>
#include <functional>
#include <string>

#include "LSMAcquisitionBlocks.h"

namespace {

// Runs one block's parser; should anything escape it, that block's part is reset and warned about.
void readBlock(LSMBlockFile& aFile, const char* aBlock, uint64_t aOffset, const std::function<void()>& aRead,
               const std::function<void()>& aReset) {
    try {
        aRead();
    } catch (const std::exception& e) {
        aReset();
        aFile.warn(aBlock, aOffset, std::string("could not be read (") + e.what() + "); it is ignored");
    }
}

}  // namespace

LSMAcquisitionBlocks lsmAcquisitionBlocks(const LSMInfoRecord& aRecord, uint32_t aChannels) {
    LSMAcquisitionBlocks blocks;
    blocks.scanInformation = aRecord.OffsetScanInformation;
    blocks.timeStamps = aRecord.OffsetTimeStamps;
    blocks.eventList = aRecord.OffsetEventList;
    blocks.channelWavelength = aRecord.OffsetChannelWavelength;
    blocks.positions = aRecord.OffsetPositions;
    blocks.tilePositions = aRecord.OffsetTilePositions;
    blocks.characteristics = aRecord.OffsetCharacteristics;
    blocks.channels = aChannels;
    // Older files store 0 for a single position and a single tile.
    blocks.positionCount = uint32_t(std::max(aRecord.DimensionP, 1));
    blocks.tileCount = uint32_t(std::max(aRecord.DimensionM, 1));
    return blocks;
}

LSMAcquisition readLSMAcquisition(LSMBlockFile& aFile, const LSMAcquisitionBlocks& aBlocks) {
    LSMAcquisition a;
    readBlock(
        aFile, "ScanInformation block", aBlocks.scanInformation,
        [&] { readScanInformation(aFile, aBlocks.scanInformation, a); },
        [&] {
            a.recording = LSMRecording();
            a.lasers.clear();
            a.tracks.clear();
            a.timers.clear();
            a.markers.clear();
        });
    readBlock(
        aFile, "TimeStamps block", aBlocks.timeStamps,
        [&] { readTimeStamps(aFile, aBlocks.timeStamps, a.timeStamps_s); }, [&] { a.timeStamps_s.clear(); });
    readBlock(
        aFile, "EventList block", aBlocks.eventList,
        [&] { readEventList(aFile, aBlocks.eventList, a.events); }, [&] { a.events.clear(); });
    readBlock(
        aFile, "ChannelWavelength block", aBlocks.channelWavelength,
        [&] {
            readChannelWavelengths(aFile, aBlocks.channelWavelength, aBlocks.channels, a.channelWavelengths);
        },
        [&] { a.channelWavelengths.clear(); });
    readBlock(
        aFile, "Positions block", aBlocks.positions,
        [&] {
            readPositions(aFile, "Positions block", aBlocks.positions, aBlocks.positionCount, a.positions);
        },
        [&] { a.positions.clear(); });
    readBlock(
        aFile, "TilePositions block", aBlocks.tilePositions,
        [&] {
            readPositions(aFile, "TilePositions block", aBlocks.tilePositions, aBlocks.tileCount,
                          a.tilePositions);
        },
        [&] { a.tilePositions.clear(); });
    readBlock(
        aFile, "Characteristics block", aBlocks.characteristics,
        [&] { readCharacteristics(aFile, aBlocks.characteristics, a.microscopeModel, a.characteristics); },
        [&] {
            a.microscopeModel.clear();
            a.characteristics.clear();
        });
    return a;
}
