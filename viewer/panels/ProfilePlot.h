#ifndef KORVANE_PROFILEPLOT_H
#define KORVANE_PROFILEPLOT_H

#include <QWidget>

#include "LineProfile.h"
#include "ViewState.h"

class DisplayPipeline;
class PlaneSource;

// The plot of the values along the profile line: one curve per visible channel in its colour, the
// length of the line, and the values at the distance under the cursor. It follows the line and the
// planes on screen, so moving through z and t redraws it.
class ProfilePlot : public QWidget {
    Q_OBJECT

  public:
    ProfilePlot(ViewState& aState, PlaneSource& aSource, DisplayPipeline& aDisplay,
                QWidget* aParent = nullptr);

    const Profile& profile() const { return mProfile; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void leaveEvent(QEvent* aEvent) override;

  private:
    void refresh();
    QRect plotArea() const;
    QString lengthText(double aLength) const;

    ViewState& mState;
    PlaneSource& mSource;
    Profile mProfile;
    double mLow = 0.0;  // the value axis
    double mHigh = 1.0;
    int mHoverX = -1;  // widget column under the cursor, or -1
};

#endif
