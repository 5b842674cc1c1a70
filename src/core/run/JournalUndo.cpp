// Undo: each item's changes put back from its entry, newest first, each marked in the
// entry once it is back. Nothing an entry names is touched before the whole entry was
// checked: its fields, and every path it names (stored files only inside the item's
// own folder of the journal, everything else inside the machine, by the same check a
// repair makes).
#include <algorithm>
#include <climits>
#include <unistd.h>

#include "core/platform/Platform.h"
#include "core/run/Journal.h"
#include "core/run/JournalFiles.h"
#include "core/run/JournalRecord.h"

namespace corvane {

namespace fs = std::filesystem;
using namespace journal;

namespace {

bool IsFileKind(const std::string& kind) {
    return kind == "delete" || kind == "copy" || kind == "mkdir";
}

// Whether a folder holds nothing (a missing one holds nothing either).
bool EmptyFolder(const fs::path& folder) {
    std::error_code ec;
    const auto status = fs::symlink_status(folder, ec);
    if (!fs::exists(status)) return true;
    return fs::is_directory(status) &&
           fs::directory_iterator(folder, ec) == fs::directory_iterator();
}

// What a change is about, for a person.
std::string Label(const json& change) {
    const std::string kind = TextOf(change, "kind");
    if (kind == "value")
        return TextOf(change, "root") + "\\" + TextOf(change, "key") + " " + TextOf(change, "name");
    if (kind == "key") return TextOf(change, "root") + "\\" + TextOf(change, "key");
    return TextOf(change, "path");
}

// Why a path the entry names may not be touched: it must be absolute, without "." or
// "..", inside the machine and allowed by the platform's check for a change there.
std::string PathRefusal(const std::string& text, const fs::path& machine) {
    const fs::path path = text;
    if (!path.is_absolute()) return text + " is not an absolute path";
    for (const fs::path& part : path.relative_path())
        if (part == "." || part == ".." || part.empty()) return text + " holds \".\" or \"..\"";
    if (!Inside(RealLocation(path), machine))
        return text + " lies outside the prefix " + machine.string();
    if (std::string refusal = ActivePlatform().refusalAt(text, true); !refusal.empty())
        return text + ": " + refusal;
    return {};
}

// A name the journal gives a stored file: digits only.
bool StoredName(const std::string& name) {
    return !name.empty() && name.size() <= 12 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> MadeFolders(const json& change) {
    std::vector<std::string> folders;
    if (change.contains("madeFolders"))
        for (const json& f : change.at("madeFolders"))
            folders.push_back(f.get<std::string>());
    for (const json& e : change.at("entries"))
        if (e.contains("madeFolder")) folders.push_back(e.at("madeFolder").get<std::string>());
    return folders;
}

// Why the entry cannot be undone as it stands: a damaged field or a path it may not
// touch. Empty when every change may go back.
std::string CheckEntry(const json& entry, const fs::path& data, const fs::path& machine) {
    if (!entry.contains("changes") || !entry.at("changes").is_array())
        return "the record has no \"changes\"";
    for (const json& change : entry.at("changes")) {
        if (std::string problem = CheckChange(change); !problem.empty()) return problem;
        if (!IsFileKind(TextOf(change, "kind"))) continue;
        for (const json& e : change.at("entries")) {
            if (std::string refusal = PathRefusal(TextOf(e, "real"), machine); !refusal.empty())
                return refusal;
            if (e.contains("stored") && !StoredName(TextOf(e, "stored")))
                return "stored file \"" + TextOf(e, "stored") +
                       "\" is not a name of the item's own folder in the journal";
        }
        for (const std::string& folder : MadeFolders(change)) {
            if (std::string refusal = PathRefusal(folder, machine); !refusal.empty())
                return refusal;
            if (!Inside(folder, machine)) return folder + " is not a folder inside the prefix";
        }
    }
    std::error_code ec;
    const auto status = fs::symlink_status(data, ec);
    if (fs::exists(status) && !fs::is_directory(status))
        return data.string() + " is not the item's own folder in the journal";
    return {};
}

// Whether a file entry's original went into the journal.
bool Moved(const json& e, const fs::path& data) {
    return e.contains("stored") && !e.contains("failed") &&
           (FlagOf(e, "whole") || Exists(data / TextOf(e, "stored")));
}

// What the machine holds that the repair did not leave, change by change; empty when
// it is as the repair left it. In an undo cut short, a change not yet marked back may
// be back already.
std::string ChangedSince(const json& entry, const fs::path& data, bool begun) {
    for (const json& change : entry.at("changes")) {
        if (FlagOf(change, "undone")) continue;
        const std::string kind = TextOf(change, "kind");
        if (kind == "value" && change.contains("after")) {
            const auto now =
                ReadValue(TextOf(change, "root"), TextOf(change, "key"), TextOf(change, "name"));
            if (!now || (*now != change.at("after") && !(begun && *now == change.at("before"))))
                return Label(change);
        } else if (kind == "key" && change.contains("after")) {
            const bool exists = KeyExists(TextOf(change, "root"), TextOf(change, "key"));
            if (exists != change.at("after").get<bool>() && !(begun && exists))
                return Label(change);
        } else if (kind == "delete" && !begun) {
            for (const json& e : change.at("entries"))
                if (Moved(e, data) && Exists(TextOf(e, "real"))) return TextOf(e, "real");
        } else if (kind == "mkdir" && !begun) {
            // The folder made holds something now: taking it away would lose it.
            for (const json& e : change.at("entries"))
                if (!EmptyFolder(TextOf(e, "real"))) return TextOf(e, "real");
        } else if (kind == "copy" && !begun) {
            for (const json& e : change.at("entries"))
                if (e.contains("afterSize") &&
                    SizeOf(TextOf(e, "real")) != e.at("afterSize").get<std::uintmax_t>())
                    return TextOf(e, "real");
        }
    }
    return {};
}

// Puts a stored copy back at `real`: a folder there is moved aside first and goes
// only once the copy is in place.
std::string PutBack(const fs::path& stored, const fs::path& real) {
    std::error_code ec;
    fs::create_directories(real.parent_path(), ec);
    const fs::path aside = real.parent_path() / ("." + real.filename().string() + ".corvane-undo");
    fs::remove_all(aside, ec);
    const bool folderThere = fs::is_directory(fs::symlink_status(real, ec));
    if (folderThere && ::rename(real.c_str(), aside.c_str()) != 0)
        return "cannot move " + real.string() + " aside to put back what was there";
    std::string error;
    const Placed placed = PlaceWhole(stored, real, error);
    if (placed == Placed::Failed) {
        if (folderThere) (void)::rename(aside.c_str(), real.c_str());
        return "cannot put back " + real.string() + ": " + error;
    }
    if (placed == Placed::Copied) fs::remove_all(stored, ec);
    fs::remove_all(aside, ec);
    return {};
}

// Takes a made folder away again, innermost first, each only when empty; a link it
// replaced comes back. The reason when it cannot.
std::string RestoreMadeFolder(const json& change, const fs::path& data) {
    const auto isLink = [](const fs::path& path) {
        std::error_code ec;
        return fs::is_symlink(fs::symlink_status(path, ec));
    };
    const std::vector<std::string> folders = MadeFolders(change);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        (void)::rmdir(it->c_str());
    for (const json& e : change.at("entries")) {
        if (!e.contains("stored")) continue;
        const fs::path real = TextOf(e, "real"), stored = data / TextOf(e, "stored");
        if (!Exists(stored)) {
            if (FlagOf(e, "whole") && !isLink(real))
                return "the stored link " + real.string() + " is gone from the journal";
            continue; // never moved, or back already
        }
        // The folder made in the link's place is gone only when it was empty.
        if (Exists(real) && !isLink(real))
            return "cannot put the link " + real.string() + " back: the folder there is not empty";
        if (std::string error = PutBack(stored, real); !error.empty()) return error;
    }
    return {};
}

// Puts a file change back; the reason when it cannot. `note` gathers what the repair
// had left as it was.
std::string RestoreFiles(const json& change, const fs::path& data, std::string& note) {
    if (TextOf(change, "kind") == "mkdir") return RestoreMadeFolder(change, data);
    const bool copy = TextOf(change, "kind") == "copy";
    const json& entries = change.at("entries");
    for (std::size_t i = entries.size(); i-- > 0;) {
        const json& e = entries[i];
        const fs::path real = TextOf(e, "real");
        std::error_code ec;
        if (e.contains("failed"))
            note +=
                (note.empty() ? "" : "; ") + ("修复时未能移入修复日志，未被改动: " + real.string() +
                                              " (" + TextOf(e, "failed") + ")");
        if (!e.contains("stored")) {
            // Nothing was there before: what is there now, the copy made.
            if (copy && Exists(real)) fs::remove_all(real, ec);
            if (ec) return "cannot delete " + real.string() + ": " + ec.message();
            continue;
        }
        const fs::path stored = data / TextOf(e, "stored");
        if (Exists(stored)) {
            if (e.contains("bytes") && SizeOf(stored) != e.at("bytes").get<std::uintmax_t>())
                return "the stored copy of " + real.string() +
                       " is incomplete; it was left as it is";
            if (std::string error = PutBack(stored, real); !error.empty()) return error;
        } else if (FlagOf(e, "whole") && !Exists(real)) {
            return "the stored copy of " + real.string() + " is gone from the journal";
        }
        // Otherwise never moved (the original is in place) or back already.
    }
    // The folders the copy made, innermost first, each only when empty.
    const std::vector<std::string> folders = MadeFolders(change);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        (void)::rmdir(it->c_str());
    return {};
}

std::string RestoreRegistry(const json& change) {
    const std::string root = TextOf(change, "root"), key = TextOf(change, "key");
    const bool ok = TextOf(change, "kind") == "value"
                        ? WriteValue(root, key, TextOf(change, "name"), change.at("before"))
                        : WriteTree(root, key, change.at("tree"));
    if (!ok) return "cannot write " + root + "\\" + key;
    // The keys the change made go again, innermost first, each only when empty.
    if (change.contains("madeKeys")) {
        const json& keys = change.at("madeKeys");
        for (auto it = keys.rbegin(); it != keys.rend(); ++it)
            if (!DeleteKeyIfEmpty(root, it->get<std::string>())) break;
    }
    return {};
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// Undoes one item whose entry was checked. Each change back is marked in the entry at
// once (registry changes together, when their files are written).
void UndoItem(const fs::path& file, json& entry, const fs::path& data, bool force,
              UndoOutcome& out) {
    const bool begun = FlagOf(entry, "undoBegun");
    // An entry the run never ended (a crash) has no state after it to compare.
    if (!force && !TextOf(entry, "result").empty()) {
        if (const std::string changed = ChangedSince(entry, data, begun); !changed.empty()) {
            out.reason = "修复后已被更改: " + changed + " (--force 仍然撤销)";
            return;
        }
    }
    const auto save = [&] { return WriteWhole(file, entry.dump(1)); };
    entry["undoBegun"] = true;
    if (!begun && !save()) {
        out.reason = "the journal cannot be written: " + file.string();
        return;
    }
    json& changes = entry["changes"];
    std::vector<std::string> back, notBack;
    // The registry: every value and key of the item, each registry file written once.
    Platform& platform = ActivePlatform();
    std::vector<std::size_t> written;
    std::vector<std::string> failed;
    platform.beginBatch();
    for (std::size_t c = changes.size(); c-- > 0;) {
        if (IsFileKind(TextOf(changes[c], "kind")) || FlagOf(changes[c], "undone")) continue;
        if (std::string error = RestoreRegistry(changes[c]); error.empty())
            written.push_back(c);
        else
            notBack.push_back(Label(changes[c]) + " (" + error + ")");
    }
    if (platform.endBatch()) {
        for (std::size_t c : written) {
            changes[c]["undone"] = true;
            back.push_back(Label(changes[c]));
        }
    } else {
        for (std::size_t c : written)
            notBack.push_back(Label(changes[c]) + " (" + platform.registryError() + ")");
    }
    if (!written.empty() && !save()) {
        out.reason = "the journal cannot be written: " + file.string();
        return;
    }
    // The files, newest change first.
    for (std::size_t c = changes.size(); c-- > 0;) {
        if (!IsFileKind(TextOf(changes[c], "kind")) || FlagOf(changes[c], "undone")) continue;
        if (std::string error = RestoreFiles(changes[c], data, out.note); !error.empty()) {
            notBack.push_back(Label(changes[c]) + " (" + error + ")");
            continue;
        }
        changes[c]["undone"] = true;
        back.push_back(Label(changes[c]));
        if (!save()) {
            out.reason = "the journal cannot be written: " + file.string();
            return;
        }
    }
    if (!notBack.empty()) {
        out.reason =
            (back.empty() ? "" : "已恢复: " + Joined(back) + "; ") + "未恢复: " + Joined(notBack);
        return;
    }
    entry["undone"] = true;
    if (!save()) {
        out.reason = "the journal cannot be written: " + file.string();
        return;
    }
    std::error_code ec;
    fs::remove_all(data, ec);
    out.undone = true;
}

} // namespace

std::optional<std::vector<UndoOutcome>> Journal::undo(int run, const std::vector<std::string>& ids,
                                                      bool force) {
    const fs::path runFolder = folder_ / RunName(run);
    std::error_code ec;
    if (run <= 0 || !fs::is_directory(fs::symlink_status(runFolder, ec))) return std::nullopt;
    // Claimed for the undo, unless this object claimed the journal for a run already.
    const bool held = lock_ && lock_->state() == JournalLock::State::Held;
    claim();
    if (lock_->state() != JournalLock::State::Held) {
        const std::string error = lock_->error();
        lock_.reset();
        throw std::runtime_error(error);
    }
    try {
        // The run's size changes with what goes back.
        ForgetSize(runFolder);
        auto outcomes = undoClaimed(runFolder, run, ids, force);
        if (!held) lock_.reset();
        return outcomes;
    } catch (...) {
        if (!held) lock_.reset();
        throw;
    }
}

std::vector<UndoOutcome> Journal::undoClaimed(const fs::path& runFolder, int run,
                                              const std::vector<std::string>& ids, bool force) {
    std::vector<StoredEntry> entries;
    std::vector<std::string> found;
    for (StoredEntry& e : RunEntries(runFolder)) {
        const std::string id = e.entry ? IdOf(*e.entry) : std::string();
        if (!ids.empty() && std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
        found.push_back(id);
        entries.push_back(std::move(e));
    }
    std::vector<UndoOutcome> outcomes(entries.size());
    // Newest change first: the items backwards, each item's changes backwards.
    for (std::size_t i = entries.size(); i-- > 0;) {
        StoredEntry& e = entries[i];
        UndoOutcome& out = outcomes[i];
        const fs::path& data = e.data;
        if (!e.entry) {
            out.name = e.file.filename().string();
            out.reason = "记录已损坏: " + e.source + ": " + e.problem;
            continue;
        }
        json& entry = *e.entry;
        out.id = IdOf(entry);
        out.name = TextOf(entry, "name");
        if (FlagOf(entry, "undone")) {
            out.reason = "已撤销过";
            continue;
        }
        if (std::string problem = CheckEntry(entry, data, machine_); !problem.empty()) {
            out.reason = "记录已损坏: " + e.source + ": " + problem;
            continue;
        }
        try {
            UndoItem(e.file, entry, data, force, out);
        } catch (const std::exception& error) {
            out.undone = false;
            out.reason = "记录已损坏: " + e.source + ": " + error.what();
        }
    }
    for (const std::string& id : ids)
        if (std::find(found.begin(), found.end(), id) == found.end()) {
            UndoOutcome missing;
            missing.id = id;
            missing.reason = "第 " + std::to_string(run) + " 次运行中没有编号为 " + id + " 的项目";
            outcomes.push_back(std::move(missing));
        }
    return outcomes;
}

} // namespace corvane
