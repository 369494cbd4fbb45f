#include "ObjectiveText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "TextCleaning.h"

namespace korvane::tools {

namespace {

// A decimal number filling all of aText, with a point or a comma ("1,3" on some labels).
std::optional<double> decimal(std::string aText) {
    std::replace(aText.begin(), aText.end(), ',', '.');
    if (aText.empty() || aText.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(aText.c_str(), &end);
    if (end != aText.c_str() + aText.size() || !(value > 0)) return std::nullopt;
    return value;
}

// Immersion words as labels write them, German ones included.
std::string immersionOf(const std::string& aToken) {
    const std::string token = asciiLower(aToken);
    if (token == "oil" || token == "oel" || token == "\xc3\xb6l") return "Oil";
    if (token == "w" || token == "water" || token == "wasser") return "Water";
    if (token.rfind("gly", 0) == 0) return "Glycerol";
    if (token == "dry" || token == "air") return "Air";
    if (token == "imm") return "Multi";
    return std::string();
}

// The lens design named before the magnification; the more specific names first.
std::string correctionOf(const std::string& aDesign) {
    static const std::pair<const char*, const char*> kDesigns[] = {
        {"plan-apochromat", "PlanApo"}, {"planapo", "PlanApo"},     {"plan-neofluar", "PlanNeofluar"},
        {"plan-fluor", "PlanFluor"},    {"planfluor", "PlanFluor"}, {"apochromat", "Apo"},
        {"neofluar", "Neofluar"},       {"fluar", "Fluar"},         {"achroplan", "Achromat"},
        {"achromat", "Achromat"}};
    const std::string design = asciiLower(aDesign);
    for (const auto& [name, correction] : kDesigns)
        if (design.find(name) != std::string::npos) return correction;
    return design.find_first_not_of(' ') == std::string::npos ? std::string() : "Other";
}

}  // namespace

ObjectiveText parseObjective(const std::string& aLabel) {
    ObjectiveText objective;
    std::istringstream words(aLabel);
    std::vector<std::string> tokens;
    for (std::string token; words >> token;) tokens.push_back(token);
    // "40x/1.3": magnification, then numerical aperture.
    std::size_t lens = tokens.size();
    for (std::size_t k = 0; k < tokens.size() && lens == tokens.size(); ++k) {
        const std::string token = asciiLower(tokens[k]);
        const std::string::size_type slash = token.find('/');
        if (slash == std::string::npos || slash == 0 || token[slash - 1] != 'x') continue;
        const std::optional<double> magnification = decimal(token.substr(0, slash - 1));
        const std::optional<double> aperture = decimal(token.substr(slash + 1));
        if (!magnification || !aperture) continue;
        objective.magnification = magnification;
        objective.lensNA = aperture;
        lens = k;
    }
    // Without a magnification the whole label may still name the design and the immersion.
    std::string design;
    for (std::size_t k = 0; k < lens; ++k) design += tokens[k] + " ";
    objective.correction = correctionOf(design);
    for (std::size_t k = lens < tokens.size() ? lens + 1 : 0;
         k < tokens.size() && objective.immersion.empty(); ++k)
        objective.immersion = immersionOf(tokens[k]);
    return objective;
}

}  // namespace korvane::tools
