#ifndef KORVANE_CROSSING_H
#define KORVANE_CROSSING_H

#include <QPointF>
#include <QRectF>

class QPainter;

// The crosshair of the orthogonal views: a vertical and a horizontal line through aAt across aPicture
// (both in widget coordinates), thin and half transparent so that the data under them stay visible.
// A coordinate of aAt below 0 leaves out its line.
void paintCrossing(QPainter& aPainter, const QRectF& aPicture, const QPointF& aAt);

#endif
