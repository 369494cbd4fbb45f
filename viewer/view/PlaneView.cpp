#include "PlaneView.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "Crossing.h"
#include "Reduction.h"
#include "ScaleBar.h"
#include "ViewState.h"

namespace {

const QPoint kOffPicture(-1, -1);
const int kHintPadding = 24;

}  // namespace

PlaneView::PlaneView(QWidget* aParent) : QLabel(aParent) {
    setMouseTracking(true);
    updateSize();
}

void PlaneView::setState(ViewState* aState) {
    updateSize();  // the form has set its own minimum size by now
    mState = aState;
    if (!mState) return;
    connect(mState, &ViewState::changed, this, [this](ViewState::Aspects aWhat) {
        if (aWhat & ViewState::ZoomAspect && mState->zoom() != mZoom) setZoom(mState->zoom());
        if (aWhat & (ViewState::OverlayAspect | ViewState::FileAspect | ViewState::ModeAspect)) {
            followScrolling();
            update();
        }
    });
}

QString PlaneView::hint() const { return tr("Drop an LSM file here, or press Ctrl+O"); }

void PlaneView::setPicture(const QImage& aPicture) {
    const bool sizeChanged = aPicture.size() != mPicture.size();
    mPicture = aPicture;
    mReduced = QImage();
    if (sizeChanged) updateSize();
    update();
    if (mPicture.isNull()) {
        emit pixelHovered(kOffPicture);
    } else if (mHoverWidgetPoint != kOffPicture) {
        hover(mHoverWidgetPoint);
    }
}

void PlaneView::dropPicture() {
    mPicture = QImage();
    mReduced = QImage();
}

QSize PlaneView::scaledSize() const {
    // Rounded up, so that even a one-pixel picture stays visible.
    return QSize(std::max(1, int(std::ceil(mPicture.width() * mZoom - 1e-9))),
                 std::max(1, int(std::ceil(mPicture.height() * mZoom - 1e-9))));
}

void PlaneView::updateSize() {
    if (mPicture.isNull()) {
        const QSize text = fontMetrics().size(0, hint());
        setMinimumSize(text + QSize(2 * kHintPadding, 2 * kHintPadding));
    } else {
        setMinimumSize(scaledSize());
    }
}

QAbstractScrollArea* PlaneView::scrollArea() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) return area;
    return nullptr;
}

QPoint PlaneView::pictureAt(const QPoint& aWidgetPoint) const {
    if (mPicture.isNull()) return kOffPicture;
    const QPoint pixel(int(std::floor(aWidgetPoint.x() / mZoom)), int(std::floor(aWidgetPoint.y() / mZoom)));
    return mPicture.rect().contains(pixel) ? pixel : kOffPicture;
}

void PlaneView::setZoom(double aZoom, const QPoint* aAnchor) {
    aZoom = std::clamp(aZoom, kMinZoom, kMaxZoom);
    if (aZoom == mZoom) return;
    QAbstractScrollArea* area = scrollArea();
    settleLayout();
    QPoint anchor = rect().center();
    if (aAnchor) {
        anchor = *aAnchor;
    } else if (area) {
        anchor = mapFrom(area->viewport(), area->viewport()->rect().center());
    }
    const QPointF picturePoint = QPointF(anchor) / mZoom;
    const QPoint anchorOnScreen = area ? mapTo(area->viewport(), anchor) : anchor;

    mZoom = aZoom;
    mReduced = QImage();
    updateSize();
    if (area) {
        settleLayout();  // the scroll area takes the new size now, then the anchor is scrolled back
        const QPoint moved = mapTo(area->viewport(), (picturePoint * mZoom).toPoint()) - anchorOnScreen;
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + moved.x());
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + moved.y());
    }
    update();
    if (mState) mState->setZoom(mZoom);
    emit zoomChanged(mZoom);
    if (mHoverWidgetPoint != kOffPicture) hover(mapFromGlobal(QCursor::pos()));
}

void PlaneView::zoomIn() {
    // The next power of two strictly above, so that a fitted 0.7 goes to 1 and 1 to 2.
    setZoom(std::ldexp(1.0, int(std::floor(std::log2(mZoom) + 1e-9)) + 1));
}

void PlaneView::zoomOut() { setZoom(std::ldexp(1.0, int(std::ceil(std::log2(mZoom) - 1e-9)) - 1)); }

void PlaneView::settleLayout() {
    if (QWidget* contents = parentWidget(); contents && contents->layout()) contents->layout()->activate();
    // Setting the flag again makes the scroll area size its widget and its scroll bars at once instead of
    // on its next layout request.
    if (auto* area = qobject_cast<QScrollArea*>(scrollArea()); area && area->widgetResizable())
        area->setWidgetResizable(true);
}

double PlaneView::fitZoom() const {
    const QAbstractScrollArea* area = scrollArea();
    if (!area || mPicture.isNull()) return 1.0;
    // The margins of the layout around the picture take their share of the visible area.
    QSize available = area->maximumViewportSize();
    if (const QWidget* contents = parentWidget(); contents && contents->layout()) {
        const QMargins margins = contents->layout()->contentsMargins();
        available -= QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
    }
    const QSize companions = mCompanions.isEmpty() ? QSize(0, 0) : mCompanions;
    // Each view's side is rounded up on its own: a pixel more for the companions.
    if (!mCompanions.isEmpty()) available -= QSize(mCompanionGap + 1, mCompanionGap + 1);
    if (available.isEmpty()) return 1.0;
    const double zoom = std::min(double(available.width()) / (mPicture.width() + companions.width()),
                                 double(available.height()) / (mPicture.height() + companions.height()));
    // Just below, so that rounding the size up never calls for scroll bars.
    return std::clamp(zoom * (1.0 - 1e-9), kMinZoom, kMaxZoom);
}

void PlaneView::setCompanions(const QSize& aPictureUnits, int aGap) {
    mCompanions = aPictureUnits;
    mCompanionGap = aGap;
}

void PlaneView::fitToWindow() { setZoom(fitZoom()); }

void PlaneView::zoomForOpening() {
    // A view that is not on screen has no size to fit into.
    const double fit = isVisible() ? fitZoom() : 1.0;
    setZoom(fit < 1.0 ? fit : 1.0);
}

QRect PlaneView::visiblePart() const {
    const QAbstractScrollArea* area = scrollArea();
    if (!area) return rect();
    const QRect viewport(mapFrom(area->viewport(), QPoint(0, 0)), area->viewport()->size());
    return viewport & rect();
}

void PlaneView::followScrolling() {
    // Overlays stay in the corner of the visible part: a scroll repaints them instead of moving them.
    QAbstractScrollArea* area = scrollArea();
    if (mFollowsScrolling || !area) return;
    mFollowsScrolling = true;
    for (QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] {
            if (mState && mState->scaleBar()) update();
        });
}

void PlaneView::paintEvent(QPaintEvent* aEvent) {
    QPainter painter(this);
    if (mPicture.isNull()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, hint());
        return;
    }
    const QRect target = aEvent->rect() & QRect(QPoint(0, 0), scaledSize());
    if (!target.isEmpty()) {
        if (mZoom < 1.0) {
            if (mReduced.isNull()) mReduced = reducedPicture(mPicture, scaledSize());
            painter.drawImage(target.topLeft(), mReduced, target);
        } else {
            // Whole picture pixels, drawn without smoothing: magnified pixels are sharp squares.
            const QRect pixels(QPoint(int(target.left() / mZoom), int(target.top() / mZoom)),
                               QPoint(std::min(int(target.right() / mZoom), mPicture.width() - 1),
                                      std::min(int(target.bottom() / mZoom), mPicture.height() - 1)));
            const QRectF drawn(pixels.x() * mZoom, pixels.y() * mZoom, pixels.width() * mZoom,
                               pixels.height() * mZoom);
            painter.drawImage(drawn, mPicture, QRectF(pixels));
        }
    }
    if (mState && mState->stackMode().mode == ViewMode::Orthogonal && mState->stackMode().crossing.x() >= 0) {
        const QPoint at = mState->stackMode().crossing;
        paintCrossing(painter, QRectF(QPointF(0, 0), QSizeF(scaledSize())),
                      QPointF((at.x() + 0.5) * mZoom, (at.y() + 0.5) * mZoom));
    }
    if (mState && mState->scaleBar() && mState->calibration().spatial()) {
        painter.setClipping(false);
        paintScaleBar(painter, visiblePart(), mState->calibration().xMicrons / mZoom);
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
    const double factor = delta > 0 ? 2.0 : 0.5;
    setZoom(mZoom * factor, &anchor);
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
