#ifndef KORVANE_PROJECTIONMODE_H
#define KORVANE_PROJECTIONMODE_H

#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <map>
#include <vector>

#include "AnyPlane.h"
#include "BackgroundJob.h"
#include "ViewState.h"
#include "ZProjection.h"

class KorvaneViewerQt;

// Z projections in place of the plane, while the state's mode asks for one. The window still loads its
// plane for every change of t, c or type; the projection of that place (every visible channel's in
// channel colours) is then computed on a worker, and shown in the plane's stead when it arrives, like a
// plane: display ranges, colours and read-out work on it. Projections are kept until the file, the
// timepoint, the crop or the settings change, so going back and forth costs nothing.
//
// Moving z shows that plane and leaves the mode: a projection has no z, and a microscopist who steps
// through z wants to see the planes. Until a projection arrives the plane stays on screen; a cancelled or
// failed one leaves it there, and leaving the mode puts the plane back, so no picture is ever stale.
// Sums and deviations, which are not in the data's units, get Auto ranges; the plane's ranges come back
// with the plane.
class ProjectionMode : public QObject {
    Q_OBJECT

  public:
    explicit ProjectionMode(KorvaneViewerQt& aWindow);

    // A projection is being computed.
    bool isBusy() const { return mJob.isRunning(); }
    // Stops the computation and returns to the plane.
    void cancel();

  signals:
    // What is computed, and how far it is.
    void progressed(const QString& aWhat, int aDone, int aTotal);
    // Nothing is computed any more.
    void idle();
    // The projection failed with the reader's message; the plane is on screen again.
    void failed(const QString& aMessage);

  private:
    // Where a projection lies: the same key gives the same projection of each channel.
    struct Key {
        QByteArray fileName;
        int timepoint = -1;
        bool cropped = false;
        int xStart = 0, xWidth = 0, yStart = 0, yWidth = 0;
        ProjectionSettings settings;
        bool operator==(const Key& aOther) const;
        bool operator!=(const Key& aOther) const { return !(*this == aOther); }
    };

    void stateChanged(ViewState::Aspects aWhat);
    void follow();
    void leave();
    void start(const QList<int>& aChannels);
    void arrived(const Key& aKey,
                 const std::vector<std::pair<int, korvane::analysis::ProjectedPlane>>& aPlanes,
                 const QString& aError);
    void present(const QList<int>& aChannels);
    // The window's plane back on screen in place of a projection.
    void showPlane();
    void restoreRanges();
    QList<int> wantedChannels() const;
    QString describe(int aChannels) const;

    KorvaneViewerQt& mWindow;
    ViewState& mState;
    BackgroundJob mJob;
    Key mJobKey;
    QList<int> mJobChannels;

    // The plane the window showed last, which comes back when the projection goes.
    bool mHasPlane = false;
    AnyPlane mPlane;
    PlaneRequest mPlaneRequest;
    ElementType mPlaneType = ElementType::UInt8;

    Key mKeptKey;
    std::map<int, korvane::analysis::ProjectedPlane> mKept;  // by channel
    Key mPresentedKey;
    QList<int> mPresented;  // the channels now on screen

    ProjectionSettings mRangedFor;           // the settings whose channels got Auto ranges
    QSet<int> mRanged;                       // those channels
    QVector<ChannelDisplay> mPlaneDisplays;  // the ranges before, empty when none were changed
    bool mFollowing = false;
};

#endif
