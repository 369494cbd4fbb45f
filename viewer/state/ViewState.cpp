#include "ViewState.h"

#include <cmath>

bool Calibration::spatial() const {
    // Real pixels lie between a hundredth of a nanometre and a metre.
    const auto real = [](double aMicrons) {
        return std::isfinite(aMicrons) && aMicrons > 1e-5 && aMicrons < 1e6;
    };
    return real(xMicrons) && real(yMicrons);
}

double Calibration::secondsAt(int aT) const {
    if (aT >= 0 && aT < times.size()) return times[aT];
    return seconds > 0.0 ? aT * seconds : -1.0;
}

ViewState::ViewState(QObject* aParent) : QObject(aParent) {}

void ViewState::announce(Aspects aWhat) {
    if (mBatchDepth > 0)
        mPending |= aWhat;
    else
        emit changed(aWhat);
}

void ViewState::setFile(const QByteArray& aFileName, const StackInfo& aInfo) {
    mFileName = aFileName;
    mInfo = aInfo;
    mDisplays = QVector<ChannelDisplay>(aInfo.channels.size());
    mHasShown = false;
    mProfileLine = QLineF();
    mStackMode = StackMode();
    announce(FileAspect | PlaneAspect | DisplayAspect | OverlayAspect | ModeAspect);
}

void ViewState::clearFile() {
    mFileName.clear();
    mInfo = StackInfo();
    mDisplays.clear();
    mHasShown = false;
    mProfileLine = QLineF();
    mStackMode = StackMode();
    announce(FileAspect | PlaneAspect | DisplayAspect | OverlayAspect | ModeAspect);
}

void ViewState::setShown(const PlaneRequest& aRequest, ElementType aType) {
    if (mHasShown && mShown == aRequest && mElementType == aType) return;
    mShown = aRequest;
    mElementType = aType;
    mHasShown = true;
    announce(PlaneAspect);
}

void ViewState::clearShown() {
    if (!mHasShown) return;
    mHasShown = false;
    announce(PlaneAspect);
}

void ViewState::setAutomaticContrast(bool aOn) {
    if (mAutomaticContrast == aOn) return;
    mAutomaticContrast = aOn;
    announce(DisplayAspect);
}

void ViewState::setComposite(bool aOn) {
    if (mComposite == aOn) return;
    mComposite = aOn;
    announce(DisplayAspect);
}

ChannelDisplay ViewState::display(int aChannel) const {
    return aChannel >= 0 && aChannel < mDisplays.size() ? mDisplays[aChannel] : ChannelDisplay();
}

void ViewState::setDisplay(int aChannel, const ChannelDisplay& aDisplay) {
    if (aChannel < 0 || aChannel >= mDisplays.size() || mDisplays[aChannel] == aDisplay) return;
    mDisplays[aChannel] = aDisplay;
    announce(DisplayAspect);
}

void ViewState::setZoom(double aZoom) {
    if (mZoom == aZoom) return;
    mZoom = aZoom;
    announce(ZoomAspect);
}

void ViewState::setScaleBar(bool aOn) {
    if (mScaleBar == aOn) return;
    mScaleBar = aOn;
    announce(OverlayAspect);
}

void ViewState::setProfileLine(const QLineF& aLine) {
    const QLineF line = aLine.isNull() ? QLineF() : aLine;
    if (line == mProfileLine) return;
    mProfileLine = line;
    announce(OverlayAspect);
}

void ViewState::setStackMode(const StackMode& aMode) {
    if (mStackMode == aMode) return;
    mStackMode = aMode;
    announce(ModeAspect);
}
