#ifndef KORVANE_ORTHOGONALMODE_H
#define KORVANE_ORTHOGONALMODE_H

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <map>
#include <vector>

#include "BackgroundJob.h"
#include "LevelStack.h"
#include "OrthoStack.h"
#include "SliceRender.h"
#include "ViewState.h"

class KorvaneViewerQt;
class QGridLayout;
class SliceView;

// The orthogonal views while the state's mode asks for them: an x-z view below and a y-z view beside the
// x-y view, inside the image area, through the crossing that a click or drag in any of the three moves
// (the side views also move z). The stack of what the x-y view shows (its channel, or every visible one
// in channel colours, through its crop, in its element type) is read once on a worker through a reader of
// its own, unless it would take more than the memory limit; the side views then cut their slices from it
// and draw them in the x-y view's display settings, z stretched by the voxel depth over its width. They
// are hidden while the stack for the x-y view is not there, so they never show another place.
class OrthogonalMode : public QObject {
    Q_OBJECT

  public:
    explicit OrthogonalMode(KorvaneViewerQt& aWindow);

    // The stack is being read.
    bool isBusy() const { return mJob.isRunning(); }
    // Stops the reading and leaves the mode.
    void cancel();
    SliceView* xzView() const { return mXz; }
    SliceView* yzView() const { return mYz; }

  signals:
    void progressed(const QString& aWhat, int aDone, int aTotal);
    void idle();
    // The mode was refused (the stack would not fit the memory limit); a sentence for the status bar.
    void refused(const QString& aMessage);
    // Reading the stack failed with the reader's message; the mode is off again.
    void failed(const QString& aMessage);
    // Rich text for the status bar about the side view pixel under the cursor; empty off the views.
    void hovered(const QString& aText);

  protected:
    // In the mode, the left button on the x-y view moves the crossing instead of panning.
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;

  private:
    struct Key {
        QByteArray fileName;
        int timepoint = -1;
        StackWindow window;
        bool operator==(const Key& aOther) const {
            return fileName == aOther.fileName && timepoint == aOther.timepoint && window == aOther.window;
        }
        bool operator!=(const Key& aOther) const { return !(*this == aOther); }
    };
    // A channel's stack in the element type it is shown in.
    struct Need {
        int channel = 0;
        ElementType type = ElementType::UInt8;
    };

    void stateChanged(ViewState::Aspects aWhat);
    void follow(ViewState::Aspects aWhat);
    void leave();
    void start(const std::vector<Need>& aMissing);
    void arrived(const Key& aKey, const std::vector<std::pair<Need, AnyStack>>& aStacks,
                 const QString& aError);
    std::vector<Need> needs() const;
    void redraw(bool aXz, bool aYz);
    void placeCrossing();
    void setViewsShown(bool aShown);
    void zoomChanged(double aZoom);
    void moveCrossing(const QPoint& aXy);
    void moveZ(int aZ);
    void pointedXz(const QPoint& aPixel);
    void pointedYz(const QPoint& aPixel);
    void hoveredSlice(bool aXz, const QPoint& aPixel);
    int zPixels(bool aXz) const;
    int planes() const;
    const LevelStack* shownLevels(const std::vector<AnyPlane>& aXyPlanes);

    KorvaneViewerQt& mWindow;
    ViewState& mState;
    BackgroundJob mJob;
    Key mJobKey;
    std::vector<Need> mJobNeeds;
    QGridLayout* mGrid = nullptr;
    SliceView* mXz = nullptr;
    SliceView* mYz = nullptr;

    Key mKey;
    std::map<int, std::pair<ElementType, AnyStack>> mStacks;  // by channel
    LevelStackBuilder mLevels;  // of the shown channel's stack, while its mapping stays
    SliceRenderer mXzRenderer;
    SliceRenderer mYzRenderer;
    QImage mXzPicture;
    QImage mYzPicture;
    int mDrawnY = -1;  // the row the x-z picture shows, the column the y-z picture shows; -1 to draw again
    int mDrawnX = -1;
    bool mDraggingXy = false;
    bool mFollowing = false;
};

#endif
