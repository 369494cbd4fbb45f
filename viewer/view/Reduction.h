#ifndef KORVANE_REDUCTION_H
#define KORVANE_REDUCTION_H

#include <QImage>
#include <QSize>

// The picture smoothly reduced to aSize (each side at most the picture's): halved by averaging 2 x 2
// pixels while that stays at least twice as large, large pictures on several threads, then scaled the
// rest of the way by area averaging. Far cheaper than area averaging a large picture in one step, and
// alike to the eye.
QImage reducedPicture(const QImage& aPicture, const QSize& aSize);

#endif
