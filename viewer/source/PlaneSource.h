#ifndef KORVANE_PLANESOURCE_H
#define KORVANE_PLANESOURCE_H

#include <cstdint>
#include <vector>

#include "AnyPlane.h"
#include "BlitzArray.h"
#include "DorudURIVuruda.h"
#include "PlaneRequest.h"

// Turns requests into planes: reads them from the reader, assembles scan images row by row, keeps the
// plane on screen (sharing its storage, never copying it) and the other channels' planes for channel
// colours, and takes planes that did not come from the reader (projections, slices) to show like one.
class PlaneSource {
  public:
    // Forgets everything kept: it came from the reader that goes.
    void setReader(DorudURIVuruda* aReader);

    // Whether the file's planes are one row high and stack into an x-t (or x-z) picture.
    static bool isScanFile(DorudURIVuruda& aReader);
    // Rows of the scan image of the open file: its timepoints, or its z planes when it has one timepoint.
    static int scanRows(DorudURIVuruda& aReader);

    // Reads aRequest into aPlane in the reader's element conversion. Throws BlitzFileIOException.
    template <typename T>
    void read(blitz::Array<T, 2>& aPlane, const PlaneRequest& aRequest);

    // The kept plane if it holds Ts and is the reader's answer to aRequest of the file still open.
    template <typename T>
    const blitz::Array<T, 2>* keptFor(const PlaneRequest& aRequest) const {
        if (!mFromReader || mRequest != aRequest) return nullptr;
        return std::get_if<blitz::Array<T, 2>>(&mPlane);
    }
    // The plane now on screen. aFromReader: the reader's answer to aRequest, which may answer the same
    // request again; otherwise computed (the request tells where it lies in the stack).
    void keep(const AnyPlane& aPlane, const PlaneRequest& aRequest, bool aFromReader = true);
    // Computed planes of every channel of the file at once (empty for channels not computed), indexed by
    // channel; the one of aRequest's channel is the plane on screen.
    void keepComputed(const std::vector<AnyPlane>& aChannelPlanes, const PlaneRequest& aRequest);
    // Lets go of every kept plane, so that its memory is free before the next read.
    void release();
    // After a file was opened or the series changed, the kept planes answer no request any more (they
    // stay for the read-out of the picture still shown).
    void forget();

    const AnyPlane& plane() const { return mPlane; }
    const PlaneRequest& request() const { return mRequest; }
    // Changes whenever a kept plane does: planes in freed memory may come back at the same address.
    uint64_t generation() const { return mGeneration; }

    // Every channel's plane where the kept plane lies (same timepoint, z plane, crop and mode), read in
    // each channel's own element type; the kept plane stands for its own channel. Empty without a reader
    // or plane. Throws BlitzFileIOException.
    const std::vector<AnyPlane>& channelPlanes();
    // The channel planes read so far, without reading.
    const std::vector<AnyPlane>& keptChannelPlanes() const { return mChannelPlanes; }

  private:
    template <typename T>
    void readScanImage(blitz::Array<T, 2>& aPlane, const PlaneRequest& aRequest);

    DorudURIVuruda* mReader = nullptr;
    uint64_t mGeneration = 0;
    AnyPlane mPlane;
    PlaneRequest mRequest;
    bool mFromReader = false;
    std::vector<AnyPlane> mChannelPlanes;
    PlaneRequest mChannelRequest;  // where the channel planes lie (its channel is not used)
};

template <typename T>
void PlaneSource::read(blitz::Array<T, 2>& aPlane, const PlaneRequest& aRequest) {
    const PlaneIndex& at = aRequest.index;
    if (aRequest.mode == ViewMode::ScanImage) {
        readScanImage(aPlane, aRequest);
    } else if (aRequest.cropped) {
        mReader->readArray(aPlane, at.timepoint, at.channel, at.zPlane, 1, aRequest.yStart, aRequest.yWidth,
                           aRequest.xStart, aRequest.xWidth);
    } else {
        mReader->readArray(aPlane, at.timepoint, at.channel, at.zPlane, 1, 0, 0, 0, 0);
    }
}

template <typename T>
void PlaneSource::readScanImage(blitz::Array<T, 2>& aPlane, const PlaneRequest& aRequest) {
    const PlaneIndex& at = aRequest.index;
    const bool alongTime = mReader->getSizeT() > 1;
    const int rows = scanRows(*mReader);
    const int xStart = aRequest.cropped ? aRequest.xStart : 0;
    const int xWidth = aRequest.cropped ? aRequest.xWidth : 0;
    blitz::Array<T, 2> row;
    blitz::Array<T, 2> image;
    for (int i = 0; i < rows; ++i) {
        mReader->readArray(row, alongTime ? i : at.timepoint, at.channel, alongTime ? at.zPlane : i, 1, 0, 1,
                           xStart, xWidth);
        if (i == 0) image.resize(rows, row.extent(1));
        image(i, blitz::Range::all()) = row(row.lbound(0), blitz::Range::all());
    }
    aPlane.reference(image);
}

#endif
