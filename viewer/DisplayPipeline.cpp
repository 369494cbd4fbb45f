#include "DisplayPipeline.h"

#include "PlaneSource.h"
#include "PlaneView.h"
#include "Renderer.h"

bool DisplayPipeline::Inputs::operator==(const Inputs& aOther) const {
    return generation == aOther.generation && request == aOther.request &&
           automaticContrast == aOther.automaticContrast && composite == aOther.composite &&
           displays == aOther.displays;
}

DisplayPipeline::DisplayPipeline(ViewState& aState, PlaneSource& aSource, PlaneView& aView, QObject* aParent)
    : QObject(aParent), mState(aState), mSource(aSource), mView(aView) {
    connect(&mState, &ViewState::changed, this, &DisplayPipeline::stateChanged);
}

void DisplayPipeline::offerPicture(const QImage& aPicture) {
    if (aPicture.isNull()) return;
    mPicture = aPicture;
    mDrawn = Inputs();
}

void DisplayPipeline::clear() {
    mPicture = QImage();
    mDrawn = Inputs();
    mHistograms.clear();
    mView.setPicture(QImage());
    emit pictureChanged();
}

void DisplayPipeline::stateChanged(ViewState::Aspects aWhat) {
    if (aWhat & (ViewState::FileAspect | ViewState::PlaneAspect | ViewState::DisplayAspect)) refresh();
}

const AnyPlane* DisplayPipeline::planeOf(int aChannel) const {
    if (mState.composite()) {
        const std::vector<AnyPlane>& planes = mSource.keptChannelPlanes();
        if (aChannel >= 0 && size_t(aChannel) < planes.size() && !isEmptyPlane(planes[size_t(aChannel)]))
            return &planes[size_t(aChannel)];
    }
    if (aChannel == mSource.request().index.channel && !isEmptyPlane(mSource.plane()))
        return &mSource.plane();
    return nullptr;
}

const Histogram& DisplayPipeline::histogram(int aChannel) {
    const AnyPlane* plane = planeOf(aChannel);
    if (!plane) return mNoHistogram;
    auto& entry = mHistograms[aChannel];
    if (entry.first != mSource.generation() || entry.second.counts.empty()) {
        entry.first = mSource.generation();
        entry.second = histogramOf(*plane);
    }
    return entry.second;
}

QList<int> DisplayPipeline::activeChannels() const {
    QList<int> channels;
    if (!mState.hasShown()) return channels;
    if (!mState.composite()) return {mState.shown().index.channel};
    for (int c = 0; c < mState.channelCount(); ++c)
        if (mState.display(c).visible) channels << c;
    return channels;
}

void DisplayPipeline::applyAuto(const QList<int>& aChannels) {
    ViewState::Batch batch(mState);
    for (int c : aChannels) {
        const Histogram& counts = histogram(c);
        if (counts.isEmpty()) continue;
        ChannelDisplay display = mState.display(c);
        std::tie(display.minimum, display.maximum) = saturatedRange(counts);
        display.rangeSet = true;
        mState.setDisplay(c, display);
    }
}

void DisplayPipeline::applyFull(const QList<int>& aChannels) {
    ViewState::Batch batch(mState);
    for (int c : aChannels) {
        if (c < 0 || c >= mState.channelCount()) continue;
        ChannelDisplay display = mState.display(c);
        ChannelInfo channel = mState.channels()[c];
        // Sums and deviations of a projection are no longer in the channel's type: their own range.
        const AnyPlane* plane = planeOf(c);
        if (plane && mState.shown().mode == ViewMode::Projection &&
            (std::holds_alternative<blitz::Array<unsigned int, 2>>(*plane) ||
             std::holds_alternative<blitz::Array<float, 2>>(*plane)))
            channel.bits = 32;
        std::tie(display.minimum, display.maximum) = fullRange(channel, histogram(c));
        display.rangeSet = true;
        mState.setDisplay(c, display);
    }
}

void DisplayPipeline::chooseFirstRanges(const std::vector<AnyPlane>& aChannelPlanes) {
    QList<int> channels;
    if (mState.composite()) {
        for (int c = 0; c < int(aChannelPlanes.size()); ++c) channels << c;
    } else {
        channels << mState.shown().index.channel;
    }
    for (int c : channels) {
        ChannelDisplay display = mState.display(c);
        if (display.rangeSet || c < 0 || c >= mState.channelCount()) continue;
        if (mState.channels()[c].bits == 8 && !mState.channels()[c].isFloat) {
            display.minimum = 0.0;  // exactly the data as it is
            display.maximum = 255.0;
        } else {
            const Histogram& counts = histogram(c);
            if (counts.isEmpty()) continue;
            std::tie(display.minimum, display.maximum) = saturatedRange(counts);
        }
        display.rangeSet = true;
        mState.setDisplay(c, display);
    }
}

void DisplayPipeline::refresh() {
    if (mRefreshing) return;
    mRefreshing = true;
    {
        ViewState::Batch batch(mState);  // first ranges are announced after drawing, and draw nothing more
        if (!mState.hasShown() || isEmptyPlane(mSource.plane())) {
            mRefreshing = false;
            return;
        }
        std::vector<AnyPlane> noPlanes;
        const std::vector<AnyPlane>* channelPlanes = &noPlanes;
        if (mState.composite()) {
            try {
                channelPlanes = &mSource.channelPlanes();
            } catch (const BlitzFileIOException& e) {
                mRefreshing = false;
                mState.setComposite(false);
                emit readFailed(QString::fromLocal8Bit(e.what()));
                return;
            }
        }
        chooseFirstRanges(*channelPlanes);
        Inputs inputs;
        inputs.generation = mSource.generation();
        inputs.request = mState.shown();
        inputs.automaticContrast = mState.automaticContrast();
        inputs.composite = mState.composite();
        for (int c = 0; c < mState.channelCount(); ++c) inputs.displays << mState.display(c);
        if (!(inputs == mDrawn) || mPicture.isNull()) {
            // The view lets go of its reference first, so that a picture of the same size is drawn over in
            // place instead of being copied.
            mView.dropPicture();
            mCompositeScale = renderShown(mState, mSource.plane(), *channelPlanes, mPicture);
            mDrawn = inputs;
            mView.setPicture(mPicture);
            emit pictureChanged();
        }
        mRefreshing = false;
    }
}
