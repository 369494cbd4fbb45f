#include "ProjectionMode.h"

#include <algorithm>

#include "DisplayPipeline.h"
#include "DorudURIVuruda.h"
#include "KorvaneViewerQt.h"
#include "ProjectionJob.h"

using korvane::analysis::ProjectedPlane;
using korvane::analysis::ProjectionMethod;

namespace {

// Sums and standard deviations lie on another scale than the data they come from.
bool changesScale(ProjectionMethod aMethod) {
    return aMethod == ProjectionMethod::Sum || aMethod == ProjectionMethod::StandardDeviation;
}

QString methodText(ProjectionMethod aMethod) {
    switch (aMethod) {
        case ProjectionMethod::Maximum:
            return ProjectionMode::tr("maximum");
        case ProjectionMethod::Minimum:
            return ProjectionMode::tr("minimum");
        case ProjectionMethod::Mean:
            return ProjectionMode::tr("mean");
        case ProjectionMethod::Sum:
            return ProjectionMode::tr("sum");
        case ProjectionMethod::StandardDeviation:
            return ProjectionMode::tr("standard deviation");
    }
    return QString();
}

}  // namespace

bool ProjectionMode::Key::operator==(const Key& aOther) const {
    return fileName == aOther.fileName && timepoint == aOther.timepoint && cropped == aOther.cropped &&
           xStart == aOther.xStart && xWidth == aOther.xWidth && yStart == aOther.yStart &&
           yWidth == aOther.yWidth && settings == aOther.settings;
}

ProjectionMode::ProjectionMode(KorvaneViewerQt& aWindow)
    : QObject(&aWindow), mWindow(aWindow), mState(aWindow.viewState()), mJob(this) {
    connect(&mState, &ViewState::changed, this, &ProjectionMode::stateChanged);
    connect(&mJob, &BackgroundJob::progressed, this, [this](int aDone, int aTotal) {
        emit progressed(describe(int(mJobChannels.size())), aDone, aTotal);
    });
}

void ProjectionMode::stateChanged(ViewState::Aspects aWhat) {
    if (aWhat & ViewState::FileAspect) {
        // Another file: nothing kept belongs to it.
        mJob.cancel();
        mKept.clear();
        mKeptKey = Key();
        mPresented.clear();
        mHasPlane = false;
        mPlane = AnyPlane();
        mRanged.clear();
        mPlaneDisplays.clear();
        emit idle();
    }
    if (aWhat &
        (ViewState::FileAspect | ViewState::PlaneAspect | ViewState::DisplayAspect | ViewState::ModeAspect))
        follow();
}

QList<int> ProjectionMode::wantedChannels() const {
    const int shown = mPlaneRequest.index.channel;
    QList<int> channels{shown};
    if (mState.composite())
        for (int c = 0; c < mState.channelCount(); ++c)
            if (c != shown && mState.display(c).visible) channels << c;
    return channels;
}

void ProjectionMode::follow() {
    const StackMode& mode = mState.stackMode();
    if (mode.mode != ViewMode::Projection) {
        leave();  // also when follow() itself turned the mode off
        return;
    }
    if (mFollowing) return;  // what follow() changes itself
    mFollowing = true;
    if (!mState.hasShown() || !mWindow.reader() || !mWindow.reader()->isOpen()) {
        mFollowing = false;
        return;
    }
    const PlaneRequest& shown = mState.shown();
    if (shown.mode != ViewMode::Projection) {
        // The window has shown a plane. Another z than the projection's means the user moved through z.
        if (mHasPlane && shown.index.zPlane != mPlaneRequest.index.zPlane) {
            StackMode plane = mode;
            plane.mode = ViewMode::Plane;
            mState.setStackMode(plane);
            mFollowing = false;
            return;
        }
        mHasPlane = true;
        sharePlane(mPlane, mWindow.planeSource().plane());
        mPlaneRequest = shown;
        mPlaneType = mState.elementType();
        mPresented.clear();
    }
    Key key;
    key.fileName = mState.fileName();
    key.timepoint = mPlaneRequest.index.timepoint;
    key.cropped = mPlaneRequest.cropped;
    key.xStart = mPlaneRequest.xStart;
    key.xWidth = mPlaneRequest.xWidth;
    key.yStart = mPlaneRequest.yStart;
    key.yWidth = mPlaneRequest.yWidth;
    key.settings = mode.projection;
    if (mState.shown().mode == ViewMode::Projection && key != mPresentedKey) {
        // Other settings: the projection on screen is not what is asked for any more.
        ViewState::Batch batch(mState);
        showPlane();
        restoreRanges();
    }
    if (key != mKeptKey) {
        mKept.clear();
        mKeptKey = key;
    }
    const QList<int> wanted = wantedChannels();
    QList<int> missing;
    for (int c : wanted)
        if (mKept.find(c) == mKept.end()) missing << c;
    if (missing.isEmpty()) {
        present(wanted);
        mFollowing = false;
        return;
    }
    bool coming = mJob.isRunning() && mJobKey == key;
    for (int c : missing) coming = coming && mJobChannels.contains(c);
    if (!coming) start(missing);
    mFollowing = false;
}

void ProjectionMode::start(const QList<int>& aChannels) {
    DorudURIVuruda& reader = *mWindow.reader();
    ProjectionWork work;
    work.fileName = mKeptKey.fileName;
    work.timepoint = mKeptKey.timepoint;
    work.channels.assign(aChannels.begin(), aChannels.end());
    work.settings = mKeptKey.settings;
    work.window = stackWindowOf(mPlaneRequest);
    try {
        work.sizeX = reader.getSizeX();
        work.sizeY = reader.getSizeY();
        work.sizeZ = reader.getSizeZ();
        work.sizeC = reader.getSizeC();
    } catch (const BlitzFileIOException& e) {
        arrived(mKeptKey, {}, QString::fromLocal8Bit(e.what()));
        return;
    }
    mJobKey = mKeptKey;
    mJobChannels = aChannels;
    const Key key = mKeptKey;
    emit progressed(describe(int(aChannels.size())), 0, 1);
    mJob.start([this, key, work](const BackgroundJob::Progress& aProgress) -> std::function<void()> {
        std::optional<ProjectionOutcome> outcome = projectChannels(work, aProgress);
        if (!outcome) return {};
        return [this, key, outcome = std::move(*outcome)] { arrived(key, outcome.planes, outcome.error); };
    });
}

void ProjectionMode::arrived(const Key& aKey, const std::vector<std::pair<int, ProjectedPlane>>& aPlanes,
                             const QString& aError) {
    emit idle();
    // The view has moved on since it was asked for.
    if (mState.stackMode().mode != ViewMode::Projection || aKey != mKeptKey) return;
    if (!aError.isEmpty()) {
        StackMode plane = mState.stackMode();
        plane.mode = ViewMode::Plane;
        mState.setStackMode(plane);  // puts the plane back
        emit failed(aError);
        return;
    }
    for (const auto& [channel, plane] : aPlanes) {
        mKept.erase(channel);  // a projection kept before is let go, not written over
        mKept.emplace(channel, plane);
    }
    follow();
}

void ProjectionMode::present(const QList<int>& aChannels) {
    const PlaneRequest& shown = mState.shown();
    QList<int> sorted = aChannels;
    std::sort(sorted.begin(), sorted.end());
    if (shown.mode == ViewMode::Projection && mPresentedKey == mKeptKey && mPresented == sorted) return;
    std::vector<AnyPlane> planes(size_t(mState.channelCount()));
    for (int c : aChannels)
        if (c >= 0 && size_t(c) < planes.size()) planes[size_t(c)] = anyPlaneOf(mKept.at(c));
    PlaneRequest request = mPlaneRequest;
    request.mode = ViewMode::Projection;
    const ProjectionSettings& settings = mKeptKey.settings;

    ViewState::Batch batch(mState);
    mWindow.planeSource().keepComputed(planes, request);
    mState.setShown(request, elementTypeOf(mKept.at(request.index.channel)));
    mPresentedKey = mKeptKey;
    mPresented = sorted;
    if (!changesScale(settings.method)) {
        restoreRanges();
        return;
    }
    if (settings != mRangedFor) {
        mRanged.clear();
        mRangedFor = settings;
    }
    QList<int> ranging;
    for (int c : aChannels)
        if (!mRanged.contains(c)) ranging << c;
    if (ranging.isEmpty()) return;
    if (mPlaneDisplays.isEmpty())
        for (int c = 0; c < mState.channelCount(); ++c) mPlaneDisplays << mState.display(c);
    mWindow.display().applyAuto(ranging);
    for (int c : ranging) mRanged.insert(c);
}

void ProjectionMode::restoreRanges() {
    if (mPlaneDisplays.isEmpty()) return;
    ViewState::Batch batch(mState);
    for (int c = 0; c < mPlaneDisplays.size() && c < mState.channelCount(); ++c) {
        ChannelDisplay display = mState.display(c);
        display.minimum = mPlaneDisplays[c].minimum;
        display.maximum = mPlaneDisplays[c].maximum;
        display.rangeSet = mPlaneDisplays[c].rangeSet;
        mState.setDisplay(c, display);
    }
    mPlaneDisplays.clear();
    mRanged.clear();
}

void ProjectionMode::leave() {
    if (mJob.isRunning()) {
        mJob.cancel();
        emit idle();
    }
    {
        ViewState::Batch batch(mState);
        showPlane();
        restoreRanges();
    }
    mPresented.clear();
    mHasPlane = false;
    mPlane = AnyPlane();  // the plane source holds it while it is shown
}

void ProjectionMode::showPlane() {
    if (!mHasPlane || !mState.hasShown() || mState.shown().mode != ViewMode::Projection) return;
    ViewState::Batch batch(mState);
    mWindow.planeSource().keep(mPlane, mPlaneRequest);
    mState.setShown(mPlaneRequest, mPlaneType);
    mPresented.clear();
}

void ProjectionMode::cancel() {
    mJob.cancel();
    StackMode plane = mState.stackMode();
    plane.mode = ViewMode::Plane;
    mState.setStackMode(plane);
    emit idle();
}

QString ProjectionMode::describe(int aChannels) const {
    const ProjectionSettings& settings = mJobKey.settings;
    const int last = settings.zLast < 0 && mWindow.reader() && mWindow.reader()->isOpen()
                         ? mWindow.reader()->getSizeZ() - 1
                         : settings.zLast;
    return aChannels > 1 ? tr("Projecting the %1 of z %2\u2013%3 of %4 channels")
                               .arg(methodText(settings.method))
                               .arg(settings.zFirst)
                               .arg(last)
                               .arg(aChannels)
                         : tr("Projecting the %1 of z %2\u2013%3")
                               .arg(methodText(settings.method))
                               .arg(settings.zFirst)
                               .arg(last);
}
