#ifndef KORVANE_READERPLANESOURCE_H
#define KORVANE_READERPLANESOURCE_H

#include "OmePlaneSource.h"

class DorudURIVuruda;

namespace korvane::tools {

// The planes of the stack an LSM reader has open, as they are stored: of series aSeries (a stage
// position or mosaic tile), or of whichever series the reader is set to.
class ReaderPlaneSource : public OmePlaneSource {
  public:
    explicit ReaderPlaneSource(DorudURIVuruda& aReader, int aSeries = -1)
        : mReader(aReader), mSeries(aSeries) {}
    void readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) override;

  private:
    DorudURIVuruda& mReader;
    int mSeries;
};

}  // namespace korvane::tools

#endif
