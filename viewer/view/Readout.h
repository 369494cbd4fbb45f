#ifndef KORVANE_READOUT_H
#define KORVANE_READOUT_H

#include <QPoint>
#include <QString>
#include <vector>

#include "AnyPlane.h"

class ViewState;

// The status bar's text (rich text) for a picture pixel: its position in the plane ("x 5, y 3"; "x 5, t 3"
// or "x 5, z 3" in a scan image), the value of the shown plane there, or in channel colours the value
// of every visible channel in that channel's colour, then where the pixel lies in µm (and z in µm, t in s)
// when the file says. Values read in the element type they were loaded as; floats with the fewest digits
// that read back the same. Empty for a pixel off the picture.
QString readoutText(const ViewState& aState, const AnyPlane& aShown,
                    const std::vector<AnyPlane>& aChannelPlanes, const QPoint& aPicturePixel);

#endif
