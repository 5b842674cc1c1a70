#pragma once

#include <ostream>
#include <span>
#include <string>

namespace corvane::cli {

// Runs "corvane-cli reg ..." with the arguments after "reg"; returns the exit code:
// 0 when the result is true or the read succeeded, 1 when not, 2 on a usage error or
// a write refused because Wine is running.
int RunRegCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

extern const char* const kRegUsage;

} // namespace corvane::cli
