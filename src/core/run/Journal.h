// The repair journal: before a repair changes anything in a machine, the state it will
// change is written down, so that the change can be undone later.
//
// Each machine (a Wine prefix, known by its real path) has a folder of runs; a run is
// one repair command and holds one entry per item, with every change the item's repair
// made: a registry value as it was (or that it was absent), a deleted key with its whole
// subtree, deleted or overwritten files moved into the journal, and what a copy made.
// Every record is written whole (a temporary file, fsync, rename) before the change it
// covers, so that after a crash the journal can undo whatever was done.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/RunRepairXML.h"

namespace corvane {

// Where the journals are kept: $XDG_STATE_HOME/corvane/journal, else
// ~/.local/state/corvane/journal.
std::filesystem::path DefaultJournalRoot();

// One item of a run as the history lists it.
struct JournalItem {
    int index = 0;           // its place in the run, from 1
    std::string id;          // the rule item's ID
    std::string name;        // the rule item's name
    int level = 0;           // its level
    std::string time;        // when its repair began, "yyyy-mm-dd hh:mm:ss"
    std::string result;      // "修复成功", "修复失败", or empty when the run never ended it
    bool foundAfter = false; // detection still found it after the repair
    bool undone = false;
};

struct JournalRun {
    int run = 0;
    std::string time;
    std::vector<JournalItem> items;
};

// What undoing one item came to.
struct UndoOutcome {
    std::string id, name;
    bool undone = false;
    std::string reason; // why not, when not
};

class JournalItemRecorder;

class Journal {
public:
    // The journal of the machine in `machineFolder` under `root`.
    Journal(std::filesystem::path root, const std::filesystem::path& machineFolder);

    // The runs, newest first. An entry that cannot be read is left out.
    std::vector<JournalRun> history() const;

    // Starts a run. Nothing is written until its first item.
    int beginRun();
    // Starts the entry of one item of the run `run`, written with the item's first
    // change; a journal whose run folder cannot be made gives nothing and `error` says
    // why (the item's repair must not begin then).
    std::unique_ptr<JournalItemRecorder> beginItem(int run, const std::string& id,
                                                   const std::string& name, int level,
                                                   std::string& error);
    // Keeps the last `maxRuns` runs and at most `maxBytes` of them, oldest first away.
    void prune(std::size_t maxRuns = 100, std::uintmax_t maxBytes = 500ull << 20) const;

    // Undoes the items `ids` of run `run` (every item when empty), newest change first.
    // An item changed since its repair is left unless `force`. Returns one outcome per
    // item, in run order; nothing for a run that does not exist.
    std::optional<std::vector<UndoOutcome>> undo(int run, const std::vector<std::string>& ids,
                                                 bool force);
    // The newest run, if any.
    std::optional<int> lastRun() const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path root_;
    std::filesystem::path machine_; // the machine folder's real path
    std::filesystem::path folder_;  // this machine's journal folder
    int indexedRun_ = 0;            // the run whose entries lastIndex_ counts
    int lastIndex_ = 0;
};

// Records the changes of one item's repair, before each is made.
class JournalItemRecorder : public RepairWatcher {
public:
    JournalItemRecorder(std::filesystem::path entryFile, std::filesystem::path machine);
    ~JournalItemRecorder() override;

    Answer before(const PlannedChange& change, std::string& reason) override;
    void after(const PlannedChange& change, bool made) override;
    bool beforeSave(std::string& reason) override;
    void unsaved() override;
    // Ends the entry: the result, whether detection still found the item, and the state
    // each change left (what undo compares with). False when it cannot be written.
    bool finish(const std::string& result, bool foundAfter);

    // Writes the entry as it stands; false when it cannot be written.
    bool write();

    struct State;

private:
    friend class Journal;
    std::unique_ptr<State> state_;
};

} // namespace corvane
