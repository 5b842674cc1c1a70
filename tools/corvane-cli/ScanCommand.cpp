#include "ScanCommand.h"

#include <map>
#include <nlohmann/json.hpp>

#include "CliCommon.h"
#include "PrefixesCommand.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/run/Machine.h"
#include "core/run/Preview.h"
#include "core/run/ScanRepair.h"
#include "core/store/RuleLibrary.h"

namespace corvane::cli {

namespace {

// What `repair --dry-run` prints: per item every change its repair would make. A change
// the repair would refuse shows why, and makes the exit code 1, as the item's repair
// would fail.
int PrintPreview(const std::vector<RepairRow>& rows, const std::vector<std::string>& names,
                 const std::vector<std::vector<PreviewAction>>& previews, bool json,
                 std::ostream& out) {
    nlohmann::json list = nlohmann::json::array();
    bool refused = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        refused = refused || AnyRefused(previews[i]);
        nlohmann::json actions = nlohmann::json::array();
        if (!json) out << rows[i].id << "\t" << names[i] << "\n";
        for (const PreviewAction& a : previews[i]) {
            if (!json)
                out << "    " << a.action << "  " << a.target << "  " << a.before << " → "
                    << a.after << "\n";
            actions.push_back({{"action", a.action},
                               {"target", a.target},
                               {"before", a.before},
                               {"after", a.after}});
            if (!a.refusal.empty()) actions.back()["refusal"] = a.refusal;
        }
        list.push_back({{"id", std::stoll(rows[i].id)}, {"name", names[i]}, {"actions", actions}});
    }
    if (json) PrintJson(out, {{"dryRun", true}, {"items", list}});
    return refused ? 1 : 0;
}

// A folder that is no prefix, or a registry file that cannot be read, would pass for a
// clean machine, and a repair must not act on a registry it cannot see.
bool MachineUnreadable(Session& session, std::ostream& err, std::string_view command) {
    const std::string error = session.platform.machineError();
    if (error.empty()) return false;
    err << "corvane-cli " << command << ": " << error << "\n";
    return true;
}

} // namespace

const char* const kScanUsage =
    "usage: corvane-cli scan [--prefix DIR] [--library FILE] [--json] [--explain]\n"
    "       corvane-cli scan --all [--library FILE] [--json]\n"
    "Scans the prefix with the rule library (default: the window's, cvdb.db beside\n"
    "corvane-cli, or $XDG_DATA_HOME/corvane/cvdb.db for an installed copy) and\n"
    "prints each item found: ID, name and level, tab-separated, in rule-table order.\n"
    "With --explain, the conditions that decided each item follow it, with what was\n"
    "observed (--json always lists them as \"matched\").\n"
    "With --all, scans every Wine prefix of the user (see corvane-cli prefixes), each\n"
    "after a line \"== LABEL (PATH)\".\n";
const char* const kRepairUsage =
    "usage: corvane-cli repair [--prefix DIR] [--library FILE] [--json] [--dry-run]\n"
    "                          [--stop-wine] ID...\n"
    "Repairs the given items in the order given and prints for each its ID, name and\n"
    "\"修复成功\" or \"修复失败\" (a warning text on a line of its own before it); why an\n"
    "item failed goes to standard error.\n"
    "While Wine runs for the prefix nothing is repaired: the reason goes to standard\n"
    "error and the exit code is 2. Every change is first recorded in the prefix's\n"
    "journal (see corvane-cli history, undo). With --stop-wine, Wine is ended for the\n"
    "prefix first, as \"wineserver -k\" does (unsaved work in its programs is lost).\n"
    "With --dry-run, prints every change each item's repair would make, with the state\n"
    "now and after, and changes nothing; a change the repair would refuse shows why\n"
    "after the arrow, and the exit code is then 1.\n";

bool LibraryMissing(const Session& session, std::ostream& err, std::string_view command) {
    const std::string& file = session.inputs.library.file;
    if (std::filesystem::is_regular_file(file)) return false;
    // The window would create an empty library here; a tool only reads what is there.
    err << "corvane-cli " << command << ": no rule library at " << file << "\n";
    return true;
}

std::vector<ScanFinding> ScanSession(Session& session) {
    if (const std::string error = session.platform.machineError(); !error.empty())
        throw std::runtime_error(error);
    std::vector<ScanFinding> found;
    ScanEvents events;
    events.found = [&](const ScanFinding& finding) { found.push_back(finding); };
    RunScan(session.inputs, events);
    return found;
}

void PrintFindings(std::ostream& out, const std::vector<ScanFinding>& found, bool explain) {
    for (const auto& f : found) {
        out << f.id << "\t" << f.name << "\t" << f.levelName << "\n";
        if (!explain) continue;
        for (const MatchedCondition& m : f.matched)
            out << "    " << m.condition << "  " << m.target << "  → " << m.observed << "\n";
    }
}

nlohmann::json MatchedJson(const std::vector<MatchedCondition>& matched) {
    nlohmann::json list = nlohmann::json::array();
    for (const MatchedCondition& m : matched)
        list.push_back(
            {{"condition", m.condition}, {"target", m.target}, {"observed", m.observed}});
    return list;
}

nlohmann::json FindingsJson(const std::vector<ScanFinding>& found) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& f : found)
        list.push_back({{"id", std::stoll(f.id)},
                        {"name", f.name},
                        {"description", f.description},
                        {"level", f.level},
                        {"levelName", f.levelName},
                        {"matched", MatchedJson(f.matched)}});
    return list;
}

int RunScanCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "scan", kScanUsage, options, out, err,
                                 {"--library", "--json", "--all", "--explain"}, false))
        return *code;
    if (options.next != args.size())
        return UsageError(err, "scan", "unexpected argument " + args[options.next], kScanUsage);
    if (options.all) return RunScanAll(options, out, err);
    try {
        Session session(options);
        if (LibraryMissing(session, err, "scan") || MachineUnreadable(session, err, "scan"))
            return 2;
        const std::vector<ScanFinding> found = ScanSession(session);
        if (options.json)
            PrintJson(out, {{"prefix", session.platform.prefix().string()},
                            {"items", FindingsJson(found)}});
        else
            PrintFindings(out, found, options.explain);
        return found.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        return Failed(err, "scan", e);
    }
}

int RunRepairCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "repair", kRepairUsage, options, out, err,
                                 {"--library", "--json", "--dry-run", "--stop-wine"}, false))
        return *code;
    const std::vector<std::string> ids(args.begin() + static_cast<std::ptrdiff_t>(options.next),
                                       args.end());
    if (ids.empty()) return UsageError(err, "repair", "no item ID given", kRepairUsage);
    try {
        Session session(options);
        if (LibraryMissing(session, err, "repair") || MachineUnreadable(session, err, "repair"))
            return 2;
        if (options.stopWine && !options.dryRun) StopWineFor(session, err, "repair");
        // Dry runs change nothing, so Wine may run meanwhile.
        if (const std::string refusal = RepairRefusal(); !refusal.empty() && !options.dryRun) {
            err << "corvane-cli repair: " << refusal << "\n";
            return 2;
        }
        // Every ID must name an item before anything is repaired. The repair goes on
        // with the same connection, in one read transaction: it sees the items as they
        // were checked (nothing is written; closing the connection ends it).
        std::vector<RepairRow> rows;
        std::vector<std::string> names;
        std::vector<std::vector<PreviewAction>> previews;
        const auto db = OpenRuleLibrary(session.inputs.library);
        db->OpenTransaction();
        for (const std::string& id : ids) {
            std::shared_ptr<TSQLiteTable> item =
                db->Query(RuleSql::SelectRuleForRepair(session.inputs.library.table, id));
            if (item->RowTotal() == 0) {
                err << "corvane-cli repair: no rule item with ID " << id << "\n";
                return 2;
            }
            names.push_back(RuleText(*item, "Name"));
            if (options.dryRun)
                previews.push_back(
                    PreviewRepair(RuleText(*item, "RepairXML"), session.inputs.appDir));
            rows.push_back({rows.size(), id, std::move(item)});
        }
        if (options.dryRun) return PrintPreview(rows, names, previews, options.json, out);
        std::vector<std::string> warnings(rows.size());
        std::vector<std::string> reasons(rows.size());
        std::vector<int> results(rows.size(), -1);
        std::size_t current = 0;
        RepairEvents events;
        events.warn = [&](const std::string& text) {
            warnings[current] = text;
            if (!options.json) out << text << "\n";
        };
        events.failed = [&](std::size_t index, const std::string& reason) {
            reasons[index] = reason;
            err << "corvane-cli repair: " << rows[index].id << ": " << reason << "\n";
        };
        events.repaired = [&](std::size_t index, bool repaired) {
            results[index] = repaired ? 1 : 0;
            if (!options.json)
                out << rows[index].id << "\t" << names[index] << "\t"
                    << (repaired ? "修复成功" : "修复失败") << "\n";
            current = index + 1;
        };
        RunRepair(session.inputs, *db, rows, events);
        bool allRepaired = true;
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            allRepaired = allRepaired && results[i] == 1;
            list.push_back({{"id", std::stoll(rows[i].id)},
                            {"name", names[i]},
                            {"warning", warnings[i]},
                            {"result", results[i] == 1 ? "修复成功" : "修复失败"},
                            {"reason", reasons[i]}});
        }
        if (options.json) PrintJson(out, {{"dryRun", false}, {"items", list}});
        return allRepaired ? 0 : 1;
    } catch (const std::exception& e) {
        return Failed(err, "repair", e);
    }
}

} // namespace corvane::cli
