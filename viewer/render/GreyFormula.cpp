#include "GreyFormula.h"

#include <cmath>

namespace {

#if defined(__SSE2__)
// Whether aFormula gives every value's colour in aTable (a multiple of eight entries long).
bool givesTable(const GreyFormula& aFormula, const std::vector<QRgb>& aTable) {
    const __m128i eight = _mm_set1_epi32(8);
    __m128i low = _mm_setr_epi32(0, 1, 2, 3);
    __m128i high = _mm_setr_epi32(4, 5, 6, 7);
    for (size_t v = 0; v < aTable.size(); v += 8) {
        __m128i first;
        __m128i last;
        greyOfEight(low, high, aFormula, first, last);
        const __m128i same = _mm_and_si128(
            _mm_cmpeq_epi32(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(aTable.data() + v))),
            _mm_cmpeq_epi32(last, _mm_loadu_si128(reinterpret_cast<const __m128i*>(aTable.data() + v + 4))));
        if (_mm_movemask_epi8(same) != 0xFFFF) return false;
        low = _mm_add_epi32(low, eight);
        high = _mm_add_epi32(high, eight);
    }
    return true;
}
#endif

}  // namespace

std::optional<GreyFormula> greyFormulaFor(double aMinimum, double aMaximum, const std::vector<QRgb>& aTable) {
#if defined(__SSE2__)
    if (!(aMaximum > aMinimum) || !std::isfinite(aMinimum) || !std::isfinite(aMaximum) || aTable.empty() ||
        aTable.size() % 8 != 0)
        return std::nullopt;
    const double scale = 255.0 / (aMaximum - aMinimum);
    const double offset = 0.5 - aMinimum * scale;
    // Every product must stay within what the conversion to integers takes.
    const double largest = double(aTable.size() - 1) * scale;
    if (!(largest + std::fabs(offset) < 1e9)) return std::nullopt;
    // Values on a level's edge round one way in double precision; a slightly moved offset makes single
    // precision round them the same way, where the edges all lie on the same side.
    const double step = std::ldexp(1.0, -16);
    for (const int nudge : {0, 1, -1, 2, -2, 3, -3, 4, -4}) {
        const GreyFormula formula{float(scale), float(offset + nudge * step)};
        if (givesTable(formula, aTable)) return formula;
    }
#else
    (void)aMinimum;
    (void)aMaximum;
    (void)aTable;
#endif
    return std::nullopt;
}
