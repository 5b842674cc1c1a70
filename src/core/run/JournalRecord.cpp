#include "core/run/JournalRecord.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "core/engine/RegCommon.h"
#include "core/platform/Platform.h"
#include "core/run/JournalLog.h"

namespace corvane::journal {

namespace {

// An entry larger than this is not one the journal wrote.
constexpr std::uintmax_t kMaxEntryBytes = 64u << 20;
constexpr int kMaxDepth = 512; // the deepest key Windows allows
// A key tree of kMaxDepth levels nests two JSON levels per key, below a few of its own.
constexpr int kMaxNesting = 2 * kMaxDepth + 16;
// HKCR only in records written before changes through it were recorded in their branch.
constexpr std::array<const char*, 5> kRoots{"HKCU", "HKLM", "HKU", "HKCC", "HKCR"};

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::vector<std::uint8_t>> Bytes(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return out;
}

// The deepest nesting of objects and arrays in JSON text (strings skipped).
int Nesting(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

bool IsText(const json& object, const char* key) {
    return object.contains(key) && object.at(key).is_string();
}

// A stored value: {type, data} with a number and hex digits.
bool IsValue(const json& value) {
    return value.is_object() && value.contains("type") && value.at("type").is_number_unsigned() &&
           value.at("type").get<std::uint64_t>() <= 0xffffffffu && IsText(value, "data") &&
           Bytes(value.at("data").get<std::string>()).has_value();
}

bool IsTree(const json& tree, int depth) {
    if (tree.is_object() && tree.contains("link") && !tree.at("link").is_boolean()) return false;
    if (depth > kMaxDepth || !tree.is_object() || !tree.contains("values") ||
        !tree.at("values").is_array() || !tree.contains("keys") || !tree.at("keys").is_array())
        return false;
    for (const json& v : tree.at("values"))
        if (!IsValue(v) || !IsText(v, "name")) return false;
    for (const json& k : tree.at("keys"))
        if (!k.is_object() || !IsText(k, "name") || k.at("name").get<std::string>().empty() ||
            !k.contains("tree") || !IsTree(k.at("tree"), depth + 1))
            return false;
    return true;
}

class Key {
public:
    // `options`: KeyOption::OpenLink when opening, CreateLink when creating.
    Key(RegKey root, const std::string& path, std::uint32_t access, bool create = false,
        std::uint32_t options = 0) {
        Platform& platform = ActivePlatform();
        status_ = create ? platform.regCreateKey(root, path, key_, options)
                         : platform.regOpenKey(root, path, access, key_, options);
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

// A key read as it is: a link key as a link (its SymbolicLinkValue), never as the key
// it points to.
std::optional<json> ReadTreeOf(RegKey key, int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    Platform& platform = ActivePlatform();
    json values = json::array();
    bool link = false;
    for (std::uint32_t i = 0;; ++i) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const RegStatus s = platform.regEnumValue(key, i, name, type, data);
        if (s == RegStatus::NoMoreItems) break;
        if (s != RegStatus::Ok) return std::nullopt;
        link = link || (type == RegType::Link && name == "SymbolicLinkValue");
        values.push_back({{"name", name}, {"type", type}, {"data", Hex(data)}});
    }
    if (link) return json{{"values", std::move(values)}, {"keys", json::array()}, {"link", true}};
    json keys = json::array();
    for (std::uint32_t i = 0;; ++i) {
        std::string name;
        const RegStatus s = platform.regEnumKey(key, i, name);
        if (s == RegStatus::NoMoreItems) break;
        if (s != RegStatus::Ok) return std::nullopt;
        Key sub(key, name, KeyAccess::Read, false, KeyOption::OpenLink);
        if (!sub.ok()) return std::nullopt;
        auto tree = ReadTreeOf(sub.get(), depth + 1);
        if (!tree) return std::nullopt;
        keys.push_back({{"name", name}, {"tree", std::move(*tree)}});
    }
    return json{{"values", std::move(values)}, {"keys", std::move(keys)}};
}

bool WriteTreeOf(RegKey parent, const std::string& path, const json& tree, int depth) {
    if (depth > kMaxDepth) return false;
    const bool link = tree.contains("link") && tree.at("link") == true;
    Key key(parent, path, KeyAccess::AllAccess, true, link ? KeyOption::CreateLink : 0);
    if (!key.ok()) return false;
    Platform& platform = ActivePlatform();
    bool ok = true;
    for (const json& v : tree.at("values")) {
        const auto data =
            Bytes(v.at("data").get<std::string>()).value_or(std::vector<std::uint8_t>{});
        ok = platform.regSetValue(key.get(), v.at("name").get<std::string>(),
                                  v.at("type").get<std::uint32_t>(), data) == RegStatus::Ok &&
             ok;
    }
    for (const json& k : tree.at("keys"))
        ok = WriteTreeOf(key.get(), k.at("name").get<std::string>(), k.at("tree"), depth + 1) && ok;
    return ok;
}

std::string Trimmed(const std::string& key) {
    const auto first = key.find_first_not_of('\\');
    return first == std::string::npos ? std::string() : key.substr(first);
}

// The key paths of `key` from the root: "A", "A\B", "A\B\C" (empty names skipped).
std::vector<std::string> KeyPrefixes(const std::string& key) {
    std::vector<std::string> prefixes;
    std::string path;
    for (std::size_t start = 0; start <= key.size();) {
        std::size_t end = key.find('\\', start);
        if (end == std::string::npos) end = key.size();
        if (end > start) {
            path += (path.empty() ? "" : "\\") + key.substr(start, end - start);
            prefixes.push_back(path);
        }
        start = end + 1;
    }
    return prefixes;
}

// "madeKeys": key paths that lead to the change's own key (a record can make undo take
// away nothing else).
bool MadeKeysOf(const json& change) {
    const json& keys = change.at("madeKeys");
    if (!keys.is_array()) return false;
    const auto prefixes = KeyPrefixes(change.at("key").get<std::string>());
    for (const json& k : keys)
        if (!k.is_string() ||
            std::find(prefixes.begin(), prefixes.end(), k.get<std::string>()) == prefixes.end())
            return false;
    return true;
}

} // namespace

std::optional<json> ParseEntry(const std::string& text, std::string& problem) {
    if (Nesting(text) > kMaxNesting) {
        problem = "nested too deeply";
        return std::nullopt;
    }
    json entry = json::parse(text, nullptr, false);
    if (entry.is_discarded()) {
        problem = "not JSON";
        return std::nullopt;
    }
    if (!entry.is_object()) {
        problem = "not a JSON object";
        return std::nullopt;
    }
    return entry;
}

std::string TextOf(const json& object, const char* key, const std::string& fallback) {
    return object.is_object() && IsText(object, key) ? object.at(key).get<std::string>() : fallback;
}

long long NumberOf(const json& object, const char* key, long long fallback) {
    if (!object.is_object() || !object.contains(key)) return fallback;
    const json& v = object.at(key);
    if (v.is_number_integer()) return v.get<long long>();
    return fallback;
}

bool FlagOf(const json& object, const char* key, bool fallback) {
    if (!object.is_object() || !object.contains(key) || !object.at(key).is_boolean())
        return fallback;
    return object.at(key).get<bool>();
}

bool KnownRoot(const std::string& root) {
    for (const char* known : kRoots)
        if (root == known) return true;
    return false;
}

std::string CheckChange(const json& change) {
    if (!change.is_object()) return "a change is not a JSON object";
    const std::string kind = TextOf(change, "kind");
    if (kind == "value" || kind == "key") {
        if (!KnownRoot(TextOf(change, "root")))
            return "a " + kind + " change has no known \"root\"";
        if (!IsText(change, "key")) return "a " + kind + " change has no \"key\"";
        if (kind == "value") {
            if (!IsText(change, "name")) return "a value change has no \"name\"";
            if (!change.contains("before") ||
                !(change.at("before").is_null() || IsValue(change.at("before"))))
                return "a value change has no readable \"before\"";
            if (change.contains("after") &&
                !(change.at("after").is_null() || IsValue(change.at("after"))))
                return "a value change has an unreadable \"after\"";
            if (change.contains("madeKeys") && !MadeKeysOf(change))
                return "a value change has unreadable \"madeKeys\"";
        } else {
            if (!change.contains("tree") || !IsTree(change.at("tree"), 0))
                return "a key change has no readable \"tree\"";
            if (change.contains("after") && !change.at("after").is_boolean())
                return "a key change has an unreadable \"after\"";
        }
        return {};
    }
    if (kind != "delete" && kind != "copy" && kind != "mkdir")
        return "a change of unknown kind \"" + kind + "\"";
    if (!change.contains("entries") || !change.at("entries").is_array())
        return "a " + kind + " change has no \"entries\"";
    for (const json& e : change.at("entries")) {
        if (!e.is_object() || !IsText(e, "real")) return "a " + kind + " entry has no \"real\"";
        if (e.contains("stored") && !IsText(e, "stored"))
            return "a " + kind + " entry has an unreadable \"stored\"";
        for (const char* number : {"bytes", "afterSize"})
            if (e.contains(number) && !e.at(number).is_number_unsigned())
                return "a " + kind + " entry has an unreadable \"" + number + "\"";
        if (e.contains("madeFolder") && !IsText(e, "madeFolder"))
            return "a copy entry has an unreadable \"madeFolder\"";
    }
    if (change.contains("madeFolders")) {
        if (!change.at("madeFolders").is_array()) return "unreadable \"madeFolders\"";
        for (const json& f : change.at("madeFolders"))
            if (!f.is_string()) return "unreadable \"madeFolders\"";
    }
    return {};
}

namespace fs = std::filesystem;

std::string RunName(int run) {
    char name[32];
    std::snprintf(name, sizeof name, "run-%06d", run);
    return name;
}

std::string ItemName(long long index, bool files) {
    char name[48];
    std::snprintf(name, sizeof name, "item-%04lld.%s", index, files ? "files" : "json");
    return name;
}

std::vector<StoredEntry> RunEntries(const fs::path& runFolder, json* run) {
    if (run) {
        std::string problem;
        *run = ReadEntry(runFolder / "run.json", problem).value_or(json::object());
    }
    std::map<long long, StoredEntry> items;
    std::vector<StoredEntry> unread;
    std::size_t kept = 0; // the unread lines before the last line read
    const fs::path log = runFolder / kLogName;
    (void)ReadLog(log, [&](std::size_t line, std::string_view text, const std::string& why) {
        StoredEntry e;
        e.source = log.string() + ", line " + std::to_string(line);
        e.file = log;
        e.problem = why;
        if (e.problem.empty()) e.entry = ParseEntry(std::string(text), e.problem);
        const long long index = e.entry ? NumberOf(*e.entry, "index") : 0;
        if (e.entry && !e.entry->contains("index") && e.entry->contains("run")) {
            if (run) *run = std::move(*e.entry);
            kept = unread.size();
            return;
        }
        if (e.entry && (index < 1 || index > INT_MAX)) {
            e.entry.reset();
            e.problem = "no item number";
        }
        if (!e.entry) {
            unread.push_back(std::move(e));
            return;
        }
        kept = unread.size();
        e.file = runFolder / ItemName(index);
        e.data = runFolder / ItemName(index, true);
        items[index] = std::move(e);
    });
    unread.resize(kept);
    std::vector<std::pair<std::string, StoredEntry>> named; // files not named by a number
    std::error_code ec;
    for (const auto& dirEntry : fs::directory_iterator(runFolder, ec)) {
        const std::string name = dirEntry.path().filename().string();
        if (!name.starts_with("item-") || !name.ends_with(".json")) continue;
        StoredEntry e;
        e.file = dirEntry.path();
        e.data = runFolder / (e.file.stem().string() + ".files");
        e.source = e.file.string();
        e.entry = ReadEntry(e.file, e.problem);
        long long index = 0;
        const char* first = name.data() + 5;
        const char* last = name.data() + name.size() - 5;
        const auto [end, error] = std::from_chars(first, last, index);
        if (error == std::errc() && end == last && index > 0)
            items[index] = std::move(e);
        else
            named.emplace_back(name, std::move(e));
    }
    std::sort(named.begin(), named.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StoredEntry> entries;
    for (auto& [index, e] : items)
        entries.push_back(std::move(e));
    for (StoredEntry& e : unread)
        entries.push_back(std::move(e));
    for (auto& [name, e] : named)
        entries.push_back(std::move(e));
    return entries;
}

// An entry file, read and parsed; `problem` says why not.
std::optional<json> ReadEntry(const fs::path& file, std::string& problem) {
    std::error_code ec;
    const auto status = fs::symlink_status(file, ec);
    if (!fs::is_regular_file(status) || fs::file_size(file, ec) > kMaxEntryBytes) {
        problem = "not a journal record";
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        problem = "cannot be read";
        return std::nullopt;
    }
    return ParseEntry(text.str(), problem);
}

// The item's ID as recorded: a text, or a number written as one.
std::string IdOf(const json& entry) {
    if (entry.contains("id") && entry.at("id").is_number_integer())
        return std::to_string(entry.at("id").get<long long>());
    return TextOf(entry, "id");
}

// --- The registry ------------------------------------------------------------------------

std::optional<json> ReadValue(const std::string& root, const std::string& key,
                              const std::string& name) {
    Key k(RootKeyFromName(root), key, KeyAccess::Read);
    if (k.status() == RegStatus::NotFound) return json(nullptr);
    if (!k.ok()) return std::nullopt;
    std::uint32_t type = 0, size = 0;
    Platform& platform = ActivePlatform();
    RegStatus s = platform.regQueryValue(k.get(), name, type, {}, size);
    if (s == RegStatus::NotFound) return json(nullptr);
    if (s != RegStatus::Ok && s != RegStatus::MoreData) return std::nullopt;
    std::vector<std::uint8_t> data(size);
    s = platform.regQueryValue(k.get(), name, type, data, size);
    if (s != RegStatus::Ok) return std::nullopt;
    data.resize(size);
    return json{{"type", type}, {"data", Hex(data)}};
}

bool WriteValue(const std::string& root, const std::string& key, const std::string& name,
                const json& value) {
    Platform& platform = ActivePlatform();
    if (value.is_null()) {
        Key k(RootKeyFromName(root), key, KeyAccess::AllAccess);
        if (k.status() == RegStatus::NotFound) return true;
        if (!k.ok()) return false;
        const RegStatus s = platform.regDeleteValue(k.get(), name);
        return s == RegStatus::Ok || s == RegStatus::NotFound;
    }
    const auto data = Bytes(TextOf(value, "data"));
    if (!data) return false;
    Key k(RootKeyFromName(root), key, KeyAccess::AllAccess, true);
    if (!k.ok()) return false;
    return platform.regSetValue(k.get(), name, value.at("type").get<std::uint32_t>(), *data) ==
           RegStatus::Ok;
}

bool KeyExists(const std::string& root, const std::string& key) {
    Key k(RootKeyFromName(root), key, KeyAccess::Read);
    return k.ok();
}

json MissingKeys(const std::string& root, const std::string& key) {
    json missing = json::array();
    for (const std::string& path : KeyPrefixes(key))
        if (!missing.empty() || !KeyExists(root, path)) missing.push_back(path);
    return missing;
}

bool DeleteKeyIfEmpty(const std::string& root, const std::string& key) {
    Platform& platform = ActivePlatform();
    {
        Key k(RootKeyFromName(root), key, KeyAccess::Read, false, KeyOption::OpenLink);
        if (k.status() == RegStatus::NotFound) return true;
        if (!k.ok()) return false;
        std::uint32_t subKeys = 0, maxLen = 0;
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (platform.regQueryInfoKey(k.get(), subKeys, maxLen) != RegStatus::Ok || subKeys != 0 ||
            platform.regEnumValue(k.get(), 0, name, type, data) != RegStatus::NoMoreItems)
            return false;
    }
    return platform.regDeleteKey(RootKeyFromName(root), key) == RegStatus::Ok;
}

std::optional<json> ReadTree(const std::string& root, const std::string& key) {
    Key k(RootKeyFromName(root), key, KeyAccess::Read, false, KeyOption::OpenLink);
    if (!k.ok()) return std::nullopt;
    return ReadTreeOf(k.get(), 0);
}

bool WriteTree(const std::string& root, const std::string& key, const json& tree) {
    return WriteTreeOf(RootKeyFromName(root), key, tree, 0);
}

std::vector<std::pair<std::string, std::string>> Branches(const PlannedChange& change) {
    const bool deleteKey = change.kind == PlannedChange::Kind::DeleteKey;
    std::string key = change.keyPath;
    if (deleteKey && !change.name.empty()) key += (key.empty() ? "" : "\\") + change.name;
    if (change.root != "HKCR") return {{change.root, key}};
    const std::string below = "Software\\Classes\\" + Trimmed(key);
    const bool inUser = KeyExists("HKCU", below), inMachine = KeyExists("HKLM", below);
    if (deleteKey) {
        std::vector<std::pair<std::string, std::string>> both;
        if (inUser) both.emplace_back("HKCU", below);
        if (inMachine || !inUser) both.emplace_back("HKLM", below);
        return both;
    }
    // A value is set in the user's key when there is one; a value deleted goes from
    // the key whose value a read sees.
    bool user = inUser;
    if (change.kind == PlannedChange::Kind::DeleteValue && inUser && inMachine) {
        const auto value = ReadValue("HKCU", below, change.name);
        user = value && !value->is_null();
    }
    return {{user ? "HKCU" : "HKLM", below}};
}

} // namespace corvane::journal
