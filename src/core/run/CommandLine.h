// The command line of the program `corvane`: --maintain shows the buttons of the rule
// library and platform group windows, --help says what the program does and where its
// files are. Nothing else is taken.
#pragma once

#include <string>
#include <vector>

namespace corvane {

struct CommandLine {
    bool maintain = false;
    bool help = false;
    std::string error; // set for anything else, e.g. "unknown option -x"
};

// `args` without the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

struct ProgramFolders;

// The text --help prints: where each file is in the mode that applies.
std::string CommandLineHelp(const ProgramFolders& folders);
// ... for a program in `appDir` (ending in a path separator).
std::string CommandLineHelp(const std::string& appDir);

} // namespace corvane
