// The records of the repair journal: what an item's entry holds, read so that a damaged
// or tampered entry is found out before undo acts on it, and the registry as the
// journal reads and writes it (through the active platform).
//
// An entry: {"index", "id", "name", "level", "time", "result", "foundAfter", "undone",
// "undoBegun", "changes": [...]}; a change: {"kind": "value"|"key"|"delete"|"copy",
// "made", "undone", ...}:
//   value: "root" (HKCU, HKLM, HKU, HKCC: a change made through HKCR is recorded in
//          the branch it really lived in, with "via" naming the key as the repair did), "key",
//          "name", "before" (null: absent, else
//          {"type", "data" in hex}), "after" once the item ended, "madeKeys" (the keys
//          a SetValue that creates its key path made, outermost first);
//   key:   "root", "key", "tree" ({"values": [{"name","type","data"}], "keys":
//          [{"name","tree"}], "link": true for a link key, whose only value is its
//          SymbolicLinkValue}), "after" (whether it exists) once the item ended;
//   delete, copy, mkdir: "path", "source", "entries": [{"real", "stored" (a name in the
//          item's files folder), "bytes", "whole" (the stored copy is complete),
//          "failed" (why it could not be moved), "afterSize"}], "madeFolders" (every
//          folder a copy made, outermost first). A mkdir has one entry, the new
//          folder's place, stored when a link stood there; its "madeFolders" end with
//          that folder itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/RunRepairXML.h"

namespace corvane::journal {

using nlohmann::json;

// The entry in `text`, or nothing (and `problem`) when it is not a JSON object or is
// nested deeper than any entry the journal writes.
std::optional<json> ParseEntry(const std::string& text, std::string& problem);

// The name of run `run`'s folder ("run-000001"; more digits once six do not hold it).
std::string RunName(int run);
// An entry file, read and parsed; `problem` says why not.
std::optional<json> ReadEntry(const std::filesystem::path& file, std::string& problem);

// One item's entry as its run holds it.
struct StoredEntry {
    std::filesystem::path file; // the item's own file: read from it, or where undo writes it
    std::filesystem::path data; // the item's folder of moved files
    std::string source;         // where it was read, as a problem names it
    std::optional<json> entry;  // nothing when it cannot be read
    std::string problem;        // why not
};
// The entries of a run's folder, in item order: an item's last line in the run's log
// (JournalLog.h), or its own file "item-NNNN.json" where it has one (written by an undo
// since, or by a journal from before the log). Lines that cannot be read come after,
// unless only such lines end the log: what a crash left past the last sync. With
// `run`, the run's own record ({"run", "time", "prefix"}): the log's line without an
// item number, or "run.json" in a journal from before the log; an empty object when
// there is none.
std::vector<StoredEntry> RunEntries(const std::filesystem::path& runFolder, json* run = nullptr);
// The name of item `index`'s own file ("item-0001.json") or, with `files`, of its folder
// of moved files ("item-0001.files").
std::string ItemName(long long index, bool files = false);
// The item's ID as recorded: a text, or a number written as one.
std::string IdOf(const json& entry);

// A field of an object with the type asked for, or the fallback (never throws).
std::string TextOf(const json& object, const char* key, const std::string& fallback = {});
long long NumberOf(const json& object, const char* key, long long fallback = 0);
bool FlagOf(const json& object, const char* key, bool fallback = false);

// Why `change` cannot be undone as recorded (a field missing or of the wrong type, an
// unknown root or kind), or empty. Paths are checked by the journal, not here.
std::string CheckChange(const json& change);

// The root names a record may hold ("HKCU", ...).
bool KnownRoot(const std::string& root);

// --- The registry ---------------------------------------------------------------------

// A value as stored ({type, data}), null when it is absent; nothing when it cannot be
// read.
std::optional<json> ReadValue(const std::string& root, const std::string& key,
                              const std::string& name);
bool WriteValue(const std::string& root, const std::string& key, const std::string& name,
                const json& value);
bool KeyExists(const std::string& root, const std::string& key);
// The keys of `key` that are missing, each a key path from the root, outermost first.
json MissingKeys(const std::string& root, const std::string& key);
// Deletes `key` when it holds no value and no subkey; true when it is gone (or was).
bool DeleteKeyIfEmpty(const std::string& root, const std::string& key);
// A key with every value and subkey, or nothing when it cannot be read whole.
std::optional<json> ReadTree(const std::string& root, const std::string& key);
bool WriteTree(const std::string& root, const std::string& key, const json& tree);

// The keys a registry change lands in, as root and key path (for a key deleted, the key
// itself). A change through HKEY_CLASSES_ROOT lands in the branch it really changes:
// a value set in the user's classes when the key is there, else the machine's; a value
// deleted from the branch whose value a read sees; a key deleted from each branch that
// has it. Any other root stands for itself.
std::vector<std::pair<std::string, std::string>> Branches(const PlannedChange& change);

} // namespace corvane::journal
