#ifndef KORVANE_CHANNELCOMPOSITE_H
#define KORVANE_CHANNELCOMPOSITE_H

#include <QImage>
#include <QRect>

class DorudURIVuruda;

// All channels of one timepoint and z plane blended additively, each in its colour and scaled from its
// own minimum to its maximum. aCrop is in plane coordinates; a null rectangle means the whole plane.
QImage composeChannels(DorudURIVuruda& aReader, int aTimepoint, int aZPlane, const QRect& aCrop);

#endif
