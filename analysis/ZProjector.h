#ifndef KORVANE_ZPROJECTOR_H
#define KORVANE_ZPROJECTOR_H

#include <memory>
#include <optional>
#include <string>

#include "DorudURIVuruda.h"
#include "ZProjection.h"

namespace korvane::analysis {

// An LSM file opened for projections, for a worker that projects one channel and timepoint after
// another. The file is opened a second time, so that two cores read and reduce planes, each through a
// reader of its own: compressed planes one in two each, uncompressed ones half of every plane's rows.
class ZProjector {
  public:
    // Throws BlitzFileIOException as DorudURIVuruda::open does.
    explicit ZProjector(const std::string& aFileName);
    ZProjector(const ZProjector&) = delete;
    ZProjector& operator=(const ZProjector&) = delete;

    // The open file's extents, types and record; not to be used while project() runs.
    DorudURIVuruda& reader() { return mReader; }

    // As projectZ() on reader().
    std::optional<ProjectedPlane> project(const ZProjectionRequest& aRequest,
                                          const ProjectionProgress& aProgress = {});

  private:
    DorudURIVuruda mReader;
    std::unique_ptr<DorudURIVuruda> mSecondReader;
};

}  // namespace korvane::analysis

#endif
