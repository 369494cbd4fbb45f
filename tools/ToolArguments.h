#ifndef KORVANE_TOOLARGUMENTS_H
#define KORVANE_TOOLARGUMENTS_H

#include <optional>
#include <string>
#include <vector>

namespace korvane::tools {

// The command line of korvane-lsm, kept as the bytes the shell passed: a file name need not be
// UTF-8, and decoding it would lose the bytes of one that is not.
struct ToolArguments {
    bool help = false;
    bool version = false;
    bool json = false;
    bool bigTiff = false;
    bool force = false;
    std::optional<std::string> compression;
    std::optional<std::string> method;  // of a projection
    std::optional<std::string> zRange;  // FROM:TO
    std::vector<std::string> words;     // the command, then its files
};

// Parses aArgv[1..]: options may stand anywhere, as --name, -name or --name=value, and "--" makes
// all that follows words. Returns the usage error, or an empty text.
std::string parseToolArguments(int aArgc, const char* const* aArgv, ToolArguments& aArguments);

}  // namespace korvane::tools

#endif
