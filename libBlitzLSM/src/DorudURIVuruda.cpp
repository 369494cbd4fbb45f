#include "DorudURIVuruda.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <sstream>

#include "LSMAcquisitionBlocks.h"
#include "LSMAcquisitionMetaData.h"
#include "LSMInfoRecord.h"
#include "LSMReadState.h"
#include "LSMStreamProcedures.h"
#include "LittleEndian.h"
#include "PixelTypeBytes.h"

namespace {

constexpr ttag_t kLSMInfoTag = 34412;
const char* const kClassName = "DorudURIVuruda";

// One little-endian 32-bit word through the stream procedures; returns the bytes read.
tmsize_t readInt32(LSMStreamHandle* aHandle, int32_t& aWord) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    const tmsize_t count = BlitzLSMTIFFread(aHandle, bytes, 4);
    aWord = static_cast<int32_t>(korvane::lsm::littleEndian32(bytes));
    return count;
}

// Byte count of the value of tag 34412; libtiff stores an unregistered tag with the file's type.
uint64_t lsmInfoByteCount(TIFF* aTiff, uint32_t aCount) {
    const TIFFField* field = TIFFFindField(aTiff, kLSMInfoTag, TIFF_ANY);
    if (field == nullptr) return 0;
    const int width = TIFFDataWidth(TIFFFieldDataType(field));
    return width > 0 ? uint64_t(aCount) * uint64_t(width) : 0;
}

// Channel names of the colour block: each a 32-bit length (counting the closing NUL) and the bytes.
// Names are a nicety, so anything that does not fit the block gives no names rather than an error.
std::vector<std::string> readChannelNames(LSMStreamHandle* aHandle, int64_t aBlockStart,
                                          const int32_t* aHeader, uint64_t aFileSize, int aSizeC) {
    const int64_t blockEnd = aBlockStart + int64_t(aHeader[0]);
    int64_t position = aBlockStart + int64_t(aHeader[4]);
    if (aHeader[2] < aSizeC || aHeader[4] < 24 || blockEnd > int64_t(aFileSize) ||
        BlitzLSMTIFFseek(aHandle, static_cast<toff_t>(position), SEEK_SET) != static_cast<toff_t>(position))
        return {};
    std::vector<std::string> names;
    std::vector<char> bytes;
    for (int c = 0; c < aSizeC; ++c) {
        int32_t length = 0;
        if (readInt32(aHandle, length) < 4 || length < 1 || length > 4096 || position + 4 + length > blockEnd)
            return {};
        bytes.resize(static_cast<size_t>(length));
        if (BlitzLSMTIFFread(aHandle, bytes.data(), length) != length || bytes.back() != '\0') return {};
        names.push_back(std::string(bytes.data()));
        position += 4 + length;
    }
    return names;
}

}  // namespace

// Every failure of open after libtiff accepted the file releases the handle first, so the reader
// is never left half-open with a file it rejected.
#define KORVANE_CLOSE_AND_THROW(aStreamedText)    \
    do {                                          \
        close();                                  \
        KORVANE_THROW(kClassName, aStreamedText); \
    } while (0)

DorudURIVuruda::DorudURIVuruda()
    : mTiff(nullptr),
      mStreamHandle(nullptr),
      mSizeC(0),
      mSizeT(0),
      mSizeX(0),
      mSizeY(0),
      mSizeZ(0),
      mTimeInterval(0.0),
      mInfoRecord(),
      mCompression(COMPRESSION_NONE),
      mElementSize(0.0f, 0.0f, 0.0f),
      mStagePosition(0.0f, 0.0f, 0.0f) {
    try {
        mReadState.reset(new LSMReadState);  // first: should the handle fail, nothing leaks
        mStreamHandle = new LSMStreamHandle{nullptr, nullptr, false, 0, 0.0, 0};
    } catch (const std::exception& e) {
        std::ostringstream text;
        text << "std::exception() caught. " << kClassName << ":" << __LINE__ << ". Error message '"
             << e.what() << "'.\n";
        throw BlitzFileIOException(text.str());
    } catch (...) {
        KORVANE_THROW(kClassName, "Unknown Exception caught.");
    }
}

DorudURIVuruda::~DorudURIVuruda() {
    if (mTiff != nullptr) {
        try {
            close();
        } catch (...) {
        }
    }
    delete mStreamHandle;
}

bool DorudURIVuruda::reservedQueryA() { return false; }

bool DorudURIVuruda::isOpen() { return mTiff != nullptr; }

bool DorudURIVuruda::reservedQueryB() { return true; }

std::string DorudURIVuruda::getVersion() { return "2010.09.26"; }

std::string DorudURIVuruda::getInterfaceVersion() { return "2010.09.26"; }

FloatVector3 DorudURIVuruda::getElementSize(int, int, int) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mElementSize;
}

FloatVector3 DorudURIVuruda::getStagePosition(int, int, int) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mStagePosition;
}

void DorudURIVuruda::close() {
    if (isOpen()) {
        TIFFClose(mTiff);  // calls BlitzLSMTIFFclose, which closes the stdio stream
        mTiff = nullptr;
    }
    mMetaData.clear();
    mMetaDataMade = false;
    mAcquisition = LSMAcquisition();
    mKeptRows = KeptRows();
    if (mReadState) mReadState->reset();
}

std::string DorudURIVuruda::getCurrentFile() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mCurrentFile;
}

void DorudURIVuruda::getMetaData(MetaDataMap& aMetaData) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    aMetaData = metaData();
}

std::string DorudURIVuruda::getMetaDataValue(const std::string& aKey) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    const MetaDataMap& map = metaData();
    const MetaDataMap::const_iterator entry = map.find(aKey);
    return entry == map.end() ? std::string() : entry->second;
}

const MetaDataMap& DorudURIVuruda::metaData() {
    // Made on first demand: it costs more than parsing the blocks, and many callers never ask.
    if (!mMetaDataMade) {
        mMetaData = lsmAcquisitionMetaData(mAcquisition, mSizeC);
        const korvane::lsm::ScanLayout& layout = mReadState->layout;
        if (layout.positions > 1 || layout.tiles > 1) {
            mMetaData["Positions"] = std::to_string(layout.positions);
            mMetaData["Tiles"] = std::to_string(layout.tiles);
        }
        mMetaDataMade = true;
    }
    return mMetaData;
}

std::string DorudURIVuruda::getFormat() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mFormat;
}

int DorudURIVuruda::getPixelType(int aChannel) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    if (aChannel < 0 || static_cast<size_t>(aChannel) >= mPixelTypes.size())
        KORVANE_THROW(kClassName, "No such channel '" << aChannel << "'.");
    return mPixelTypes[aChannel];
}

int DorudURIVuruda::getSignificantBits(int aChannel) {
    const int type = getPixelType(aChannel);  // "No file opened" and "No such channel" first
    // mTwelveBit is filled with the types, so the channel checked above is in it too.
    return mTwelveBit[size_t(aChannel)] ? 12 : 8 * korvane::lsm::bytesPerSample(type);
}

uint32_t DorudURIVuruda::getChannelColor(int aChannel) {
    getPixelType(aChannel);  // "No file opened" and "No such channel" first
    if (static_cast<size_t>(aChannel) < mChannelColors.size()) return mChannelColors[aChannel];
    static const uint32_t kDefaults[] = {0xff0000, 0x00ff00, 0x0000ff, 0x00ffff, 0xff00ff, 0xffff00};
    return mSizeC == 1 ? 0xffffff : kDefaults[aChannel % 6];
}

double DorudURIVuruda::getTimeInterval() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mTimeInterval;
}

std::string DorudURIVuruda::getChannelName(int aChannel) {
    getPixelType(aChannel);
    return static_cast<size_t>(aChannel) < mChannelNames.size() ? mChannelNames[aChannel] : std::string();
}

const LSMInfoRecord& DorudURIVuruda::getInfoRecord() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mInfoRecord;
}

const LSMAcquisition& DorudURIVuruda::getAcquisition() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mAcquisition;
}

int DorudURIVuruda::getCompression() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mCompression;
}

int DorudURIVuruda::getSeriesCount() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mReadState->layout.seriesCount;
}

int DorudURIVuruda::getPositionCount() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mReadState->layout.positions;
}

int DorudURIVuruda::getTileCount() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mReadState->layout.tiles;
}

int DorudURIVuruda::getSizeC() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mSizeC;
}

int DorudURIVuruda::getSizeT() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mSizeT;
}

int DorudURIVuruda::getSizeX() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mSizeX;
}

int DorudURIVuruda::getSizeY() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mSizeY;
}

int DorudURIVuruda::getSizeZ() {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    return mSizeZ;
}

std::vector<std::string> DorudURIVuruda::getSuffixes() { return std::vector<std::string>(1, "lsm"); }

int DorudURIVuruda::getThumbSizeX() { return 256; }

int DorudURIVuruda::getThumbSizeY() { return 256; }

void DorudURIVuruda::setSeries(int aSeries) {
    if (!isOpen()) return;
    if (aSeries < 0 || aSeries >= mReadState->layout.seriesCount)
        KORVANE_THROW(kClassName, "No such series '" << aSeries << "'.");
    if (mReadState->series != uint64_t(aSeries)) mKeptRows = KeptRows();  // rows of the series read before
    mReadState->series = uint64_t(aSeries);
}

void DorudURIVuruda::open(const std::string& aFileName) {
    // Nothing but BlitzFileIOException may leave the reader: callers catch only that.
    try {
        openFile(aFileName);
    } catch (const BlitzFileIOException&) {
        throw;
    } catch (const std::exception& e) {
        KORVANE_CLOSE_AND_THROW("Exception caught when opening file '" << aFileName << "'. Error message '"
                                                                       << e.what() << "'.");
    }
}

void DorudURIVuruda::openFile(const std::string& aFileName) {
    if (isOpen()) close();
    mReadState->reset();  // no directory offsets or kept plane of another file
    mKeptRows = KeptRows();
    mCurrentFile = aFileName;

    LSMStreamHandle& handle = *mStreamHandle;
    handle.pageIndex = 0;
    handle.bytesPerPage = 0.0;
    handle.fileName = mCurrentFile.c_str();
    handle.correctOffsets = false;
    handle.fileSize = 0;
    handle.file = std::fopen(handle.fileName, "rb");
    if (handle.file == nullptr) KORVANE_THROW(kClassName, "Failed to open file '" << mCurrentFile << "'.");

    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);

    mTiff = TIFFClientOpen(handle.fileName, "rm", static_cast<thandle_t>(mStreamHandle), BlitzLSMTIFFread,
                           BlitzLSMTIFFwrite, BlitzLSMTIFFseek, BlitzLSMTIFFclose, BlitzLSMTIFFsize, nullptr,
                           nullptr);
    if (mTiff == nullptr) {
        // libtiff does not call the close procedure for a file it rejects.
        std::fclose(handle.file);
        handle.file = nullptr;
        KORVANE_THROW(kClassName, "TIFFClientOpen rejected file '" << mCurrentFile << "'.");
    }

    uint32_t tagCount = 0;
    void* tagData = nullptr;
    if (TIFFGetField(mTiff, kLSMInfoTag, &tagCount, &tagData) != 1 || tagData == nullptr)
        KORVANE_CLOSE_AND_THROW("No zeiss LSM-info tag found in file '"
                                << mCurrentFile << "', maybe this is not an lsm file?.");
    const uint64_t tagBytes = lsmInfoByteCount(mTiff, tagCount);
    LSMInfoRecord record;
    if (tagBytes < kLSMInfoRecordInterpretedSize ||
        !decodeLSMInfoRecord(tagData, static_cast<size_t>(tagBytes), record))
        KORVANE_CLOSE_AND_THROW("LSM-info record in file '" << mCurrentFile << "' is too short: " << tagBytes
                                                            << " byte instead of at least "
                                                            << kLSMInfoRecordInterpretedSize << ".");

    mSizeT = record.dimensionTime;
    mSizeC = record.dimensionChannels;
    mSizeZ = record.dimensionZ;
    mSizeY = record.dimensionY;
    mSizeX = record.dimensionX;
    mFormat = "Zeiss Laser-Scanning Microscopy";
    mElementSize = FloatVector3(static_cast<float>(record.voxelSizeZ_m * 1000000.0),
                                static_cast<float>(record.voxelSizeY_m * 1000000.0),
                                static_cast<float>(record.voxelSizeX_m * 1000000.0));
    mStagePosition = FloatVector3(0.0f, 0.0f, 0.0f);
    mTimeInterval = record.TimeIntervall;
    mChannelColors.clear();
    mChannelNames.clear();
    mInfoRecord = record;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(mTiff, TIFFTAG_COMPRESSION, &compression);
    mCompression = compression;

    // An empty extent leaves nothing to read and would break the plane arithmetic later on.
    const struct {
        const char* name;
        int32_t value;
    } extents[] = {{"dimensionX", record.dimensionX},
                   {"dimensionY", record.dimensionY},
                   {"dimensionZ", record.dimensionZ},
                   {"dimensionChannels", record.dimensionChannels},
                   {"dimensionTime", record.dimensionTime}};
    for (const auto& extent : extents) {
        if (extent.value <= 0)
            KORVANE_CLOSE_AND_THROW("LSM-info record in file '" << mCurrentFile << "' has invalid "
                                                                << extent.name << " " << extent.value
                                                                << ", at least 1 is required.");
    }

    // Every channel occupies file bytes in each plane; a count beyond the file size is hostile and would
    // only make the per-channel tables huge.
    const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);
    if (uint64_t(mSizeC) > fileSize)
        KORVANE_CLOSE_AND_THROW("LSM-info record in file '"
                                << mCurrentFile << "' has invalid dimensionChannels " << mSizeC
                                << ", more than the file's " << fileSize << " byte can hold.");

    // Each channel is a sample of the first image directory, one strip at least (some microscopes write
    // one strip more than samples); a directory holds at most 65535 samples. A record claiming more
    // channels would only make the per-channel tables huge.
    uint16_t samplesPerPixel = 1;
    TIFFGetFieldDefaulted(mTiff, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    const uint32_t strips = TIFFNumberOfStrips(mTiff);
    const uint32_t channelLimit = std::min<uint32_t>(std::max<uint32_t>(samplesPerPixel, strips), 65535);
    if (uint32_t(mSizeC) > channelLimit)
        KORVANE_CLOSE_AND_THROW("LSM-info record in file '"
                                << mCurrentFile << "' has invalid dimensionChannels " << mSizeC
                                << ", more than the " << channelLimit << " its first image can hold.");

    std::vector<int32_t> codes;
    try {
        codes.assign(static_cast<size_t>(mSizeC), record.intensityDataType);
    } catch (const std::exception& e) {
        KORVANE_CLOSE_AND_THROW("Exception caught when reserving memory for "
                                << mSizeC << " channels. Error message '" << e.what() << "'.");
    }
    if (codes[0] == 0) {
        if (record.OffsetChannelDataTypes == 0)
            KORVANE_CLOSE_AND_THROW("No extended channel data type array for LSM-file available. Aborted.");
        const toff_t offset = record.OffsetChannelDataTypes;
        if (BlitzLSMTIFFseek(mStreamHandle, offset, SEEK_SET) != offset)
            KORVANE_CLOSE_AND_THROW("Error while retrieving channel data types. Aborted.");
        for (int32_t& code : codes) {
            if (readInt32(mStreamHandle, code) < 4)
                KORVANE_CLOSE_AND_THROW("Error while retrieving channel data types.");
        }
    }

    mPixelTypes.assign(static_cast<size_t>(mSizeC), 0);
    mTwelveBit.assign(static_cast<size_t>(mSizeC), false);
    for (size_t channel = 0; channel < codes.size(); ++channel) {
        switch (codes[channel]) {
            case 1:
                mPixelTypes[channel] = TYPE_UINT8;
                break;
            case 2:
                mTwelveBit[channel] = true;
                mPixelTypes[channel] = TYPE_UINT16;
                break;
            case 3:
                mPixelTypes[channel] = TYPE_UINT16;
                break;
            case 5:
                mPixelTypes[channel] = TYPE_FLOAT;
                break;
            default:
                KORVANE_CLOSE_AND_THROW("Encountered unknown LSM data type "
                                        << codes[channel] << ". This means you should report a bug, or fix "
                                        << __FILE__ << ".");
        }
    }

    if (record.OffsetChannelColors != 0) {
        const int64_t blockStart = record.OffsetChannelColors;
        if (BlitzLSMTIFFseek(mStreamHandle, static_cast<toff_t>(blockStart), SEEK_SET) !=
            static_cast<toff_t>(blockStart))
            KORVANE_CLOSE_AND_THROW("Error while retrieving channel color information.");
        int32_t header[6];
        tmsize_t headerBytes = 0;
        for (int32_t& word : header) headerBytes += readInt32(mStreamHandle, word);
        if (headerBytes != 24) KORVANE_CLOSE_AND_THROW("Error while retrieving channel color information.");
        const int32_t colorCount = header[1];
        const int64_t entriesStart = blockStart + int64_t(header[3]);
        if (BlitzLSMTIFFseek(mStreamHandle, static_cast<toff_t>(entriesStart), SEEK_SET) !=
            static_cast<toff_t>(entriesStart))
            KORVANE_CLOSE_AND_THROW("Error while retrieving channel color information.");
        // A hostile colour count must neither allocate nor loop for long: entries that the file cannot
        // hold are rejected before reading, the rest is read in bounded chunks.
        if (colorCount > 0) {
            uint64_t remaining = uint64_t(colorCount) * 4;
            if (entriesStart < 0 || uint64_t(entriesStart) > fileSize ||
                remaining > fileSize - uint64_t(entriesStart))
                KORVANE_CLOSE_AND_THROW("Error while retrieving channel color information.");
            std::vector<unsigned char> chunk(static_cast<size_t>(remaining < 65536 ? remaining : 65536));
            while (remaining > 0) {
                const tmsize_t want =
                    static_cast<tmsize_t>(remaining < chunk.size() ? remaining : chunk.size());
                if (BlitzLSMTIFFread(mStreamHandle, chunk.data(), want) != want)
                    KORVANE_CLOSE_AND_THROW("Error while retrieving channel color information.");
                // Only the channels' own entries are kept; the rest is read for the check alone.
                for (tmsize_t e = 0; e + 4 <= want && mChannelColors.size() < size_t(mSizeC); e += 4)
                    mChannelColors.push_back(uint32_t(chunk[e]) << 16 | uint32_t(chunk[e + 1]) << 8 |
                                             uint32_t(chunk[e + 2]));
                remaining -= static_cast<uint64_t>(want);
            }
        }
        mChannelNames = readChannelNames(mStreamHandle, blockStart, header, fileSize, mSizeC);
    }

    // The acquisition record is a nicety too: its damaged blocks only warn and stay empty.
    LSMBlockFile blockFile(handle, fileSize, mCurrentFile);
    mAcquisition = readLSMAcquisition(blockFile, lsmAcquisitionBlocks(record, uint32_t(mSizeC)));
    mMetaDataMade = false;
    mAcquisition.scanType = record.ScanType;
    mAcquisition.spectralScan = record.SpectralScan != 0;

    double sampleBytes = 0.0;
    for (const int type : mPixelTypes) sampleBytes += korvane::lsm::bytesPerSample(type);
    const uint32_t pixelsPlusMargin = static_cast<uint32_t>(uint32_t(mSizeX) * uint32_t(mSizeY) + 65536u);
    handle.fileSize = fileSize;
    handle.bytesPerPage = double(pixelsPlusMargin) * 1.001 * (sampleBytes / mSizeC);

    // Which image holds which plane follows the scan type, checked against the first image, and for
    // several positions or tiles against the number of images.
    korvane::lsm::FirstImage first;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(mTiff, TIFFTAG_IMAGEWIDTH, &first.width);
    TIFFGetField(mTiff, TIFFTAG_IMAGELENGTH, &first.height);
    TIFFGetFieldDefaulted(mTiff, TIFFTAG_PLANARCONFIG, &planar);
    first.samplesPerPixel = samplesPerPixel;
    first.contiguous = planar == PLANARCONFIG_CONTIG;
    std::vector<int> channelBytes;
    for (const int type : mPixelTypes) channelBytes.push_back(korvane::lsm::bytesPerSample(type));
    korvane::lsm::ScanLayout& layout = mReadState->layout;
    std::string layoutError;
    if (!korvane::lsm::decideScanLayout(record, channelBytes, first, mCurrentFile, layout, layoutError))
        KORVANE_CLOSE_AND_THROW(layoutError);
    if (layout.positions > 1 || layout.tiles > 1) {
        const uint64_t directories = mReadState->index.count(*mStreamHandle);
        korvane::lsm::assignSeries(layout, (directories + 1) / 2, mCurrentFile);
    }
}
