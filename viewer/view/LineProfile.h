#ifndef KORVANE_LINEPROFILE_H
#define KORVANE_LINEPROFILE_H

#include <QLineF>
#include <QRgb>
#include <QString>
#include <vector>

#include "AnyPlane.h"

class ViewState;

// Values along aLine through the plane (pixel centres at whole coordinates, column first), one sample
// per pixel of its length from the first end on, each interpolated bilinearly between the four nearest
// pixels: a line along a row or column gives the pixels' own values. Points off the plane give NaN.
std::vector<double> sampleLine(const AnyPlane& aPlane, const QLineF& aLine);

// One channel's values along the line.
struct ProfileCurve {
    int channel = 0;
    QString name;
    QRgb colour = 0xFFFFFFFFu;
    std::vector<double> values;
};

// The values along the profile line and how long it is.
struct Profile {
    std::vector<ProfileCurve> curves;
    double length = 0.0;     // in micrometres, or in pixels when the file gives no real pixel size
    bool inMicrons = false;  // the unit of length and step
    double step = 1.0;       // between neighbouring samples

    bool isEmpty() const { return curves.empty(); }
};

// The profile along the state's line of the shown channel, or, in channel colours, of every visible
// channel in aChannelPlanes (indexed by channel), each in the colour it is drawn with. Empty without a
// line or plane.
Profile profileOf(const ViewState& aState, const AnyPlane& aShown,
                  const std::vector<AnyPlane>& aChannelPlanes);

#endif
