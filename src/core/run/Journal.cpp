#include "core/run/Journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <utility>

#include "core/platform/Platform.h"
#include "core/run/JournalFiles.h"
#include "core/run/JournalLog.h"
#include "core/run/JournalRecord.h"

namespace corvane {

namespace fs = std::filesystem;
using namespace journal;

namespace {

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string KindName(PlannedChange::Kind kind) {
    switch (kind) {
    case PlannedChange::Kind::SetValue:
    case PlannedChange::Kind::DeleteValue:
        return "value";
    case PlannedChange::Kind::DeleteKey:
        return "key";
    case PlannedChange::Kind::DeleteFiles:
        return "delete";
    case PlannedChange::Kind::CopyFiles:
        return "copy";
    case PlannedChange::Kind::MakeFolder:
        return "mkdir";
    }
    return "value";
}

// The runs of a journal folder, in number order: every "run-N" whose number is the
// one RunName gives (any count of digits).
std::vector<int> RunNumbers(const fs::path& folder) {
    std::vector<int> runs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("run-")) continue;
        int run = 0;
        const char* first = name.data() + 4;
        const char* last = name.data() + name.size();
        const auto [end, error] = std::from_chars(first, last, run);
        if (error == std::errc() && end == last && run > 0 && RunName(run) == name)
            runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end());
    return runs;
}

JournalItem ItemOf(const json& entry) {
    JournalItem item;
    const long long index = NumberOf(entry, "index");
    item.index = index > 0 && index < INT_MAX ? static_cast<int>(index) : 0;
    item.id = IdOf(entry);
    item.name = TextOf(entry, "name");
    const long long level = NumberOf(entry, "level");
    item.level = level >= INT_MIN && level <= INT_MAX ? static_cast<int>(level) : 0;
    item.time = TextOf(entry, "time");
    item.result = TextOf(entry, "result");
    item.foundAfter = FlagOf(entry, "foundAfter");
    item.undone = FlagOf(entry, "undone");
    return item;
}

bool IsFileChange(const PlannedChange& change) {
    return change.kind == PlannedChange::Kind::DeleteFiles ||
           change.kind == PlannedChange::Kind::CopyFiles ||
           change.kind == PlannedChange::Kind::MakeFolder;
}

// The folders a copy to `real` makes: each missing one up to the first that exists,
// outermost first.
std::vector<fs::path> MissingFolders(const fs::path& real, const fs::path& machine) {
    std::vector<fs::path> missing;
    for (fs::path p = real.parent_path(); Inside(p, machine) && !Exists(p); p = p.parent_path())
        missing.insert(missing.begin(), p);
    return missing;
}

} // namespace

fs::path DefaultJournalRoot() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return fs::path(state) / "corvane/journal";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local/state/corvane/journal";
}

// --- Recording -------------------------------------------------------------------------

struct JournalItemRecorder::State {
    std::shared_ptr<EntryLog> log; // the run's log, where the entry is written
    fs::path data;                 // where moved files go
    fs::path machine;
    json entry;
    int stored = 0;
    std::size_t lastRecords = 0; // records the last change added
    bool pending = false;        // registry records not yet on disk
    bool syncLater = false;      // its lines go to disk with Journal::syncEntries()
};

JournalItemRecorder::JournalItemRecorder(std::shared_ptr<journal::EntryLog> log, fs::path data,
                                         fs::path machine)
    : state_(std::make_unique<State>()) {
    state_->log = std::move(log);
    state_->data = std::move(data);
    state_->machine = std::move(machine);
}

JournalItemRecorder::~JournalItemRecorder() = default;

bool JournalItemRecorder::append() {
    return state_->log->append(state_->entry.dump());
}

bool JournalItemRecorder::write() {
    return append() && state_->log->sync();
}

namespace {

// Moves the entries `moves` of the file record `record` into the journal, each whole
// before its original goes. Marks each "whole" as it is, or "failed" with why. A copy
// across file systems is written down as whole before its original goes; a file moved
// by a rename says so itself, in the journal, and the record says it with its next
// write.
bool MoveIntoJournal(json& record, const std::vector<std::size_t>& moves, const fs::path& data,
                     JournalItemRecorder& recorder, std::string& reason) {
    json& entries = record["entries"];
    for (std::size_t i : moves) {
        json& e = entries[i];
        const fs::path real = e["real"].get<std::string>();
        const fs::path stored = data / e["stored"].get<std::string>();
        std::string error;
        const Placed placed = PlaceWhole(real, stored, error);
        if (placed == Placed::Failed) {
            e["failed"] = error;
            (void)recorder.write();
            reason = "cannot move " + real.string() + " into the journal: " + error;
            return false;
        }
        e["whole"] = true;
        if (placed == Placed::Renamed) continue;
        // A copy across file systems: the original goes only once the record says the
        // copy is whole.
        std::error_code ec;
        if (!recorder.write()) {
            fs::remove_all(stored, ec);
            e.erase("whole");
            e["failed"] = "the journal cannot be written";
            reason = "the journal cannot be written: " + stored.string();
            return false;
        }
        fs::remove_all(real, ec);
        SyncFolder(real.parent_path());
        if (ec) {
            reason =
                "cannot delete " + real.string() + " once copied into the journal: " + ec.message();
            return false;
        }
    }
    return true;
}

} // namespace

RepairWatcher::Answer JournalItemRecorder::before(const PlannedChange& change,
                                                  std::string& reason) {
    State& st = *state_;
    Platform& platform = ActivePlatform();
    std::vector<json> records;
    std::vector<std::size_t> moves; // entries moved into the journal
    switch (change.kind) {
    case PlannedChange::Kind::SetValue:
    case PlannedChange::Kind::DeleteValue:
        for (const auto& [root, key] : Branches(change)) {
            const auto before = ReadValue(root, key, change.name);
            if (!before) {
                reason = "the journal cannot read " + change.root + "\\" + change.keyPath + " " +
                         change.name + " before changing it";
                return Answer::Refuse;
            }
            records.push_back({{"kind", "value"},
                               {"root", root},
                               {"key", key},
                               {"name", change.name},
                               {"before", *before}});
            // The keys the change will make, for undo to take away again.
            if (change.kind == PlannedChange::Kind::SetValue && change.createKeys)
                records.back()["madeKeys"] = MissingKeys(root, key);
        }
        break;
    case PlannedChange::Kind::DeleteKey:
        for (const auto& [root, key] : Branches(change)) {
            std::optional<json> tree = ReadTree(root, key);
            if (!tree && !KeyExists(root, key)) continue; // nothing there to delete
            if (!tree) {
                reason =
                    "the journal cannot read the key " + root + "\\" + key + " before deleting it";
                return Answer::Refuse;
            }
            records.push_back(
                {{"kind", "key"}, {"root", root}, {"key", key}, {"tree", std::move(*tree)}});
        }
        if (records.empty()) {
            const std::string key =
                change.keyPath + (change.keyPath.empty() ? "" : "\\") + change.name;
            reason = "the journal cannot read the key " + change.root + "\\" + key +
                     " before deleting it";
            return Answer::Refuse;
        }
        break;
    case PlannedChange::Kind::DeleteFiles:
    case PlannedChange::Kind::CopyFiles: {
        const bool copy = change.kind == PlannedChange::Kind::CopyFiles;
        const auto targets = copy ? platform.copyTargets(change.source, change.path)
                                  : platform.deleteTargets(change.path);
        json entries = json::array();
        json made = json::array();
        for (const std::string& target : targets) {
            // The check the change itself makes, before anything is moved into the
            // journal: a copy writes through a link, a delete removes the link.
            if (std::string refusal = platform.refusalAt(target, !copy); !refusal.empty()) {
                reason = change.path + ": " + refusal;
                return Answer::Refuse;
            }
            const fs::path real = RealLocation(target);
            if (!Inside(real, st.machine)) {
                // Said as the machine says it when it refuses a change there.
                reason = change.path + ": refused, it lies outside the prefix " +
                         st.machine.string() + " (at " + real.string() + ")";
                return Answer::Refuse;
            }
            json e{{"real", real.string()}};
            if (Exists(real)) {
                e["stored"] = std::to_string(++st.stored);
                e["bytes"] = SizeOf(real);
                moves.push_back(entries.size());
            }
            if (copy)
                for (const fs::path& folder : MissingFolders(real, st.machine))
                    if (std::find(made.begin(), made.end(), folder.string()) == made.end())
                        made.push_back(folder.string());
            entries.push_back(std::move(e));
        }
        // Outermost first: a shorter path never lies inside a longer one.
        std::stable_sort(made.begin(), made.end(), [](const json& a, const json& b) {
            return a.get<std::string>().size() < b.get<std::string>().size();
        });
        records.push_back({{"kind", KindName(change.kind)},
                           {"path", change.path},
                           {"source", change.source},
                           {"entries", entries},
                           {"madeFolders", made}});
        break;
    }
    case PlannedChange::Kind::MakeFolder: {
        // The folder's one entry: a link there goes into the journal (as a link, what it
        // points to untouched) before the folder takes its place.
        const std::string host = platform.hostPathOf(change.path);
        if (host.empty()) return Answer::Go; // the action fails and says why
        const fs::path real = RealLocation(host);
        if (!Inside(real, st.machine)) {
            reason = change.path + ": refused, it lies outside the prefix " + st.machine.string() +
                     " (at " + real.string() + ")";
            return Answer::Refuse;
        }
        // Nothing goes into the journal for a change the machine would refuse.
        if (std::string refusal = platform.refusalAt(host, true); !refusal.empty()) {
            reason = change.path + ": " + refusal;
            return Answer::Refuse;
        }
        json e{{"real", real.string()}};
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(real, ec))) {
            e["stored"] = std::to_string(++st.stored);
            e["bytes"] = SizeOf(real);
            moves.push_back(0);
        }
        json made = json::array();
        for (const fs::path& folder : MissingFolders(real, st.machine))
            made.push_back(folder.string());
        made.push_back(real.string()); // the folder itself, innermost
        records.push_back({{"kind", KindName(change.kind)},
                           {"path", change.path},
                           {"source", ""},
                           {"entries", json::array({std::move(e)})},
                           {"madeFolders", std::move(made)}});
        break;
    }
    }
    json& changes = st.entry["changes"];
    for (json& record : records) {
        // A change through HKEY_CLASSES_ROOT names the key as the repair did, too.
        if (change.root == "HKCR" && !IsFileChange(change))
            record["via"] = change.root + "\\" + change.keyPath +
                            (change.kind == PlannedChange::Kind::DeleteKey && !change.name.empty()
                                 ? "\\" + change.name
                                 : "");
        record["made"] = false;
        changes.push_back(std::move(record));
    }
    st.lastRecords = records.size();
    // A registry change becomes real when the document's registry files are saved:
    // its record goes to disk then (beforeSave), with every other one of the document.
    if (change.kind == PlannedChange::Kind::SetValue ||
        change.kind == PlannedChange::Kind::DeleteValue ||
        change.kind == PlannedChange::Kind::DeleteKey) {
        st.pending = true;
        return Answer::Go;
    }
    std::error_code ec;
    if (!moves.empty() && fs::create_directories(st.data, ec)) st.log->folderChanged();
    if (ec || !write()) {
        changes.erase(changes.size() - 1);
        st.lastRecords = 0;
        reason = ec ? "the journal cannot be written: " + st.data.string() + ": " + ec.message()
                    : st.log->error();
        return Answer::Refuse;
    }
    st.pending = false;
    // A deleted or overwritten file goes into the journal: moved, never copied.
    if (!MoveIntoJournal(changes.back(), moves, st.data, *this, reason)) return Answer::Refuse;
    // Whether a change was made is written with the item's end: the record written
    // above is what undo needs, the moved files themselves say which were moved.
    if (change.kind == PlannedChange::Kind::DeleteFiles) {
        changes.back()["made"] = true;
        return Answer::Done;
    }
    return Answer::Go;
}

void JournalItemRecorder::after(const PlannedChange&, bool made) {
    json& changes = state_->entry["changes"];
    for (std::size_t i = 0; i < state_->lastRecords && i < changes.size(); ++i)
        changes[changes.size() - 1 - i]["made"] = made;
}

bool JournalItemRecorder::beforeSave(std::string& reason) {
    if (!state_->pending) return true;
    if (!(state_->syncLater ? append() : write())) {
        reason = state_->log->error();
        return false;
    }
    state_->pending = false;
    return true;
}

void JournalItemRecorder::syncLater() {
    state_->syncLater = true;
}

bool JournalItemRecorder::registryChanged() const {
    const json& changes = std::as_const(state_->entry).at("changes");
    return std::any_of(changes.begin(), changes.end(), [](const json& change) {
        const std::string kind = change.value("kind", "");
        return (kind == "value" || kind == "key") && change.value("made", false);
    });
}

void JournalItemRecorder::unsaved() {
    for (json& change : state_->entry["changes"]) {
        const std::string kind = change.value("kind", "");
        if (kind == "value" || kind == "key") change["made"] = false;
    }
}

bool JournalItemRecorder::finish(const std::string& result, bool foundAfter) {
    json& entry = state_->entry;
    for (json& change : entry["changes"]) {
        const std::string kind = change.value("kind", "");
        if (kind == "value") {
            const auto now = ReadValue(change["root"], change["key"], change["name"]);
            if (now) change["after"] = *now;
        } else if (kind == "key") {
            change["after"] = KeyExists(change["root"], change["key"]);
        } else if (kind == "copy") {
            for (json& e : change["entries"])
                e["afterSize"] = SizeOf(e["real"].get<std::string>());
        }
    }
    entry["result"] = result;
    entry["foundAfter"] = foundAfter;
    // The records before the changes are on disk already: should this line be lost, the
    // entry stays as it was before it, whole.
    return state_->syncLater ? append() : write();
}

// --- The journal of one machine --------------------------------------------------------

Journal::Journal(fs::path root, const fs::path& machineFolder) : root_(std::move(root)) {
    std::error_code ec;
    machine_ = fs::weakly_canonical(machineFolder, ec);
    if (ec) machine_ = machineFolder.lexically_normal();
    // The folder is named by the machine's real path: a hash, and its last name to help
    // a person find it.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : machine_.string())
        hash = (hash ^ c) * 1099511628211ull;
    char id[24];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(hash));
    std::string name = machine_.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    folder_ = root_ / (std::string(id) + "-" + name.substr(0, 40));
}

Journal::~Journal() = default;
Journal::Journal(Journal&&) noexcept = default;
Journal& Journal::operator=(Journal&&) noexcept = default;

void Journal::claim() {
    if (!lock_) lock_ = std::make_unique<JournalLock>(folder_);
    if (lock_->state() == JournalLock::State::Busy) {
        const std::string error = lock_->error();
        lock_.reset();
        throw JournalBusy(error);
    }
}

std::optional<int> Journal::lastRun() const {
    const auto runs = RunNumbers(folder_);
    if (runs.empty()) return std::nullopt;
    return runs.back();
}

int Journal::beginRun() {
    claim();
    const int last = lastRun().value_or(0);
    return last < INT_MAX ? last + 1 : last;
}

std::unique_ptr<JournalItemRecorder> Journal::beginItem(int run, const std::string& id,
                                                        const std::string& name, int level,
                                                        std::string& error) {
    if (!lock_ || lock_->state() != JournalLock::State::Held) {
        error = lock_ ? lock_->error() : "the journal was not claimed for run " + RunName(run);
        return nullptr;
    }
    const fs::path runFolder = folder_ / RunName(run);
    // The run's folder is its claim: made here, never taken over from another command.
    if (claimedRun_ != run) {
        if (::mkdir(runFolder.c_str(), 0700) != 0) {
            error = "the journal cannot be written: " + runFolder.string() + ": " +
                    (errno == EEXIST ? std::string("another command made this run")
                                     : std::string(std::strerror(errno)));
            return nullptr;
        }
        claimedRun_ = run;
        lastIndex_ = 0;
        runWritten_ = false;
        log_ = std::make_shared<EntryLog>(runFolder / kLogName);
    }
    if (!log_->ok()) {
        error = log_->error();
        return nullptr;
    }
    // Once per run: the folder's "prefix" when it has none, and the run's own record,
    // the log's first line. The run's folder is a new name in the journal's folder,
    // made durable with the "prefix" file or by itself; the log goes to disk with its
    // first sync, before the run's first change.
    if (!runWritten_) {
        if (Exists(folder_ / "prefix") || !WriteWhole(folder_ / "prefix", machine_.string()))
            SyncFolder(folder_);
        if (!log_->append(
                json{{"run", run}, {"time", Now()}, {"prefix", machine_.string()}}.dump())) {
            error = log_->error();
            return nullptr;
        }
        runWritten_ = true;
    }
    // Entries are numbered in the order their items began; an entry is written with
    // the item's first change, so the numbers are counted here.
    const int index = ++lastIndex_;
    auto recorder =
        std::make_unique<JournalItemRecorder>(log_, runFolder / ItemName(index, true), machine_);
    // The entry is on disk before the item's first change.
    recorder->state_->entry =
        json{{"index", index},      {"id", id},        {"name", name},
             {"level", level},      {"time", Now()},   {"result", ""},
             {"foundAfter", false}, {"undone", false}, {"changes", json::array()}};
    return recorder;
}

bool Journal::syncEntries(int run, std::string& error) const {
    if (run != claimedRun_ || !log_) return true;
    if (log_->sync()) return true;
    error = log_->error();
    return false;
}

std::vector<JournalRun> Journal::history() const {
    std::vector<JournalRun> runs;
    const auto numbers = RunNumbers(folder_);
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        const fs::path runFolder = folder_ / RunName(*it);
        JournalRun run;
        run.run = *it;
        json info;
        const auto entries = RunEntries(runFolder, &info);
        run.time = TextOf(info, "time");
        for (const StoredEntry& e : entries) {
            if (e.entry) {
                run.items.push_back(ItemOf(*e.entry));
            } else {
                JournalItem damaged;
                damaged.name = e.file.filename().string();
                damaged.problem = e.source + ": " + e.problem;
                run.items.push_back(std::move(damaged));
            }
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

void Journal::prune(std::size_t maxRuns, std::uintmax_t maxBytes) const {
    const auto numbers = RunNumbers(folder_);
    std::vector<std::uintmax_t> sizes;
    std::uintmax_t total = 0;
    // A run that ended is measured once: its size is recorded on its folder.
    for (int run : numbers) {
        const fs::path runFolder = folder_ / RunName(run);
        std::optional<std::uintmax_t> bytes = RecordedSize(runFolder);
        if (!bytes) {
            bytes = SizeOf(runFolder);
            RecordSize(runFolder, *bytes);
        }
        sizes.push_back(*bytes);
        total += sizes.back();
    }
    std::size_t count = numbers.size();
    // The newest run is always kept.
    for (std::size_t i = 0; i + 1 < numbers.size() && (count > maxRuns || total > maxBytes); ++i) {
        std::error_code ec;
        fs::remove_all(folder_ / RunName(numbers[i]), ec);
        total -= sizes[i];
        --count;
    }
}

} // namespace corvane
