#include "HardwareNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "TextCleaning.h"

namespace korvane::tools {

namespace {

bool has(const std::string& aText, const char* aPart) { return aText.find(aPart) != std::string::npos; }

}  // namespace

std::optional<double> wavelengthInName(const std::string& aName) {
    for (std::size_t at = 0; at < aName.size();) {
        if (!std::isdigit(static_cast<unsigned char>(aName[at]))) {
            ++at;
            continue;
        }
        const std::size_t end = aName.find_first_not_of("0123456789", at);
        const std::size_t digits = (end == std::string::npos ? aName.size() : end) - at;
        if (digits == 3 || digits == 4) return std::atof(aName.substr(at, digits).c_str());
        at += digits;
    }
    return std::nullopt;
}

LaserKind laserKind(const std::string& aName) {
    const std::string name = asciiLower(aName);
    // Gas lasers emit fixed lines: argon 458 to 514 nm, helium-neon 543 to 633 nm. A tunable
    // titanium-sapphire laser covers the near infrared.
    if (has(name, "hene")) return {"HeNe", "Gas", 540, 636};
    if (has(name, "ar/kr") || has(name, "arkr")) return {"", "Gas", 0, 0};
    if (has(name, "argon")) return {"Ar", "Gas", 455, 516};
    if (has(name, "titanium") || has(name, "sapphire") || has(name, "mai tai"))
        return {"TiSapphire", "SolidState", 680, 1100};
    if (has(name, "dpss") || has(name, "yag")) return {"", "SolidState", 0, 0};
    if (has(name, "diode")) return {"", "Semiconductor", 0, 0};
    return {};
}

std::optional<FilterText> parseFilter(const std::string& aName) {
    std::istringstream words(aName);
    std::string kind, range;
    words >> kind >> range;
    const std::string lowered = asciiLower(kind);
    if (kind.empty() || lowered == "none" || lowered == "nonelsm") return std::nullopt;
    FilterText filter;
    filter.type = lowered == "bp"                      ? "BandPass"
                  : lowered == "lp"                    ? "LongPass"
                  : lowered == "sp" || lowered == "kp" ? "ShortPass"
                                                       : "Other";
    if (filter.type == "Other") return filter;
    // "505-530" for a band, one edge for long and short passes.
    char* end = nullptr;
    const double first = std::strtod(range.c_str(), &end);
    if (end == range.c_str() || !(first > 0)) return filter;
    if (filter.type == "BandPass") {
        const double second = *end == '-' ? std::strtod(end + 1, nullptr) : 0;
        if (second > first) {
            filter.cutIn = first;
            filter.cutOut = second;
        }
    } else {
        (filter.type == "LongPass" ? filter.cutIn : filter.cutOut) = first;
    }
    return filter;
}

}  // namespace korvane::tools
