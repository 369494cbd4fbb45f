#include "PlaneSource.h"

void PlaneSource::setReader(DorudURIVuruda* aReader) {
    mReader = aReader;
    release();
}

bool PlaneSource::isScanFile(DorudURIVuruda& aReader) {
    return aReader.getSizeY() == 1 && (aReader.getSizeT() > 1 || aReader.getSizeZ() > 1);
}

int PlaneSource::scanRows(DorudURIVuruda& aReader) {
    return aReader.getSizeT() > 1 ? aReader.getSizeT() : aReader.getSizeZ();
}

void PlaneSource::keep(const AnyPlane& aPlane, const PlaneRequest& aRequest, bool aFromReader) {
    const PlaneRequest before = mChannelRequest;
    if (planeData(aPlane) != planeData(mPlane) || !(aRequest == mRequest) || aFromReader != mFromReader)
        ++mGeneration;
    sharePlane(mPlane, aPlane);
    mRequest = aRequest;
    mFromReader = aFromReader && !isEmptyPlane(aPlane);
    // Channel planes of another place, or of another kind of source, no longer belong with it.
    PlaneRequest place = aRequest;
    place.index.channel = 0;
    if (!aFromReader || !(place == before)) mChannelPlanes.clear();
    mChannelRequest = place;
    if (size_t(aRequest.index.channel) < mChannelPlanes.size())
        sharePlane(mChannelPlanes[size_t(aRequest.index.channel)], aPlane);
}

void PlaneSource::keepComputed(const std::vector<AnyPlane>& aChannelPlanes, const PlaneRequest& aRequest) {
    const size_t channel = size_t(aRequest.index.channel);
    keep(channel < aChannelPlanes.size() ? aChannelPlanes[channel] : AnyPlane(), aRequest, false);
    mChannelPlanes = std::vector<AnyPlane>(aChannelPlanes);  // shares, never copies into the old planes
    ++mGeneration;
}

void PlaneSource::release() {
    ++mGeneration;
    mPlane = std::monostate();
    mFromReader = false;
    mChannelPlanes.clear();
}

void PlaneSource::forget() {
    mFromReader = false;
    // Channel planes are read again for the next file, but those on screen stay for the read-out.
    mChannelRequest.index.timepoint = -1;
}

const std::vector<AnyPlane>& PlaneSource::channelPlanes() {
    if (!mReader || !mReader->isOpen() || isEmptyPlane(mPlane)) return mChannelPlanes;
    const int channels = mReader->getSizeC();
    if (int(mChannelPlanes.size()) == channels) return mChannelPlanes;
    if (!mFromReader) {
        // A computed plane has no sibling channels to read.
        mChannelPlanes.assign(size_t(channels), AnyPlane());
        if (mRequest.index.channel < channels) mChannelPlanes[size_t(mRequest.index.channel)] = mPlane;
        return mChannelPlanes;
    }
    std::vector<AnyPlane> planes(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        if (c == mRequest.index.channel) {
            planes[size_t(c)] = mPlane;
            continue;
        }
        PlaneRequest request = mRequest;
        request.index.channel = c;
        switch (mReader->getPixelType(c)) {
            case TYPE_UINT8: {
                blitz::Array<unsigned char, 2> plane;
                read(plane, request);
                planes[size_t(c)] = plane;
                break;
            }
            case TYPE_UINT16: {
                blitz::Array<unsigned short, 2> plane;
                read(plane, request);
                planes[size_t(c)] = plane;
                break;
            }
            default: {
                blitz::Array<float, 2> plane;
                read(plane, request);
                planes[size_t(c)] = plane;
                break;
            }
        }
    }
    mChannelPlanes = std::move(planes);
    ++mGeneration;
    return mChannelPlanes;
}
