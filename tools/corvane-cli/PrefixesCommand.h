#pragma once

#include <ostream>
#include <span>
#include <string>

#include "CliCommon.h"

namespace corvane::cli {

// "corvane-cli prefixes [--json]": the user's Wine prefixes, one a line as
// "LABEL TAB PATH". Exit codes: 0 listed (also when there is none), 2 a usage error.
int RunPrefixesCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// "corvane-cli scan --all": scans every prefix of the user. Exit codes: 0 nothing found
// anywhere, 1 items found, 2 an error in every prefix, no library, or a usage error.
int RunScanAll(const CommonOptions& options, std::ostream& out, std::ostream& err);

extern const char* const kPrefixesUsage;

} // namespace corvane::cli
