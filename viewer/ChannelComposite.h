#ifndef KORVANE_CHANNELCOMPOSITE_H
#define KORVANE_CHANNELCOMPOSITE_H

#include <QImage>
#include <QRect>

class DorudURIVuruda;

// All channels of one timepoint and z plane blended additively into an opaque RGB32 picture.
//
// Each channel is tinted with aReader.getChannelColor(c) and scaled from the smallest to the largest
// finite element it has inside aCrop, so the smallest shows black and the largest its full colour. Each
// channel's share is rounded to whole levels per component before the shares are added; sums above 255
// saturate. A channel without contrast there (constant, or no finite element) adds nothing: there is
// nothing to tell apart. NaN and -inf add nothing, +inf the full colour; none of them moves the range.
//
// aCrop is in plane pixels (x = column, y = row); a null or empty rectangle means the whole plane. The
// result has the crop's size. Reader faults, including a crop that leaves the plane, throw
// BlitzFileIOException; a picture too large for a QImage gives a null QImage. Only one channel's
// elements are held at a time.
QImage composeChannels(DorudURIVuruda& aReader, int aTimepoint, int aZPlane, const QRect& aCrop);

#endif
