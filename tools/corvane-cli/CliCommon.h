// What the subcommands of corvane-cli share: their usage errors and options.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace corvane::cli {

// Prints "corvane-cli NAME: problem" and the usage; the exit code of a usage error.
int UsageError(std::ostream& err, std::string_view command, const std::string& problem,
               const char* usage);

// The options before a subcommand's operation: --prefix DIR (or --prefix=DIR) and
// --help. On return `next` is the index of the operation. Gives an exit code when the
// command ends here (help shown, or a usage error).
struct CommonOptions {
    std::filesystem::path prefix;
    std::size_t next = 0;
};
std::optional<int> ParseOptions(std::span<const std::string> args, std::string_view command,
                                const char* usage, CommonOptions& options, std::ostream& out,
                                std::ostream& err);

} // namespace corvane::cli
