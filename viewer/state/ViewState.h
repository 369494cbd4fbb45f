#ifndef KORVANE_VIEWSTATE_H
#define KORVANE_VIEWSTATE_H

#include <QByteArray>
#include <QFlags>
#include <QLineF>
#include <QObject>
#include <QVector>

#include "ChannelDisplay.h"
#include "PlaneRequest.h"
#include "StackMode.h"

// Physical size of a step along each axis.
struct Calibration {
    double xMicrons = 0.0;
    double yMicrons = 0.0;
    double zMicrons = 0.0;
    double seconds = 0.0;   // between timepoints; 0 when the file does not say
    QVector<double> times;  // seconds since the first timepoint, one per timepoint, when the file stamps them

    // Seconds from the first timepoint to timepoint aT; negative when the file does not say.
    double secondsAt(int aT) const;

    // Whether the pixel sizes are real: some files hold tiny placeholders (1e-13 m and less) instead.
    bool spatial() const;
};

// What the file tells about showing it.
struct StackInfo {
    QVector<ChannelInfo> channels;
    // Lambda stacks, and channels without distinct colours of their own: coloured by wavelength (or by
    // hues spread from violet to red while the wavelengths are unknown) and blended without saturating.
    bool spectral = false;
    Calibration calibration;
    // A scan image stacks z planes rather than timepoints (a file of one timepoint).
    bool scanAlongZ = false;
};

// What the window shows: the file, the plane (t, c, z, element type, crop, mode), the zoom and how each
// channel is displayed. Widgets edit it, the display reads it; nothing else holds this state. The plane
// fields describe what is on screen, so a failed read leaves them, and the controls can be put back.
class ViewState : public QObject {
    Q_OBJECT

  public:
    enum Aspect {
        FileAspect = 1,      // file, channels, calibration
        PlaneAspect = 2,     // index, element type, crop, mode
        DisplayAspect = 4,   // channel ranges, colours, visibility, contrast, composite
        ZoomAspect = 8,      // the zoom of the view
        OverlayAspect = 16,  // scale bar, profile line
        ModeAspect = 32,     // projection, orthogonal views and their crossing
    };
    Q_DECLARE_FLAGS(Aspects, Aspect)

    explicit ViewState(QObject* aParent = nullptr);

    // Changes made while a batch lives are announced once, when the last batch goes.
    class Batch {
      public:
        explicit Batch(ViewState& aState) : mState(aState) { ++mState.mBatchDepth; }
        ~Batch() {
            if (--mState.mBatchDepth == 0 && mState.mPending) {
                const Aspects pending = mState.mPending;
                mState.mPending = {};
                emit mState.changed(pending);
            }
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        ViewState& mState;
    };

    // A newly opened file: nothing of it is shown yet, and every channel starts with a range still to
    // choose.
    void setFile(const QByteArray& aFileName, const StackInfo& aInfo);
    // No file, nothing shown.
    void clearFile();
    bool hasFile() const { return !mFileName.isEmpty(); }
    const QByteArray& fileName() const { return mFileName; }
    const QVector<ChannelInfo>& channels() const { return mInfo.channels; }
    int channelCount() const { return int(mInfo.channels.size()); }
    const Calibration& calibration() const { return mInfo.calibration; }
    bool spectral() const { return mInfo.spectral; }
    bool scanAlongZ() const { return mInfo.scanAlongZ; }

    // The plane now on screen.
    void setShown(const PlaneRequest& aRequest, ElementType aType);
    // Nothing on screen (the file may stay open).
    void clearShown();
    bool hasShown() const { return mHasShown; }
    const PlaneRequest& shown() const { return mShown; }
    ElementType elementType() const { return mElementType; }

    bool automaticContrast() const { return mAutomaticContrast; }
    void setAutomaticContrast(bool aOn);
    // All visible channels blended in their colours instead of the shown channel alone.
    bool composite() const { return mComposite; }
    void setComposite(bool aOn);
    // Out-of-range channels give the default display.
    ChannelDisplay display(int aChannel) const;
    void setDisplay(int aChannel, const ChannelDisplay& aDisplay);

    double zoom() const { return mZoom; }
    void setZoom(double aZoom);
    bool scaleBar() const { return mScaleBar; }
    void setScaleBar(bool aOn);
    // The line of the intensity profile, between pixel centres of the picture (column, row); null when
    // there is none. It stays while z and t change; another file removes it.
    const QLineF& profileLine() const { return mProfileLine; }
    void setProfileLine(const QLineF& aLine);
    // Plane, projection or orthogonal views; back to the plane with every file.
    const StackMode& stackMode() const { return mStackMode; }
    void setStackMode(const StackMode& aMode);

  signals:
    void changed(ViewState::Aspects aWhat);

  private:
    void announce(Aspects aWhat);

    int mBatchDepth = 0;
    Aspects mPending;
    QByteArray mFileName;
    StackInfo mInfo;
    QVector<ChannelDisplay> mDisplays;
    PlaneRequest mShown;
    ElementType mElementType = ElementType::UInt8;
    bool mHasShown = false;
    bool mAutomaticContrast = false;
    bool mComposite = false;
    double mZoom = 1.0;
    bool mScaleBar = false;
    QLineF mProfileLine;
    StackMode mStackMode;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ViewState::Aspects)

#endif
