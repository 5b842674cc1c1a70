// The scan and the repair run of the main window, without the window: they walk the
// rule library, ask the platform filter and the engine, and report what happens
// through callbacks, in the order the window shows it. The command-line tool runs the
// same routines.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/engine/RuleTriggered.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"

namespace corvane {

// What a scan and a repair run work with.
struct RunInputs {
    LibraryLocation library;
    RunningRelease release;
    std::string appDir;       // the program's folder, ending in a path separator ("<app>")
    std::string settingsFile; // Setting.ini, where the dates of the last scan and repair go
    std::string winOsText;    // the platform groups to use when the library has none
    std::string journalRoot;  // where the repair journal of each machine is kept
};

// The inputs of a program in `appDir` (ending in a path separator) that keeps its
// library and settings beside it, on the active platform's machine.
RunInputs InputsBeside(const std::string& appDir);

// Today's local date as "yyyy-mm-dd".
std::string TodayText();

struct ScanFinding {
    std::string id; // as read from the ID column
    std::string name, description;
    int level = 0;
    std::string levelName;
    std::vector<MatchedCondition> matched; // why it was found
};

struct ScanEvents {
    std::function<void()> datesChanged;                           // ScanTime was written
    std::function<void(const std::string& winOsText)> groupsRead; // the library's groups
    std::function<void(int rows)> started; // the list is emptied, the panel shown
    std::function<void(int row, const std::string& name)> row; // row is 1-based
    std::function<void(const ScanFinding&)> found;
    std::function<void()> finished; // runs however the scan ends once the rows were read
};

// Records ScanTime, reads the platform groups and every rule item, and evaluates the
// detection document of each item whose group includes the running release. Errors
// of the library propagate (after `finished` when the scan had begun).
void RunScan(const RunInputs& inputs, const ScanEvents& events);

struct RepairRow {
    std::size_t index; // the row of the list, passed back in `repaired`
    std::string id;
    // The item as the caller read it already from the library the run is given (the
    // SelectRuleForRepair statement), in the transaction the run goes on with; without
    // it, the run reads the item itself.
    std::shared_ptr<TSQLiteTable> item = nullptr;
};

struct RepairEvents {
    std::function<void(int run)> journaled;            // the journal's run that records this one
    std::function<void(const std::string& text)> warn; // before an item with a warning
    bool warnWaits = false; // `warn` waits for the user: Wine's lock is let go before it
    std::function<void(std::size_t index, bool repaired)> repaired;
    // Before `repaired` reports a failure that has a reason: why the repair's changes did
    // not go through (refused outside the machine, a journal that cannot be written),
    // one line each, naming the path.
    std::function<void(std::size_t index, const std::string& reason)> failed;
    std::function<void()> datesChanged; // FixTime was written
};

// Repairs the given items in order: warning, repair document, detection again. Every
// change is recorded in the machine's journal before it is made; an item whose entry
// cannot be written is not repaired and fails. An item fails when detection still finds
// it or a change was refused; while the machine cannot be read (Platform::machineError:
// no prefix, a registry file that cannot be read) an item is not repaired and fails
// with that reason. The items' registry changes are written together, each registry
// file once, when the run ends and before a warning that waits for the user; an item
// is reported (its warning, failure and result, in order) once they were written, and
// fails with the reason when they could not be. The library is closed and FixTime
// written however the run ends, once the library was opened; errors of the library
// propagate after that, once the items repaired before were written and reported.
// (The question before the run is the caller's.) Throws JournalBusy, before anything
// is done, while another repair or undo of the machine runs.
void RunRepair(const RunInputs& inputs, const std::vector<RepairRow>& rows,
               const RepairEvents& events);
// The same with the library open already at inputs.library (`library`, left open): a
// caller that has read the items first (to check their IDs) passes its connection on.
// FixTime is written however the run ends, once the journal was claimed.
void RunRepair(const RunInputs& inputs, TSQLiteDatabase& library,
               const std::vector<RepairRow>& rows, const RepairEvents& events);

} // namespace corvane
