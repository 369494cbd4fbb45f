#ifndef KORVANE_SHOWNPLANE_H
#define KORVANE_SHOWNPLANE_H

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <variant>

#include "BlitzArray.h"

// Where a shown plane comes from in the stack.
struct PlaneIndex {
    int timepoint = 0;
    int channel = 0;
    int zPlane = 0;
};

// The plane whose picture is on screen, kept (storage shared with the array that was read, never
// copied) so that the value under the cursor can be read in the element type it was loaded as.
class ShownPlane {
  public:
    // aCrop is the cropped rectangle in plane coordinates, or a null rectangle for the whole plane.
    template <typename T>
    void set(const blitz::Array<T, 2>& aPlane, PlaneIndex aIndex, const QRect& aCrop) {
        // emplace: assigning a blitz array would copy its elements instead of sharing them.
        mPlane.emplace<blitz::Array<T, 2>>(aPlane);
        mIndex = aIndex;
        mCrop = aCrop;
    }
    void clear() {
        mPlane = std::monostate();
        mCrop = QRect();
    }

    bool isEmpty() const { return std::holds_alternative<std::monostate>(mPlane); }
    // Columns by rows; empty when nothing is kept.
    QSize size() const;
    PlaneIndex index() const { return mIndex; }
    // Null when the whole plane was read.
    QRect crop() const { return mCrop; }

    // "x, y: value" for a pixel of the picture (plane coordinates when cropped), or an empty text when
    // the pixel is off the picture or nothing is kept. Floats get the fewest digits that read back
    // to the same value.
    QString readout(const QPoint& aPicturePixel) const;

  private:
    std::variant<std::monostate, blitz::Array<unsigned char, 2>, blitz::Array<unsigned short, 2>,
                 blitz::Array<unsigned int, 2>, blitz::Array<float, 2>>
        mPlane;
    PlaneIndex mIndex;
    QRect mCrop;
};

#endif
