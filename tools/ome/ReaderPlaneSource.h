#ifndef KORVANE_READERPLANESOURCE_H
#define KORVANE_READERPLANESOURCE_H

#include "OmePlaneSource.h"

class DorudURIVuruda;

namespace korvane::tools {

// The planes of the stack an LSM reader has open, as they are stored.
class ReaderPlaneSource : public OmePlaneSource {
  public:
    explicit ReaderPlaneSource(DorudURIVuruda& aReader) : mReader(aReader) {}
    void readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) override;

  private:
    DorudURIVuruda& mReader;
};

}  // namespace korvane::tools

#endif
