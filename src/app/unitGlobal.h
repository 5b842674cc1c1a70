// The process-wide context of the program and the expansion of rule paths.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

struct GlobalContext {
    // The program's folder, ending in a path separator.
    std::string AppDir;
};

// The one context of the process.
GlobalContext& Global();

// Turns a path written in a rule into a real path: environment variables first, then
// the first path macro ("<app>", "<personal>", "<desktop>", "<nethood>",
// "<programs>", "<startup>", "<fonts>") when the text between the first "<" and the
// first ">" is exactly one of them.
std::string ExpandRulePath(std::string_view rulePath);

} // namespace corvane
