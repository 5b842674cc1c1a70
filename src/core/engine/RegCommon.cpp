#include "core/engine/RegCommon.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/Utf.h"

namespace corvane {

namespace {

// Deep enough for any real registry (Windows allows 512 levels); a cycle of links
// ends here instead of recursing forever.
constexpr int kMaxDepth = 512;

constexpr std::array<std::pair<std::string_view, RegKey>, 5> kRoots{{
    {"HKCR", RootKey::ClassesRoot},
    {"HKCU", RootKey::CurrentUser},
    {"HKLM", RootKey::LocalMachine},
    {"HKU", RootKey::Users},
    {"HKCC", RootKey::CurrentConfig},
}};

// A key opened from the active platform, closed when it goes out of scope.
class OpenKey {
public:
    OpenKey(RegKey parent, std::string_view path, std::uint32_t access, std::uint32_t options = 0)
        : status_(ActivePlatform().regOpenKey(parent, path, access, key_, options)),
          ok_(status_ == RegStatus::Ok) {}
    ~OpenKey() {
        if (ok_) (void)ActivePlatform().regCloseKey(key_); // nothing to do about a failure
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    explicit operator bool() const { return ok_; }
    RegKey key() const { return key_; }
    RegStatus status() const { return status_; }

private:
    RegKey key_ = 0;
    RegStatus status_;
    bool ok_;
};

// Every operation opens "\" + key path with full access: the path is taken from the
// root, and an empty path is the root itself.
std::string FromRoot(std::string_view keyPath) {
    std::string path(keyPath.size() + 1, '\\');
    keyPath.copy(path.data() + 1, keyPath.size());
    return path;
}

bool IsStringType(std::uint32_t type) {
    return type == RegType::Sz || type == RegType::ExpandSz;
}

// Whether no key below the key `name` of `parent` (at `depth`) lies deeper than
// kMaxDepth, walked as DeleteTree walks it.
bool WithinDepth(RegKey parent, std::string_view name, int depth) {
    if (depth > kMaxDepth) return false;
    Platform& platform = ActivePlatform();
    OpenKey sub(parent, name, KeyAccess::Read, KeyOption::OpenLink);
    std::uint32_t count = 0, maxLen = 0;
    if (!sub || platform.regQueryInfoKey(sub.key(), count, maxLen) != RegStatus::Ok) return true;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string child;
        if (platform.regEnumKey(sub.key(), i, child) == RegStatus::Ok &&
            !WithinDepth(sub.key(), child, depth + 1))
            return false;
    }
    return true;
}

bool DeleteTree(RegKey parent, std::string_view name, int depth) {
    if (depth > kMaxDepth) return false;
    Platform& platform = ActivePlatform();
    {
        // A link key goes itself; what it points to is outside the tree.
        OpenKey sub(parent, name, KeyAccess::AllAccess, KeyOption::OpenLink);
        if (sub) {
            std::uint32_t count = 0, maxLen = 0;
            if (platform.regQueryInfoKey(sub.key(), count, maxLen) == RegStatus::Ok) {
                for (std::uint32_t i = count; i-- > 0;) {
                    std::string child;
                    if (platform.regEnumKey(sub.key(), i, child) == RegStatus::Ok)
                        DeleteTree(sub.key(), child, depth + 1);
                }
            }
        }
    }
    return platform.regDeleteKey(parent, name) == RegStatus::Ok;
}

} // namespace

RegKey RootKeyFromName(std::string_view name) {
    for (const auto& [shortName, root] : kRoots)
        if (name == shortName) return root;
    return RootKey::LocalMachine;
}

bool RegKeyExists(RegKey root, std::string_view keyPath, std::string_view name) {
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return false;
    OpenKey sub(key.key(), name, KeyAccess::Read);
    return static_cast<bool>(sub);
}

bool RegValueExists(RegKey root, std::string_view keyPath, std::string_view name,
                    std::string_view typeName) {
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return false;
    std::uint32_t type = 0, size = 0;
    if (ActivePlatform().regQueryValue(key.key(), name, type, {}, size) != RegStatus::Ok)
        return false;
    if (typeName == "REG_SZ") return type == RegType::Sz;
    if (typeName == "REG_DWORD") return type == RegType::Dword;
    if (typeName == "REG_EXPAND_SZ") return type == RegType::ExpandSz;
    if (typeName == "REG_BINARY") return type == RegType::Binary;
    return true;
}

bool ReadRegValueText(RegKey root, std::string_view keyPath, std::string_view name,
                      std::string_view typeName, std::string& text) {
    text.clear();
    Platform& platform = ActivePlatform();
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    // A key that cannot be opened reads as a key without the value.
    auto query = [&](std::uint32_t& type, std::span<std::uint8_t> data, std::uint32_t& size) {
        if (!key) return RegStatus::NotFound;
        return platform.regQueryValue(key.key(), name, type, data, size);
    };
    std::uint32_t type = 0, size = 0;
    if (typeName == "REG_DWORD") {
        std::array<std::uint8_t, 4> data{};
        if (query(type, data, size) != RegStatus::Ok || type != RegType::Dword) return false;
        const auto value = static_cast<std::int32_t>(LittleEndian32(data));
        text = std::to_string(value);
        return true;
    }
    const RegStatus info = query(type, {}, size);
    if (info == RegStatus::NotFound) {
        if (typeName == "REG_BINARY") text.assign(1, '0');
        return true;
    }
    if (info != RegStatus::Ok) return false;
    if (typeName == "REG_BINARY") {
        // Only the size is read: binary data of any size is never copied.
        if (IsStringType(type) || type == RegType::Dword) return false;
        text = std::to_string(size);
        return true;
    }
    if (size == 0) return true;
    if (!IsStringType(type)) return false;
    std::vector<std::uint8_t> data(size);
    if (query(type, data, size) != RegStatus::Ok || !IsStringType(type)) return false;
    data.resize(size);
    std::u16string units = Utf16FromBytes(data);
    if (const auto nul = units.find(u'\0'); nul != std::u16string::npos) units.resize(nul);
    text = Utf16ToUtf8(units);
    return true;
}

std::string RegValueTypeName(RegKey root, std::string_view keyPath, std::string_view name) {
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    std::uint32_t type = 0, size = 0;
    if (!key || ActivePlatform().regQueryValue(key.key(), name, type, {}, size) != RegStatus::Ok)
        return {};
    switch (type) {
    case RegType::None:
        return "REG_NONE";
    case RegType::Sz:
        return "REG_SZ";
    case RegType::ExpandSz:
        return "REG_EXPAND_SZ";
    case RegType::Binary:
        return "REG_BINARY";
    case RegType::Dword:
        return "REG_DWORD";
    case RegType::DwordBigEndian:
        return "REG_DWORD_BIG_ENDIAN";
    case RegType::Link:
        return "REG_LINK";
    case RegType::MultiSz:
        return "REG_MULTI_SZ";
    case RegType::Qword:
        return "REG_QWORD";
    default:
        return "REG_TYPE_" + std::to_string(type);
    }
}

std::string RegKeyDeleteRefusal(RegKey root, std::string_view keyPath, std::string_view name) {
    std::string shown = "HKLM";
    for (const auto& [shortName, key] : kRoots)
        if (key == root) shown = shortName;
    if (!keyPath.empty()) shown += "\\" + std::string(keyPath);
    if (!name.empty()) shown += "\\" + std::string(name);
    // A subkey that comes to the root itself would take every key of the hive with
    // it (the root itself then refuses to go, so it would even report failure): no
    // rule can mean that.
    const auto onlySeparators = [](std::string_view text) {
        return text.find_first_not_of('\\') == std::string_view::npos;
    };
    const bool fromRoot = !name.empty() && name[0] == '\\';
    if (onlySeparators(name) && (fromRoot || onlySeparators(keyPath)))
        return shown + " is the root of its branch; it is not deleted";
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (key && !WithinDepth(key.key(), name, 0))
        return shown + " holds keys nested deeper than " + std::to_string(kMaxDepth) +
               " levels; it is not deleted";
    return {};
}

bool DeleteRegKey(RegKey root, std::string_view keyPath, std::string_view name, std::string* why) {
    // Refused whole: a tree cut off at the limit would lose the keys beside the deep
    // branch and keep the rest.
    if (std::string refusal = RegKeyDeleteRefusal(root, keyPath, name); !refusal.empty()) {
        if (why) *why = std::move(refusal);
        return false;
    }
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return false;
    return DeleteTree(key.key(), name, 0);
}

bool DeleteRegValue(RegKey root, std::string_view keyPath, std::string_view name) {
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return false;
    return ActivePlatform().regDeleteValue(key.key(), name) == RegStatus::Ok;
}

bool WriteRegValue(RegKey root, std::string_view keyPath, std::string_view name,
                   std::string_view typeName, std::string_view data) {
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    // A registry file that cannot be read is no key path that is missing.
    if (!key) return key.status() != RegStatus::Unreadable;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
    if (typeName == "REG_SZ" || typeName == "REG_EXPAND_SZ") {
        type = typeName == "REG_SZ" ? RegType::Sz : RegType::ExpandSz;
        const auto units = Utf8ToUtf16(data);
        if (!units) return false;
        bytes = Utf16ToBytes(*units);
    } else if (typeName == "REG_DWORD") {
        type = RegType::Dword;
        const auto value = ParseRegInteger(data);
        if (!value) return false;
        const auto u = static_cast<std::uint32_t>(*value);
        bytes = {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
                 std::uint8_t(u >> 24)};
    } else {
        return true;
    }
    return ActivePlatform().regSetValue(key.key(), name, type, bytes) == RegStatus::Ok;
}

bool CreateRegKey(RegKey root, std::string_view keyPath) {
    RegKey key = 0;
    if (ActivePlatform().regCreateKey(root, FromRoot(keyPath), key) != RegStatus::Ok) return false;
    (void)ActivePlatform().regCloseKey(key); // nothing to do about a failure
    return true;
}

std::optional<std::vector<std::string>> SplitRegList(std::string_view text) {
    std::vector<std::string> entries;
    if (text.empty()) return entries;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        const std::string_view entry = text.substr(start, end - start);
        if (entry.empty()) return std::nullopt;
        entries.emplace_back(entry);
        if (end == std::string_view::npos) return entries;
        start = end + 1;
    }
}

bool WriteRegList(RegKey root, std::string_view keyPath, std::string_view name,
                  std::string_view text) {
    const auto entries = SplitRegList(text);
    if (!entries) return false;
    std::u16string units;
    for (const std::string& entry : *entries) {
        const auto entry16 = Utf8ToUtf16(entry);
        if (!entry16 || entry16->find(u'\0') != std::u16string::npos) return false;
        units += *entry16;
        units += u'\0';
    }
    // The list ends with an empty entry (the NUL Utf16ToBytes adds); an empty list is
    // that alone.
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return key.status() != RegStatus::Unreadable;
    const std::vector<std::uint8_t> bytes = Utf16ToBytes(units);
    return ActivePlatform().regSetValue(key.key(), name, RegType::MultiSz, bytes) == RegStatus::Ok;
}

bool ReadRegList(RegKey root, std::string_view keyPath, std::string_view name,
                 std::vector<std::string>& entries) {
    entries.clear();
    OpenKey key(root, FromRoot(keyPath), KeyAccess::AllAccess);
    if (!key) return false;
    Platform& platform = ActivePlatform();
    std::uint32_t type = 0, size = 0;
    if (platform.regQueryValue(key.key(), name, type, {}, size) != RegStatus::Ok ||
        type != RegType::MultiSz)
        return false;
    std::vector<std::uint8_t> data(size);
    if (platform.regQueryValue(key.key(), name, type, data, size) != RegStatus::Ok) return false;
    data.resize(size);
    const std::u16string units = Utf16FromBytes(data);
    // Entries up to the first empty one (the list's end).
    for (std::size_t start = 0; start < units.size();) {
        std::size_t end = units.find(u'\0', start);
        if (end == std::u16string::npos) end = units.size();
        if (end == start) break;
        entries.push_back(Utf16ToUtf8(units.substr(start, end - start)));
        start = end + 1;
    }
    return true;
}

std::optional<std::int32_t> ParseRegInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("$")) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 10) {
        // A decimal number must fit the signed range.
        if (value > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
        const std::int64_t v =
            negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        return static_cast<std::int32_t>(v);
    }
    // Hexadecimal covers all 32 bits ("$FFFFFFFF" is -1).
    auto bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

} // namespace corvane
