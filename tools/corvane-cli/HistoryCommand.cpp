#include "HistoryCommand.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "CliCommon.h"
#include "core/run/Journal.h"
#include "core/run/Machine.h"

namespace corvane::cli {

namespace {

const char* const kHistoryUsage =
    "usage: corvane-cli history [--prefix DIR] [--json]\n"
    "Lists the repair runs recorded in the prefix's journal, newest first: the run's\n"
    "number and time, then per item its ID, name, result and whether it was undone.\n";
const char* const kUndoUsage =
    "usage: corvane-cli undo [--prefix DIR] [--json] [--force] [--stop-wine] [RUN [ID...]]\n"
    "Restores what the last repair run (or run RUN, or only its items ID...) changed,\n"
    "newest change first, and prints per item: ID, name, \"已撤销\" or \"撤销失败\" and why\n"
    "(what went back and what did not); running it again finishes what was left.\n"
    "An item changed since its repair is left unless --force is given. While another\n"
    "repair or undo of the prefix runs, nothing is done and the exit code is 2.\n"
    "With --stop-wine, Wine is ended for the prefix first, as \"wineserver -k\" does\n"
    "(unsaved work in its programs is lost).\n";

Journal JournalOf(const Session& session) {
    return Journal(session.inputs.journalRoot, session.platform.prefix());
}

} // namespace

int RunHistoryCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code =
            ParseOptions(args, "history", kHistoryUsage, options, out, err, {"--json"}, false))
        return *code;
    if (options.next != args.size())
        return UsageError(err, "history", "unexpected argument " + args[options.next],
                          kHistoryUsage);
    try {
        Session session(options);
        const std::vector<JournalRun> runs = JournalOf(session).history();
        nlohmann::json list = nlohmann::json::array();
        for (const JournalRun& run : runs) {
            nlohmann::json items = nlohmann::json::array();
            if (!options.json) out << run.run << "\t" << Escaped(run.time) << "\n";
            for (const JournalItem& item : run.items) {
                const std::string result = !item.problem.empty() ? "记录已损坏: " + item.problem
                                           : item.result.empty() ? "未完成"
                                                                 : item.result;
                if (!options.json)
                    out << "    " << Escaped(item.id) << "\t" << Escaped(item.name) << "\t"
                        << Escaped(result) << (item.undone ? "\t已撤销" : "") << "\n";
                items.push_back({{"id", item.id},
                                 {"name", item.name},
                                 {"result", result},
                                 {"undone", item.undone}});
            }
            list.push_back({{"run", run.run}, {"time", run.time}, {"items", items}});
        }
        if (options.json) PrintJson(out, {{"runs", list}});
        return 0;
    } catch (const std::exception& e) {
        return Failed(err, "history", e);
    }
}

int RunUndoCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "undo", kUndoUsage, options, out, err,
                                 {"--json", "--force", "--stop-wine"}, false))
        return *code;
    std::optional<int> run;
    std::string runText;
    std::vector<std::string> ids;
    for (std::size_t i = options.next; i < args.size(); ++i) {
        if (runText.empty()) {
            if (args[i].empty() || args[i].find_first_not_of("0123456789") != std::string::npos)
                return UsageError(err, "undo", "not a run number: " + args[i], kUndoUsage);
            runText = args[i];
            // A number too large for any run names none.
            int number = 0;
            const char* end = runText.data() + runText.size();
            if (std::from_chars(runText.data(), end, number).ec == std::errc()) run = number;
        } else {
            ids.push_back(args[i]);
        }
    }
    try {
        Session session(options);
        if (options.stopWine) StopWineFor(session, err, "undo");
        // Undo writes the registry as a repair does: never while Wine owns it.
        if (const std::string refusal = RepairRefusal(); !refusal.empty()) {
            err << "corvane-cli undo: " << refusal << "\n";
            return 2;
        }
        Journal journal = JournalOf(session);
        if (runText.empty()) run = journal.lastRun();
        const auto outcomes = run ? journal.undo(*run, ids, options.force) : std::nullopt;
        if (!outcomes) {
            err << "corvane-cli undo: no repair run " << runText << (runText.empty() ? "" : " ")
                << "in the journal of " << session.platform.prefix().string() << "\n";
            return 2;
        }
        bool all = true;
        nlohmann::json list = nlohmann::json::array();
        for (const UndoOutcome& o : *outcomes) {
            all = all && o.undone;
            if (!options.json)
                out << Escaped(o.id) << "\t" << Escaped(o.name) << "\t"
                    << (o.undone ? "已撤销" : "撤销失败: " + o.reason)
                    << (o.note.empty() ? "" : " (" + o.note + ")") << "\n";
            list.push_back({{"id", o.id},
                            {"name", o.name},
                            {"result", o.undone ? "已撤销" : "撤销失败"},
                            {"reason", o.reason},
                            {"note", o.note}});
        }
        if (options.json) PrintJson(out, {{"run", *run}, {"items", list}});
        return all ? 0 : 1;
    } catch (const std::exception& e) {
        return Failed(err, "undo", e);
    }
}

} // namespace corvane::cli
