#pragma once

#include <optional>
#include <string>
#include <vector>

namespace trenn {

// trenn [--watch] [FILE], trenn -h | --help | --version.
struct CommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    // The file to load instead of asking for one.
    std::optional<std::string> objectFile;
    // Load the file shown again whenever it changes.
    bool watch = false;
    // What is wrong, for kUsageError: one line without the program's name.
    std::string error;
};

// The arguments after the program's name. --help and --version answer wherever they stand
// (--help first); "--" ends the options, so that a file name may start with '-'.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// What --help prints, ending in a line break.
std::string HelpText();
// What --version prints: "trenn 1.0.0" and a line break.
std::string VersionText();

}  // namespace trenn
