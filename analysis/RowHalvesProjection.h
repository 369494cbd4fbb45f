#ifndef KORVANE_ROWHALVESPROJECTION_H
#define KORVANE_ROWHALVESPROJECTION_H

#include "PlaneFeed.h"
#include "ZAccumulator.h"
#include "ZProjection.h"

class DorudURIVuruda;

namespace korvane::analysis {

// Projects the selected planes on two threads at once, each through a reader of its own (both open on
// the same file) and into its own half of the window's rows, so that neither waits for the other and
// no memory is written by both; each holds only its half of a plane beside the result. Meant for
// uncompressed planes, whose rows are read without the rest of the plane. aSelection's window must lie
// in the stack, with at least 2 rows and its widths given.
//
// aProgress is called on this thread with the planes both threads are done with; false cancels both,
// the other within its current plane. Returns false when cancelled; a failed read is rethrown (the
// calling thread's own first) once both threads have stopped. On success aAccumulator holds every plane.
template <typename T>
bool projectInRowHalves(DorudURIVuruda& aReader, DorudURIVuruda& aSecondReader,
                        const PlaneSelection& aSelection, ZAccumulator<T>& aAccumulator,
                        const ProjectionProgress& aProgress);

}  // namespace korvane::analysis

#endif
