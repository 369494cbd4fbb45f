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

// One plane asked of the open file, as passed to the reader: asking the same of the same open file
// gives the same plane.
struct PlaneRequest {
    PlaneIndex index;
    bool cropped = false;
    int xStart = 0;  // the four clamped crop values; all 0 when not cropped
    int xWidth = 0;
    int yStart = 0;
    int yWidth = 0;

    bool operator==(const PlaneRequest& aOther) const {
        return index.timepoint == aOther.index.timepoint && index.channel == aOther.index.channel &&
               index.zPlane == aOther.index.zPlane && cropped == aOther.cropped && xStart == aOther.xStart &&
               xWidth == aOther.xWidth && yStart == aOther.yStart && yWidth == aOther.yWidth;
    }
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
        mSourceKnown = false;
    }
    void clear() {
        mPlane = std::monostate();
        mCrop = QRect();
        mSourceKnown = false;
    }

    // Records that the kept plane is the reader's answer to aRequest and that the picture on screen was
    // drawn from it with or without automatic contrast.
    void setSource(const PlaneRequest& aRequest, bool aAutomaticContrast) {
        mSource = aRequest;
        mSourceContrast = aAutomaticContrast;
        mSourceKnown = !isEmpty();
    }
    // After a file was opened or the reader replaced, the kept plane answers no request any more (it
    // stays for the read-out of the picture still shown).
    void forgetSource() { mSourceKnown = false; }
    // The kept plane if it holds Ts and answers aRequest, else null.
    template <typename T>
    const blitz::Array<T, 2>* planeFor(const PlaneRequest& aRequest) const {
        if (!mSourceKnown || !(mSource == aRequest)) return nullptr;
        return std::get_if<blitz::Array<T, 2>>(&mPlane);
    }
    // Whether the picture of the kept plane was drawn with automatic contrast.
    bool sourceContrast() const { return mSourceContrast; }

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
    PlaneRequest mSource;
    bool mSourceContrast = false;
    bool mSourceKnown = false;
};

#endif
