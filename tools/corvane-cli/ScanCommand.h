#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "CliCommon.h"
#include "core/run/ScanRepair.h"

namespace corvane::cli {

// "corvane-cli scan ..." and "corvane-cli repair ..." with the arguments after the
// subcommand. Exit codes: 0 nothing found / every item repaired, 1 items found / a
// repair failed, 2 an error.
int RunScanCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunRepairCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The items the library finds in the session's prefix, in rule-table order. Throws
// when the folder is no Wine prefix or a registry file of it cannot be read: a scan
// would find nothing in it and say so.
std::vector<ScanFinding> ScanSession(Session& session);
// The items one a line as "ID TAB name TAB level", and as `scan --json` lists them.
void PrintFindings(std::ostream& out, const std::vector<ScanFinding>& found, bool explain = false);
nlohmann::json MatchedJson(const std::vector<MatchedCondition>& matched);
nlohmann::json FindingsJson(const std::vector<ScanFinding>& found);
// True, with a message, when there is no library at the session's library file.
bool LibraryMissing(const Session& session, std::ostream& err, std::string_view command);

extern const char* const kScanUsage;
extern const char* const kRepairUsage;

} // namespace corvane::cli
