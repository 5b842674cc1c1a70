#pragma once

#include <ostream>
#include <span>
#include <string>

namespace corvane::cli {

// "corvane-cli scan ..." and "corvane-cli repair ..." with the arguments after the
// subcommand. Exit codes: 0 nothing found / every item repaired, 1 items found / a
// repair failed, 2 an error.
int RunScanCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunRepairCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

extern const char* const kScanUsage;
extern const char* const kRepairUsage;

} // namespace corvane::cli
