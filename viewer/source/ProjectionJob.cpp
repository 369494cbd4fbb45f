#include "ProjectionJob.h"

#include <QCoreApplication>
#include <exception>

#include "ZProjector.h"

using korvane::analysis::ProjectedPlane;

std::optional<ProjectionOutcome> projectChannels(const ProjectionWork& aWork,
                                                 const std::function<bool(int, int)>& aProgress) {
    ProjectionOutcome outcome;
    try {
        korvane::analysis::ZProjector projector(aWork.fileName.toStdString());
        DorudURIVuruda& reader = projector.reader();
        if (reader.getSizeX() != aWork.sizeX || reader.getSizeY() != aWork.sizeY ||
            reader.getSizeZ() != aWork.sizeZ || reader.getSizeC() != aWork.sizeC) {
            outcome.error = QCoreApplication::translate(
                "ProjectionJob", "The file has changed on disk since it was opened; open it again.");
            return outcome;
        }
        korvane::analysis::ZProjectionRequest request;
        request.method = aWork.settings.method;
        request.timepoint = aWork.timepoint;
        request.zFirst = aWork.settings.zFirst;
        request.zLast = aWork.settings.zLast;
        request.xStart = aWork.window.xStart;
        request.xWidth = aWork.window.xWidth;
        request.yStart = aWork.window.yStart;
        request.yWidth = aWork.window.yWidth;
        const int planes = korvane::analysis::projectedPlaneCount(request, aWork.sizeZ);
        const int total = planes * int(aWork.channels.size());
        for (size_t i = 0; i < aWork.channels.size(); ++i) {
            request.channel = aWork.channels[i];
            const int before = int(i) * planes;
            std::optional<ProjectedPlane> plane = projector.project(
                request, [&](int aDone, int) { return !aProgress || aProgress(before + aDone, total); });
            if (!plane) return std::nullopt;
            outcome.planes.emplace_back(request.channel, std::move(*plane));
        }
    } catch (const std::exception& e) {
        outcome.planes.clear();
        outcome.error = QString::fromLocal8Bit(e.what());
    }
    return outcome;
}

AnyPlane anyPlaneOf(const ProjectedPlane& aPlane) {
    return std::visit([](const auto& aArray) -> AnyPlane { return aArray; }, aPlane);
}

ElementType elementTypeOf(const ProjectedPlane& aPlane) {
    switch (aPlane.index()) {
        case 0:
            return ElementType::UInt8;
        case 1:
            return ElementType::UInt16;
        case 2:
            return ElementType::UInt32;
        default:
            return ElementType::Float;
    }
}
