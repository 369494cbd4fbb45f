#include "ToolArguments.h"

#include <algorithm>
#include <string_view>

namespace korvane::tools {

std::string parseToolArguments(int aArgc, const char* const* aArgv, ToolArguments& aArguments) {
    aArguments = ToolArguments();
    std::vector<std::string> unknown;
    bool optionsEnded = false;
    for (int i = 1; i < aArgc; ++i) {
        const std::string_view argument = aArgv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            aArguments.words.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string_view spelled = argument.substr(0, argument.find('='));
        const std::string_view name =
            spelled.substr(std::min(spelled.find_first_not_of('-'), spelled.size()));
        const bool hasValue = spelled.size() < argument.size();
        std::optional<std::string>* value = name == "compression" ? &aArguments.compression
                                            : name == "method"    ? &aArguments.method
                                            : name == "z"         ? &aArguments.zRange
                                                                  : nullptr;
        if (value != nullptr) {
            if (hasValue)
                *value = std::string(argument.substr(spelled.size() + 1));
            else if (i + 1 < aArgc)
                *value = std::string(aArgv[++i]);
            else
                return "Missing value after '" + std::string(spelled) + "'.";
            continue;
        }
        bool* flag = name == "h" || name == "help"      ? &aArguments.help
                     : name == "v" || name == "version" ? &aArguments.version
                     : name == "json"                   ? &aArguments.json
                     : name == "bigtiff"                ? &aArguments.bigTiff
                     : name == "force"                  ? &aArguments.force
                                                        : nullptr;
        if (flag == nullptr)
            unknown.emplace_back(name);
        else if (hasValue)
            return "Unexpected value after '" + std::string(spelled) + "'.";
        else
            *flag = true;
    }
    if (unknown.size() == 1) return "Unknown option '" + unknown[0] + "'.";
    if (unknown.empty()) return std::string();
    std::string text = "Unknown options: ";
    for (std::size_t k = 0; k < unknown.size(); ++k) text += (k ? ", " : "") + unknown[k];
    return text + ".";
}

}  // namespace korvane::tools
