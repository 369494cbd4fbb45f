#include "StackSliders.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

StackSliders::StackSliders(ViewState& aState, QSpinBox* aZPlane, QSpinBox* aTimepoint, QWidget* aParent)
    : QWidget(aParent), mState(aState) {
    setObjectName("mStackSliders");
    mGrid = new QGridLayout(this);
    mGrid->setContentsMargins(2, 2, 2, 2);
    mGrid->setVerticalSpacing(2);
    mGrid->setColumnStretch(2, 1);

    const char* const names[] = {"z", "t"};
    const QString tips[] = {tr("z plane"), tr("Timepoint")};
    QSpinBox* const spinBoxes[] = {aZPlane, aTimepoint};
    for (int axis = ZAxis; axis <= TAxis; ++axis) {
        Row& row = mRows[axis];
        row.spinBox = spinBoxes[axis];
        row.name = new QLabel(QString::fromLatin1(names[axis]), this);
        row.play = new QToolButton(this);
        row.play->setObjectName(QStringLiteral("mPlay%1").arg(QChar(names[axis][0]).toUpper()));
        row.play->setCheckable(true);
        row.play->setAutoRaise(true);
        row.play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
        row.play->setToolTip(tr("Play through the %1s").arg(tips[axis].toLower()));
        row.slider = new QSlider(Qt::Horizontal, this);
        row.slider->setObjectName(QStringLiteral("m%1Slider").arg(QChar(names[axis][0]).toUpper()));
        row.slider->setToolTip(tips[axis]);
        row.slider->setFocusPolicy(Qt::NoFocus);  // keys move the plane through the window's shortcuts
        row.position = new QLabel(this);
        row.position->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")));
        row.position->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        mGrid->addWidget(row.name, axis, 0);
        mGrid->addWidget(row.play, axis, 1);
        mGrid->addWidget(row.slider, axis, 2);
        mGrid->addWidget(row.position, axis, 3);

        const Axis which = Axis(axis);
        connect(row.slider, &QSlider::valueChanged, this, [this, which](int aValue) {
            moveTo(which, aValue);
            if (mPlaying == which) restartClock();  // playback goes on from where the user put it
        });
        connect(row.play, &QToolButton::clicked, this, [this, which](bool aOn) {
            if (aOn)
                play(which);
            else
                pause();
        });
    }

    mRate = new QWidget(this);
    auto* rate = new QHBoxLayout(mRate);
    rate->setContentsMargins(0, 0, 0, 0);
    mFramesPerSecond = new QDoubleSpinBox(mRate);
    mFramesPerSecond->setObjectName("mFramesPerSecond");
    mFramesPerSecond->setRange(0.1, 100.0);
    mFramesPerSecond->setDecimals(1);
    mFramesPerSecond->setValue(10.0);
    mFramesPerSecond->setSuffix(tr(" fps"));
    mFramesPerSecond->setToolTip(tr("Frames per second while playing"));
    mLoop = new QCheckBox(tr("Loop"), mRate);
    mLoop->setObjectName("mLoop");
    mLoop->setChecked(true);
    rate->addWidget(mFramesPerSecond);
    rate->addWidget(mLoop);
    connect(mFramesPerSecond, &QDoubleSpinBox::valueChanged, this, [this] {
        if (mPlaying >= 0) restartClock();
    });
    connect(mLoop, &QCheckBox::toggled, this, [this] {
        if (mPlaying >= 0) restartClock();
    });

    mTimer.setTimerType(Qt::PreciseTimer);
    connect(&mTimer, &QTimer::timeout, this, &StackSliders::tick);
    mSteady.start();
    connect(&mState, &ViewState::changed, this, &StackSliders::stateChanged);
    layOut();
}

void StackSliders::setExtents(int aSizeZ, int aSizeT) {
    pause();
    mRows[ZAxis].size = std::max(1, aSizeZ);
    mRows[TAxis].size = std::max(1, aSizeT);
    for (Row& row : mRows) {
        const QSignalBlocker blocker(row.slider);
        row.slider->setRange(0, row.size - 1);
        row.slider->setPageStep(std::max(1, row.size / 10));
    }
    layOut();
    showShown();
}

bool StackSliders::available(Axis aAxis) const {
    if (!mState.hasFile() || mRows[aAxis].size < 2) return false;
    // A scan image already shows the axis its lines are stacked along.
    if (mState.hasShown() && mState.shown().mode == ViewMode::ScanImage)
        return mState.scanAlongZ() ? aAxis != ZAxis : aAxis != TAxis;
    return true;
}

void StackSliders::layOut() {
    int first = -1;
    for (int axis = ZAxis; axis <= TAxis; ++axis) {
        const bool on = available(Axis(axis));
        for (QWidget* part :
             {static_cast<QWidget*>(mRows[axis].name), static_cast<QWidget*>(mRows[axis].play),
              static_cast<QWidget*>(mRows[axis].slider), static_cast<QWidget*>(mRows[axis].position)})
            part->setVisible(on);
        if (on && first < 0) first = axis;
    }
    if (first >= 0) {
        mGrid->removeWidget(mRate);
        mGrid->addWidget(mRate, first, 4);
    }
    const bool wanted = first >= 0;
    if (wanted == isVisibleTo(parentWidget())) return;
    setVisible(wanted);
    // The image area gives up its room now, so that fitting the picture sees the room left.
    if (QWidget* parent = parentWidget(); parent && parent->layout()) parent->layout()->activate();
}

int StackSliders::shownIndex(Axis aAxis) const {
    if (!mState.hasShown()) return 0;
    return aAxis == ZAxis ? mState.shown().index.zPlane : mState.shown().index.timepoint;
}

void StackSliders::showShown() {
    for (int axis = ZAxis; axis <= TAxis; ++axis) {
        Row& row = mRows[axis];
        const int index = shownIndex(Axis(axis));
        const QSignalBlocker blocker(row.slider);
        row.slider->setValue(index);
        row.position->setText(QStringLiteral("%1 / %2").arg(index + 1).arg(row.size));
    }
}

void StackSliders::stateChanged(ViewState::Aspects aWhat) {
    if (aWhat & (ViewState::FileAspect | ViewState::PlaneAspect)) {
        layOut();
        if (mPlaying >= 0 && !available(Axis(mPlaying))) pause();
        showShown();
    }
}

bool StackSliders::moveTo(Axis aAxis, int aIndex) {
    QSpinBox* box = mRows[aAxis].spinBox;
    if (box->value() == aIndex && shownIndex(aAxis) != aIndex) {
        // The spin box was pulled back to the last index without loading: only a change loads.
        const QSignalBlocker blocker(box);
        box->setValue(aIndex > 0 ? aIndex - 1 : aIndex + 1);
    }
    box->setValue(aIndex);
    showShown();  // also when the read failed and the controls went back to what is on screen
    return mState.hasShown() && shownIndex(aAxis) == aIndex;
}

void StackSliders::play(Axis aAxis) {
    if (!available(aAxis)) {
        pause();
        return;
    }
    if (mPlaying != aAxis) pause();
    mPlaying = aAxis;
    // Without looping, playing from the last frame starts again at the first.
    if (!mLoop->isChecked() && shownIndex(aAxis) >= mRows[aAxis].size - 1 && !moveTo(aAxis, 0)) {
        pause();
        return;
    }
    mRows[aAxis].play->setChecked(true);
    mRows[aAxis].play->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    restartClock();
}

void StackSliders::pause() {
    mTimer.stop();
    mPlaying = -1;
    for (Row& row : mRows) {
        row.play->setChecked(false);
        row.play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    }
}

void StackSliders::togglePlayback() {
    if (mPlaying >= 0) {
        pause();
        return;
    }
    if (available(ZAxis))
        play(ZAxis);
    else if (available(TAxis))
        play(TAxis);
}

bool StackSliders::wheel(int aAngleDelta) {
    if (!available(ZAxis)) return false;
    mWheelAngle += aAngleDelta;
    const int notches = mWheelAngle / 120;
    if (notches == 0) return true;
    mWheelAngle -= notches * 120;
    const int next = std::clamp(shownIndex(ZAxis) - notches, 0, mRows[ZAxis].size - 1);
    if (next != shownIndex(ZAxis)) moveTo(ZAxis, next);
    return true;
}

void StackSliders::restartClock() {
    if (mPlaying < 0) return;
    mClock.start(shownIndex(Axis(mPlaying)), mRows[mPlaying].size, mFramesPerSecond->value(),
                 mLoop->isChecked(), mSteady.elapsed());
    mTimer.start(mClock.msUntilNextFrame(mSteady.elapsed()));
}

void StackSliders::tick() {
    if (mPlaying < 0) return;
    const Axis axis = Axis(mPlaying);
    const int64_t now = mSteady.elapsed();
    const int due = mClock.frameAt(now);
    if (due != shownIndex(axis)) {
        // Quiet while the plane loads: a message box about a failed read must not see the next frame.
        mTimer.stop();
        const bool shown = moveTo(axis, due);
        if (!shown || mPlaying != int(axis)) {
            pause();
            return;
        }
    }
    if (mClock.finishedAt(now)) {
        pause();
        return;
    }
    mTimer.start(mClock.msUntilNextFrame(mSteady.elapsed()));
}
