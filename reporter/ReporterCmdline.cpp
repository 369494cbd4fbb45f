#include "ReporterCmdline.h"

#include <cmath>
#include <cstdlib>
#include <limits>

ReporterCmdline::ReporterCmdline(int aVerbosity, std::ostream* aStream) : mStream(aStream) {
    mHookEnabled = false;
    mVerbosity = aVerbosity;
    Reporter::addReporter(this);
}

int ReporterCmdline::getId() { return 1; }

void ReporterCmdline::writePercent(double aPercent) {
    // A NaN or infinite percentage (0 of 0, x of 0) has no number to print; anything below int's range
    // is clamped rather than converted, which would be undefined.
    if (!std::isfinite(aPercent)) return;
    if (aPercent > 100.0) aPercent = 100.0;
    constexpr double kLowest = std::numeric_limits<int>::min();
    const double floored = std::floor(aPercent + 0.5);
    const int rounded = floored <= kLowest ? std::numeric_limits<int>::min() : static_cast<int>(floored);
    *mStream << "done " << rounded << "%" << std::endl;
}

void ReporterCmdline::progress(int aDone, int aTotal) {
    if (aTotal <= 0) return;
    writePercent(100.0 * aDone / aTotal);
}

void ReporterCmdline::progress(float aFrom, float aTo, float aSubTotal, float aSubDone, float aTotal) {
    if (aTotal <= 0) return;
    const double from = aFrom, to = aTo, subTotal = aSubTotal, subDone = aSubDone, total = aTotal;
    writePercent(100.0 * from / total + ((to - from) / total) * (100.0 * subDone / subTotal));
}

void ReporterCmdline::message(int aLevel, const std::string& aText) {
    // Negative levels are filtered by magnitude like positive ones.
    if (std::abs(static_cast<long>(aLevel)) > mVerbosity) return;
    *mStream << aText << std::flush;
}

void ReporterCmdline::note(int aLevel, const std::string& aText) {
    if (aLevel == 0) *mStream << "NOTE: ";
    *mStream << aText << std::flush;
}
