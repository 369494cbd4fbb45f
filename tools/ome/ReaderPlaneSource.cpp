#include "ReaderPlaneSource.h"

#include "DorudURIVuruda.h"

namespace korvane::tools {

void ReaderPlaneSource::readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) {
    if (mSeries >= 0) mReader.setSeries(mSeries);
    std::visit([&](auto& planes) { mReader.readArray(planes, aTimepoint, aChannel, aZ, aCount, 0, 0, 0, 0); },
               aPlanes);
}

}  // namespace korvane::tools
