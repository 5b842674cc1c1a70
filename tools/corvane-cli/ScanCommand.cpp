#include "ScanCommand.h"

#include <map>
#include <nlohmann/json.hpp>

#include "CliCommon.h"
#include "app/ScanRepair.h"
#include "app/unitGlobal.h"
#include "platform/wine/WinePlatform.h"
#include "store/RuleLibrary.h"

namespace corvane::cli {

const char* const kScanUsage =
    "usage: corvane-cli scan [--prefix DIR] [--library FILE] [--json]\n"
    "Scans the prefix with the rule library (default: cvdb.db beside corvane-cli) and\n"
    "prints each item found: ID, name and level, tab-separated, in rule-table order.\n";
const char* const kRepairUsage =
    "usage: corvane-cli repair [--prefix DIR] [--library FILE] [--json] ID...\n"
    "Repairs the given items in the order given and prints for each its ID, name and\n"
    "\"修复成功\" or \"修复失败\" (a warning text on a line of its own before it).\n";

namespace {

bool LibraryMissing(std::ostream& err, std::string_view command) {
    if (std::filesystem::is_regular_file(Global().DbFile)) return false;
    // The window would create an empty library here; a tool only reads what is there.
    err << "corvane-cli " << command << ": no rule library at " << Global().DbFile << "\n";
    return true;
}

// A registry file that cannot be read would hide what it holds from a scan, and a
// repair must not act on a registry it cannot see.
bool RegistryUnreadable(Session& session, std::ostream& err, std::string_view command) {
    const std::string error = session.platform.registryError();
    if (error.empty()) return false;
    err << "corvane-cli " << command << ": " << error << "\n";
    return true;
}

} // namespace

int RunScanCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "scan", kScanUsage, options, out, err,
                                 {"--library", "--json"}, false))
        return *code;
    if (options.next != args.size())
        return UsageError(err, "scan", "unexpected argument " + args[options.next], kScanUsage);
    try {
        Session session(options);
        if (LibraryMissing(err, "scan") || RegistryUnreadable(session, err, "scan")) return 2;
        std::vector<ScanFinding> found;
        ScanEvents events;
        events.found = [&](const ScanFinding& finding) { found.push_back(finding); };
        RunScan(events);
        if (options.json) {
            nlohmann::json list = nlohmann::json::array();
            for (const auto& f : found)
                list.push_back({{"id", std::stoll(f.id)},
                                {"name", f.name},
                                {"description", f.description},
                                {"level", f.level},
                                {"levelName", f.levelName}});
            out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        } else {
            for (const auto& f : found)
                out << f.id << "\t" << f.name << "\t" << f.levelName << "\n";
        }
        return found.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        return Failed(err, "scan", e);
    }
}

int RunRepairCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "repair", kRepairUsage, options, out, err,
                                 {"--library", "--json"}, false))
        return *code;
    const std::vector<std::string> ids(args.begin() + static_cast<std::ptrdiff_t>(options.next),
                                       args.end());
    if (ids.empty()) return UsageError(err, "repair", "no item ID given", kRepairUsage);
    try {
        Session session(options);
        if (LibraryMissing(err, "repair") || RegistryUnreadable(session, err, "repair")) return 2;
        // Every ID must name an item before anything is repaired.
        std::vector<RepairRow> rows;
        std::vector<std::string> names;
        {
            const auto db = OpenRuleLibrary();
            for (const std::string& id : ids) {
                const auto item = db->Query(RuleSql::SelectRuleForRepair(id));
                if (item->RowTotal() == 0) {
                    err << "corvane-cli repair: no rule item with ID " << id << "\n";
                    return 2;
                }
                rows.push_back({rows.size(), id});
                names.push_back(RuleText(*item, "Name"));
            }
        }
        std::vector<std::string> warnings(rows.size());
        std::vector<int> results(rows.size(), -1);
        std::size_t current = 0;
        RepairEvents events;
        events.warn = [&](const std::string& text) {
            warnings[current] = text;
            if (!options.json) out << text << "\n";
        };
        events.repaired = [&](std::size_t index, bool repaired) {
            results[index] = repaired ? 1 : 0;
            if (!options.json)
                out << rows[index].id << "\t" << names[index] << "\t"
                    << (repaired ? "修复成功" : "修复失败") << "\n";
            current = index + 1;
        };
        RunRepair(rows, events);
        bool allRepaired = true;
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            allRepaired = allRepaired && results[i] == 1;
            list.push_back({{"id", std::stoll(rows[i].id)},
                            {"name", names[i]},
                            {"warning", warnings[i]},
                            {"result", results[i] == 1 ? "修复成功" : "修复失败"}});
        }
        if (options.json)
            out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return allRepaired ? 0 : 1;
    } catch (const std::exception& e) {
        return Failed(err, "repair", e);
    }
}

} // namespace corvane::cli
