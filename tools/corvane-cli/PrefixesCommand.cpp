#include "PrefixesCommand.h"

#include <nlohmann/json.hpp>

#include "ScanCommand.h"
#include "core/platform/wine/PrefixDiscovery.h"

namespace corvane::cli {

const char* const kPrefixesUsage =
    "usage: corvane-cli prefixes [--json]\n"
    "Lists the Wine prefixes of the user: $WINEPREFIX, ~/.wine, winetricks', Steam's,\n"
    "Bottles', Lutris', PlayOnLinux's, deepin-wine's (~/.deepinwine) and CrossOver's\n"
    "(~/.cxoffice), one a line as label, a tab and the path\n"
    "(a tab, a newline, a backslash or another control character in them as \\t, \\n,\n"
    "\\\\ or \\xHH).\n"
    "Files of those programs that cannot be read are skipped with a note.\n";

namespace {

wine::Discovery Discover(std::ostream& err, std::string_view command) {
    wine::Discovery found = wine::DiscoverPrefixes(wine::DiscoveryPlaces::FromProcess());
    for (const std::string& note : found.notes)
        err << "corvane-cli " << command << ": " << note << "\n";
    return found;
}

nlohmann::json Described(const wine::FoundPrefix& prefix) {
    return {{"label", prefix.label},
            {"path", prefix.path.string()},
            {"source", wine::SourceName(prefix.source)}};
}

} // namespace

int RunPrefixesCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code =
            ParseOptions(args, "prefixes", kPrefixesUsage, options, out, err, {"--json"}, false))
        return *code;
    if (options.prefixGiven)
        return UsageError(err, "prefixes", "unknown option --prefix", kPrefixesUsage);
    if (options.next != args.size())
        return UsageError(err, "prefixes", "unexpected argument " + args[options.next],
                          kPrefixesUsage);
    const wine::Discovery found = Discover(err, "prefixes");
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& prefix : found.prefixes)
            list.push_back(Described(prefix));
        PrintJson(out, {{"prefixes", list}});
    } else {
        for (const auto& prefix : found.prefixes)
            out << Escaped(prefix.label) << "\t" << Escaped(prefix.path.string()) << "\n";
    }
    return 0;
}

int RunScanAll(const CommonOptions& options, std::ostream& out, std::ostream& err) {
    if (options.prefixGiven)
        return UsageError(err, "scan", "give --all or --prefix, not both", kScanUsage);
    try {
        const Session library(options);
        if (LibraryMissing(library, err, "scan")) return 2;
    } catch (const std::exception& e) {
        return Failed(err, "scan", e);
    }
    const wine::Discovery found = Discover(err, "scan");
    if (found.prefixes.empty()) err << "corvane-cli scan: no Wine prefix found\n";
    nlohmann::json list = nlohmann::json::array();
    bool anyFound = false;
    std::size_t failed = 0;
    for (const auto& prefix : found.prefixes) {
        nlohmann::json entry = Described(prefix);
        CommonOptions one = options;
        one.prefix = prefix.path;
        if (!options.json)
            out << "== " << Escaped(prefix.label) << " (" << Escaped(prefix.path.string()) << ")\n";
        try {
            Session session(one);
            const std::vector<ScanFinding> items = ScanSession(session);
            anyFound = anyFound || !items.empty();
            if (options.json)
                entry["items"] = FindingsJson(items);
            else
                PrintFindings(out, items);
        } catch (const std::exception& e) {
            ++failed;
            entry["error"] = e.what();
            err << "corvane-cli scan: " << Escaped(prefix.label) << ": " << e.what() << "\n";
        }
        list.push_back(std::move(entry));
    }
    if (options.json) PrintJson(out, {{"prefixes", list}});
    if (anyFound) return 1;
    return failed > 0 && failed == found.prefixes.size() ? 2 : 0;
}

} // namespace corvane::cli
