#include <tiffio.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include "DorudURIVuruda.h"
#include "LSMStreamProcedures.h"
#include "LSMStripReader.h"
#include "PixelTypeBytes.h"
#include "SampleConversion.h"

namespace {

const char* const kClassName = "DorudURIVuruda";

// Compressed strips decode to at most a few thousand times their size (LZW and Deflate stay well
// below this); anything beyond cannot come from the file and is refused before allocating.
constexpr uint64_t kMaxCompressionRatio = 4096;

// Where each channel's plane lies in the decoded strips of one image directory.
struct PlaneLayout {
    std::vector<uint64_t> channelByteCount;
    std::vector<uint64_t> channelByteOffset;
    uint64_t expected = 0;
    bool overflow = false;
};

uint64_t sampleBytes(int aPixelType) { return uint64_t(korvane::lsm::bytesPerSample(aPixelType)); }

bool multiplyOverflows(uint64_t a, uint64_t b, uint64_t& aProduct) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return true;
    aProduct = a * b;
    return false;
}

PlaneLayout planeLayout(const std::vector<int>& aPixelTypes, int aSizeX, int aSizeY) {
    PlaneLayout layout;
    const uint64_t pixels = uint64_t(aSizeX) * uint64_t(aSizeY);  // both at most 2^31 - 1
    for (const int type : aPixelTypes) {
        uint64_t count = 0;
        layout.overflow = layout.overflow || multiplyOverflows(pixels, sampleBytes(type), count);
        layout.channelByteCount.push_back(count);
        layout.channelByteOffset.push_back(layout.expected);
        if (count > std::numeric_limits<uint64_t>::max() - layout.expected) layout.overflow = true;
        layout.expected += count;
    }
    return layout;
}

template <typename T>
void copyWindow(const unsigned char* aChannelPlane, int aPixelType, uint64_t aSizeX, uint64_t aYStart,
                uint64_t aXStart, uint64_t aYWidth, uint64_t aXWidth, T* aPlaneDestination) {
    using korvane::lsm::convertRow;
    const uint64_t bytes = sampleBytes(aPixelType);
    for (uint64_t j = 0; j < aYWidth; ++j) {
        const unsigned char* row = aChannelPlane + ((aYStart + j) * aSizeX + aXStart) * bytes;
        T* target = aPlaneDestination + j * aXWidth;
        switch (aPixelType) {
            case TYPE_UINT8:
                convertRow<uint8_t, T>(row, target, aXWidth);
                break;
            case TYPE_UINT16:
                convertRow<uint16_t, T>(row, target, aXWidth);
                break;
            case TYPE_FLOAT:
                convertRow<float, T>(row, target, aXWidth);
                break;
            default:
                return;  // no samples the reader could interpret
        }
    }
}

// Effective width of a request along one axis: widths of 0 or less run to the end.
int64_t effectiveWidth(int aStart, int aWidth, int aSize) {
    return aWidth > 0 ? int64_t(aWidth) : int64_t(aSize) - int64_t(aStart);
}

// A window outside the stack would read or write outside the plane buffer and the array.
void checkAxis(const char* aAxis, int aStart, int aWidth, int aSize) {
    const int64_t width = effectiveWidth(aStart, aWidth, aSize);
    if (aStart < 0 || width < 1 || int64_t(aStart) + width > int64_t(aSize))
        KORVANE_THROW(kClassName, "Requested " << aAxis << " [" << aStart << " - " << int64_t(aStart) + width
                                               << ") lies outside the stack's " << aAxis << " [0 - " << aSize
                                               << ").");
}

}  // namespace

template <typename T, int N>
void DorudURIVuruda::readArray(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel, int aReqZStart,
                               int aReqZWidth, int aReqYStart, int aReqYWidth, int aReqXStart,
                               int aReqXWidth) {
    static_assert(N >= 1 && N <= 3, "readArray supports ranks 1 to 3");
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    if ((N == 2 && aReqZWidth != 1) || (N == 1 && (aReqZWidth != 1 || aReqYWidth != 1)))
        throw BlitzFileIOException(
            "Wrong invocation of DorudURIVuruda::readArray(): Supported dimensions are: 3 (no restrictions), "
            "2 "
            "(aReqZWidth = 1), 1 (aReqZWidth = 1, aReqYWidth = 1).\n");

    getPixelType(aChannel);  // "No such channel" before anything is resized or read
    if (aTimepoint < 0 || aTimepoint >= mSizeT)
        KORVANE_THROW(kClassName, "Requested timepoint "
                                      << aTimepoint << " lies outside the stack's timepoints [0 - " << mSizeT
                                      << ").");
    checkAxis("z planes", aReqZStart, aReqZWidth, mSizeZ);
    checkAxis("rows", aReqYStart, aReqYWidth, mSizeY);
    checkAxis("columns", aReqXStart, aReqXWidth, mSizeX);
    const int zW = static_cast<int>(effectiveWidth(aReqZStart, aReqZWidth, mSizeZ));
    const int yW = static_cast<int>(effectiveWidth(aReqYStart, aReqYWidth, mSizeY));
    const int xW = static_cast<int>(effectiveWidth(aReqXStart, aReqXWidth, mSizeX));

    // The planes asked for must be able to come from this file before memory is set aside for them.
    const PlaneLayout layout = planeLayout(mPixelTypes, mSizeX, mSizeY);
    const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(mTiff, TIFFTAG_COMPRESSION, &compression);
    uint64_t limit = fileSize;
    if (compression != COMPRESSION_NONE && multiplyOverflows(fileSize, kMaxCompressionRatio, limit))
        limit = std::numeric_limits<uint64_t>::max();
    uint64_t requestedBytes = 0;
    if (layout.overflow || multiplyOverflows(layout.expected, uint64_t(zW), requestedBytes) ||
        requestedBytes > limit)
        KORVANE_THROW(kClassName, "Requested " << zW << " plane(s) of " << mSizeX << " x " << mSizeY
                                               << " pixels and " << mSizeC
                                               << " channel(s) cannot be held by file '" << mCurrentFile
                                               << "' of " << fileSize << " byte.");

    try {
        // The per-extent overloads keep the storage when the extents are unchanged; the TinyVector one
        // always reallocates.
        if constexpr (N == 3)
            aArray.resize(zW, yW, xW);
        else if constexpr (N == 2)
            aArray.resize(yW, xW);
        else
            aArray.resize(xW);
    } catch (const std::exception& e) {
        std::ostringstream text;
        text << "Exception caught when reserving memory. Error message '" << e.what() << "'.\n";
        throw BlitzFileIOException(text.str());
    }
    readRawPlanes(aArray.dataFirst(), aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                  aReqXStart, aReqXWidth);
}

template <typename T>
void DorudURIVuruda::readThumbnail(blitz::Array<T, 2>& aArray) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    aArray.resize(getThumbSizeY(), getThumbSizeX());
    aArray = T(0);
}

template <typename T>
void DorudURIVuruda::readRawPlanes(T* destination, int aTimepoint, int aChannel, int aReqZStart,
                                   int aReqZWidth, int aReqYStart, int aReqYWidth, int aReqXStart,
                                   int aReqXWidth) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    const uint64_t zW = uint64_t(effectiveWidth(aReqZStart, aReqZWidth, mSizeZ));
    const uint64_t yW = uint64_t(effectiveWidth(aReqYStart, aReqYWidth, mSizeY));
    const uint64_t xW = uint64_t(effectiveWidth(aReqXStart, aReqXWidth, mSizeX));
    // All in 64 bits: Z * T of a large stack overflows 32 bits long before libtiff's directory number does.
    const uint64_t first = 2 * (uint64_t(aTimepoint) * uint64_t(mSizeZ) + uint64_t(aReqZStart));
    const uint64_t end = first + 2 * zW;
    const uint64_t last = 2 * uint64_t(mSizeZ) * uint64_t(mSizeT) - 2;

    if (first > std::numeric_limits<tdir_t>::max() ||
        TIFFSetDirectory(mTiff, static_cast<tdir_t>(first)) != 1) {
        close();
        KORVANE_THROW(kClassName, "Error while setting image directory to " << first << ", abort.");
    }

    const PlaneLayout layout = planeLayout(mPixelTypes, mSizeX, mSizeY);
    const int type = getPixelType(aChannel);
    std::unique_ptr<unsigned char[]> planeBuffer;
    if (!layout.overflow && layout.expected <= uint64_t(std::numeric_limits<std::ptrdiff_t>::max()))
        planeBuffer.reset(new (std::nothrow) unsigned char[static_cast<size_t>(layout.expected)]());
    if (!planeBuffer && layout.expected > 0)
        KORVANE_THROW(kClassName, "Could not allocate " << layout.expected << " byte for one plane of file '"
                                                        << mCurrentFile << "'.");
    const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);

    uint64_t k = 0;
    for (uint64_t d = first; d < end; d += 2, ++k) {
        mStreamHandle->pageIndex = static_cast<uint32_t>(d);
        const korvane::lsm::StripReadResult strips = korvane::lsm::readDirectoryStrips(
            mTiff, *mStreamHandle, fileSize, planeBuffer.get(), layout.expected);
        if (!strips.ok) {
            close();
            KORVANE_THROW(kClassName, "Error while reading image strip "
                                          << strips.failedStrip << " of " << strips.stripCount
                                          << " strips in page " << d << " of page-range [" << first << " - "
                                          << end << "), abort.");
        }
        if (strips.byteCount != layout.expected) {
            std::ostringstream text;
            text << "Read not " << layout.expected << " byte from LSM as expected, but rather "
                 << strips.byteCount << " byte.\n";
            throw BlitzFileIOException(text.str());
        }

        copyWindow(planeBuffer.get() + layout.channelByteOffset[aChannel], type, uint64_t(mSizeX),
                   uint64_t(aReqYStart), uint64_t(aReqXStart), yW, xW, destination + k * yW * xW);

        if (d < last) {
            if (TIFFReadDirectory(mTiff) != 1) {
                close();
                KORVANE_THROW(kClassName,
                              "Error while reading preview directory of page " << d << ", abort.");
            }
            if (TIFFReadDirectory(mTiff) != 1) {
                close();
                KORVANE_THROW(kClassName, "Error while reading image directory of page " << d << ", abort.");
            }
        }
    }
}

#define KORVANE_INSTANTIATE_BLOCK_READS(T)                                                                \
    template void DorudURIVuruda::readArray<T, 1>(blitz::Array<T, 1>&, int, int, int, int, int, int, int, \
                                                  int);                                                   \
    template void DorudURIVuruda::readArray<T, 2>(blitz::Array<T, 2>&, int, int, int, int, int, int, int, \
                                                  int);                                                   \
    template void DorudURIVuruda::readArray<T, 3>(blitz::Array<T, 3>&, int, int, int, int, int, int, int, \
                                                  int);                                                   \
    template void DorudURIVuruda::readThumbnail<T>(blitz::Array<T, 2>&);

KORVANE_INSTANTIATE_BLOCK_READS(char)
KORVANE_INSTANTIATE_BLOCK_READS(unsigned char)
KORVANE_INSTANTIATE_BLOCK_READS(short)
KORVANE_INSTANTIATE_BLOCK_READS(unsigned short)
KORVANE_INSTANTIATE_BLOCK_READS(int)
KORVANE_INSTANTIATE_BLOCK_READS(unsigned int)
KORVANE_INSTANTIATE_BLOCK_READS(long)
KORVANE_INSTANTIATE_BLOCK_READS(unsigned long)
KORVANE_INSTANTIATE_BLOCK_READS(float)
KORVANE_INSTANTIATE_BLOCK_READS(double)
