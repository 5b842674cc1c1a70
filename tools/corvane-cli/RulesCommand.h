#pragma once

#include <ostream>
#include <span>
#include <string>

namespace corvane::cli {

// "corvane-cli rules ..." with the arguments after "rules": import, export and check
// of rule packs. Exit codes: 0 done, 1 a pack or library that does not check (nothing
// changed), 2 an error.
int RunRulesCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

extern const char* const kRulesUsage;

} // namespace corvane::cli
