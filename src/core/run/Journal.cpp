#include "core/run/Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

#include "core/engine/RegCommon.h"
#include "core/platform/Platform.h"

namespace corvane {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kMaxDepth = 512; // the deepest key Windows allows

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Writes `text` whole: a temporary file beside the target, fsync, rename, fsync of
// the folder. False when any step fails; the target is then as it was.
// Writes `file` whole: a temporary file, synced, renamed into place. With `syncFolder`
// the rename itself is made durable too; without, a crash may leave the file as it was
// before, never half written.
bool WriteWhole(const fs::path& file, const std::string& text, bool syncFolder = true) {
    std::string pattern = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(pattern.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(pattern.c_str());
        return false;
    }
    const int dir = syncFolder ? ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY) : -1;
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<json> ReadJson(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    try {
        return json::parse(in);
    } catch (...) {
        return std::nullopt;
    }
}

// Whether `path` is inside `folder` (both real paths).
bool Inside(const fs::path& path, const fs::path& folder) {
    const std::string p = path.lexically_normal().string();
    const std::string f = folder.lexically_normal().string();
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
           (f.back() == '/' || p[f.size()] == '/');
}

// The real location of `path`: its folder with every link resolved, and its own name
// (a link itself stays a link).
fs::path RealLocation(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    return (ec ? path.parent_path() : folder) / path.filename();
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Moves `from` to `to`, across file systems by copy and delete when it must.
bool Move(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) return false;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        fs::remove_all(to, ec);
        return false;
    }
    fs::remove_all(from, ec);
    return !ec;
}

std::uintmax_t SizeOf(const fs::path& path) {
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(path, ec))) return fs::file_size(path, ec);
    std::uintmax_t total = 0;
    if (fs::is_directory(fs::symlink_status(path, ec)))
        for (auto it = fs::recursive_directory_iterator(path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file(ec)) total += it->file_size(ec);
    return total;
}

// --- The registry through the platform's primitives ----------------------------------

std::string FullKey(const std::string& keyPath, const std::string& name) {
    if (name.empty()) return keyPath;
    return keyPath.empty() ? name : keyPath + "\\" + name;
}

class Key {
public:
    Key(RegKey root, const std::string& path, std::uint32_t access, bool create = false) {
        Platform& platform = ActivePlatform();
        status_ = create ? platform.regCreateKey(root, path, key_)
                         : platform.regOpenKey(root, path, access, key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (ok()) (void)ActivePlatform().regCloseKey(key_);
    }
    bool ok() const { return status_ == RegStatus::Ok; }
    RegStatus status() const { return status_; }
    RegKey get() const { return key_; }

private:
    RegKey key_ = 0;
    RegStatus status_ = RegStatus::NotFound;
};

// A value as stored ({type, data}), null when it is absent; nothing when it cannot be
// read.
std::optional<json> ReadValue(const std::string& root, const std::string& keyPath,
                              const std::string& name) {
    Key key(RootKeyFromName(root), keyPath, KeyAccess::Read);
    if (key.status() == RegStatus::NotFound) return json(nullptr);
    if (!key.ok()) return std::nullopt;
    std::uint32_t type = 0, size = 0;
    Platform& platform = ActivePlatform();
    RegStatus s = platform.regQueryValue(key.get(), name, type, {}, size);
    if (s == RegStatus::NotFound) return json(nullptr);
    if (s != RegStatus::Ok && s != RegStatus::MoreData) return std::nullopt;
    std::vector<std::uint8_t> data(size);
    s = platform.regQueryValue(key.get(), name, type, data, size);
    if (s != RegStatus::Ok) return std::nullopt;
    data.resize(size);
    return json{{"type", type}, {"data", Hex(data)}};
}

bool KeyExists(const std::string& root, const std::string& path) {
    Key key(RootKeyFromName(root), path, KeyAccess::Read);
    return key.ok();
}

// A key with every value and subkey, or nothing when it cannot be read whole.
std::optional<json> ReadTree(RegKey key, int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    Platform& platform = ActivePlatform();
    json values = json::array();
    for (std::uint32_t i = 0;; ++i) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const RegStatus s = platform.regEnumValue(key, i, name, type, data);
        if (s == RegStatus::NoMoreItems) break;
        if (s != RegStatus::Ok) return std::nullopt;
        values.push_back({{"name", name}, {"type", type}, {"data", Hex(data)}});
    }
    json keys = json::array();
    for (std::uint32_t i = 0;; ++i) {
        std::string name;
        const RegStatus s = platform.regEnumKey(key, i, name);
        if (s == RegStatus::NoMoreItems) break;
        if (s != RegStatus::Ok) return std::nullopt;
        Key sub(key, name, KeyAccess::Read);
        if (!sub.ok()) return std::nullopt;
        auto tree = ReadTree(sub.get(), depth + 1);
        if (!tree) return std::nullopt;
        keys.push_back({{"name", name}, {"tree", std::move(*tree)}});
    }
    return json{{"values", std::move(values)}, {"keys", std::move(keys)}};
}

bool WriteTree(RegKey parent, const std::string& path, const json& tree, int depth) {
    if (depth > kMaxDepth) return false;
    Key key(parent, path, KeyAccess::AllAccess, true);
    if (!key.ok()) return false;
    Platform& platform = ActivePlatform();
    bool ok = true;
    for (const json& v : tree.at("values")) {
        const auto data = Bytes(v.at("data").get<std::string>());
        ok = platform.regSetValue(key.get(), v.at("name").get<std::string>(),
                                  v.at("type").get<std::uint32_t>(), data) == RegStatus::Ok &&
             ok;
    }
    for (const json& k : tree.at("keys"))
        ok = WriteTree(key.get(), k.at("name").get<std::string>(), k.at("tree"), depth + 1) && ok;
    return ok;
}

bool WriteValue(const std::string& root, const std::string& keyPath, const std::string& name,
                const json& value) {
    Platform& platform = ActivePlatform();
    if (value.is_null()) {
        Key key(RootKeyFromName(root), keyPath, KeyAccess::AllAccess);
        if (key.status() == RegStatus::NotFound) return true;
        if (!key.ok()) return false;
        const RegStatus s = platform.regDeleteValue(key.get(), name);
        return s == RegStatus::Ok || s == RegStatus::NotFound;
    }
    Key key(RootKeyFromName(root), keyPath, KeyAccess::AllAccess, true);
    if (!key.ok()) return false;
    const auto data = Bytes(value.at("data").get<std::string>());
    return platform.regSetValue(key.get(), name, value.at("type").get<std::uint32_t>(), data) ==
           RegStatus::Ok;
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
    }
    return "value";
}

std::string RunName(int run) {
    char name[32];
    std::snprintf(name, sizeof name, "run-%06d", run);
    return name;
}

std::vector<int> RunNumbers(const fs::path& folder) {
    std::vector<int> runs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 10 && name.starts_with("run-"))
            runs.push_back(std::atoi(name.c_str() + 4));
    }
    std::sort(runs.begin(), runs.end());
    return runs;
}

std::vector<fs::path> EntryFiles(const fs::path& runFolder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(runFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("item-") && name.ends_with(".json")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

JournalItem ItemOf(const json& entry) {
    JournalItem item;
    item.index = entry.value("index", 0);
    item.id = entry.value("id", "");
    item.name = entry.value("name", "");
    item.level = entry.value("level", 0);
    item.time = entry.value("time", "");
    item.result = entry.value("result", "");
    item.foundAfter = entry.value("foundAfter", false);
    item.undone = entry.value("undone", false);
    return item;
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
    fs::path file;
    fs::path data; // where moved files go
    fs::path machine;
    json entry;
    int stored = 0;
    bool pending = false; // registry records not yet on disk
};

JournalItemRecorder::JournalItemRecorder(fs::path entryFile, fs::path machine)
    : state_(std::make_unique<State>()) {
    state_->data = entryFile.parent_path() / (entryFile.stem().string() + ".files");
    state_->file = std::move(entryFile);
    state_->machine = std::move(machine);
}

JournalItemRecorder::~JournalItemRecorder() = default;

bool JournalItemRecorder::write() {
    return WriteWhole(state_->file, state_->entry.dump(1));
}

RepairWatcher::Answer JournalItemRecorder::before(const PlannedChange& change,
                                                  std::string& reason) {
    State& st = *state_;
    json record{{"kind", KindName(change.kind)}};
    Platform& platform = ActivePlatform();
    std::vector<std::pair<fs::path, fs::path>> moves; // real path, stored path
    switch (change.kind) {
    case PlannedChange::Kind::SetValue:
    case PlannedChange::Kind::DeleteValue: {
        const auto before = ReadValue(change.root, change.keyPath, change.name);
        if (!before) {
            reason = "the journal cannot read " + change.root + "\\" + change.keyPath + " " +
                     change.name + " before changing it";
            return Answer::Refuse;
        }
        record.update({{"root", change.root},
                       {"key", change.keyPath},
                       {"name", change.name},
                       {"before", *before}});
        break;
    }
    case PlannedChange::Kind::DeleteKey: {
        const std::string path = FullKey(change.keyPath, change.name);
        Key key(RootKeyFromName(change.root), path, KeyAccess::Read);
        std::optional<json> tree;
        if (key.ok()) tree = ReadTree(key.get(), 0);
        if (!tree) {
            reason = "the journal cannot read the key " + change.root + "\\" + path +
                     " before deleting it";
            return Answer::Refuse;
        }
        record.update({{"root", change.root}, {"key", path}, {"tree", std::move(*tree)}});
        break;
    }
    case PlannedChange::Kind::DeleteFiles:
    case PlannedChange::Kind::CopyFiles: {
        const bool copy = change.kind == PlannedChange::Kind::CopyFiles;
        const auto targets = copy ? platform.copyTargets(change.source, change.path)
                                  : platform.deleteTargets(change.path);
        json entries = json::array();
        for (const std::string& target : targets) {
            const fs::path real = RealLocation(target);
            if (!Inside(real, st.machine)) {
                // Said as the machine says it when it refuses a change there.
                reason = change.path + ": refused, it lies outside the prefix " +
                         st.machine.string() + " (at " + real.string() + ")";
                return Answer::Refuse;
            }
            json e{{"real", real.string()}};
            if (Exists(real)) {
                const std::string stored = std::to_string(++st.stored);
                e["stored"] = stored;
                moves.emplace_back(real, st.data / stored);
            }
            if (copy && !Exists(real.parent_path())) e["madeFolder"] = real.parent_path().string();
            entries.push_back(std::move(e));
        }
        record.update({{"path", change.path}, {"source", change.source}, {"entries", entries}});
        break;
    }
    }
    record["made"] = false;
    st.entry["changes"].push_back(record);
    // A registry change becomes real when the document's registry files are saved:
    // its record goes to disk then (beforeSave), with every other one of the document.
    if (change.kind == PlannedChange::Kind::SetValue ||
        change.kind == PlannedChange::Kind::DeleteValue ||
        change.kind == PlannedChange::Kind::DeleteKey) {
        st.pending = true;
        return Answer::Go;
    }
    std::error_code ec;
    if (!moves.empty()) fs::create_directories(st.data, ec);
    if (ec || !write()) {
        st.entry["changes"].erase(st.entry["changes"].size() - 1);
        reason = "the journal cannot be written: " + st.file.string();
        return Answer::Refuse;
    }
    st.pending = false;
    // A deleted or overwritten file goes into the journal: moved, never copied.
    for (const auto& [real, stored] : moves) {
        if (!Move(real, stored)) {
            reason = "cannot move " + real.string() + " into the journal";
            return Answer::Refuse;
        }
    }
    // Whether a change was made is written with the item's end: the record written
    // above is what undo needs, the moved files themselves say which were moved.
    if (change.kind == PlannedChange::Kind::DeleteFiles) {
        st.entry["changes"].back()["made"] = true;
        return Answer::Done;
    }
    return Answer::Go;
}

void JournalItemRecorder::after(const PlannedChange&, bool made) {
    state_->entry["changes"].back()["made"] = made;
}

bool JournalItemRecorder::beforeSave(std::string& reason) {
    if (!state_->pending) return true;
    if (!write()) {
        reason = "the journal cannot be written: " + state_->file.string();
        return false;
    }
    state_->pending = false;
    return true;
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
    // The records before the changes are on disk already: should this rename be lost,
    // the entry stays as it was before it, whole.
    return WriteWhole(state_->file, entry.dump(1), false);
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

std::optional<int> Journal::lastRun() const {
    const auto runs = RunNumbers(folder_);
    if (runs.empty()) return std::nullopt;
    return runs.back();
}

int Journal::beginRun() {
    return lastRun().value_or(0) + 1;
}

std::unique_ptr<JournalItemRecorder> Journal::beginItem(int run, const std::string& id,
                                                        const std::string& name, int level,
                                                        std::string& error) {
    const fs::path runFolder = folder_ / RunName(run);
    std::error_code ec;
    fs::create_directories(runFolder, ec);
    if (ec) {
        error = "the journal cannot be written: " + runFolder.string() + ": " + ec.message();
        return nullptr;
    }
    if (!fs::exists(folder_ / "prefix")) (void)WriteWhole(folder_ / "prefix", machine_.string());
    if (!fs::exists(runFolder / "run.json") &&
        !WriteWhole(runFolder / "run.json",
                    json{{"run", run}, {"time", Now()}, {"prefix", machine_.string()}}.dump(1))) {
        error = "the journal cannot be written: " + (runFolder / "run.json").string();
        return nullptr;
    }
    // Entries are numbered in the order their items began; an entry is written with
    // the item's first change, so the numbers are counted here.
    if (indexedRun_ != run) {
        indexedRun_ = run;
        lastIndex_ = static_cast<int>(EntryFiles(runFolder).size());
    }
    const int index = ++lastIndex_;
    char file[32];
    std::snprintf(file, sizeof file, "item-%04d.json", index);
    auto recorder = std::make_unique<JournalItemRecorder>(runFolder / file, machine_);
    // The entry is on disk before the item's first change.
    recorder->state_->entry =
        json{{"index", index},      {"id", id},        {"name", name},
             {"level", level},      {"time", Now()},   {"result", ""},
             {"foundAfter", false}, {"undone", false}, {"changes", json::array()}};
    return recorder;
}

std::vector<JournalRun> Journal::history() const {
    std::vector<JournalRun> runs;
    const auto numbers = RunNumbers(folder_);
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        const fs::path runFolder = folder_ / RunName(*it);
        JournalRun run;
        run.run = *it;
        if (const auto info = ReadJson(runFolder / "run.json")) run.time = info->value("time", "");
        for (const fs::path& file : EntryFiles(runFolder))
            if (const auto entry = ReadJson(file)) run.items.push_back(ItemOf(*entry));
        runs.push_back(std::move(run));
    }
    return runs;
}

void Journal::prune(std::size_t maxRuns, std::uintmax_t maxBytes) const {
    const auto numbers = RunNumbers(folder_);
    std::vector<std::uintmax_t> sizes;
    std::uintmax_t total = 0;
    for (int run : numbers) {
        sizes.push_back(SizeOf(folder_ / RunName(run)));
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

namespace {

// Whether the machine still holds what the repair left, change by change.
std::string ChangedSince(const json& entry) {
    for (const json& change : entry["changes"]) {
        const std::string kind = change.value("kind", "");
        if (kind == "value" && change.contains("after")) {
            const auto now = ReadValue(change["root"], change["key"], change["name"]);
            if (!now || *now != change["after"])
                return change["root"].get<std::string>() + "\\" + change["key"].get<std::string>() +
                       " " + change["name"].get<std::string>();
        } else if (kind == "key" && change.contains("after")) {
            if (KeyExists(change["root"], change["key"]) != change["after"].get<bool>())
                return change["root"].get<std::string>() + "\\" + change["key"].get<std::string>();
        } else if (kind == "delete") {
            for (const json& e : change["entries"])
                if (Exists(e["real"].get<std::string>())) return e["real"].get<std::string>();
        } else if (kind == "copy") {
            for (const json& e : change["entries"])
                if (e.contains("afterSize") &&
                    SizeOf(e["real"].get<std::string>()) != e["afterSize"].get<std::uintmax_t>())
                    return e["real"].get<std::string>();
        }
    }
    return {};
}

// Puts one change back; the reason when it cannot.
std::string Restore(const json& change, const fs::path& data, const fs::path& machine) {
    const std::string kind = change.value("kind", "");
    if (kind == "value") {
        if (!WriteValue(change["root"], change["key"], change["name"], change["before"]))
            return "cannot write " + change["root"].get<std::string>() + "\\" +
                   change["key"].get<std::string>();
        return {};
    }
    if (kind == "key") {
        if (!WriteTree(RootKeyFromName(change["root"].get<std::string>()),
                       change["key"].get<std::string>(), change["tree"], 0))
            return "cannot write " + change["root"].get<std::string>() + "\\" +
                   change["key"].get<std::string>();
        return {};
    }
    // Files: what a copy made goes, then what was moved into the journal comes back.
    // Only paths the journal recorded are touched, and only inside the machine.
    for (const json& e : change["entries"]) {
        const fs::path real = e["real"].get<std::string>();
        if (!Inside(RealLocation(real), machine)) return real.string() + " is outside the prefix";
        std::error_code ec;
        if (kind == "copy" && Exists(real)) fs::remove_all(real, ec);
        if (e.contains("stored")) {
            const fs::path stored = data / e["stored"].get<std::string>();
            if (!Exists(stored)) continue; // never moved: the repair stopped before it
            if (Exists(real)) fs::remove_all(real, ec);
            fs::create_directories(real.parent_path(), ec);
            if (!Move(stored, real)) return "cannot put back " + real.string();
        }
        if (e.contains("madeFolder")) fs::remove(e["madeFolder"].get<std::string>(), ec);
    }
    return {};
}

} // namespace

std::optional<std::vector<UndoOutcome>> Journal::undo(int run, const std::vector<std::string>& ids,
                                                      bool force) {
    const fs::path runFolder = folder_ / RunName(run);
    if (!fs::is_directory(runFolder)) return std::nullopt;
    std::vector<std::pair<fs::path, json>> entries;
    for (const fs::path& file : EntryFiles(runFolder)) {
        auto entry = ReadJson(file);
        if (!entry) continue;
        if (!ids.empty() && std::find(ids.begin(), ids.end(), entry->value("id", "")) == ids.end())
            continue;
        entries.emplace_back(file, std::move(*entry));
    }
    std::vector<UndoOutcome> outcomes(entries.size());
    // Newest change first: the items backwards, each item's changes backwards.
    for (std::size_t i = entries.size(); i-- > 0;) {
        auto& [file, entry] = entries[i];
        UndoOutcome& out = outcomes[i];
        out.id = entry.value("id", "");
        out.name = entry.value("name", "");
        if (entry.value("undone", false)) {
            out.reason = "已撤销过";
            continue;
        }
        // An entry the run never ended (a crash) has no state after it to compare.
        if (!force && !entry.value("result", "").empty()) {
            if (const std::string changed = ChangedSince(entry); !changed.empty()) {
                out.reason = "修复后已被更改: " + changed + " (--force 仍然撤销)";
                continue;
            }
        }
        const fs::path data = file.parent_path() / (file.stem().string() + ".files");
        // The item's registry values go back together: each registry file written once.
        const json& changes = entry["changes"];
        Platform& platform = ActivePlatform();
        platform.beginBatch();
        for (std::size_t c = changes.size(); c-- > 0 && out.reason.empty();)
            out.reason = Restore(changes[c], data, machine_);
        if (!platform.endBatch() && out.reason.empty()) out.reason = platform.registryError();
        if (!out.reason.empty()) continue;
        entry["undone"] = true;
        if (!WriteWhole(file, entry.dump(1))) {
            out.reason = "the journal cannot be written: " + file.string();
            continue;
        }
        std::error_code ec;
        fs::remove_all(data, ec);
        out.undone = true;
    }
    return outcomes;
}

} // namespace corvane
