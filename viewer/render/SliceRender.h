#ifndef KORVANE_SLICERENDER_H
#define KORVANE_SLICERENDER_H

#include <QImage>
#include <QRgb>
#include <optional>
#include <vector>

#include "AnyPlane.h"
#include "GreyFormula.h"
#include "LevelStack.h"
#include "Lut.h"

class ViewState;

// The z plane that pixel aPixel along z shows when aPlanes planes are drawn aPixels long.
int planeAtPixel(int aPixel, int aPixels, int aPlanes);
// The middle of plane aPlane along z in such a picture, in pixels.
double pixelOfPlane(int aPlane, int aPixels, int aPlanes);

// Draws the slices of the orthogonal views as the x-y view draws its plane (the channel's range and
// colour, automatic contrast with the x-y plane's mapping, or the visible channels in their colours),
// stretched along z so that a z step is as long on screen as it is in the sample. One renderer per view:
// it keeps the colour of every value while the display settings stay, so that moving the crossing costs
// one look-up per slice element, or none in grey.
class SliceRenderer {
  public:
    // aSlices: each channel's slice, indexed by channel, empty where there is none; all of one size.
    // aPlanes: the x-y view's planes, likewise, for automatic contrast. z runs down the rows
    // (aZAlongRows: the x-z view, slices of z rows) or along the columns (the y-z view, slices of z
    // columns), drawn aZPixels long. The picture (RGB32) is drawn over in place when its size fits, so
    // whoever shows it lets go of it first. aCompositeScale: the scale of the x-y view's channel colours
    // (DisplayPipeline::compositeScale()), which a spectral composite's slices are drawn with, so that a
    // voxel has the same colour in all three views.
    void render(const ViewState& aState, const std::vector<AnyPlane>& aSlices,
                const std::vector<AnyPlane>& aPlanes, bool aZAlongRows, int aZPixels, QImage& aPicture,
                double aCompositeScale = 1.0);
    // Draws the same picture as render() for the shown channel's slice at aAt (the x-z view's row, the
    // y-z view's column) from the stack's kept levels, built for levelMappingFor() of the x-y plane.
    void renderLevels(const ViewState& aState, const LevelStack& aLevels, int aAt, bool aZAlongRows,
                      int aZPixels, QImage& aPicture);

  private:
    // What the colours of the levels come from: grey for automatic contrast, otherwise the channel's
    // lookup table (its file colour as grey) and file colour.
    struct Colours {
        bool automatic = false;
        Lut lut = Lut::Grey;
        QRgb colour = 0;
        bool operator==(const Colours& aOther) const {
            return automatic == aOther.automatic && lut == aOther.lut && colour == aOther.colour;
        }
    };
    // What the kept table was made for.
    struct TableKey {
        size_t type = 0;
        LevelMapping mapping;
        Colours colours;
        bool operator==(const TableKey& aOther) const {
            return type == aOther.type && mapping == aOther.mapping && colours == aOther.colours;
        }
    };

    // The table for a slice of 8- or 16-bit elements shown alone; null for others.
    const std::vector<QRgb>* tableFor(const ViewState& aState, const AnyPlane& aSlice,
                                      const AnyPlane& aPlane);
    static Colours coloursOf(const ViewState& aState, bool aAutomatic);
    // The colour of every level, kept while aColours stays.
    const LutTable& levelColours(const Colours& aColours);

    std::vector<QRgb> mTable;
    TableKey mKey;
    LutTable mLevelColours{};
    std::optional<Colours> mLevelColoursKey;
    bool mLevelsGrey = false;          // each level is its grey
    std::optional<GreyFormula> mGrey;  // the table's colours computed, where they can be
    QImage mNative;                    // the slice unstretched, for everything the table does not draw
    std::vector<int> mPlaneOf;
};

#endif
