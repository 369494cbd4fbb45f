#ifndef KORVANE_STACKSLIDERS_H
#define KORVANE_STACKSLIDERS_H

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "PlaybackClock.h"
#include "ViewState.h"

class QCheckBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QSlider;
class QSpinBox;
class QToolButton;

// The bar under the image: a z slider and a t slider, each there only when the file has more than one
// plane or timepoint along it, with a play button each, and the frame rate and looping they share.
// The sliders move the window's z and t spin boxes, whose slots load the plane, and they show the plane
// on screen, so that spin boxes and sliders stay in step whichever the user moves. One axis plays at a
// time; a plane that takes longer than a frame makes playback skip frames rather than fall behind.
class StackSliders : public QWidget {
    Q_OBJECT

  public:
    enum Axis { ZAxis = 0, TAxis = 1 };

    StackSliders(ViewState& aState, QSpinBox* aZPlane, QSpinBox* aTimepoint, QWidget* aParent = nullptr);

    // The open file's numbers of z planes and timepoints (1 and 1 without a file). Stops playback.
    void setExtents(int aSizeZ, int aSizeT);

    QSlider* slider(Axis aAxis) const { return mRows[aAxis].slider; }
    QToolButton* playButton(Axis aAxis) const { return mRows[aAxis].play; }
    QDoubleSpinBox* framesPerSecond() const { return mFramesPerSecond; }
    QCheckBox* loop() const { return mLoop; }
    bool isPlaying(Axis aAxis) const { return mPlaying == aAxis; }
    // Whether the axis has a slider to move now.
    bool available(Axis aAxis) const;

    void play(Axis aAxis);
    void pause();
    // Plays or pauses z, or t when the file has one z plane.
    void togglePlayback();
    // A turn of the mouse wheel (in eighths of a degree, 120 a notch) steps z: towards the user to the
    // next plane. False when there is no z to step.
    bool wheel(int aAngleDelta);

  private:
    struct Row {
        QLabel* name = nullptr;
        QToolButton* play = nullptr;
        QSlider* slider = nullptr;
        QLabel* position = nullptr;
        QSpinBox* spinBox = nullptr;
        int size = 1;
    };

    void stateChanged(ViewState::Aspects aWhat);
    // Sliders and labels to the plane on screen.
    void showShown();
    void layOut();
    int shownIndex(Axis aAxis) const;
    // Moves the spin box, which loads the plane; false when the plane on screen is not aIndex after it.
    bool moveTo(Axis aAxis, int aIndex);
    void restartClock();
    void tick();

    ViewState& mState;
    Row mRows[2];
    QGridLayout* mGrid;
    QWidget* mRate;  // frame rate and looping, beside the first visible slider
    QDoubleSpinBox* mFramesPerSecond;
    QCheckBox* mLoop;
    int mPlaying = -1;  // the axis playing, or -1
    PlaybackClock mClock;
    QTimer mTimer;
    QElapsedTimer mSteady;
    int mWheelAngle = 0;  // turned but not yet a whole notch
};

#endif
