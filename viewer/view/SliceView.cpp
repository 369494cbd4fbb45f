#include "SliceView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "Crossing.h"
#include "Reduction.h"

SliceView::SliceView(QWidget* aParent) : QWidget(aParent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::CrossCursor);
}

QSize SliceView::scaledSize() const {
    if (mPicture.isNull()) return QSize(0, 0);
    // Rounded up as the x-y view rounds, so that shared sides line up.
    return QSize(std::max(1, int(std::ceil(mPicture.width() * mZoom - 1e-9))),
                 std::max(1, int(std::ceil(mPicture.height() * mZoom - 1e-9))));
}

QSize SliceView::sizeHint() const { return scaledSize(); }

void SliceView::setPicture(const QImage& aPicture) {
    const bool resized = aPicture.size() != mPictureSize;
    mPicture = aPicture;
    mPictureSize = aPicture.size();
    mReduced = QImage();
    if (resized) {
        setFixedSize(scaledSize());
        updateGeometry();
    }
    update();
}

void SliceView::setZoom(double aZoom) {
    if (aZoom == mZoom) return;
    mZoom = aZoom;
    mReduced = QImage();
    setFixedSize(scaledSize());
    updateGeometry();
    update();
}

void SliceView::setCrossing(const QPointF& aAt) {
    if (aAt == mCrossing) return;
    mCrossing = aAt;
    update();
}

QPoint SliceView::pixelAt(const QPointF& aWidgetPoint, bool aClamp) const {
    if (mPicture.isNull()) return QPoint(-1, -1);
    QPoint pixel(int(std::floor(aWidgetPoint.x() / mZoom)), int(std::floor(aWidgetPoint.y() / mZoom)));
    if (aClamp)
        return QPoint(std::clamp(pixel.x(), 0, mPicture.width() - 1),
                      std::clamp(pixel.y(), 0, mPicture.height() - 1));
    return mPicture.rect().contains(pixel) ? pixel : QPoint(-1, -1);
}

void SliceView::paintEvent(QPaintEvent* aEvent) {
    if (mPicture.isNull()) return;
    QPainter painter(this);
    const QSize scaled = scaledSize();
    const QRect target = aEvent->rect() & QRect(QPoint(0, 0), scaled);
    if (target.isEmpty()) return;
    if (mZoom == 1.0) {
        painter.drawImage(target.topLeft(), mPicture, target);
    } else if (mZoom < 1.0) {
        if (mReduced.isNull()) mReduced = reducedPicture(mPicture, scaled);
        painter.drawImage(target.topLeft(), mReduced, target);
    } else {
        const QRect pixels(QPoint(int(target.left() / mZoom), int(target.top() / mZoom)),
                           QPoint(std::min(int(target.right() / mZoom), mPicture.width() - 1),
                                  std::min(int(target.bottom() / mZoom), mPicture.height() - 1)));
        painter.drawImage(
            QRectF(pixels.x() * mZoom, pixels.y() * mZoom, pixels.width() * mZoom, pixels.height() * mZoom),
            mPicture, QRectF(pixels));
    }
    const QPointF at(mCrossing.x() < 0.0 ? -1.0 : mCrossing.x() * mZoom,
                     mCrossing.y() < 0.0 ? -1.0 : mCrossing.y() * mZoom);
    paintCrossing(painter, QRectF(QPointF(0, 0), QSizeF(scaled)), at);
}

void SliceView::mousePressEvent(QMouseEvent* aEvent) {
    if (aEvent->button() != Qt::LeftButton || mPicture.isNull()) {
        QWidget::mousePressEvent(aEvent);
        return;
    }
    mDragging = true;
    emit pointed(pixelAt(aEvent->position(), true));
    aEvent->accept();
}

void SliceView::mouseMoveEvent(QMouseEvent* aEvent) {
    if (mDragging) emit pointed(pixelAt(aEvent->position(), true));
    emit hovered(pixelAt(aEvent->position(), false));
}

void SliceView::mouseReleaseEvent(QMouseEvent* aEvent) {
    if (aEvent->button() == Qt::LeftButton) mDragging = false;
    QWidget::mouseReleaseEvent(aEvent);
}

void SliceView::leaveEvent(QEvent* aEvent) {
    emit hovered(QPoint(-1, -1));
    QWidget::leaveEvent(aEvent);
}
