#ifndef KORVANE_INFOCOMMAND_H
#define KORVANE_INFOCOMMAND_H

#include <string>

namespace korvane::tools {

// korvane-lsm info: prints what the file at aPath holds, as text or as one JSON object, on standard
// output. Reader failures come as BlitzFileIOException.
void printInfo(const std::string& aPath, bool aJson);

}  // namespace korvane::tools

#endif
