#ifndef KORVANE_HARDWARENAMES_H
#define KORVANE_HARDWARENAMES_H

#include <optional>
#include <string>

namespace korvane::tools {

// The first number of three or four digits in a name: the wavelength in nm that laser and
// illumination names carry ("HeNe543", "Diode 405-30", "488").
std::optional<double> wavelengthInName(const std::string& aName);

// A laser's kind by its name, in OME's terms; texts are empty where the name does not tell.
struct LaserKind {
    std::string medium;  // HeNe, Ar, TiSapphire
    std::string type;    // Gas, SolidState, Semiconductor
    // The lines such a laser emits when its name carries no wavelength, in nm.
    double linesFrom = 0, linesTo = 0;
};
LaserKind laserKind(const std::string& aName);

// An emission filter by its name ("BP 505-530", "LP 560", "BP 500-550 IR"); no filter for blank
// names and "None".
struct FilterText {
    std::string type;                     // BandPass, LongPass, ShortPass, Other
    std::optional<double> cutIn, cutOut;  // nm
};
std::optional<FilterText> parseFilter(const std::string& aName);

}  // namespace korvane::tools

#endif
