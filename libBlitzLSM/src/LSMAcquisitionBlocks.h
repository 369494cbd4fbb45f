#ifndef KORVANE_LSMACQUISITIONBLOCKS_H
#define KORVANE_LSMACQUISITIONBLOCKS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LSMAcquisition.h"
#include "LSMBlockFile.h"
#include "LSMInfoRecord.h"

// Parsers of the blocks an LSM info record points to. Each takes the block's file offset (0 and
// offsets below 8 mean absent), reads the block once with bounded reads, and fills its part of the
// model. A damaged block is warned about through the reporter and leaves its part empty; only the
// ScanInformation tree, which has no size of its own, keeps the entries read before the damage.

// The ScanInformation tree: recording, lasers, tracks with their lists, timers and markers.
void readScanInformation(LSMBlockFile& aFile, uint64_t aOffset, LSMAcquisition& aAcquisition);

void readTimeStamps(LSMBlockFile& aFile, uint64_t aOffset, std::vector<double>& aTimeStamps);
void readEventList(LSMBlockFile& aFile, uint64_t aOffset, std::vector<LSMEvent>& aEvents);

// At most aChannels ranges: a block listing more than the image has channels is damaged.
void readChannelWavelengths(LSMBlockFile& aFile, uint64_t aOffset, uint32_t aChannels,
                            std::vector<LSMWavelengthRange>& aRanges);
// Positions and tile positions share one layout; aBlock names the block in warnings.
void readPositions(LSMBlockFile& aFile, const char* aBlock, uint64_t aOffset, uint32_t aMaxCount,
                   std::vector<LSMPosition>& aPositions);

// The Characteristics text: every "Key = value" line, and the microscope model from "Device".
void readCharacteristics(LSMBlockFile& aFile, uint64_t aOffset, std::string& aMicroscopeModel,
                         std::vector<std::pair<std::string, std::string>>& aEntries);

// Where the info record says the blocks are, and the image extents that bound the blocks without a
// size field of their own.
struct LSMAcquisitionBlocks {
    uint64_t scanInformation = 0;
    uint64_t timeStamps = 0;
    uint64_t eventList = 0;
    uint64_t channelWavelength = 0;
    uint64_t positions = 0;
    uint64_t tilePositions = 0;
    uint64_t characteristics = 0;
    uint32_t channels = 0;
    uint32_t positionCount = 1;  // DimensionP, at least 1
    uint32_t tileCount = 1;      // DimensionM, at least 1
};

// Where aRecord puts the blocks, for an image of aChannels channels.
LSMAcquisitionBlocks lsmAcquisitionBlocks(const LSMInfoRecord& aRecord, uint32_t aChannels);

// Every block of aBlocks read into one model. Never throws: a block that cannot be read (even for
// want of memory) is warned about and left empty.
LSMAcquisition readLSMAcquisition(LSMBlockFile& aFile, const LSMAcquisitionBlocks& aBlocks);

#endif
