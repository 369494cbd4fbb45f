#ifndef KORVANE_STACKMODE_H
#define KORVANE_STACKMODE_H

#include <QPoint>

#include "PlaneRequest.h"
#include "ProjectionMethod.h"

// Which z planes a projection combines, and how.
struct ProjectionSettings {
    korvane::analysis::ProjectionMethod method = korvane::analysis::ProjectionMethod::Maximum;
    int zFirst = 0;
    int zLast = -1;  // below 0: the stack's last plane

    bool operator==(const ProjectionSettings& aOther) const {
        return method == aOther.method && zFirst == aOther.zFirst && zLast == aOther.zLast;
    }
    bool operator!=(const ProjectionSettings& aOther) const { return !(*this == aOther); }
};

// How the user looks at the stack: its planes one at a time, a z projection in place of the plane, or
// the plane with the orthogonal views (x-z below, y-z beside) through a crossing.
struct StackMode {
    ViewMode mode = ViewMode::Plane;  // Plane, Projection or Orthogonal
    ProjectionSettings projection;
    // Column and row of the orthogonal views' crossing, in pixels of the x-y picture; z is the shown
    // plane's. (-1, -1) until it is placed.
    QPoint crossing{-1, -1};

    bool operator==(const StackMode& aOther) const {
        return mode == aOther.mode && projection == aOther.projection && crossing == aOther.crossing;
    }
    bool operator!=(const StackMode& aOther) const { return !(*this == aOther); }
};

#endif
