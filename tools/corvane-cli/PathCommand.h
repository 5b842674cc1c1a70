#pragma once

#include <ostream>
#include <span>
#include <string>

namespace corvane::cli {

// Runs "corvane-cli path ..." with the arguments after "path"; returns the exit code:
// 0 when the result is true or a text was printed, 1 when not, 2 on a usage error.
int RunPathCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

extern const char* const kPathUsage;

} // namespace corvane::cli
