#include "LineProfile.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Lut.h"
#include "ViewState.h"

namespace {

double bilinear(const AnyPlane& aPlane, const QSize& aSize, double aX, double aY) {
    // Half a pixel beyond the outer centres still lies on the plane: there the border pixel holds.
    if (!(aX >= -0.5 && aY >= -0.5 && aX < aSize.width() - 0.5 && aY < aSize.height() - 0.5))
        return std::numeric_limits<double>::quiet_NaN();
    const double x = std::clamp(aX, 0.0, double(aSize.width() - 1));
    const double y = std::clamp(aY, 0.0, double(aSize.height() - 1));
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const int x1 = std::min(x0 + 1, aSize.width() - 1), y1 = std::min(y0 + 1, aSize.height() - 1);
    const double fx = x - x0, fy = y - y0;
    // Weights of zero skip their pixel, so that a value on a row or column is exactly the pixel's.
    const auto at = [&](int aColumn, int aRow, double aWeight) {
        return aWeight == 0.0 ? 0.0 : aWeight * planeValue(aPlane, aColumn, aRow);
    };
    return at(x0, y0, (1 - fx) * (1 - fy)) + at(x1, y0, fx * (1 - fy)) + at(x0, y1, (1 - fx) * fy) +
           at(x1, y1, fx * fy);
}

}  // namespace

std::vector<double> sampleLine(const AnyPlane& aPlane, const QLineF& aLine) {
    const QSize size = planeSize(aPlane);
    const double length = aLine.length();
    if (size.isEmpty() || !std::isfinite(length)) return {};
    const size_t count = size_t(std::floor(length + 1e-9)) + 1;
    std::vector<double> values(count);
    const double dx = length > 0 ? aLine.dx() / length : 0.0, dy = length > 0 ? aLine.dy() / length : 0.0;
    for (size_t i = 0; i < count; ++i)
        values[i] = bilinear(aPlane, size, aLine.x1() + dx * double(i), aLine.y1() + dy * double(i));
    return values;
}

Profile profileOf(const ViewState& aState, const AnyPlane& aShown,
                  const std::vector<AnyPlane>& aChannelPlanes) {
    Profile profile;
    const QLineF line = aState.profileLine();
    if (line.isNull() || !aState.hasShown() || isEmptyPlane(aShown)) return profile;

    const auto curveOf = [&](int aChannel, const AnyPlane& aPlane, bool aAlone) {
        ProfileCurve curve;
        curve.channel = aChannel;
        const bool known = aChannel >= 0 && aChannel < aState.channelCount();
        curve.name = known ? aState.channels()[aChannel].name : QString::number(aChannel);
        // Drawn as the picture draws it: alone in the file's colour means grey.
        Lut lut = aState.display(aChannel).lut;
        if (aAlone && lut == Lut::FileColour) lut = Lut::Grey;
        curve.colour = lutTable(lut, known ? aState.channels()[aChannel].colour : 0xFFFFFFFFu)[255];
        curve.values = sampleLine(aPlane, line);
        profile.curves.push_back(std::move(curve));
    };
    if (aState.composite()) {
        for (int c = 0; c < int(aChannelPlanes.size()); ++c)
            if (aState.display(c).visible && !isEmptyPlane(aChannelPlanes[size_t(c)]))
                curveOf(c, aChannelPlanes[size_t(c)], false);
    } else {
        curveOf(aState.shown().index.channel, aShown, true);
    }

    // Lengths in micrometres need real pixel sizes along both picture axes, which scan images lack.
    const Calibration& calibration = aState.calibration();
    const ViewMode mode = aState.shown().mode;
    profile.inMicrons = calibration.spatial() && (mode == ViewMode::Plane || mode == ViewMode::Projection);
    const double pixels = line.length();
    profile.length = profile.inMicrons
                         ? std::hypot(line.dx() * calibration.xMicrons, line.dy() * calibration.yMicrons)
                         : pixels;
    profile.step = pixels > 0 ? profile.length / pixels : 1.0;
    return profile;
}
