#ifndef KORVANE_SLICEVIEW_H
#define KORVANE_SLICEVIEW_H

#include <QImage>
#include <QPointF>
#include <QWidget>

// One side view of the orthogonal views: paints a slice's picture at the x-y view's zoom (sharp squares
// from 100 %, smoothly reduced below), with the crosshair, and tells where the left button presses or
// drags and where the cursor hovers, in picture pixels.
class SliceView : public QWidget {
    Q_OBJECT

  public:
    explicit SliceView(QWidget* aParent = nullptr);

    // Shared, not copied; null paints nothing.
    void setPicture(const QImage& aPicture);
    const QImage& picture() const { return mPicture; }
    // Lets go of the picture without a repaint, so that its owner can draw over it in place; the next
    // picture follows at once.
    void dropPicture() { mPicture = QImage(); }
    void setZoom(double aZoom);
    // Lines through this point of the picture (in picture pixels); a coordinate below 0 leaves its line
    // out.
    void setCrossing(const QPointF& aAt);

    QSize sizeHint() const override;

  signals:
    // Pressed or dragged with the left button, clamped to the picture.
    void pointed(const QPoint& aPicturePixel);
    // The picture pixel under the cursor, or (-1, -1) off the picture.
    void hovered(const QPoint& aPicturePixel);

  protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void leaveEvent(QEvent* aEvent) override;

  private:
    QSize scaledSize() const;
    QPoint pixelAt(const QPointF& aWidgetPoint, bool aClamp) const;

    QImage mPicture;
    QSize mPictureSize;  // also while dropped
    QImage mReduced;     // the picture at the zoom, below 100 %
    double mZoom = 1.0;
    QPointF mCrossing{-1.0, -1.0};
    bool mDragging = false;
};

#endif
