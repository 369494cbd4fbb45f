#ifndef KORVANE_DORUDURIVURUDA_H
#define KORVANE_DORUDURIVURUDA_H

#include <blitz/array.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BlitzBioReader.h"
#include "LSMAcquisition.h"
#include "LSMInfoRecord.h"

typedef struct tiff TIFF;
struct LSMStreamHandle;
struct LSMReadState;

// Reader of LSM confocal stacks: a TIFF whose first directory carries the LSM info record.
class DorudURIVuruda : public BlitzBioReader {
  public:
    DorudURIVuruda();
    // The reader owns a stdio stream and a libtiff handle; a copy would close both twice.
    DorudURIVuruda(const DorudURIVuruda&) = delete;
    DorudURIVuruda& operator=(const DorudURIVuruda&) = delete;

    bool reservedQueryA() override;
    bool isOpen() override;
    bool reservedQueryB() override;
    ~DorudURIVuruda() override;
    std::string getVersion() override;
    std::string getInterfaceVersion() override;
    FloatVector3 getElementSize(int aTimepoint, int aChannel, int aZPlane) override;
    FloatVector3 getStagePosition(int aTimepoint, int aChannel, int aZPlane) override;
    void close() override;
    std::string getCurrentFile() override;
    void getMetaData(MetaDataMap& aMetaData) override;
    std::string getMetaDataValue(const std::string& aKey) override;
    std::string getFormat() override;
    int getPixelType(int aChannel) override;
    int getSeriesCount() override;
    int getSizeC() override;
    int getSizeT() override;
    int getSizeX() override;
    int getSizeY() override;
    int getSizeZ() override;
    std::vector<std::string> getSuffixes() override;
    int getThumbSizeX() override;
    int getThumbSizeY() override;
    void open(const std::string& aFileName) override;
    void setSeries(int aSeries) override;

    // Reads a window of planes (rank 3), rows and columns of one channel at one timepoint,
    // converting the samples to T. Widths of 0 or less mean "up to the last plane/row/column".
    // Rank 2 needs aReqZWidth == 1, rank 1 also aReqYWidth == 1. Instantiated for char, unsigned char,
    // short, unsigned short, int, unsigned int, long, unsigned long, float and double.
    template <typename T, int N>
    void readArray(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel, int aReqZStart, int aReqZWidth,
                   int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth);

    // Display colour of a channel as 0xRRGGBB: the file's colour block entry when it has one for the
    // channel, otherwise white for a single channel and red, green, blue, ... for several.
    uint32_t getChannelColor(int aChannel);

    // Seconds between timepoints as the record states it (0 when the file does not say).
    double getTimeInterval();

    // Name of a channel from the colour block; empty when the file names none or the names are damaged.
    std::string getChannelName(int aChannel);

    // The LSM info record as decoded at open.
    const LSMInfoRecord& getInfoRecord();

    // What the microscope recorded about the acquisition (recording, lasers, tracks, time stamps,
    // events, wavelengths, positions, microscope), decoded at open. Damaged blocks are empty in it.
    const LSMAcquisition& getAcquisition();

    // Positions and mosaic tiles the record names (at least 1 each). When the file holds all their
    // images, each position and tile is a series of its own, position by position, tile by tile.
    int getPositionCount();
    int getTileCount();

    // TIFF compression code (1 none, 5 LZW, 8 or 32946 Deflate, ...) of the first image directory.
    int getCompression();

    // An all-zero picture of getThumbSizeY() x getThumbSizeX().
    template <typename T>
    void readThumbnail(blitz::Array<T, 2>& aArray);

  private:
    void openFile(const std::string& aFileName);

    // readArray for what is not kept: checks that the file can hold it, then reads it.
    template <typename T, int N>
    void readArrayFromFile(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel, int aReqZStart,
                           int aReqZWidth, int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth);
    template <typename T>
    void readRawPlanes(T* destination, int aTimepoint, int aChannel, int aReqZStart, int aReqZWidth,
                       int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth);
    // Decoded bytes [aBegin, aEnd) of image directory aDirectory, laid out as its strips end to end,
    // for channel aChannel: written to aDirect when it is given and the strips are uncompressed
    // (null is returned then), otherwise kept by the read state and returned.
    const unsigned char* loadPlaneBytes(uint64_t aDirectory, int aChannel, uint64_t aBegin, uint64_t aEnd,
                                        unsigned char* aDirect, uint64_t aAlignment, uint64_t aFirst,
                                        uint64_t aEndDirectory);
    // The metadata map of the open file, made from the acquisition model when first asked for.
    const MetaDataMap& metaData();
    // Whether any of the image directories [aFirst, aEnd) is compressed or cannot be looked at.
    bool mayBeCompressed(uint64_t aFirst, uint64_t aEnd);

    TIFF* mTiff;
    LSMStreamHandle* mStreamHandle;
    int mSizeC;
    int mSizeT;
    int mSizeX;
    int mSizeY;
    int mSizeZ;
    std::vector<int> mPixelTypes;
    std::vector<uint32_t> mChannelColors;  // the colour block's entries, 0xRRGGBB; may be fewer than mSizeC
    double mTimeInterval;
    std::vector<std::string> mChannelNames;  // empty, or one per channel
    LSMInfoRecord mInfoRecord;
    LSMAcquisition mAcquisition;
    int mCompression;
    std::string mCurrentFile;
    std::string mFormat;
    FloatVector3 mElementSize;
    FloatVector3 mStagePosition;
    MetaDataMap mMetaData;
    bool mMetaDataMade = false;
    std::unique_ptr<LSMReadState> mReadState;  // directory index and kept plane of the open file
};

#endif
