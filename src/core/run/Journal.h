// The repair journal: before a repair changes anything in a machine, the state it will
// change is written down, so that the change can be undone later.
//
// Each machine (a Wine prefix, known by its real path) has a folder of runs; a run is
// one repair command and holds one entry per item, with every change the item's repair
// made: a registry value as it was (or that it was absent), a deleted key with its whole
// subtree, deleted or overwritten files moved into the journal, and what a copy made.
// Every record is written whole (a temporary file, fsync, rename) before the change it
// covers, so that after a crash the journal can undo whatever was done: a run's entries
// are lines of one log (JournalLog.h), each line synced before the change it records;
// the records of registry changes written together are synced together. A file moved
// into the journal is there whole or not at all; undo marks each change it puts back,
// so an undo cut short is finished by the next one.
//
// One command at a time records into a machine's journal or undoes from it: a repair
// or an undo claims the journal (a lock file in its folder) for as long as it runs, and
// one that finds it claimed is refused with JournalBusy.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
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
    std::string problem; // why its entry cannot be read whole; empty when it can
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
    std::string reason; // why not, when not: what went back and what did not
    std::string note;   // when undone: what the repair itself had left as it was
};

// Another command claims the journal: it is repairing or undoing on the same machine.
class JournalBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class JournalItemRecorder;
namespace journal {
class EntryLog;
class JournalLock;
} // namespace journal

class Journal {
public:
    // The journal of the machine in `machineFolder` under `root`.
    Journal(std::filesystem::path root, const std::filesystem::path& machineFolder);
    ~Journal();
    Journal(Journal&&) noexcept;
    Journal& operator=(Journal&&) noexcept;

    // The runs, newest first. An entry that cannot be read is listed with its problem
    // (and its file's name as its name).
    std::vector<JournalRun> history() const;

    // Claims the journal for this object's lifetime and starts a run: its number is
    // claimed with its folder, made with its first item. Throws JournalBusy when
    // another command claims the journal; a journal that cannot be claimed otherwise
    // fails each item (beginItem).
    int beginRun();
    // Starts the entry of one item of the run `run`, written with the item's first
    // change; a journal whose run folder cannot be made gives nothing and `error` says
    // why (the item's repair must not begin then).
    std::unique_ptr<JournalItemRecorder> beginItem(int run, const std::string& id,
                                                   const std::string& name, int level,
                                                   std::string& error);
    // Keeps the last `maxRuns` runs and at most `maxBytes` of them, oldest first away.
    // A run is measured once it ended, and its size recorded on its folder for the
    // prunes after (journal::RecordedSize); an undo of the run measures it anew.
    void prune(std::size_t maxRuns = 100, std::uintmax_t maxBytes = 500ull << 20) const;

    // Makes what the recorders of run `run` wrote durable: what a recorder that syncs
    // later (JournalItemRecorder::syncLater) wrote is on disk only after this. False, and
    // `error`, when it cannot be.
    bool syncEntries(int run, std::string& error) const;

    // Undoes the items `ids` of run `run` (every item when empty), newest change first.
    // An item changed since its repair is left unless `force`; an item whose undo was
    // cut short is finished. Returns one outcome per item, in run order, then one for
    // each ID the run does not hold; nothing for a run that does not exist. Claims the
    // journal as beginRun does (JournalBusy; std::runtime_error when it cannot be
    // locked).
    std::optional<std::vector<UndoOutcome>> undo(int run, const std::vector<std::string>& ids,
                                                 bool force);
    // The newest run, if any.
    std::optional<int> lastRun() const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    void claim();
    std::vector<UndoOutcome> undoClaimed(const std::filesystem::path& runFolder, int run,
                                         const std::vector<std::string>& ids, bool force);

    std::filesystem::path root_;
    std::filesystem::path machine_; // the machine folder's real path
    std::filesystem::path folder_;  // this machine's journal folder
    std::unique_ptr<journal::JournalLock> lock_;
    std::shared_ptr<journal::EntryLog> log_; // claimedRun_'s log
    int claimedRun_ = 0;                     // the run whose folder this object made
    int lastIndex_ = 0;                      // the entries of claimedRun_ so far
    bool runWritten_ = false;                // claimedRun_'s own record is in its log
};

// Records the changes of one item's repair, before each is made.
class JournalItemRecorder : public RepairWatcher {
public:
    // Writes to the run's log `log`; files moved go to the folder `data`.
    JournalItemRecorder(std::shared_ptr<journal::EntryLog> log, std::filesystem::path data,
                        std::filesystem::path machine);
    ~JournalItemRecorder() override;

    Answer before(const PlannedChange& change, std::string& reason) override;
    void after(const PlannedChange& change, bool made) override;
    bool beforeSave(std::string& reason) override;
    void unsaved() override;
    // The document's registry changes are written later, with those of other items:
    // the records written before them, and the entry as finish() ends it, are left for
    // Journal::syncEntries() to make durable, which comes before those changes are
    // written. (A record of a file change is durable at once, as that change is.)
    void syncLater();
    // Whether the registry changes of the repair were made (in memory, when they are
    // written later).
    bool registryChanged() const;
    // Ends the entry: the result, whether detection still found the item, and the state
    // each change left (what undo compares with). False when it cannot be written.
    bool finish(const std::string& result, bool foundAfter);

    // Writes the entry as it stands, durable; false when it cannot be written.
    bool write();

    struct State;

private:
    friend class Journal;
    bool append(); // writes the entry as it stands, not yet durable
    std::unique_ptr<State> state_;
};

} // namespace corvane
