// What the subcommands of corvane-cli share: their usage errors and options.
#pragma once

#include <exception>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/platform/wine/WinePlatform.h"
#include "core/run/ProgramFolders.h"
#include "core/run/ScanRepair.h"

namespace corvane::cli {

// Prints "corvane-cli NAME: problem" and the usage; the exit code of a usage error.
int UsageError(std::ostream& err, std::string_view command, const std::string& problem,
               const char* usage);

// The options before a subcommand's operation: --prefix DIR (or --prefix=DIR), --help,
// and those of `extra` the subcommand takes ("--library", "--json", "--all"). On return `next`
// is the index of the first other argument (an operation, unless `operationRequired`
// is false). Gives an exit code when the command ends
// here (help shown, or a usage error).
struct CommonOptions {
    std::filesystem::path prefix;
    std::filesystem::path library;
    bool json = false;
    bool all = false;
    bool explain = false;     // scan: the conditions that decided each item
    bool dryRun = false;      // repair: what would be done, nothing done
    bool force = false;       // undo: also items changed since their repair
    bool stopWine = false;    // repair, undo: end Wine for the prefix first
    bool prefixGiven = false; // --prefix was among the options
    std::size_t next = 0;
};
std::optional<int> ParseOptions(std::span<const std::string> args, std::string_view command,
                                const char* usage, CommonOptions& options, std::ostream& out,
                                std::ostream& err,
                                std::initializer_list<std::string_view> extra = {},
                                bool operationRequired = true);

// The machine and the library as the window would find them: the prefix of the
// options made the active platform, the files where the window has them (beside the
// tool, or in the user's folders for an installed copy, made ready here; an error
// when they cannot be), and --library in place of that library.
struct Session {
    explicit Session(const CommonOptions& options);
    wine::WinePlatform platform;
    PlatformScope scope;
    ProgramFolders folders;
    RunInputs inputs;
};

// A field of a line of text output as it may be printed: a tab, a newline, a carriage
// return and a backslash as "\t", "\n", "\r" and "\\", every other control character
// (below 0x20, and DEL) as "\xHH". A name read from another program's files (a bottle's,
// a game's) or from the journal then cannot make lines or fields of its own.
std::string Escaped(std::string_view field);

// Every --json output is one object that starts with "format": kJsonFormat (raised when
// a field changes meaning or goes away), then `fields` in their order (docs/cli-json.md).
inline constexpr int kJsonFormat = 1;
void PrintJson(std::ostream& out,
               std::initializer_list<std::pair<std::string_view, nlohmann::json>> fields);
// --stop-wine: while Wine runs for the session's prefix, ends it as `wineserver -k`
// does and waits until it has ended; what went wrong goes to `err` (the refusal that
// follows says whether Wine still runs).
void StopWineFor(const Session& session, std::ostream& err, std::string_view command);

// Prints "corvane-cli COMMAND: message" for an error; the exit code of an error.
int Failed(std::ostream& err, std::string_view command, const std::exception& e);

} // namespace corvane::cli
