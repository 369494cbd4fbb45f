#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
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

// An uncompressed image of many planes is read and kept in chunks of rows of about this size: small
// enough for the first row to come at once, large enough for row after row to come from memory and for
// the few system calls of each refill to weigh little against its copy.
constexpr uint64_t kRowChunkBytes = uint64_t(2) << 20;

uint64_t sampleBytes(int aPixelType) { return uint64_t(korvane::lsm::bytesPerSample(aPixelType)); }

bool multiplyOverflows(uint64_t a, uint64_t b, uint64_t& aProduct) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return true;
    aProduct = a * b;
    return false;
}

// Columns [aXStart, aXStart + aXWidth) of aRows rows of one channel, as laid out by aChannel from
// aRows on, converted into aTarget row after row.
template <typename T>
void copyWindow(const unsigned char* aRows, int aPixelType, const korvane::lsm::ChannelBytes& aChannel,
                uint64_t aRowCount, uint64_t aXStart, uint64_t aXWidth, T* aTarget) {
    using korvane::lsm::convertSamples;
    for (uint64_t j = 0; j < aRowCount; ++j) {
        const unsigned char* row =
            aRows + j * aChannel.rowBytes + aChannel.offset + aXStart * aChannel.stride;
        T* target = aTarget + j * aXWidth;
        switch (aPixelType) {
            case TYPE_UINT8:
                convertSamples<uint8_t, T>(row, aChannel.stride, target, aXWidth);
                break;
            case TYPE_UINT16:
                convertSamples<uint16_t, T>(row, aChannel.stride, target, aXWidth);
                break;
            case TYPE_FLOAT:
                convertSamples<float, T>(row, aChannel.stride, target, aXWidth);
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

[[noreturn]] void rethrowAsReaderException(const std::exception& aCaught) {
    std::ostringstream text;
    text << "Exception caught when reserving memory. Error message '" << aCaught.what() << "'.\n";
    throw BlitzFileIOException(text.str());
}

[[noreturn]] __attribute__((noinline, cold)) void throwOutside(const char* aAxis, int aStart, int64_t aEnd,
                                                               int aSize) {
    KORVANE_THROW(kClassName, "Requested " << aAxis << " [" << aStart << " - " << aEnd
                                           << ") lies outside the stack's " << aAxis << " [0 - " << aSize
                                           << ").");
}

// Whether aArray already has the extents a request of aZWidth x aYWidth x aXWidth (of its rank) gives.
template <typename T, int N>
inline bool hasExtents(const blitz::Array<T, N>& aArray, int aZWidth, int aYWidth, int aXWidth) {
    return aArray.extent(N - 1) == aXWidth && (N < 2 || aArray.extent(N < 2 ? 0 : N - 2) == aYWidth) &&
           (N < 3 || aArray.extent(0) == aZWidth);
}

// The per-extent overloads keep the storage when the extents are unchanged; the TinyVector one always
// reallocates.
template <typename T, int N>
inline void resizeArray(blitz::Array<T, N>& aArray, int aZWidth, int aYWidth, int aXWidth) {
    if (hasExtents(aArray, aZWidth, aYWidth, aXWidth)) return;
    try {
        if constexpr (N == 3)
            aArray.resize(aZWidth, aYWidth, aXWidth);
        else if constexpr (N == 2)
            aArray.resize(aYWidth, aXWidth);
        else
            aArray.resize(aXWidth);
    } catch (const std::exception& e) {
        rethrowAsReaderException(e);
    }
}

// Messages of the checks, out of the way of the reads that pass them.
[[noreturn]] __attribute__((noinline, cold)) void throwText(const std::string& aText) {
    KORVANE_THROW(kClassName, aText);
}

[[noreturn]] __attribute__((noinline, cold)) void throwNoFileOpened() { throwText("No file opened."); }
[[noreturn]] __attribute__((noinline, cold)) void throwOutsideTimepoints(int aTimepoint, int aSizeT) {
    KORVANE_THROW(kClassName, "Requested timepoint " << aTimepoint
                                                     << " lies outside the stack's timepoints [0 - " << aSizeT
                                                     << ").");
}

// As getPixelType() words it.
[[noreturn]] __attribute__((noinline, cold)) void throwNoSuchChannel(int aChannel) {
    KORVANE_THROW(kClassName, "No such channel '" << aChannel << "'.");
}

[[noreturn]] __attribute__((noinline, cold)) void throwWrongRank() {
    throw BlitzFileIOException(
        "Wrong invocation of DorudURIVuruda::readArray(): Supported dimensions are: 3 (no restrictions), 2 "
        "(aReqZWidth = 1), 1 (aReqZWidth = 1, aReqYWidth = 1).\n");
}

// The width of a request along one axis of aSize elements, after checking that it lies inside: a window
// outside the stack would read or write outside the plane buffer and the array. One unsigned comparison
// covers a start below 0 and one at or past the end, so that row after row of a line scan pays little.
inline int checkedWidth(const char* aAxis, int aStart, int aWidth, int aSize) {
    if (unsigned(aStart) >= unsigned(aSize) || (aWidth > 0 && unsigned(aWidth) > unsigned(aSize - aStart)))
        throwOutside(aAxis, aStart, int64_t(aStart) + effectiveWidth(aStart, aWidth, aSize), aSize);
    return aWidth > 0 ? aWidth : aSize - aStart;
}

// Whether aArray's elements lie row after row without gaps and in ascending order, the order the samples
// come in. Views with gaps (every other column of a larger array) and other storage orders (columns first,
// descending ranks) take the samples through a plain array instead, which blitz then assigns element by
// element.
template <typename T, int N>
inline bool isPlain(const blitz::Array<T, N>& aArray) {
    blitz::diffType expected = 1;
    for (int r = N - 1; r >= 0; --r) {
        if (aArray.extent(r) > 1 && aArray.stride(r) != expected) return false;
        expected *= aArray.extent(r);
    }
    return true;
}
template <typename T, int N>
inline blitz::Array<T, N> plainLike(const blitz::Array<T, N>& aArray) {
    return blitz::Array<T, N>(aArray.lbound(), aArray.extent());
}

// aRowCount kept rows, columns [aXStart, aXStart + aXWidth) of aChannel, into aArray resized to them.
// Out of line: only a request the inline copy of one row does not cover comes here.
template <typename T, int N>
__attribute__((noinline)) void copyKeptRows(blitz::Array<T, N>& aArray, const unsigned char* aKept,
                                            int aPixelType, const korvane::lsm::ChannelBytes& aChannel,
                                            int aRowCount, int aXStart, int aXWidth) {
    resizeArray(aArray, 1, aRowCount, aXWidth);
    if (!isPlain(aArray)) {
        blitz::Array<T, N> plain = plainLike(aArray);
        copyKeptRows(plain, aKept, aPixelType, aChannel, aRowCount, aXStart, aXWidth);
        aArray = plain;
        return;
    }
    copyWindow(aKept, aPixelType, aChannel, uint64_t(aRowCount), uint64_t(aXStart), uint64_t(aXWidth),
               aArray.dataFirst());
}

}  // namespace

template <typename T, int N>
void DorudURIVuruda::readArrayChecked(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel,
                                      int aReqZStart, int aReqZWidth, int aReqYStart, int aReqYWidth,
                                      int aReqXStart, int aReqXWidth) {
    static_assert(N >= 1 && N <= 3, "readArray supports ranks 1 to 3");
    // What mKeptRows points to may be replaced below, or the read fail.
    mKeptRows = KeptRows();
    if (mTiff == nullptr) throwNoFileOpened();  // isOpen(), without the call
    if ((N == 2 && aReqZWidth != 1) || (N == 1 && (aReqZWidth != 1 || aReqYWidth != 1))) throwWrongRank();

    // "No such channel" before anything is resized or read.
    if (size_t(unsigned(aChannel)) >= mPixelTypes.size()) throwNoSuchChannel(aChannel);
    // The extents are at least 1 while a file is open.
    if (unsigned(aTimepoint) >= unsigned(mSizeT)) throwOutsideTimepoints(aTimepoint, mSizeT);
    const int zW = checkedWidth("z planes", aReqZStart, aReqZWidth, mSizeZ);
    const int yW = checkedWidth("rows", aReqYStart, aReqYWidth, mSizeY);
    const int xW = checkedWidth("columns", aReqXStart, aReqXWidth, mSizeX);
    const LSMReadState& state = *mReadState;
    const korvane::lsm::ScanLayout& layout = state.layout;
    if (!layout.refusal.empty()) throwText(layout.refusal);

    // Rows still kept from the file came from it and are answered without asking it: row after row of a
    // line scan comes this way, so it does no more than it must.
    if (zW == 1) {
        const uint64_t row =
            (uint64_t(aTimepoint) * uint64_t(mSizeZ) + uint64_t(aReqZStart)) * uint64_t(mSizeY) +
            uint64_t(aReqYStart);
        if (const unsigned char* kept =
                state.plane.findRows(state.series, layout.contiguous ? 0 : aChannel, row, uint64_t(yW))) {
            copyKeptRows(aArray, kept, mPixelTypes[size_t(aChannel)], layout.channels[size_t(aChannel)], yW,
                         aReqXStart, xW);
            rememberKeptRows(aChannel);
            return;
        }
    }
    readArrayFromFile(aArray, aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                      aReqXStart, aReqXWidth);
    rememberKeptRows(aChannel);
}

void DorudURIVuruda::rememberKeptRows(int aChannel) {
    const LSMReadState& state = *mReadState;
    const korvane::lsm::ChannelBytes& channel = state.layout.channels[size_t(aChannel)];
    const int type = mPixelTypes[size_t(aChannel)];
    const korvane::lsm::PlaneCache::Rows rows =
        state.plane.rows(state.series, state.layout.contiguous ? 0 : aChannel);
    if (rows.count == 0 || channel.stride != sampleBytes(type)) return;
    // readKeptRow refuses a timepoint past the last by its row alone: the sums of a request's offsets must
    // not wrap (a timepoint under 4 GiB, so the series under 2^63 bytes) and the kept rows must lie inside
    // the series.
    uint64_t planeBytes = 0;
    uint64_t timepointBytes = 0;
    uint64_t keptEnd = 0;
    if (multiplyOverflows(uint64_t(mSizeY), rows.rowBytes, planeBytes) ||
        multiplyOverflows(planeBytes, uint64_t(mSizeZ), timepointBytes) || timepointBytes >> 32 != 0 ||
        multiplyOverflows(rows.firstRow + rows.count, rows.rowBytes, keptEnd) ||
        keptEnd > uint64_t(mSizeT) * timepointBytes)
        return;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(rows.first + channel.offset);
    mKeptRows = {begin - rows.firstRow * rows.rowBytes,
                 begin,
                 rows.count * rows.rowBytes,
                 rows.rowBytes,
                 planeBytes,
                 timepointBytes,
                 keyOf(aChannel, type),
                 uint32_t(mSizeZ - 1),
                 uint32_t(mSizeY - 1),
                 uint32_t(mSizeX - 1)};
}

template <typename T, int N>
void DorudURIVuruda::readArrayFromFile(blitz::Array<T, N>& aArray, int aTimepoint, int aChannel,
                                       int aReqZStart, int aReqZWidth, int aReqYStart, int aReqYWidth,
                                       int aReqXStart, int aReqXWidth) {
    const int zW = static_cast<int>(effectiveWidth(aReqZStart, aReqZWidth, mSizeZ));
    const int yW = static_cast<int>(effectiveWidth(aReqYStart, aReqYWidth, mSizeY));
    const int xW = static_cast<int>(effectiveWidth(aReqXStart, aReqXWidth, mSizeX));
    const LSMReadState& state = *mReadState;
    const korvane::lsm::ScanLayout& layout = state.layout;
    try {
        // Memory is set aside only for planes that could come from this file at all: at one bit per
        // sample at least, and expanded no more than compression can where the requested directories
        // are compressed. Plausible mismatches of the sample size pass, to be reported by the read.
        const uint64_t plane = uint64_t(aTimepoint) * uint64_t(mSizeZ) + uint64_t(aReqZStart);
        const uint64_t first = layout.directory(state.series, plane);
        const uint64_t last = layout.directory(state.series, plane + uint64_t(zW) - 1);
        const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);
        uint64_t limit = fileSize;
        if (mayBeCompressed(first, last + 2) && multiplyOverflows(fileSize, kMaxCompressionRatio, limit))
            limit = std::numeric_limits<uint64_t>::max();
        uint64_t samples = 0;
        uint64_t requestedBits = 0;
        if (multiplyOverflows(uint64_t(mSizeX) * uint64_t(mSizeY), uint64_t(mSizeC), samples) ||
            multiplyOverflows(samples, uint64_t(zW), requestedBits) || requestedBits / 8 > limit)
            KORVANE_THROW(kClassName, "Requested " << zW << " plane(s) of " << mSizeX << " x " << mSizeY
                                                   << " pixels and " << mSizeC
                                                   << " channel(s) cannot be held by file '" << mCurrentFile
                                                   << "' of " << fileSize << " byte.");
    } catch (const BlitzFileIOException&) {
        throw;
    } catch (const std::exception& e) {
        rethrowAsReaderException(e);
    }
    resizeArray(aArray, zW, yW, xW);
    if (!isPlain(aArray)) {
        blitz::Array<T, N> plain = plainLike(aArray);
        readArrayFromFile(plain, aTimepoint, aChannel, aReqZStart, aReqZWidth, aReqYStart, aReqYWidth,
                          aReqXStart, aReqXWidth);
        aArray = plain;
        return;
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
    const korvane::lsm::ScanLayout& layout = mReadState->layout;
    const uint64_t series = mReadState->series;
    const uint64_t zW = uint64_t(effectiveWidth(aReqZStart, aReqZWidth, mSizeZ));
    const uint64_t yW = uint64_t(effectiveWidth(aReqYStart, aReqYWidth, mSizeY));
    const uint64_t xW = uint64_t(effectiveWidth(aReqXStart, aReqXWidth, mSizeX));
    const uint64_t sizeY = uint64_t(mSizeY);
    // All in 64 bits: Z * T of a large stack overflows 32 bits long before libtiff's directory number does.
    const uint64_t begin = uint64_t(aTimepoint) * uint64_t(mSizeZ) + uint64_t(aReqZStart);
    const uint64_t end = begin + zW;
    uint64_t inImage = 0;
    const uint64_t first = layout.directory(series, begin, inImage);
    const uint64_t endDirectory = zW == 1 ? first + 2 : layout.directory(series, end - 1) + 2;

    const int type = mPixelTypes[size_t(aChannel)];  // the channel was checked by readArray
    const uint64_t bytes = sampleBytes(type);
    const korvane::lsm::ChannelBytes& channel = layout.channels[size_t(aChannel)];
    // Whole rows of the file's own type, the channel's samples back to back, need no conversion: they
    // are decoded into the array itself.
    const bool direct = pixelTypeOf<T>() == type && xW == uint64_t(mSizeX) && channel.stride == bytes;
    // Whole planes that follow each other in one image are one run of its rows.
    const bool wholePlanes = yW == sizeY;

    T* out = destination;
    for (uint64_t p = begin; p < end;) {
        const uint64_t d = p == begin ? first : layout.directory(series, p, inImage);
        const uint64_t planes = wholePlanes ? std::min(end - p, layout.planesPerDirectory - inImage) : 1;
        const uint64_t rows = wholePlanes ? planes * sizeY : yW;
        // The requested rows of the channel, as decoded bytes of the directory's strips.
        const uint64_t from = channel.base + (inImage * sizeY + uint64_t(aReqYStart)) * channel.rowBytes;
        const unsigned char* kept = loadPlaneBytes(d, aChannel, from, from + rows * channel.rowBytes,
                                                   direct ? reinterpret_cast<unsigned char*>(out) : nullptr,
                                                   bytes, first, endDirectory);
        if (kept != nullptr) copyWindow(kept, type, channel, rows, uint64_t(aReqXStart), xW, out);
        out += rows * xW;
        p += planes;
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
    const korvane::lsm::ScanLayout& layout = state.layout;
    const uint64_t d = aDirectory;
    // Samples side by side in each pixel are kept for all channels at once.
    const int keptChannel = layout.contiguous ? 0 : aChannel;
    if (aBegin < aEnd) {
        if (const unsigned char* kept = state.plane.find(d, keptChannel, aBegin, aEnd)) return kept;
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

        if (!state.startsKnown || state.startsDirectory != d) {
            state.startsKnown = false;
            state.starts = korvane::lsm::decodedStripStarts(mTiff);
            if (state.starts.back() != layout.directoryBytes) {
                std::ostringstream text;
                text << "Read not " << layout.directoryBytes << " byte from LSM as expected, but rather "
                     << state.starts.back() << " byte.\n";
                throw BlitzFileIOException(text.str());
            }
            uint16_t planar = PLANARCONFIG_CONTIG;
            TIFFGetFieldDefaulted(mTiff, TIFFTAG_PLANARCONFIG, &planar);
            if (layout.channels.size() > 1 && (planar == PLANARCONFIG_CONTIG) != layout.contiguous)
                KORVANE_THROW(kClassName, "Image directory "
                                              << d << " of file '" << mCurrentFile << "' stores its "
                                              << layout.channels.size() << " channels "
                                              << (layout.contiguous ? "one after the other"
                                                                    : "side by side in each pixel")
                                              << ", unlike the first image.");
            state.startsDirectory = d;
            state.startsKnown = true;
        }
        const std::vector<uint64_t>& starts = state.starts;

        const unsigned char* result = nullptr;
        if (aBegin < aEnd) {
            mStreamHandle->pageIndex = static_cast<uint32_t>(d);
            index.locate(*mStreamHandle, d + 1);  // reads d's own entries, which place its strips
            const uint64_t fileSize = BlitzLSMTIFFsize(mStreamHandle);
            korvane::lsm::StripDecoder decoder(mTiff, *mStreamHandle, index, d, fileSize, starts);
            // An image of many planes (a line scan's lines, an x-z scan's rows) is mostly asked for a
            // few rows at a time: what is decoded for them is kept to answer the rows that follow.
            const bool manyPlanes = layout.planesPerDirectory > 1;
            const bool compressed = decoder.compressed();
            uint32_t failed = 0;
            bool ok;
            if (aDirect != nullptr && !compressed && (!manyPlanes || aEnd - aBegin >= kRowChunkBytes)) {
                ok = decoder.readRange(aBegin, aEnd, aDirect, aAlignment, failed);
            } else {
                // The whole strips, or for many uncompressed planes a chunk of whole rows, clipped to the
                // channel, are kept for the next request.
                const korvane::lsm::ChannelBytes& channel = layout.channels[size_t(aChannel)];
                const uint64_t rows = layout.planesPerDirectory * uint64_t(mSizeY);
                const uint64_t channelStart = channel.base;
                const uint64_t channelEnd = channel.base + rows * channel.rowBytes;
                uint64_t keepBegin = 0;
                uint64_t keepEnd = 0;
                if (manyPlanes && !compressed) {
                    const uint64_t chunk = std::max<uint64_t>(1, kRowChunkBytes / channel.rowBytes);
                    const uint64_t firstRow = (aBegin - channelStart) / channel.rowBytes / chunk * chunk;
                    keepBegin = channelStart + firstRow * channel.rowBytes;
                    keepEnd = std::max(aEnd, keepBegin + chunk * channel.rowBytes);
                } else {
                    decoder.span(aBegin, aEnd, keepBegin, keepEnd);
                }
                keepBegin = std::max(keepBegin, channelStart);
                keepEnd = std::min(keepEnd, channelEnd);
                if (manyPlanes && compressed && (keepEnd - keepBegin) / kMaxCompressionRatio > fileSize)
                    KORVANE_THROW(kClassName, "The strips holding rows of image directory "
                                                  << d << " decode to " << keepEnd - keepBegin
                                                  << " byte, more than file '" << mCurrentFile << "' of "
                                                  << fileSize << " byte can hold.");
                unsigned char* kept = state.plane.prepare(d, keptChannel, keepBegin, keepEnd);
                if (kept == nullptr)
                    KORVANE_THROW(kClassName, "Could not allocate " << keepEnd - keepBegin
                                                                    << " byte for one plane of file '"
                                                                    << mCurrentFile << "'.");
                ok = decoder.readRange(keepBegin, keepEnd, kept, aAlignment, failed);
                if (ok) {
                    // The whole rows among the kept bytes, counted across the series' planes.
                    const uint64_t firstRow =
                        (keepBegin - channelStart + channel.rowBytes - 1) / channel.rowBytes;
                    const uint64_t endRow = std::max(firstRow, (keepEnd - channelStart) / channel.rowBytes);
                    const uint64_t image = d / 2 - state.series * layout.directoriesPerSeries;
                    state.plane.keep(state.series, image * rows + firstRow, endRow - firstRow,
                                     channel.rowBytes,
                                     channelStart + firstRow * channel.rowBytes - keepBegin);
                }
                result = kept + (aBegin - keepBegin);
                if (aDirect != nullptr) {
                    std::memcpy(aDirect, result, size_t(aEnd - aBegin));
                    result = nullptr;
                }
            }
            if (!ok) {
                const size_t strips = starts.size() - 1;  // close() forgets them
                close();
                KORVANE_THROW(kClassName, "Error while reading image strip "
                                              << failed << " of " << strips << " strips in page " << d
                                              << " of page-range [" << aFirst << " - " << aEndDirectory
                                              << "), abort.");
            }
        }

        // The following preview and image directories are read as before, so that a broken chain right
        // after the plane is reported as it always was; the index must agree with where libtiff went.
        if (d < layout.lastDirectory(state.series)) {
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

#define KORVANE_INSTANTIATE_BLOCK_READS(T)                                                                  \
    template void DorudURIVuruda::readArrayChecked<T, 1>(blitz::Array<T, 1>&, int, int, int, int, int, int, \
                                                         int, int);                                         \
    template void DorudURIVuruda::readArrayChecked<T, 2>(blitz::Array<T, 2>&, int, int, int, int, int, int, \
                                                         int, int);                                         \
    template void DorudURIVuruda::readArrayChecked<T, 3>(blitz::Array<T, 3>&, int, int, int, int, int, int, \
                                                         int, int);                                         \
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
