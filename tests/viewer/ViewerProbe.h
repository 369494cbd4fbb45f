#ifndef KORVANE_TESTS_VIEWERPROBE_H
#define KORVANE_TESTS_VIEWERPROBE_H

#include <QColor>
#include <QImage>

#include "KorvaneViewerQt.h"

// Grey level at (x, y) of the window's picture, or -1 if the pixel is not an opaque grey.
inline int greyAt(const KorvaneViewerQt& aWindow, int aX, int aY) {
    const QRgb pixel = aWindow.picture().pixel(aX, aY);
    if (qAlpha(pixel) != 255 || qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel)) return -1;
    return qRed(pixel);
}

#endif
