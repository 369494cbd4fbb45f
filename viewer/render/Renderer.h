#ifndef KORVANE_RENDERER_H
#define KORVANE_RENDERER_H

#include <QImage>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "AnyPlane.h"
#include "Lut.h"

class ViewState;

// From planes and display settings to pictures, without widgets: what the window shows and what a
// "save as shown" writes. Pictures are opaque ARGB32 (premultiplied); a picture of the right size is
// drawn over in place (detached first if it shares its pixels), otherwise replaced. A plane without
// elements, or one too large for a QImage, leaves a null picture.

// Level 0..255 of a value in the display range [aMinimum, aMaximum]: linear, rounded to the nearest
// level and clamped, so that 0..255 shows 8-bit values as they are. NaN shows as 0. A range without
// width shows values above it as 255.
inline int displayLevel(double aValue, double aMinimum, double aMaximum) {
    if (!(aMaximum > aMinimum)) return aValue > aMinimum ? 255 : 0;
    const double level = (aValue - aMinimum) * (255.0 / (aMaximum - aMinimum)) + 0.5;
    if (!(level > 0.0)) return 0;  // NaN too
    return level >= 255.0 ? 255 : int(level);
}

// One channel through its lookup table.
void renderMapped(const AnyPlane& aPlane, double aMinimum, double aMaximum, const LutTable& aLut,
                  QImage& aPicture);

// One channel of a composite.
struct CompositeChannel {
    const AnyPlane* plane = nullptr;
    double minimum = 0.0;
    double maximum = 255.0;
    LutTable lut{};
};

// The channels' colours added per pixel. Without aNormalise sums above 255 saturate (distinct colours
// rarely overlap); with it the sums are scaled down until the brightest component of all but the
// brightest thousandth of the pixels is at most 255, so that many channels of neighbouring colours show
// their mixture instead of white. Planes of another size than the first add nothing. Returns the scale
// the sums were multiplied by (1 without aNormalise).
double renderComposite(const std::vector<CompositeChannel>& aChannels, bool aNormalise, QImage& aPicture);
// The same with the sums multiplied by aScale, a scale that another picture was normalised with.
void renderScaledComposite(const std::vector<CompositeChannel>& aChannels, double aScale, QImage& aPicture);

// What the state shows: the shown plane in its channel's range and table, or with automatic contrast,
// or, in channel colours, every visible channel's plane of aChannelPlanes (indexed by channel). Returns
// the scale of the channel colours' sums (1 unless a spectral composite was normalised).
double renderShown(const ViewState& aState, const AnyPlane& aShown,
                   const std::vector<AnyPlane>& aChannelPlanes, QImage& aPicture);

#endif
