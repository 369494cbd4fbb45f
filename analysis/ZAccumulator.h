#ifndef KORVANE_ZACCUMULATOR_H
#define KORVANE_ZACCUMULATOR_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ProjectionMethod.h"
#include "ZProjection.h"

namespace korvane::analysis {

// Combines planes of samples T (unsigned char, unsigned short or float), added one after another, into
// their projection; the rules are those projectZ() states. Working storage is allocated up front, so
// a lack of memory shows before any plane is read (as std::bad_alloc).
template <typename T>
class ZAccumulator {
  public:
    ZAccumulator(ProjectionMethod aMethod, int aRows, int aColumns);

    // A plane of rows x columns samples, row after row.
    void add(const T* aPlane) {
        addPixels(aPlane, 0, mPixels, mPlanes == 0);
        ++mPlanes;
    }

    // Pixels [aFirst, aFirst + aCount) of the next plane for them, for planes read in parts: every pixel
    // gets the same planes in the same order, the first marked aFirstPlane, and setPlanes() counts them
    // once all are in. Threads may add disjoint pixels at the same time.
    void addPixels(const T* aSamples, size_t aFirst, size_t aCount, bool aFirstPlane);
    void setPlanes(uint64_t aPlanes) { mPlanes = aPlanes; }

    // The projection of the planes added so far (at least one). It shares its storage with the
    // accumulator, which takes no further planes after this.
    ProjectedPlane result();

  private:
    void addExtreme(const T* aSamples, size_t aFirst, size_t aCount, bool aFirstPlane);
    void addSum(const T* aSamples, size_t aFirst, size_t aCount);
    void addMoments(const T* aSamples, size_t aFirst, size_t aCount);

    ProjectionMethod mMethod;
    size_t mPixels;
    uint64_t mPlanes = 0;
    blitz::Array<T, 2> mExtreme;     // maximum, minimum
    blitz::Array<unsigned, 2> mSum;  // sum of integer samples
    blitz::Array<float, 2> mFloats;  // the result of the other float projections
    std::vector<uint64_t> mTotal;    // integer samples: sum (mean, sd)
    std::vector<uint64_t> mSquares;  // integer samples: sum of squares (sd)
    std::vector<double> mFloatSum;   // float samples: sum (sum, mean)
    std::vector<double> mMean;       // float samples: Welford's running mean (sd)
    std::vector<double> mDeviation;  // float samples: Welford's sum of squared deviations (sd)
    std::vector<uint32_t> mCount;    // float samples: numbers seen, NaN left out
};

extern template class ZAccumulator<unsigned char>;
extern template class ZAccumulator<unsigned short>;
extern template class ZAccumulator<float>;

}  // namespace korvane::analysis

#endif
