#include "ZProjector.h"

#include <sys/stat.h>

#include <exception>

#include "ProjectPlanes.h"

namespace korvane::analysis {

namespace {

// The same file, unchanged: a file replaced under its name in between would mix two stacks' planes.
bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

ZProjector::ZProjector(const std::string& aFileName) {
    struct stat before {};
    const bool known = ::stat(aFileName.c_str(), &before) == 0;
    mReader.open(aFileName);
    if (!known) return;
    try {
        auto second = std::make_unique<DorudURIVuruda>();
        second->open(aFileName);
        struct stat after {};
        if (::stat(aFileName.c_str(), &after) == 0 && sameFile(before, after))
            mSecondReader = std::move(second);
    } catch (const std::exception&) {
        // One reader projects the same, only slower.
    }
}

std::optional<ProjectedPlane> ZProjector::project(const ZProjectionRequest& aRequest,
                                                  const ProjectionProgress& aProgress) {
    // A failed read closes the reader it went through; a closed second reader is left out.
    DorudURIVuruda* second = mSecondReader && mSecondReader->isOpen() ? mSecondReader.get() : nullptr;
    return projectPlanes(mReader, second, aRequest, aProgress);
}

}  // namespace korvane::analysis
