#include "ProjectionMethod.h"

#include "PixelDataType.h"

namespace korvane::analysis {

namespace {

struct Named {
    ProjectionMethod method;
    const char* name;
};

constexpr Named kNames[] = {{ProjectionMethod::Maximum, "max"},
                            {ProjectionMethod::Minimum, "min"},
                            {ProjectionMethod::Mean, "mean"},
                            {ProjectionMethod::Sum, "sum"},
                            {ProjectionMethod::StandardDeviation, "sd"}};

}  // namespace

std::string projectionMethodName(ProjectionMethod aMethod) {
    for (const Named& entry : kNames)
        if (entry.method == aMethod) return entry.name;
    return "unknown";
}

std::optional<ProjectionMethod> projectionMethodNamed(const std::string& aName) {
    for (const Named& entry : kNames)
        if (aName == entry.name) return entry.method;
    return std::nullopt;
}

int projectedPixelType(ProjectionMethod aMethod, int aChannelType) {
    switch (aMethod) {
        case ProjectionMethod::Maximum:
        case ProjectionMethod::Minimum:
            return aChannelType;
        case ProjectionMethod::Sum:
            return aChannelType == TYPE_FLOAT ? TYPE_FLOAT : TYPE_UINT32;
        case ProjectionMethod::Mean:
        case ProjectionMethod::StandardDeviation:
            break;
    }
    return TYPE_FLOAT;
}

}  // namespace korvane::analysis
