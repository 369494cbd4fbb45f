#ifndef KORVANE_SCALEBAR_H
#define KORVANE_SCALEBAR_H

#include <QRect>
#include <QString>

class QPainter;

// The round length (1, 2 or 5 times a power of ten micrometres) of a scale bar at most aMaxPixels long
// when a screen pixel spans aMicronsPerPixel; 0 when there is none.
double scaleBarMicrons(double aMicronsPerPixel, double aMaxPixels);

// "500 nm", "2 µm", "1 mm".
QString scaleBarText(double aMicrons);

// Draws the bar and its length in the bottom right corner of aVisible: white on a dark translucent
// plate, legible on any picture.
void paintScaleBar(QPainter& aPainter, const QRect& aVisible, double aMicronsPerPixel);

#endif
