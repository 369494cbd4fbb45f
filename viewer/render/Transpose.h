#ifndef KORVANE_TRANSPOSE_H
#define KORVANE_TRANSPOSE_H

#if defined(__SSE2__)
#include <emmintrin.h>

// Four vectors of four 32-bit lanes turned in place: lane j of vector i becomes lane i of vector j. An
// x-z slice holds a column's planes side by side, its picture a plane's columns.
inline void transposeFour(__m128i& aFirst, __m128i& aSecond, __m128i& aThird, __m128i& aFourth) {
    const __m128i t0 = _mm_unpacklo_epi32(aFirst, aSecond);
    const __m128i t1 = _mm_unpacklo_epi32(aThird, aFourth);
    const __m128i t2 = _mm_unpackhi_epi32(aFirst, aSecond);
    const __m128i t3 = _mm_unpackhi_epi32(aThird, aFourth);
    aFirst = _mm_unpacklo_epi64(t0, t1);
    aSecond = _mm_unpackhi_epi64(t0, t1);
    aThird = _mm_unpacklo_epi64(t2, t3);
    aFourth = _mm_unpackhi_epi64(t2, t3);
}
#endif

#endif
