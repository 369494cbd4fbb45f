#include "PlaneView.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

const QPoint kOffPicture(-1, -1);

}  // namespace

PlaneView::PlaneView(QWidget* aParent) : QLabel(aParent) { setMouseTracking(true); }

void PlaneView::releasePlane() {
    mPlane.clear();
    mColourPicture = QImage();
    emit pixelHovered(kOffPicture);
}

void PlaneView::pictureReplaced() {
    // The window has just set the minimum size to the picture's; keep the chosen zoom.
    if (mZoomStep != 0) setMinimumSize(scaledSize(pictureSize(), mZoomStep));
    emit planeShown();
    if (mHoverWidgetPoint != kOffPicture) hover(mHoverWidgetPoint);
}

void PlaneView::setColourPicture(const QImage& aPicture) {
    mColourPicture = aPicture;
    update();
}

QSize PlaneView::pictureSize() const {
    return mColourPicture.isNull() ? pixmap().size() : mColourPicture.size();
}

QSize PlaneView::scaledSize(const QSize& aSize, int aStep) const {
    if (aStep >= 0) return QSize(aSize.width() << aStep, aSize.height() << aStep);
    // Reduced pictures round up, so that even a one-pixel picture stays visible.
    const int divisor = 1 << -aStep;
    return QSize((aSize.width() + divisor - 1) / divisor, (aSize.height() + divisor - 1) / divisor);
}

double PlaneView::zoomFactor() const { return std::ldexp(1.0, mZoomStep); }

QAbstractScrollArea* PlaneView::scrollArea() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) return area;
    return nullptr;
}

QPoint PlaneView::pictureAt(const QPoint& aWidgetPoint) const {
    const double factor = zoomFactor();
    const QPoint pixel(static_cast<int>(std::floor(aWidgetPoint.x() / factor)),
                       static_cast<int>(std::floor(aWidgetPoint.y() / factor)));
    return QRect(QPoint(0, 0), pictureSize()).contains(pixel) ? pixel : kOffPicture;
}

void PlaneView::setZoomStep(int aStep, const QPoint* aAnchor) {
    aStep = std::clamp(aStep, kMinZoomStep, kMaxZoomStep);
    if (aStep == mZoomStep) return;
    QAbstractScrollArea* area = scrollArea();
    settleLayout();
    QPoint anchor = rect().center();
    if (aAnchor) {
        anchor = *aAnchor;
    } else if (area) {
        anchor = mapFrom(area->viewport(), area->viewport()->rect().center());
    }
    const QPointF picturePoint = QPointF(anchor) / zoomFactor();
    const QPoint anchorOnScreen = area ? mapTo(area->viewport(), anchor) : anchor;

    mZoomStep = aStep;
    setMinimumSize(scaledSize(pictureSize(), mZoomStep));
    if (area) {
        settleLayout();  // the scroll area takes the new size now, then the anchor is scrolled back
        const QPoint moved =
            mapTo(area->viewport(), (picturePoint * zoomFactor()).toPoint()) - anchorOnScreen;
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + moved.x());
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + moved.y());
    }
    update();
    emit zoomChanged(mZoomStep);
    if (mHoverWidgetPoint != kOffPicture) hover(mapFromGlobal(QCursor::pos()));
}

void PlaneView::settleLayout() {
    if (QWidget* contents = parentWidget(); contents && contents->layout()) contents->layout()->activate();
    // Setting the flag again makes the scroll area size its widget and its scroll bars at once instead of
    // on its next layout request.
    if (auto* area = qobject_cast<QScrollArea*>(scrollArea()); area && area->widgetResizable())
        area->setWidgetResizable(true);
}

void PlaneView::zoomToFit() {
    const QAbstractScrollArea* area = scrollArea();
    const QSize picture = pictureSize();
    if (!area || picture.isEmpty()) return;
    // The margins of the layout around the picture take their share of the visible area.
    QSize available = area->maximumViewportSize();
    if (const QWidget* contents = parentWidget(); contents && contents->layout()) {
        const QMargins margins = contents->layout()->contentsMargins();
        available -= QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
    }
    int step = kMaxZoomStep;
    while (step > kMinZoomStep) {
        const QSize scaled = scaledSize(picture, step);
        if (scaled.width() <= available.width() && scaled.height() <= available.height()) break;
        --step;
    }
    setZoomStep(step);
}

void PlaneView::paintEvent(QPaintEvent* aEvent) {
    const QSize picture = pictureSize();
    if (picture.isEmpty()) return;
    const double factor = zoomFactor();
    QRect target = aEvent->rect() & QRect(QPoint(0, 0), scaledSize(picture, mZoomStep));
    if (target.isEmpty()) return;
    // Only the exposed part is drawn straight from the picture: nothing of it is converted or copied.
    QRectF source;
    QRectF drawn;
    if (mZoomStep >= 0) {
        // Whole picture pixels, so that magnified pixels are whole squares.
        const int scale = 1 << mZoomStep;
        const QRect pixels(QPoint(target.left() / scale, target.top() / scale),
                           QPoint(target.right() / scale, target.bottom() / scale));
        source = QRectF(pixels);
        drawn =
            QRectF(pixels.x() * scale, pixels.y() * scale, pixels.width() * scale, pixels.height() * scale);
    } else {
        drawn = QRectF(target);
        source = QRectF(target.x() / factor, target.y() / factor, target.width() / factor,
                        target.height() / factor)
                     .intersected(QRectF(QPointF(0, 0), QSizeF(picture)));
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, mZoomStep < 0);
    if (!mColourPicture.isNull()) {
        painter.drawImage(drawn, mColourPicture, source);
    } else {
        painter.drawPixmap(drawn, pixmap(), source);
    }
}

void PlaneView::mousePressEvent(QMouseEvent* aEvent) {
    QAbstractScrollArea* area = scrollArea();
    if (aEvent->button() != Qt::LeftButton || !area) {
        QLabel::mousePressEvent(aEvent);
        return;
    }
    mPanning = true;
    mPanStart = aEvent->globalPosition().toPoint();
    mPanStartScroll = QPoint(area->horizontalScrollBar()->value(), area->verticalScrollBar()->value());
    setCursor(Qt::ClosedHandCursor);
    aEvent->accept();
}

void PlaneView::mouseMoveEvent(QMouseEvent* aEvent) {
    if (mPanning) {
        if (QAbstractScrollArea* area = scrollArea()) {
            const QPoint moved = aEvent->globalPosition().toPoint() - mPanStart;
            area->horizontalScrollBar()->setValue(mPanStartScroll.x() - moved.x());
            area->verticalScrollBar()->setValue(mPanStartScroll.y() - moved.y());
        }
    }
    hover(aEvent->position().toPoint());
}

void PlaneView::mouseReleaseEvent(QMouseEvent* aEvent) {
    if (mPanning && aEvent->button() == Qt::LeftButton) {
        mPanning = false;
        unsetCursor();
        aEvent->accept();
        return;
    }
    QLabel::mouseReleaseEvent(aEvent);
}

void PlaneView::wheelEvent(QWheelEvent* aEvent) {
    const int delta = aEvent->angleDelta().y();
    if (!(aEvent->modifiers() & Qt::ControlModifier) || delta == 0) {
        QLabel::wheelEvent(aEvent);  // plain wheel scrolls the scroll area
        return;
    }
    const QPoint anchor = aEvent->position().toPoint();
    setZoomStep(mZoomStep + (delta > 0 ? 1 : -1), &anchor);
    aEvent->accept();
}

void PlaneView::leaveEvent(QEvent* aEvent) {
    mHoverWidgetPoint = kOffPicture;
    emit pixelHovered(kOffPicture);
    QLabel::leaveEvent(aEvent);
}

void PlaneView::hover(const QPoint& aWidgetPoint) {
    mHoverWidgetPoint = aWidgetPoint;
    emit pixelHovered(pictureAt(aWidgetPoint));
}
