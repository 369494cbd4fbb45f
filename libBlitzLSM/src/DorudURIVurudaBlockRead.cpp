#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <type_traits>
#include <vector>

#include "DorudURIVuruda.h"
#include "LSMReadState.h"
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
    uint64_t expected = 0;  // the request's size check keeps this far below 2^64
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
        const uint64_t count = pixels * sampleBytes(type);
        layout.channelByteCount.push_back(count);
        layout.channelByteOffset.push_back(layout.expected);
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

// Whether samples of aPixelType are already Ts, so that their bytes can go to the array unchanged.
template <typename T>
bool isSampleType(int aPixelType) {
    return (aPixelType == TYPE_UINT8 && std::is_same<T, unsigned char>::value) ||
           (aPixelType == TYPE_UINT16 && std::is_same<T, unsigned short>::value) ||
           (aPixelType == TYPE_FLOAT && std::is_same<T, float>::value);
}

[[noreturn]] void rethrowAsReaderException(const std::exception& aCaught) {
    std::ostringstream text;
    text << "Exception caught when reserving memory. Error message '" << aCaught.what() << "'.\n";
    throw BlitzFileIOException(text.str());
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

    try {
        // Memory is set aside only for planes that could come from this file at all: at one bit per
        // sample at least, and expanded no more than compression can where the requested directories
        // are compressed. Plausible mismatches of the sample size pass, to be reported by the read.
        const uint64_t first = 2 * (uint64_t(aTimepoint) * uint64_t(mSizeZ) + uint64_t(aReqZStart));
        // A plane still kept from the file came from it and is answered without asking the file.
        const PlaneLayout layout = planeLayout(mPixelTypes, mSizeX, mSizeY);
        const uint64_t rowBytes = uint64_t(mSizeX) * sampleBytes(getPixelType(aChannel));
        const uint64_t rowsBegin =
            layout.channelByteOffset[size_t(aChannel)] + uint64_t(aReqYStart) * rowBytes;
        const bool kept = zW == 1 && mReadState->plane.find(first, aChannel, rowsBegin,
                                                            rowsBegin + uint64_t(yW) * rowBytes);
        if (!kept) {
            const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);
            uint64_t limit = fileSize;
            if (mayBeCompressed(first, first + 2 * uint64_t(zW)) &&
                multiplyOverflows(fileSize, kMaxCompressionRatio, limit))
                limit = std::numeric_limits<uint64_t>::max();
            uint64_t samples = 0;
            uint64_t requestedBits = 0;
            if (multiplyOverflows(uint64_t(mSizeX) * uint64_t(mSizeY), uint64_t(mSizeC), samples) ||
                multiplyOverflows(samples, uint64_t(zW), requestedBits) || requestedBits / 8 > limit)
                KORVANE_THROW(kClassName, "Requested " << zW << " plane(s) of " << mSizeX << " x " << mSizeY
                                                       << " pixels and " << mSizeC
                                                       << " channel(s) cannot be held by file '"
                                                       << mCurrentFile << "' of " << fileSize << " byte.");
        }
    } catch (const BlitzFileIOException&) {
        throw;
    } catch (const std::exception& e) {
        rethrowAsReaderException(e);
    }

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
        rethrowAsReaderException(e);
    }
    readRawPlanes(aArray.dataFirst(), aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                  aReqXStart, aReqXWidth);
}

template <typename T>
void DorudURIVuruda::readThumbnail(blitz::Array<T, 2>& aArray) {
    if (!isOpen()) KORVANE_THROW(kClassName, "No file opened.");
    try {
        aArray.resize(getThumbSizeY(), getThumbSizeX());
    } catch (const std::exception& e) {
        rethrowAsReaderException(e);
    }
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

    const int type = getPixelType(aChannel);
    const uint64_t bytes = sampleBytes(type);
    const uint64_t rowBytes = uint64_t(mSizeX) * bytes;
    uint64_t channelStart = 0;
    try {
        channelStart = planeLayout(mPixelTypes, mSizeX, mSizeY).channelByteOffset[size_t(aChannel)];
    } catch (const std::exception& e) {
        rethrowAsReaderException(e);
    }
    // The requested rows of the channel, as decoded bytes of a directory's strips.
    const uint64_t begin = channelStart + uint64_t(aReqYStart) * rowBytes;
    const uint64_t finish = begin + yW * rowBytes;
    // Whole rows of the file's own type need no conversion: they are decoded into the array itself.
    const bool direct = isSampleType<T>(type) && xW == uint64_t(mSizeX);

    uint64_t k = 0;
    for (uint64_t d = first; d < end; d += 2, ++k) {
        T* plane = destination + k * yW * xW;
        const unsigned char* rows =
            loadPlaneBytes(d, aChannel, begin, finish,
                           direct ? reinterpret_cast<unsigned char*>(plane) : nullptr, bytes, first, end);
        if (rows != nullptr) copyWindow(rows, type, uint64_t(mSizeX), 0, uint64_t(aReqXStart), yW, xW, plane);
    }
}

bool DorudURIVuruda::mayBeCompressed(uint64_t aFirst, uint64_t aEnd) {
    korvane::lsm::DirectoryIndex& index = mReadState->index;
    for (uint64_t d = aFirst; d < aEnd; d += 2) {
        // A directory that cannot be looked at fails when it is read, with its own message.
        if (d >= korvane::lsm::DirectoryIndex::kMaxDirectories) return true;
        index.locate(*mStreamHandle, d + 1);
        if (!index.parsed(d) || index.compressed(d)) return true;
    }
    return false;
}

const unsigned char* DorudURIVuruda::loadPlaneBytes(uint64_t aDirectory, int aChannel, uint64_t aBegin,
                                                    uint64_t aEnd, unsigned char* aDirect,
                                                    uint64_t aAlignment, uint64_t aFirst,
                                                    uint64_t aEndDirectory) {
    using korvane::lsm::DirectoryIndex;
    LSMReadState& state = *mReadState;
    DirectoryIndex& index = state.index;
    const uint64_t d = aDirectory;
    if (aBegin < aEnd) {
        if (const unsigned char* kept = state.plane.find(d, aChannel, aBegin, aEnd)) return kept;
    }

    try {
        if (!state.directoryKnown || state.directory != d) {
            state.directoryKnown = false;
            if (d >= DirectoryIndex::kMaxDirectories || !index.locate(*mStreamHandle, d) ||
                TIFFSetSubDirectory(mTiff, index.offset(d)) != 1) {
                close();
                KORVANE_THROW(kClassName, "Error while setting image directory to " << d << ", abort.");
            }
            state.directoryKnown = true;
            state.directory = d;
        }

        const PlaneLayout layout = planeLayout(mPixelTypes, mSizeX, mSizeY);
        const std::vector<uint64_t> starts = korvane::lsm::decodedStripStarts(mTiff);
        if (starts.back() != layout.expected) {
            std::ostringstream text;
            text << "Read not " << layout.expected << " byte from LSM as expected, but rather "
                 << starts.back() << " byte.\n";
            throw BlitzFileIOException(text.str());
        }

        const unsigned char* result = nullptr;
        if (aBegin < aEnd) {
            mStreamHandle->pageIndex = static_cast<uint32_t>(d);
            index.locate(*mStreamHandle, d + 1);  // reads d's own entries, which place its strips
            korvane::lsm::StripDecoder decoder(mTiff, *mStreamHandle, index, d,
                                               BlitzLSMTIFFsize(mStreamHandle), starts);
            uint32_t failed = 0;
            bool ok;
            if (aDirect != nullptr && !decoder.compressed()) {
                ok = decoder.readRange(aBegin, aEnd, aDirect, aAlignment, failed);
            } else {
                // The whole strips, clipped to the channel, are kept for the next request.
                const uint64_t channelStart = layout.channelByteOffset[size_t(aChannel)];
                const uint64_t channelEnd = channelStart + layout.channelByteCount[size_t(aChannel)];
                uint64_t keepBegin = 0;
                uint64_t keepEnd = 0;
                decoder.span(aBegin, aEnd, keepBegin, keepEnd);
                keepBegin = std::max(keepBegin, channelStart);
                keepEnd = std::min(keepEnd, channelEnd);
                unsigned char* kept = state.plane.prepare(d, aChannel, keepBegin, keepEnd);
                if (kept == nullptr)
                    KORVANE_THROW(kClassName, "Could not allocate " << keepEnd - keepBegin
                                                                    << " byte for one plane of file '"
                                                                    << mCurrentFile << "'.");
                ok = decoder.readRange(keepBegin, keepEnd, kept, aAlignment, failed);
                if (ok) state.plane.keep();
                result = kept + (aBegin - keepBegin);
                if (aDirect != nullptr) {
                    std::memcpy(aDirect, result, size_t(aEnd - aBegin));
                    result = nullptr;
                }
            }
            if (!ok) {
                close();
                KORVANE_THROW(kClassName, "Error while reading image strip "
                                              << failed << " of " << starts.size() - 1 << " strips in page "
                                              << d << " of page-range [" << aFirst << " - " << aEndDirectory
                                              << "), abort.");
            }
        }

        // The following preview and image directories are read as before, so that a broken chain right
        // after the plane is reported as it always was; the index must agree with where libtiff went.
        const uint64_t last = 2 * uint64_t(mSizeZ) * uint64_t(mSizeT) - 2;
        if (d < last) {
            state.directoryKnown = false;
            if (TIFFReadDirectory(mTiff) != 1 || !index.locate(*mStreamHandle, d + 1) ||
                TIFFCurrentDirOffset(mTiff) != index.offset(d + 1)) {
                close();
                KORVANE_THROW(kClassName,
                              "Error while reading preview directory of page " << d << ", abort.");
            }
            if (TIFFReadDirectory(mTiff) != 1 || !index.locate(*mStreamHandle, d + 2) ||
                TIFFCurrentDirOffset(mTiff) != index.offset(d + 2)) {
                close();
                KORVANE_THROW(kClassName, "Error while reading image directory of page " << d << ", abort.");
            }
            state.directoryKnown = true;
            state.directory = d + 2;
        }
        return result;
    } catch (const BlitzFileIOException&) {
        throw;
    } catch (const std::exception& e) {
        state.directoryKnown = false;
        rethrowAsReaderException(e);
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
