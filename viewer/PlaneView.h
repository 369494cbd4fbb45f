#ifndef KORVANE_PLANEVIEW_H
#define KORVANE_PLANEVIEW_H

#include <QImage>
#include <QLabel>
#include <QPoint>

#include "BlitzArray.h"
#include "ShownPlane.h"

class QAbstractScrollArea;

// The image label of the window. It paints its pixmap itself at the zoom factor (1:1 by default),
// only the part that is exposed and without keeping converted or scaled copies; it keeps the plane
// of the picture for the value read-out, can show a colour picture of the same size instead of the
// grey one, zooms about the cursor with Ctrl+wheel and pans with the left button.
class PlaneView : public QLabel {
    Q_OBJECT

  public:
    // Zoom factors are 2^step.
    static constexpr int kMinZoomStep = -5;
    static constexpr int kMaxZoomStep = 5;

    explicit PlaneView(QWidget* aParent = nullptr);

    // Called right after a new picture is set; the plane's storage is shared, not copied.
    template <typename T>
    void setShownPlane(const blitz::Array<T, 2>& aPlane, PlaneIndex aIndex, const QRect& aCrop) {
        mPlane.set(aPlane, aIndex, aCrop);
        pictureReplaced();
    }
    // Lets go of the kept plane, so that its memory is free before the next plane is read.
    void releasePlane();
    const ShownPlane& shownPlane() const { return mPlane; }
    // See ShownPlane::setSource and ShownPlane::forgetSource.
    void setShownPlaneSource(const PlaneRequest& aRequest, bool aAutomaticContrast) {
        mPlane.setSource(aRequest, aAutomaticContrast);
    }
    void forgetShownPlaneSource() { mPlane.forgetSource(); }

    // Shown instead of the grey pixmap while not null.
    void setColourPicture(const QImage& aPicture);
    const QImage& colourPicture() const { return mColourPicture; }

    int zoomStep() const { return mZoomStep; }
    double zoomFactor() const;
    // Clamped to the zoom range. The picture point under aAnchor (in this widget's coordinates; the
    // centre of the visible part when null) stays where it is on the screen.
    void setZoomStep(int aStep, const QPoint* aAnchor = nullptr);
    // The largest zoom at which the whole picture fits into the visible area.
    void zoomToFit();
    // Picture pixel under a point of this widget, or (-1, -1) when the point is off the picture.
    QPoint pictureAt(const QPoint& aWidgetPoint) const;

  signals:
    void zoomChanged(int aStep);
    // A picture pixel, or (-1, -1) when the cursor left the picture or the plane went.
    void pixelHovered(const QPoint& aPicturePixel);
    void planeShown();

  protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void wheelEvent(QWheelEvent* aEvent) override;
    void leaveEvent(QEvent* aEvent) override;

  private:
    void pictureReplaced();
    QSize pictureSize() const;
    QSize scaledSize(const QSize& aSize, int aStep) const;
    QAbstractScrollArea* scrollArea() const;
    // Pending layout changes applied now, so that positions and scroll ranges are current.
    void settleLayout();
    void hover(const QPoint& aWidgetPoint);

    ShownPlane mPlane;
    QImage mColourPicture;
    int mZoomStep = 0;
    bool mPanning = false;
    QPoint mPanStart;
    QPoint mPanStartScroll;
    QPoint mHoverWidgetPoint{-1, -1};
};

#endif
