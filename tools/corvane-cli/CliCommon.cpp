#include "CliCommon.h"

#include <algorithm>
#include <stdexcept>

#include "core/platform/wine/WinePlatform.h"
#include "core/run/Machine.h"
#include "core/run/StopWine.h"

namespace corvane::cli {

int UsageError(std::ostream& err, std::string_view command, const std::string& problem,
               const char* usage) {
    err << "corvane-cli " << command << ": " << problem << "\n" << usage;
    return 2;
}

std::optional<int> ParseOptions(std::span<const std::string> args, std::string_view command,
                                const char* usage, CommonOptions& options, std::ostream& out,
                                std::ostream& err, std::initializer_list<std::string_view> extra,
                                bool operationRequired) {
    auto takes = [&](std::string_view option) {
        return std::find(extra.begin(), extra.end(), option) != extra.end();
    };
    options.prefix = wine::DefaultPrefix();
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("--"); ++i) {
        if (args[i] == "--help") {
            out << usage;
            return 0;
        }
        if (args[i] == "--prefix" && i + 1 < args.size()) {
            options.prefix = args[++i];
            options.prefixGiven = true;
        } else if (args[i].starts_with("--prefix=")) {
            options.prefix = args[i].substr(9);
            options.prefixGiven = true;
        } else if (takes("--library") && args[i] == "--library" && i + 1 < args.size()) {
            options.library = args[++i];
        } else if (takes("--library") && args[i].starts_with("--library=")) {
            options.library = args[i].substr(10);
        } else if (takes("--json") && args[i] == "--json") {
            options.json = true;
        } else if (takes("--all") && args[i] == "--all") {
            options.all = true;
        } else if (takes("--explain") && args[i] == "--explain") {
            options.explain = true;
        } else if (takes("--dry-run") && args[i] == "--dry-run") {
            options.dryRun = true;
        } else if (takes("--force") && args[i] == "--force") {
            options.force = true;
        } else if (takes("--stop-wine") && args[i] == "--stop-wine") {
            options.stopWine = true;
        } else {
            return UsageError(err, command, "unknown option " + args[i], usage);
        }
    }
    if (operationRequired && i >= args.size())
        return UsageError(err, command, "no operation given", usage);
    options.next = i;
    return std::nullopt;
}

void StopWineFor(const Session& session, std::ostream& err, std::string_view command) {
    if (RegistryStaleNote().empty()) return; // Wine does not run there
    if (const std::string error = StopWine(session.platform.prefix().string()); !error.empty())
        err << "corvane-cli " << command << ": " << error << "\n";
}

Session::Session(const CommonOptions& options)
    : platform(options.prefix), scope(platform),
      folders(DecideProgramFolders(platform.paths().appDir().string() + "/")),
      inputs(InputsOf(folders)) {
    // The user's library is copied from the shipped one only when it is the one used.
    if (const std::string error = PrepareUserFiles(folders, options.library.empty());
        !error.empty())
        throw std::runtime_error(error);
    if (!options.library.empty()) inputs.library.file = options.library.string();
}

std::string Escaped(std::string_view field) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(field.size());
    for (const char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t')
            text += "\\t";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\\')
            text += "\\\\";
        else if (byte < 0x20 || byte == 0x7f)
            text += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
        else
            text += c;
    }
    return text;
}

void PrintJson(std::ostream& out,
               std::initializer_list<std::pair<std::string_view, nlohmann::json>> fields) {
    nlohmann::ordered_json document;
    document["format"] = kJsonFormat;
    for (const auto& [name, value] : fields)
        document[std::string(name)] = value;
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

int Failed(std::ostream& err, std::string_view command, const std::exception& e) {
    err << "corvane-cli " << command << ": " << e.what() << "\n";
    return 2;
}

} // namespace corvane::cli
