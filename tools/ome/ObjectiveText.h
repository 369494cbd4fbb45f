#ifndef KORVANE_OBJECTIVETEXT_H
#define KORVANE_OBJECTIVETEXT_H

#include <optional>
#include <string>

namespace korvane::tools {

// What an objective's label tells ("Plan-Apochromat 40x/1.3 Oil DIC M27"), in OME's terms. Texts are
// empty where the label does not say.
struct ObjectiveText {
    std::optional<double> magnification;  // 40
    std::optional<double> lensNA;         // 1.3
    std::string immersion;                // Oil, Water, Glycerol, Air, Multi
    std::string correction;               // PlanApo, PlanNeofluar, Apo, ..., Other
};

ObjectiveText parseObjective(const std::string& aLabel);

}  // namespace korvane::tools

#endif
