#include "app/command_line.h"

#include <algorithm>

namespace trenn {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    const auto optionsEnd = std::find(args.begin(), args.end(), "--");
    const auto given = [&](const char* a, const char* b = nullptr) {
        return std::any_of(args.begin(), optionsEnd, [&](const std::string& arg) {
            return arg == a || (b != nullptr && arg == b);
        });
    };
    if (given("-h", "--help")) {
        line.action = CommandLine::Action::kHelp;
        return line;
    }
    if (given("--version")) {
        line.action = CommandLine::Action::kVersion;
        return line;
    }
    const auto usageError = [&](std::string error) {
        line = CommandLine{};
        line.action = CommandLine::Action::kUsageError;
        line.error = std::move(error);
        return line;
    };
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--watch") {
            line.watch = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (line.objectFile) {
            return usageError("more than one file: " + *line.objectFile + " and " + arg);
        } else {
            line.objectFile = arg;
        }
    }
    return line;
}

std::string HelpText() {
    return "usage: trenn [--watch] [FILE]\n"
           "       trenn -h | --help | --version\n"
           "\n"
           "Shows the mesh parts stored in an ELF32 object file as a wireframe. Without FILE it\n"
           "asks for a .o file in an \"Open file\" dialog.\n"
           "\n"
           "  --watch      load the file again whenever it changes on disk\n"
           "  -h, --help   print this text and exit\n"
           "  --version    print the version and exit\n"
           "\n"
           "In the window, Ctrl+O opens another file, F5 loads the file shown again, and a\n"
           "file dropped on the window is opened.\n"
           "Exit status: 0 the window was closed or the dialog cancelled, 1 the file could not\n"
           "be loaded or no display could be reached, 2 usage error.\n";
}

std::string VersionText() { return "trenn " TRENN_VERSION "\n"; }

}  // namespace trenn
