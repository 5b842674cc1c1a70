#include "CliCommon.h"

#include "platform/wine/WinePlatform.h"

namespace corvane::cli {

int UsageError(std::ostream& err, std::string_view command, const std::string& problem,
               const char* usage) {
    err << "corvane-cli " << command << ": " << problem << "\n" << usage;
    return 2;
}

std::optional<int> ParseOptions(std::span<const std::string> args, std::string_view command,
                                const char* usage, CommonOptions& options, std::ostream& out,
                                std::ostream& err) {
    options.prefix = wine::DefaultPrefix();
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("--"); ++i) {
        if (args[i] == "--help") {
            out << usage;
            return 0;
        }
        if (args[i] == "--prefix" && i + 1 < args.size()) {
            options.prefix = args[++i];
        } else if (args[i].starts_with("--prefix=")) {
            options.prefix = args[i].substr(9);
        } else {
            return UsageError(err, command, "unknown option " + args[i], usage);
        }
    }
    if (i >= args.size()) return UsageError(err, command, "no operation given", usage);
    options.next = i;
    return std::nullopt;
}

} // namespace corvane::cli
