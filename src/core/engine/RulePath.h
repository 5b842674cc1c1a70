// The path macros of rule documents and their expansion into the machine's paths.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Turns a path written in a rule into a real path: environment variables first, then
// the first path macro ("<app>", "<personal>", "<desktop>", "<nethood>",
// "<programs>", "<startup>", "<fonts>") when the text between the first "<" and the
// first ">" is exactly one of them. "<app>" is `appDir`, the program's folder (ending
// in a path separator); the others are the machine's special folders.
[[nodiscard]] std::string ExpandRulePath(std::string_view rulePath, std::string_view appDir);
// The program's folder as the machine names it in registry values: the Windows path
// of a drive that maps it, else the folder itself.
[[nodiscard]] std::string RegistryAppDir(std::string_view appDir);

} // namespace corvane
