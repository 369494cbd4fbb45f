#ifndef KORVANE_PROJECTIONMETHOD_H
#define KORVANE_PROJECTIONMETHOD_H

#include <optional>
#include <string>

namespace korvane::analysis {

// How the planes of a z range are combined, pixel by pixel, into one plane.
enum class ProjectionMethod { Maximum, Minimum, Mean, Sum, StandardDeviation };

// "max", "min", "mean", "sum" or "sd".
std::string projectionMethodName(ProjectionMethod aMethod);

// The method one of the names above stands for; nothing for any other text.
std::optional<ProjectionMethod> projectionMethodNamed(const std::string& aName);

// PixelDataType of the projection of a channel whose samples are aChannelType (TYPE_UINT8, TYPE_UINT16
// or TYPE_FLOAT): maximum and minimum keep the channel's type, mean and standard deviation are float,
// and a sum is TYPE_UINT32 for integer samples and float for float samples.
int projectedPixelType(ProjectionMethod aMethod, int aChannelType);

}  // namespace korvane::analysis

#endif
