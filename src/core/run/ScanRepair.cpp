#include "core/run/ScanRepair.h"

#include <ctime>
#include <optional>

#include "core/engine/RuleTriggered.h"
#include "core/engine/RunRepairXML.h"
#include "core/platform/Platform.h"
#include "core/run/Journal.h"
#include "core/run/ScanAhead.h"
#include "core/store/IniFile.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"

namespace corvane {

namespace {

// Runs `f` when it goes out of scope, however the scope is left. An error of the
// closing step itself cannot cross the error that is already on its way.
template <typename F> class Closing {
public:
    explicit Closing(F f) : f_(std::move(f)) {}
    ~Closing() {
        try {
            f_();
        } catch (...) {
        }
    }
    Closing(const Closing&) = delete;
    Closing& operator=(const Closing&) = delete;

private:
    F f_;
};

void RecordDate(const std::string& settingsFile, const char* key,
                const std::function<void()>& datesChanged) {
    // A date that cannot be written only leaves the label as it was.
    (void)IniWriteString(settingsFile, "Setting", key, TodayText());
    if (datesChanged) datesChanged();
}

} // namespace

RunInputs InputsBeside(const std::string& appDir) {
    RunInputs inputs;
    inputs.library = LibraryBeside(appDir);
    inputs.release = ReadRunningRelease();
    inputs.appDir = appDir;
    inputs.settingsFile = appDir + "Setting.ini";
    inputs.journalRoot = DefaultJournalRoot().string();
    return inputs;
}

std::string TodayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

void RunScan(const RunInputs& inputs, const ScanEvents& events) {
    // The date is recorded before anything else is tried.
    RecordDate(inputs.settingsFile, "ScanTime", events.datesChanged);
    // Declared first so that it runs last: after the library is closed.
    bool begun = false;
    Closing close([&] {
        if (begun && events.finished) events.finished();
    });
    const auto db = OpenRuleLibrary(inputs.library);
    const std::optional<std::string> stored = ReadWinOSRecord(*db);
    if (stored && events.groupsRead) events.groupsRead(*stored);
    const IniDocument groups = ReadPlatformGroups(stored.value_or(inputs.winOsText));
    // The rows are read one by one: the count first, for the progress bar, in the same
    // read transaction so that both see the same rows. Nothing is written: closing
    // the connection ends it.
    const std::string& table = inputs.library.table;
    db->OpenTransaction();
    const auto total = static_cast<int>(db->Query(RuleSql::CountAllRules(table))->IntegerAt(0));
    TSQLiteCursor rules(*db, RuleSql::SelectScanColumns(table));
    begun = true;
    if (events.started) events.started(total);
    // A level outside 0 to 4 has no word: the column keeps the previous row's word.
    std::string lastWord;
    ScanAhead ahead(rules, total, groups, inputs.release);
    ScanBatch batch;
    while (ahead.next(batch)) {
        for (std::size_t r = 0; r < batch.used; ++r) {
            ScanRow& row = batch.rows[r];
            if (events.row) events.row(row.index, row.row.item.Name);
            // The filter comes first: items for other releases are never evaluated.
            if (!row.applies) continue;
            std::vector<MatchedCondition> matched;
            const int triggered = row.walked == ScanRow::Walked::Yes
                                      ? RuleTriggered(row.walk, inputs.appDir, &matched)
                                  : row.walked == ScanRow::Walked::No
                                      ? RuleTriggered(row.row.item.OptText, inputs.appDir, &matched)
                                      : 0;
            if (triggered != 1) continue;
            ScanFinding finding;
            finding.matched = std::move(matched);
            finding.id = row.row.Id;
            finding.name = row.row.item.Name;
            finding.description = row.row.item.Des;
            finding.level = row.row.item.Level;
            if (const std::string word = LevelName(finding.level); !word.empty()) lastWord = word;
            finding.levelName = lastWord;
            if (events.found) events.found(finding);
        }
    }
}

namespace {

// An item repaired since the registry was last written: its check and its report wait
// until its registry changes are written.
struct Waiting {
    std::size_t index = 0;
    std::optional<std::string> warning; // shown before it, when it did not wait for the user
    std::unique_ptr<JournalItemRecorder> recorder; // null when it was not repaired
    std::string detection;
    std::string reason;
    bool stillThere = false;
    bool repaired = false;
};

// The items waiting: their registry changes are written together, each registry file
// once, after their records went to disk; then each item is checked again and its
// entry ended, the entries go to disk together, and the items are reported in order. An
// item whose registry changes could not be written has failed, with the reason, and its
// record says none of them was made.
void WriteWaiting(const RunInputs& inputs, Journal& journal, int run, bool& batch,
                  std::vector<Waiting>& waiting, const RepairEvents& events) {
    Platform& platform = ActivePlatform();
    bool saved = true;
    std::string error;
    if (batch) {
        batch = false;
        // No change is written before its record is on disk.
        if (!journal.syncEntries(run, error)) {
            platform.cancelBatch();
            saved = false;
        } else {
            saved = platform.endBatch();
            if (!saved) error = platform.registryError();
        }
    }
    std::vector<Waiting> items = std::move(waiting);
    waiting.clear();
    for (Waiting& w : items) {
        if (!w.recorder) continue;
        if (!saved && w.recorder->registryChanged()) {
            w.recorder->unsaved();
            if (w.reason.empty())
                w.reason = error.empty() ? "the registry could not be written" : error;
            w.stillThere = RuleTriggered(w.detection, inputs.appDir) == 1;
        }
        w.repaired = !w.stillThere && w.reason.empty();
        if (!w.recorder->finish(w.repaired ? "修复成功" : "修复失败", w.stillThere) &&
            w.reason.empty())
            w.reason = "the journal cannot be written";
    }
    std::string unsynced;
    const bool synced = journal.syncEntries(run, unsynced);
    for (Waiting& w : items) {
        if (w.warning && events.warn) events.warn(*w.warning);
        if (w.recorder && !synced && w.reason.empty()) w.reason = unsynced;
        if (!w.reason.empty() && events.failed) events.failed(w.index, w.reason);
        if (events.repaired) events.repaired(w.index, w.repaired);
    }
}

// The run itself, once the journal is claimed and the library open.
void RepairItems(const RunInputs& inputs, TSQLiteDatabase& db, Journal& journal, int run,
                 const std::vector<RepairRow>& rows, const RepairEvents& events) {
    if (events.journaled) events.journaled(run);
    // Wine's lock is taken once for the run (each save still checks that it keeps every
    // wineserver away) and let go when the run ends, and while a warning waits for the
    // user.
    std::optional<PlatformHold> hold;
    hold.emplace(ActivePlatform());
    Platform& platform = ActivePlatform();
    // The registry changes of the items are one batch, written before a warning waits
    // for the user and when the run ends; each item's own batch within it is dropped
    // alone when its records cannot be written.
    bool batch = false;
    std::vector<Waiting> waiting;
    // Whether the machine can be read, as last looked at: before the first item, then
    // after each item's detection, unless a warning waited for the user since.
    std::optional<std::string> lastMachineError;
    try {
        for (const RepairRow& row : rows) {
            Waiting w;
            w.index = row.index;
            const std::shared_ptr<TSQLiteTable> item =
                row.item ? row.item
                         : db.Query(RuleSql::SelectRuleForRepair(inputs.library.table, row.id));
            if (item->RowTotal() > 0) {
                const std::string warning = RuleText(*item, "MessBoxText");
                if (!warning.empty() && events.warn) {
                    if (events.warnWaits) {
                        WriteWaiting(inputs, journal, run, batch, waiting, events);
                        platform.letGo();
                        lastMachineError.reset();
                        events.warn(warning);
                    } else {
                        w.warning = warning;
                    }
                }
            }
            // An item that left the library fails here, with the empty-result error.
            const std::string repairXml = RuleText(*item, "RepairXML");
            const RuleRow rule = Readable(ReadRuleRow(*item));
            w.detection = rule.item.OptText;
            // A machine that cannot be read is not repaired: detection could not tell
            // afterwards whether the item is gone.
            if (!lastMachineError) lastMachineError = platform.machineError();
            w.reason = *lastMachineError;
            lastMachineError.reset();
            if (w.reason.empty())
                w.recorder =
                    journal.beginItem(run, row.id, rule.item.Name, rule.item.Level, w.reason);
            if (w.recorder) {
                if (!batch) platform.beginBatch();
                batch = true;
                w.recorder->syncLater();
                const RepairResult result =
                    RunRepairXML(repairXml, inputs.appDir, w.recorder.get());
                for (const std::string& line : result.refused)
                    w.reason += (w.reason.empty() ? "" : "\n") + line;
                w.stillThere = RuleTriggered(w.detection, inputs.appDir) == 1;
                // A registry file spoilt meanwhile hides whether the item is still there.
                lastMachineError = platform.machineError();
                if (w.reason.empty()) w.reason = *lastMachineError;
            }
            waiting.push_back(std::move(w));
        }
    } catch (...) {
        // What was repaired before the error is written and reported all the same.
        WriteWaiting(inputs, journal, run, batch, waiting, events);
        throw;
    }
    WriteWaiting(inputs, journal, run, batch, waiting, events);
    hold.reset();
    journal.prune();
}

} // namespace

void RunRepair(const RunInputs& inputs, const std::vector<RepairRow>& rows,
               const RepairEvents& events) {
    // The machine's journal is claimed for the whole run before anything else: another
    // repair or undo of the machine refuses this one (JournalBusy) before it begins.
    Journal journal(inputs.journalRoot, ActivePlatform().machinePlace().path);
    const int run = journal.beginRun();
    // Declared before the library so that it runs after it is closed. A library that
    // cannot be opened ends the run without a date.
    bool opened = false;
    Closing close([&] {
        if (opened) RecordDate(inputs.settingsFile, "FixTime", events.datesChanged);
    });
    const auto db = OpenRuleLibrary(inputs.library);
    opened = true;
    RepairItems(inputs, *db, journal, run, rows, events);
}

void RunRepair(const RunInputs& inputs, TSQLiteDatabase& library,
               const std::vector<RepairRow>& rows, const RepairEvents& events) {
    Journal journal(inputs.journalRoot, ActivePlatform().machinePlace().path);
    const int run = journal.beginRun();
    Closing close([&] { RecordDate(inputs.settingsFile, "FixTime", events.datesChanged); });
    RepairItems(inputs, library, journal, run, rows, events);
}

} // namespace corvane
