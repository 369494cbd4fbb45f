#include "Crossing.h"

#include <QPainter>
#include <QPen>

void paintCrossing(QPainter& aPainter, const QRectF& aPicture, const QPointF& aAt) {
    aPainter.save();
    aPainter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor(255, 230, 0, 170));
    pen.setCosmetic(true);
    pen.setWidth(1);
    aPainter.setPen(pen);
    if (aAt.x() >= 0.0)
        aPainter.drawLine(QPointF(aAt.x(), aPicture.top()), QPointF(aAt.x(), aPicture.bottom()));
    if (aAt.y() >= 0.0)
        aPainter.drawLine(QPointF(aPicture.left(), aAt.y()), QPointF(aPicture.right(), aAt.y()));
    aPainter.restore();
}
