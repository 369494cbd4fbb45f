#ifndef KORVANE_PROFILELINEOVERLAY_H
#define KORVANE_PROFILELINEOVERLAY_H

#include <QPoint>
#include <QWidget>

class PlaneView;
class ViewState;

// The profile line on the picture. Shift+drag on the picture draws it from pixel centre to pixel centre
// (the plain drag still pans), Shift+click without dragging removes it; the line lives in the state, and
// this transparent layer over the view draws it at any zoom.
class ProfileLineOverlay : public QWidget {
    Q_OBJECT

  public:
    ProfileLineOverlay(ViewState& aState, PlaneView& aView);

  signals:
    // The user has finished drawing a line.
    void lineDrawn();

  protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;
    void paintEvent(QPaintEvent* aEvent) override;

  private:
    // The picture pixel nearest to a point of the view, kept on the picture.
    QPoint pixelAt(const QPointF& aViewPoint) const;

    ViewState& mState;
    PlaneView& mView;
    bool mDrawing = false;
    QPoint mStart;
};

#endif
