#ifndef KORVANE_GREYFORMULA_H
#define KORVANE_GREYFORMULA_H

#include <QRgb>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Grey levels of a display range computed eight elements at a time instead of looked up one by one:
// level = trunc(value * scale + offset) in single precision, saturated to 0..255. Single precision does
// not round as the double-precision display mapping does where a value falls on a level's edge, so a
// formula is only used once it has been checked against the colour of every value of the type.
struct GreyFormula {
    float scale = 0.0f;
    float offset = 0.0f;
};

#if defined(__SSE2__)
// Opaque grey colours of eight values given as two vectors of four 32-bit integers.
inline void greyOfEight(__m128i aLow, __m128i aHigh, const GreyFormula& aFormula, __m128i& aFirstFour,
                        __m128i& aLastFour) {
    const __m128 scale = _mm_set1_ps(aFormula.scale);
    const __m128 offset = _mm_set1_ps(aFormula.offset);
    const __m128i low = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(aLow), scale), offset));
    const __m128i high = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(aHigh), scale), offset));
    // Saturating packs clamp to 0..255; then each level byte becomes blue, green and red beside alpha.
    const __m128i levels = _mm_packus_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128());
    const __m128i twice = _mm_unpacklo_epi8(levels, levels);
    const __m128i opaque = _mm_unpacklo_epi8(levels, _mm_set1_epi8(char(0xFF)));
    aFirstFour = _mm_unpacklo_epi16(twice, opaque);
    aLastFour = _mm_unpackhi_epi16(twice, opaque);
}

// Eight elements from aElements on, side by side, as two vectors of four 32-bit integers.
inline void loadEight(const unsigned short* aElements, __m128i& aLow, __m128i& aHigh) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aElements));
    aLow = _mm_unpacklo_epi16(values, _mm_setzero_si128());
    aHigh = _mm_unpackhi_epi16(values, _mm_setzero_si128());
}

inline void loadEight(const unsigned char* aElements, __m128i& aLow, __m128i& aHigh) {
    const __m128i values =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(aElements)), _mm_setzero_si128());
    aLow = _mm_unpacklo_epi16(values, _mm_setzero_si128());
    aHigh = _mm_unpackhi_epi16(values, _mm_setzero_si128());
}
#endif

// A formula that gives exactly aTable's colour for every value (aTable has one per value of an 8- or
// 16-bit type) when aTable is the grey of the display range [aMinimum, aMaximum]; none when no formula
// near that mapping does, or without SSE2.
std::optional<GreyFormula> greyFormulaFor(double aMinimum, double aMaximum, const std::vector<QRgb>& aTable);

#endif
