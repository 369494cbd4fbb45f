#ifndef KORVANE_OMEPLANESOURCE_H
#define KORVANE_OMEPLANESOURCE_H

#include <blitz/array.h>

#include <variant>

namespace korvane::tools {

// Planes of z by rows by columns, in one of the sample types an OME-TIFF can hold here.
using PlaneBlock =
    std::variant<blitz::Array<unsigned char, 3>, blitz::Array<unsigned short, 3>,
                 blitz::Array<unsigned int, 3>, blitz::Array<float, 3>, blitz::Array<double, 3>>;

// Where the OME-TIFF writer takes its planes from: a file's stack, its projections, a plane on screen.
class OmePlaneSource {
  public:
    virtual ~OmePlaneSource() = default;

    // Fills aPlanes, whose alternative is the sample type being written, with z planes aZ .. aZ + aCount - 1
    // of channel aChannel at timepoint aTimepoint (resized to aCount x rows x columns, contiguous, values
    // converted to the type). Failures come as exceptions, which end the writing.
    virtual void readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) = 0;
};

}  // namespace korvane::tools

#endif
