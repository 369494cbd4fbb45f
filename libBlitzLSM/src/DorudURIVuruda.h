#ifndef KORVANE_DORUDURIVURUDA_H
#define KORVANE_DORUDURIVURUDA_H

#include <blitz/array.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
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
                   int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth) {
        if (!readKeptRow(aArray, aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                         aReqXStart, aReqXWidth))
            readArrayChecked(aArray, aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                             aReqXStart, aReqXWidth);
    }

    // Display colour of a channel as 0xRRGGBB: the file's colour block entry when it has one for the
    // channel, otherwise white for a single channel and red, green, blue, ... for several.
    uint32_t getChannelColor(int aChannel);

    // Bits a channel's samples fill: 12 for 12-bit data kept in 16-bit samples (data type code 2, for
    // the file or in the per-channel list), otherwise all bits of its pixel type.
    int getSignificantBits(int aChannel);

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
    // Rows of one channel kept from the file, as the last read left them, for answering one-row requests
    // without a call (a line scan is read line by line: tens of thousands of requests of a few dozen
    // samples). It points into the read state's kept bytes, so it is emptied (span 0) before anything
    // could replace or free them: any other read, another series or file, close.
    struct KeptRows {
        // Addresses as numbers, so that sums for rows outside the kept ones stay defined: row r (counted
        // across the series' planes, plane p's row y being p * Y + y) would start at begin + (r - firstRow)
        // * rowBytes, which is origin + r * rowBytes, and it is kept when that lies below begin + span.
        uintptr_t origin = 0;
        uintptr_t begin = 0;
        uint64_t span = 0;  // 0: nothing kept
        uint64_t rowBytes = 0;
        uint64_t planeBytes = 0;      // Y rows
        uint64_t timepointBytes = 0;  // Z planes, below 2^32: then no timepoint wraps into the kept rows
        uint64_t key = ~uint64_t(0);  // keyOf(channel, pixel type) of samples lying back to back in each row
        // The stack's last indices, so that requests with constant starts of 0 need no check of them.
        uint32_t lastZ = 0, lastY = 0, lastX = 0;
    };

    static constexpr uint64_t keyOf(int aChannel, int aPixelType) {
        return uint64_t(uint32_t(aChannel)) << 32 | uint32_t(aPixelType);
    }

    // The pixel type whose samples are Ts, -1 when none is.
    template <typename T>
    static constexpr int pixelTypeOf() {
        return std::is_same<T, unsigned char>::value    ? TYPE_UINT8
               : std::is_same<T, unsigned short>::value ? TYPE_UINT16
               : std::is_same<T, float>::value          ? TYPE_FLOAT
                                                        : -1;
    }

    // Answers a request from mKeptRows when it asks for one kept row of the file's own type, lying inside
    // the stack, into an array already of the row's shape with side-by-side elements; false for anything
    // else, which readArrayChecked then checks, refuses or reads as it always has.
    template <typename T, int N>
    bool readKeptRow(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel, int aReqZStart, int aReqZWidth,
                     int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth) {
        constexpr int type = pixelTypeOf<T>();
        if (type < 0 || aReqZWidth != 1 || (N == 1 && aReqYWidth != 1)) return false;
        const KeptRows& kept = mKeptRows;
        // An empty record keeps no span, which the row check below refuses whatever the other fields say.
        // A timepoint past the last one lands past the kept rows, as they lie inside the stack.
        if (kept.key != keyOf(aChannel, type) || unsigned(aReqZStart) > kept.lastZ ||
            unsigned(aReqYStart) > kept.lastY || unsigned(aReqXStart) > kept.lastX)
            return false;
        // With the starts inside the stack, the differences cannot overflow.
        const unsigned xLeft = kept.lastX - unsigned(aReqXStart);  // columns after the first requested
        const unsigned xW = aReqXWidth > 0 ? unsigned(aReqXWidth) : xLeft + 1;
        if ((aReqYWidth > 0 ? aReqYWidth != 1 : kept.lastY != unsigned(aReqYStart)) || xW - 1 > xLeft)
            return false;
        const uintptr_t row = kept.origin + uint64_t(unsigned(aTimepoint)) * kept.timepointBytes +
                              uint64_t(aReqZStart) * kept.planeBytes + uint64_t(aReqYStart) * kept.rowBytes;
        if (row - kept.begin >= kept.span || !hasRowShape(aArray, xW)) return false;
        copyRowBytes(reinterpret_cast<unsigned char*>(aArray.dataZero()),
                     reinterpret_cast<const unsigned char*>(row) + uint64_t(aReqXStart) * sizeof(T),
                     size_t(xW) * sizeof(T));
        return true;
    }

    // Whether aArray is one row of aWidth side-by-side elements whose first is its element (0, ..., 0).
    template <typename T, int N>
    static bool hasRowShape(const blitz::Array<T, N>& aArray, unsigned aWidth) {
        // The extents and the bases lie side by side, as ints: compared at once where they fit in 64 bits.
        if constexpr (N == 2) {
            const int shape[2] = {1, int(aWidth)};
            uint64_t row;
            uint64_t extents;
            uint64_t bases;
            std::memcpy(&row, shape, sizeof row);
            std::memcpy(&extents, aArray.length().data(), sizeof extents);
            std::memcpy(&bases, aArray.base().data(), sizeof bases);
            return extents == row && bases == 0 && aArray.stride(1) == 1;
        } else {
            for (int d = 0; d < N - 1; ++d)
                if (aArray.extent(d) != 1 || aArray.base(d) != 0) return false;
            return unsigned(aArray.extent(N - 1)) == aWidth && aArray.base(N - 1) == 0 &&
                   aArray.stride(N - 1) == 1;
        }
    }

    // Copies aBytes (at least 1) without a call when they are few: up to 64 as two moves of 16 or 32 bytes
    // from either end, which may overlap.
    static void copyRowBytes(unsigned char* aTarget, const unsigned char* aSource, size_t aBytes) {
        if (aBytes < 16 || aBytes > 64) {
            std::memcpy(aTarget, aSource, aBytes);
        } else if (aBytes <= 32) {
            std::memcpy(aTarget, aSource, 16);
            std::memcpy(aTarget + aBytes - 16, aSource + aBytes - 16, 16);
        } else {
            std::memcpy(aTarget, aSource, 32);
            std::memcpy(aTarget + aBytes - 32, aSource + aBytes - 32, 32);
        }
    }

    // readArray for what mKeptRows cannot answer: checks the request, reads it, then describes in
    // mKeptRows the rows kept for the next one.
    template <typename T, int N>
    void readArrayChecked(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel, int aReqZStart,
                          int aReqZWidth, int aReqYStart, int aReqYWidth, int aReqXStart, int aReqXWidth);
    // Describes in mKeptRows the rows of aChannel the read state keeps, if their samples lie back to back.
    void rememberKeptRows(int aChannel);

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
    std::vector<bool> mTwelveBit;          // per channel, from the data type codes
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
    KeptRows mKeptRows;
};

#endif
