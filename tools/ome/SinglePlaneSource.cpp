#include "SinglePlaneSource.h"

#include <stdexcept>
#include <type_traits>

namespace korvane::tools {

void SinglePlaneSource::readPlanes(PlaneBlock& aPlanes, int aTimepoint, int aChannel, int aZ, int aCount) {
    if (aTimepoint != 0 || aChannel != 0 || aZ != 0 || aCount != 1)
        throw std::out_of_range("a single plane has only z 0 of channel 0 at timepoint 0");
    std::visit(
        [](auto& aPlane, auto& aBlock) {
            using T = typename std::decay_t<decltype(aBlock)>::T_numtype;
            using S = typename std::decay_t<decltype(aPlane)>::T_numtype;
            if (sizeof(T) < sizeof(S) || (std::is_floating_point_v<S> && !std::is_floating_point_v<T>))
                throw std::logic_error("a plane cannot be written in a narrower sample type");
            aBlock.resize(1, aPlane.rows(), aPlane.columns());
            // Element by element, whatever the plane's storage order or strides.
            for (int y = 0; y < aPlane.rows(); ++y)
                for (int x = 0; x < aPlane.columns(); ++x)
                    aBlock(0, y, x) = static_cast<T>(aPlane(aPlane.lbound(0) + y, aPlane.lbound(1) + x));
        },
        mPlane, aPlanes);
}

}  // namespace korvane::tools
