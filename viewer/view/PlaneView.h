#ifndef KORVANE_PLANEVIEW_H
#define KORVANE_PLANEVIEW_H

#include <QImage>
#include <QLabel>
#include <QPoint>

class QAbstractScrollArea;
class ViewState;

// The image label of the window. It paints the picture itself at any zoom from 1/32 to 32 times: below
// 100 % from a smoothly reduced copy, at 100 % and above with every picture pixel a sharp square. It
// zooms about the cursor with Ctrl+wheel, pans with the left button, reports the picture pixel under the
// cursor, draws the scale bar, and shows a hint while it has no picture. The zoom and the scale bar are
// the state's; the view writes them there.
class PlaneView : public QLabel {
    Q_OBJECT

  public:
    static constexpr double kMinZoom = 1.0 / 32.0;
    static constexpr double kMaxZoom = 32.0;

    explicit PlaneView(QWidget* aParent = nullptr);

    void setState(ViewState* aState);

    // Null shows the hint. The picture is shared, not copied.
    void setPicture(const QImage& aPicture);
    const QImage& picture() const { return mPicture; }
    // Lets go of the picture without a repaint or a change of size, so that its owner can draw over it in
    // place; a new picture follows at once.
    void dropPicture();
    QString hint() const;

    double zoom() const { return mZoom; }
    // Clamped to the zoom range. The picture point under aAnchor (in this widget's coordinates; the
    // centre of the visible part when null) stays where it is on the screen.
    void setZoom(double aZoom, const QPoint* aAnchor = nullptr);
    // The next power of two above or below the zoom, wherever it stands now.
    void zoomIn();
    void zoomOut();
    // The zoom at which the whole picture just fits into the visible area.
    double fitZoom() const;
    // Views beside (aPictureUnits' width) and below (its height) the picture, at its zoom and aGap pixels
    // away, that fitting makes room for as well.
    void setCompanions(const QSize& aPictureUnits, int aGap);
    void fitToWindow();
    // How a newly opened file starts: fitted when its picture is larger than the view, else at 100 %.
    void zoomForOpening();
    // Picture pixel under a point of this widget, or (-1, -1) when the point is off the picture.
    QPoint pictureAt(const QPoint& aWidgetPoint) const;

  signals:
    void zoomChanged(double aZoom);
    // A picture pixel, or (-1, -1) when the cursor left the picture or the picture went.
    void pixelHovered(const QPoint& aPicturePixel);

  protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void wheelEvent(QWheelEvent* aEvent) override;
    void leaveEvent(QEvent* aEvent) override;

  private:
    QSize scaledSize() const;
    void updateSize();
    QAbstractScrollArea* scrollArea() const;
    // Pending layout changes applied now, so that positions and scroll ranges are current.
    void settleLayout();
    void hover(const QPoint& aWidgetPoint);
    void followScrolling();
    QRect visiblePart() const;

    ViewState* mState = nullptr;
    QImage mPicture;
    QImage mReduced;  // the picture at the zoom, below 100 %
    double mZoom = 1.0;
    bool mPanning = false;
    bool mFollowsScrolling = false;
    QPoint mPanStart;
    QPoint mPanStartScroll;
    QPoint mHoverWidgetPoint{-1, -1};
    QSize mCompanions;
    int mCompanionGap = 0;
};

#endif
