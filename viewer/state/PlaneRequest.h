#ifndef KORVANE_PLANEREQUEST_H
#define KORVANE_PLANEREQUEST_H

// Element type a plane is loaded as (the "Load as" choice).
enum class ElementType { UInt8, UInt16, UInt32, Float };

// How the file's planes become the picture.
enum class ViewMode {
    Plane,       // one x-y plane as the reader gives it
    Projection,  // a plane computed from a z range, shown like a plane
    ScanImage,   // planes one row high stacked into an x-t (or x-z) picture
    Orthogonal,  // an x-z or y-z slice through the stack
};

// Where a shown plane comes from in the stack.
struct PlaneIndex {
    int timepoint = 0;
    int channel = 0;
    int zPlane = 0;

    bool operator==(const PlaneIndex& aOther) const {
        return timepoint == aOther.timepoint && channel == aOther.channel && zPlane == aOther.zPlane;
    }
};

// One plane asked of the open file: asking the same of the same open file gives the same plane.
struct PlaneRequest {
    PlaneIndex index;
    bool cropped = false;
    int xStart = 0;  // the four clamped crop values; all 0 when not cropped
    int xWidth = 0;
    int yStart = 0;
    int yWidth = 0;
    ViewMode mode = ViewMode::Plane;

    bool operator==(const PlaneRequest& aOther) const {
        return index == aOther.index && cropped == aOther.cropped && xStart == aOther.xStart &&
               xWidth == aOther.xWidth && yStart == aOther.yStart && yWidth == aOther.yWidth &&
               mode == aOther.mode;
    }
    bool operator!=(const PlaneRequest& aOther) const { return !(*this == aOther); }
};

#endif
