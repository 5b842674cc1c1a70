// Repair: carries out a rule item's repair document on the machine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One change a repair action is about to make, as the engine sees it once it decided
// to act: the registry names as written in the rule, the file paths expanded.
struct PlannedChange {
    enum class Kind { SetValue, DeleteValue, DeleteKey, DeleteFiles, CopyFiles, MakeFolder };
    Kind kind = Kind::SetValue;
    std::string root, keyPath, name; // registry: the key, and the value (or subkey) name
    std::string typeName, data;      // SetValue: the type name and the text written
    bool createKeys = false;         // SetValue: the missing keys of keyPath are made
    bool list = false;               // SetValue: `data` is a list written as REG_MULTI_SZ
    std::string path, source;        // files: the target (delete, copy, new folder) and copy source
};

// Sees every change before it is made: the journal records it, a preview describes it.
class RepairWatcher {
public:
    enum class Answer {
        Go,     // the engine makes the change
        Done,   // the watcher made it (or, in a preview, stands for it): the engine goes on
        Refuse, // not made; the item has failed with `reason`, the next action may go
    };
    virtual ~RepairWatcher() = default;
    virtual Answer before(const PlannedChange& change, std::string& reason) = 0;
    // The engine itself will not make the change, for `reason` (a key it does not
    // delete); before() is not called for it and the item has failed.
    virtual void refusedByEngine(const PlannedChange&, const std::string& /*reason*/) {}
    // After the engine made the change (`made` false when it failed).
    virtual void after(const PlannedChange&, bool /*made*/) {}
    // The document's registry changes, made in memory, are about to be written:
    // what must be on disk before them goes now. False, with `reason`, and none of them
    // is written.
    virtual bool beforeSave(std::string& /*reason*/) { return true; }
    // The registry changes of the document were made in memory but not written: none
    // of them holds.
    virtual void unsaved() {}
};

// What a repair could not do.
struct [[nodiscard]] RepairResult {
    // Why each change that was tried did not go through (refused by the watcher, or a
    // file action refused because its place lies outside the machine, or failed),
    // naming the path. An action with nothing to do (nothing to delete, no source to
    // copy) is not listed.
    std::vector<std::string> refused;
};

// Runs the file and registry actions of a repair document one after another in
// document order: deletes and copies files and folders, makes folders (a real folder
// that is there already is nothing to do), deletes keys and values and
// writes values. Registry changes are one batch (Platform::beginBatch): each action
// sees what the ones before it did, each changed registry file is written once at the
// end, and when that fails the file stays as it was and the failure is listed. An action that fails
// is passed over; a read failure ends the run at that rule and keeps what was done before it; a
// change the watcher refuses is not made and is listed. Never throws and shows nothing: whether the
// repair worked is for detection to say afterwards, unless an action was refused. Rule paths expand
// with "<app>" as `appDir`.
RepairResult RunRepairXML(std::string_view repairXml, std::string_view appDir,
                          RepairWatcher* watcher = nullptr);

} // namespace corvane
