#ifndef KORVANE_DISPLAYPIPELINE_H
#define KORVANE_DISPLAYPIPELINE_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>
#include <map>
#include <vector>

#include "Histogram.h"
#include "ViewState.h"

class PlaneSource;
class PlaneView;

// Keeps the picture on the view in step with the state: whenever what is shown or how it is displayed
// changes, it gives channels shown for the first time their range (0..255 for 8-bit data, Auto for the
// rest), reads the other channels for channel colours, draws the picture from the kept planes (never
// from the file) and hands it to the view.
class DisplayPipeline : public QObject {
    Q_OBJECT

  public:
    DisplayPipeline(ViewState& aState, PlaneSource& aSource, PlaneView& aView, QObject* aParent = nullptr);

    // The picture on screen; null when nothing is shown.
    const QImage& picture() const { return mPicture; }
    // What the channel colours' sums of the picture were multiplied by (1 unless a spectral composite
    // was normalised); side views of the picture draw with it too.
    double compositeScale() const { return mCompositeScale; }
    // A fresh picture that the next drawing may draw into when its size fits.
    void offerPicture(const QImage& aPicture);
    // Nothing on screen: the view shows its hint.
    void clear();

    // Histogram of the plane shown for aChannel (the shown plane, or in channel colours that channel's
    // plane); empty when there is none. Kept as long as that plane.
    const Histogram& histogram(int aChannel);
    // The channels that Auto and Full work on: the shown one, or every visible one in channel colours.
    QList<int> activeChannels() const;
    void applyAuto(const QList<int>& aChannels);
    void applyFull(const QList<int>& aChannels);

  signals:
    void pictureChanged();
    // Reading the other channels failed; the reader's message.
    void readFailed(const QString& aWhat);

  private:
    void stateChanged(ViewState::Aspects aWhat);
    void refresh();
    void chooseFirstRanges(const std::vector<AnyPlane>& aChannelPlanes);
    const AnyPlane* planeOf(int aChannel) const;

    // What the picture was drawn from: the same again needs no drawing.
    struct Inputs {
        uint64_t generation = 0;
        PlaneRequest request;
        bool automaticContrast = false;
        bool composite = false;
        QVector<ChannelDisplay> displays;
        bool operator==(const Inputs& aOther) const;
    };

    ViewState& mState;
    PlaneSource& mSource;
    PlaneView& mView;
    QImage mPicture;
    double mCompositeScale = 1.0;
    Inputs mDrawn;
    bool mRefreshing = false;
    std::map<int, std::pair<uint64_t, Histogram>> mHistograms;  // by channel, with the source's generation
    Histogram mNoHistogram;
};

#endif
