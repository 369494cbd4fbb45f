#ifndef KORVANE_DORUDURIVURUDA_H
#define KORVANE_DORUDURIVURUDA_H

#include <blitz/array.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "BlitzBioReader.h"

typedef struct tiff TIFF;
struct LSMStreamHandle;

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

    // An all-zero picture of getThumbSizeY() x getThumbSizeX().
    template <typename T>
    void readThumbnail(blitz::Array<T, 2>& aArray);

  private:
    void openFile(const std::string& aFileName);

    template <typename T>
    void readRawPlanes(T* destination, int aTimepoint, int aChannel, int aReqZStart, int aReqZWidth,
                       int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth);

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
    std::string mCurrentFile;
    std::string mFormat;
    FloatVector3 mElementSize;
    FloatVector3 mStagePosition;
    MetaDataMap mMetaData;
};

#endif
