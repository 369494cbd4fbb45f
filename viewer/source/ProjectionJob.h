#ifndef KORVANE_PROJECTIONJOB_H
#define KORVANE_PROJECTIONJOB_H

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "AnyPlane.h"
#include "OrthoStack.h"
#include "PlaneRequest.h"
#include "StackMode.h"
#include "ZProjection.h"

// What the window asks to project: some channels of one timepoint, through the window of the shown
// plane, and the extents its own reader gives, so that a file replaced on disk since is noticed.
struct ProjectionWork {
    QByteArray fileName;
    int timepoint = 0;
    std::vector<int> channels;
    ProjectionSettings settings;
    StackWindow window;
    int sizeX = 0;
    int sizeY = 0;
    int sizeZ = 0;
    int sizeC = 0;
};

// The projections by channel, or the reader's message.
struct ProjectionOutcome {
    std::vector<std::pair<int, korvane::analysis::ProjectedPlane>> planes;
    QString error;
};

// Projects the channels one after another through readers of their own (to be run off the GUI thread).
// aProgress gets the planes done of all channels' planes and cancels by returning false, which gives
// nothing. Failures come back as the outcome's error, never as exceptions.
std::optional<ProjectionOutcome> projectChannels(const ProjectionWork& aWork,
                                                 const std::function<bool(int, int)>& aProgress);

// The projection as a plane to show, and the element type it is in.
AnyPlane anyPlaneOf(const korvane::analysis::ProjectedPlane& aPlane);
ElementType elementTypeOf(const korvane::analysis::ProjectedPlane& aPlane);

#endif
