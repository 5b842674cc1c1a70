#include "core/platform/wine/WineRegistry.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "core/platform/Utf.h"
#include "core/platform/wine/WineServer.h"

namespace corvane::wine {

namespace {

constexpr int kMaxLinks = 16;
constexpr std::u16string_view kDefaultSid = u"S-1-5-21-0-0-0-1000";
constexpr std::u16string_view kDefaultUser = u".Default";

// The names of `path` as views into it.
std::vector<std::u16string_view> PathNames(std::u16string_view path) {
    std::vector<std::u16string_view> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
    const std::vector<std::u16string_view> views = PathNames(path);
    return {views.begin(), views.end()};
}

// An open key of HKEY_CLASSES_ROOT that is in neither branch any more.
RegStatus KeyGone(RegStatus s) {
    return s == RegStatus::NotFound ? RegStatus::KeyDeleted : s;
}

} // namespace

WineRegistry::WineRegistry(std::filesystem::path prefix, ServerRoots roots)
    : prefix_(std::move(prefix)), roots_(std::move(roots)),
      watch_(prefix_, {prefix_ / "system.reg", prefix_ / "user.reg", prefix_ / "userdef.reg"}) {
    hives_[Machine] = std::make_unique<RegHive>(prefix_ / "system.reg");
    hives_[User] = std::make_unique<RegHive>(prefix_ / "user.reg");
    hives_[UserDefault] = std::make_unique<RegHive>(prefix_ / "userdef.reg");
}

void WineRegistry::lookForChanges() {
    // A file not changed since it was last checked needs no look of its own.
    if (watch_.changed()) checked_.fill(false);
}

void WineRegistry::beginStep() {
    if (stepDepth_++ == 0) lookForChanges();
}

void WineRegistry::endStep() {
    if (stepDepth_ > 0) --stepDepth_;
}

void WineRegistry::beginBatch() {
    if (++batchDepth_ == 2) {
        innerChanged_.fill(false);
        for (auto& kept : innerKept_)
            kept.reset();
        innerCancelled_ = false;
    }
}

bool WineRegistry::endBatch() {
    if (batchDepth_ == 0) return true;
    if (--batchDepth_ == 1 && innerCancelled_) dropInner();
    if (batchDepth_ > 0) return true;
    return finishBatch();
}

void WineRegistry::cancelBatch() {
    if (batchDepth_ == 0) return;
    if (batchDepth_ > 1) {
        innerCancelled_ = true;
        if (--batchDepth_ == 1) dropInner();
        return;
    }
    batchCancelled_ = true;
    if (--batchDepth_ == 0) (void)finishBatch();
}

void WineRegistry::keepForCancel(int hive) {
    if (batchDepth_ < 2 || hive < 0 || innerChanged_[hive]) return;
    innerChanged_[hive] = true;
    // A file without changes of the outer batch is read again instead.
    if (unsaved_[hive]) innerKept_[hive] = hives_[hive]->toText();
}

void WineRegistry::dropInner() {
    for (int hive = 0; hive < HiveCount; ++hive) {
        if (!innerChanged_[hive]) continue;
        if (innerKept_[hive]) {
            hives_[hive]->loadText(std::move(*innerKept_[hive]));
        } else {
            hives_[hive]->reload();
            unsaved_[hive] = false;
        }
        innerKept_[hive].reset();
        innerChanged_[hive] = false;
    }
    innerCancelled_ = false;
}

void WineRegistry::beginHold() {
    ++holdDepth_;
}

void WineRegistry::endHold() {
    if (holdDepth_ == 0 || --holdDepth_ > 0) return;
    syncSaved();
    if (batchDepth_ == 0) heldLock_.reset();
}

void WineRegistry::syncSaved() {
    if (!folderUnsynced_) return;
    folderUnsynced_ = false;
    const int fd = ::open(prefix_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void WineRegistry::letGo() {
    if (batchDepth_ == 0) heldLock_.reset();
}

bool WineRegistry::finishBatch() {
    const bool write = !batchCancelled_;
    batchCancelled_ = false;
    // The files are written only while the lock still keeps every wineserver away.
    RegStatus locked = RegStatus::Ok;
    if (write && std::find(unsaved_.begin(), unsaved_.end(), true) != unsaved_.end() &&
        !(heldLock_ && heldLock_->stillHeld()))
        locked = takeLock(heldLock_);
    bool ok = locked == RegStatus::Ok;
    std::string firstError = lastError_;
    for (int hive = 0; hive < HiveCount; ++hive) {
        if (!unsaved_[hive]) continue;
        unsaved_[hive] = false;
        if (!write || locked != RegStatus::Ok) {
            hives_[hive]->reload();
            continue;
        }
        if (writeHive(hive) != RegStatus::Ok && ok) {
            ok = false;
            firstError = lastError_;
        }
    }
    if (!ok) lastError_ = firstError;
    // What the batch saved is durable when it ends: what is done after it may count on
    // it.
    syncSaved();
    // A hold keeps the lock for its next change, unless this save failed.
    if (holdDepth_ == 0 || !ok) heldLock_.reset();
    return ok;
}

RegHive& WineRegistry::refreshed(int hive) {
    RegHive& h = *hives_[hive];
    // Changes waiting for the batch's save are kept: the batch holds Wine's lock.
    if (unsaved_[hive]) return h;
    // Outside a step every call looks for changes; within one, its start did.
    if (stepDepth_ == 0) lookForChanges();
    if (!checked_[hive]) h.refresh();
    checked_[hive] = true;
    return h;
}

std::u16string WineRegistry::userSid() {
    RegHive& hive = refreshed(User);
    const std::vector<std::u16string> names = SplitPath(hive.relativeTo());
    if (names.size() == 2 && EqualsNoCase(names[0], u"User")) return names[1];
    return std::u16string(kDefaultSid);
}

RegStatus WineRegistry::userUnknown() {
    // Without its file the user's SID is not known either.
    return hives_[User]->state() == RegHive::State::Unreadable ? RegStatus::Unreadable
                                                               : RegStatus::NotFound;
}

std::uint64_t WineRegistry::generation() {
    // Changes a batch holds in memory count too.
    std::uint64_t sum = changes_;
    for (int hive = Machine; hive < HiveCount; ++hive)
        sum += refreshed(hive).generation();
    return sum;
}

namespace {

std::optional<WineRegistry::StringValue> AsString(const RegValue& value) {
    if (value.type != RegType::Sz && value.type != RegType::ExpandSz) return std::nullopt;
    std::u16string text = Utf16FromBytes(value.data);
    if (const auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
    return WineRegistry::StringValue{Utf16ToUtf8(value.name), Utf16ToUtf8(text),
                                     value.type == RegType::ExpandSz};
}

} // namespace

std::optional<RegValue> WineRegistry::readValue(RegKey root, std::string_view path,
                                                std::string_view name) {
    Handle h;
    Found found;
    const auto name16 = Utf8ToUtf16(name);
    if (!name16 || handleOf(root, h) != RegStatus::Ok) return std::nullopt;
    if (h.classes) {
        ClassesKey key;
        if (classesKey(classesPath(h, path), key) != RegStatus::Ok) return std::nullopt;
        return classesValue(key, *name16);
    }
    if (find(h, path, found) != RegStatus::Ok || !found.node) return std::nullopt;
    return hives_[found.at.hive]->findValue(*found.node, *name16);
}

std::optional<WineRegistry::StringValue>
WineRegistry::readString(RegKey root, std::string_view path, std::string_view name) {
    const auto value = readValue(root, path, name);
    return value ? AsString(*value) : std::nullopt;
}

std::optional<std::uint32_t> WineRegistry::readDword(RegKey root, std::string_view path,
                                                     std::string_view name) {
    const auto value = readValue(root, path, name);
    if (!value || value->type != RegType::Dword || value->data.size() != 4) return std::nullopt;
    return LittleEndian32(std::span<const std::uint8_t>(value->data).first<4>());
}

std::vector<WineRegistry::StringValue> WineRegistry::readStrings(RegKey root,
                                                                 std::string_view path) {
    std::vector<StringValue> out;
    Handle h;
    Found found;
    if (handleOf(root, h) != RegStatus::Ok) return out;
    std::vector<RegValue> values;
    if (h.classes) {
        ClassesKey key;
        if (classesKey(classesPath(h, path), key) != RegStatus::Ok) return out;
        values = classesValues(key);
    } else {
        if (find(h, path, found) != RegStatus::Ok || !found.node) return out;
        values = hives_[found.at.hive]->values(*found.node);
    }
    for (const RegValue& value : values)
        if (auto text = AsString(value)) out.push_back(std::move(*text));
    return out;
}

RegWriteState WineRegistry::writeState() {
    std::error_code ec;
    if (!std::filesystem::is_directory(prefix_, ec)) return RegWriteState::NoMachine;
    // While this object holds the lock, its file is not opened (closing another
    // descriptor of it would let the lock go): a write may go on, and its save checks
    // the lock again.
    if (heldLock_) return RegWriteState::Writable;
    switch (WineServerLockHolder(prefix_, roots_)) {
    case LockHolder::Wine:
        return RegWriteState::ServerRunning;
    case LockHolder::Corvane:
        return RegWriteState::OtherWriter;
    case LockHolder::Nobody:
        break;
    }
    return RegWriteState::Writable;
}

std::string WineRegistry::unreadable() {
    for (int i = 0; i < HiveCount; ++i) {
        RegHive* hive = hives_[i].get();
        if (!unsaved_[i]) refreshed(i);
        if (hive->state() == RegHive::State::Unreadable) return hive->error();
    }
    return {};
}

std::string WineRegistry::error() {
    std::string why = unreadable();
    return why.empty() ? lastError_ : why;
}

RegStatus WineRegistry::locate(const Location& at, Found& out) {
    out.at = at;
    out.node = nullptr;
    if (at.hive == kUsersRoot) return RegStatus::Ok;
    RegHive& hive = refreshed(at.hive);
    if (hive.state() == RegHive::State::Unreadable) return RegStatus::Unreadable;
    RegNode* node = &hive.root();
    for (const auto& name : at.names) {
        node = node->findChild(name);
        if (!node) return RegStatus::KeyDeleted;
    }
    out.node = node;
    return RegStatus::Ok;
}

RegStatus WineRegistry::followLink(Found& cur, int& links) {
    if (++links > kMaxLinks) return RegStatus::NotFound;
    const auto value = hives_[cur.at.hive]->findValue(*cur.node, u"SymbolicLinkValue");
    if (!value || value->type != RegType::Link) return RegStatus::NotFound;
    std::u16string target = Utf16FromBytes(value->data);
    while (!target.empty() && target.back() == 0)
        target.pop_back();
    const std::vector<std::u16string_view> names = PathNames(target);
    if (names.size() < 2 || !EqualsNoCase(names[0], u"Registry")) return RegStatus::NotFound;
    Location base;
    std::size_t rest = 2;
    if (EqualsNoCase(names[1], u"Machine")) {
        base.hive = Machine;
    } else if (EqualsNoCase(names[1], u"User") && names.size() >= 3) {
        if (EqualsNoCase(names[2], kDefaultUser)) {
            base.hive = UserDefault;
        } else if (EqualsNoCase(names[2], userSid())) {
            base.hive = User;
        } else {
            return userUnknown();
        }
        rest = 3;
    } else {
        return RegStatus::NotFound;
    }
    Found next;
    if (RegStatus s = locate(base, next); s != RegStatus::Ok) return s;
    if (RegStatus s = walk(next, std::span(names).subspan(rest), links); s != RegStatus::Ok)
        return s;
    cur = std::move(next);
    return RegStatus::Ok;
}

RegStatus WineRegistry::walk(Found& cur, std::span<const std::u16string_view> names, int& links,
                             bool openLastLink) {
    cur.at.names.reserve(cur.at.names.size() + names.size());
    for (const auto& name : names) {
        if (cur.at.hive == kUsersRoot) {
            // HKEY_USERS holds the two user branches.
            Location branch;
            if (EqualsNoCase(name, kDefaultUser)) {
                branch.hive = UserDefault;
            } else if (EqualsNoCase(name, userSid())) {
                branch.hive = User;
            } else {
                return userUnknown();
            }
            if (RegStatus s = locate(branch, cur); s != RegStatus::Ok) return s;
            continue;
        }
        RegNode* child = cur.node->findChild(name);
        if (!child) return RegStatus::NotFound;
        cur.at.names.push_back(child->name);
        cur.node = child;
        const bool last = &name == &names.back();
        if (!(openLastLink && last) && hives_[cur.at.hive]->isLink(*child)) {
            if (RegStatus s = followLink(cur, links); s != RegStatus::Ok) return s;
        }
    }
    return RegStatus::Ok;
}

RegStatus WineRegistry::rootLocation(RegKey root, Found& out) {
    int links = 0;
    switch (root) {
    case RootKey::LocalMachine:
        return locate({Machine, {}}, out);
    case RootKey::CurrentUser:
        return locate({User, {}}, out);
    case RootKey::Users:
        return locate({kUsersRoot, {}}, out);
    case RootKey::ClassesRoot: {
        if (RegStatus s = locate({Machine, {}}, out); s != RegStatus::Ok) return s;
        const std::u16string_view path[] = {u"Software", u"Classes"};
        return walk(out, path, links);
    }
    case RootKey::CurrentConfig: {
        if (RegStatus s = locate({Machine, {}}, out); s != RegStatus::Ok) return s;
        const std::u16string_view path[] = {u"System", u"CurrentControlSet", u"Hardware Profiles",
                                            u"Current"};
        return walk(out, path, links);
    }
    default:
        return RegStatus::InvalidHandle;
    }
}

RegStatus WineRegistry::handleOf(RegKey key, Handle& out) {
    if (key == RootKey::ClassesRoot) {
        out = Handle{key, {}, KeyAccess::AllAccess, true, {}};
        return RegStatus::Ok;
    }
    if (IsRootKey(key)) {
        Found found;
        if (RegStatus s = rootLocation(key, found); s != RegStatus::Ok) return s;
        out = {key, std::move(found.at), KeyAccess::AllAccess, false, {}};
        return RegStatus::Ok;
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) return RegStatus::InvalidHandle;
    out = it->second;
    return RegStatus::Ok;
}

RegStatus WineRegistry::find(const Handle& base, std::string_view path, Found& out,
                             bool openLastLink) {
    const auto path16 = Utf8ToUtf16(path);
    if (!path16) return RegStatus::NotFound;
    RegStatus s;
    // A path that begins with a backslash is taken from the root.
    if (!path16->empty() && (*path16)[0] == u'\\') {
        s = rootLocation(base.root, out);
    } else {
        s = locate(base.at, out);
    }
    if (s != RegStatus::Ok) return s;
    int links = 0;
    return walk(out, PathNames(*path16), links, openLastLink);
}

std::vector<std::u16string> WineRegistry::classesPath(const Handle& base, std::string_view path) {
    const auto path16 = Utf8ToUtf16(path).value_or(u"");
    std::vector<std::u16string> below;
    if (path16.empty() || path16[0] != u'\\') below = base.below;
    for (auto& name : SplitPath(path16))
        below.push_back(std::move(name));
    return below;
}

RegStatus WineRegistry::classesKey(const std::vector<std::u16string>& below, ClassesKey& out) {
    out = ClassesKey{};
    std::vector<std::u16string> names = {u"Software", u"Classes"};
    names.insert(names.end(), below.begin(), below.end());
    RegStatus failed = RegStatus::NotFound;
    for (const int hive : {User, Machine}) {
        Found& found = hive == User ? out.user : out.machine;
        int links = 0;
        RegStatus s = locate({hive, {}}, found);
        if (s == RegStatus::Ok)
            s = walk(found, std::vector<std::u16string_view>(names.begin(), names.end()), links);
        if (s == RegStatus::Ok)
            (hive == User ? out.inUser : out.inMachine) = true;
        else if (s == RegStatus::Unreadable)
            failed = s;
    }
    return out.inUser || out.inMachine ? RegStatus::Ok : failed;
}

std::optional<RegValue> WineRegistry::classesValue(const ClassesKey& key,
                                                   std::u16string_view name) {
    if (key.inUser)
        if (auto value = hives_[key.user.at.hive]->findValue(*key.user.node, name)) return value;
    if (key.inMachine) return hives_[key.machine.at.hive]->findValue(*key.machine.node, name);
    return std::nullopt;
}

std::vector<RegValue> WineRegistry::classesValues(const ClassesKey& key) {
    std::vector<RegValue> out;
    if (key.inUser) out = hives_[key.user.at.hive]->values(*key.user.node);
    if (!key.inMachine) return out;
    const std::size_t own = out.size();
    for (RegValue& value : hives_[key.machine.at.hive]->values(*key.machine.node)) {
        const auto shadowed =
            std::find_if(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(own),
                         [&](const RegValue& v) { return CompareNoCase(v.name, value.name) == 0; });
        if (shadowed == out.begin() + static_cast<std::ptrdiff_t>(own))
            out.push_back(std::move(value));
    }
    return out;
}

std::vector<std::u16string> WineRegistry::classesSubKeys(const ClassesKey& key) {
    std::vector<std::u16string> names;
    for (const Found* found : {&key.user, &key.machine}) {
        if ((found == &key.user ? !key.inUser : !key.inMachine) || !found->node) continue;
        for (const auto& child : found->node->children)
            names.push_back(child->name);
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return CompareNoCase(a, b) < 0; });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const auto& a, const auto& b) { return CompareNoCase(a, b) == 0; }),
                names.end());
    return names;
}

RegStatus WineRegistry::lockForWrite(std::optional<WineServerLock>& lock) {
    lastError_.clear();
    // A batch that holds the lock checks it again before it saves.
    if (batchDepth_ > 0 && heldLock_) return RegStatus::Ok;
    std::error_code ec;
    if (!std::filesystem::is_directory(prefix_, ec)) {
        lastError_ = "no Wine prefix at " + prefix_.string() + "; nothing was written";
        return RegStatus::AccessDenied;
    }
    // A batch keeps the lock until it saves, a hold until it ends.
    std::optional<WineServerLock>& held = batchDepth_ > 0 || holdDepth_ > 0 ? heldLock_ : lock;
    return held && held->stillHeld() ? RegStatus::Ok : takeLock(held);
}

RegStatus WineRegistry::takeLock(std::optional<WineServerLock>& held) {
    struct timespec start {};
    ::clock_gettime(CLOCK_REALTIME, &start);
    held.reset();
    held.emplace(prefix_, roots_);
    switch (held->result()) {
    case WineServerLock::Result::Locked:
        break;
    case WineServerLock::Result::ServerRunning:
        held.reset();
        lastError_ = "Wine is running for " + prefix_.string() +
                     "; it owns the registry, so nothing was written (close its programs or "
                     "run \"wineserver -k\" first)";
        return RegStatus::LockViolation;
    case WineServerLock::Result::OtherCorvane:
        held.reset();
        lastError_ = "another Corvane command is changing this prefix (" + prefix_.string() +
                     "); nothing was written, try again when it has finished";
        return RegStatus::LockViolation;
    case WineServerLock::Result::Failed:
        lastError_ = held->error() + "; nothing was written";
        held.reset();
        return RegStatus::WriteFault;
    }
    // What killed writes left behind goes now that no other write can run.
    for (auto& hive : hives_)
        RemoveStaleTemporaries(hive->file(), start);
    return RegStatus::Ok;
}

RegStatus WineRegistry::writableHive(int hive) {
    if (hive == kUsersRoot) {
        lastError_ = "HKEY_USERS itself holds no values; nothing was written";
        return RegStatus::AccessDenied;
    }
    // A file that is missing or could not be read is never written.
    switch (hives_[hive]->state()) {
    case RegHive::State::Loaded:
        return RegStatus::Ok;
    case RegHive::State::Missing:
        lastError_ = hives_[hive]->file().string() + " does not exist; nothing was written";
        return RegStatus::AccessDenied;
    case RegHive::State::Unreadable:
        break;
    }
    lastError_ = hives_[hive]->error();
    return RegStatus::Unreadable;
}

RegStatus WineRegistry::save(int hive) {
    if (batchDepth_ > 0) {
        ++changes_;
        unsaved_[hive] = true;
        return RegStatus::Ok;
    }
    const RegStatus s = writeHive(hive);
    // A hold lets the lock go when a change fails.
    if (s != RegStatus::Ok) heldLock_.reset();
    return s;
}

RegStatus WineRegistry::writeHive(int hive) {
    // Within a hold the folder is synced once, when it ends or the batch that saved
    // the file does.
    if (hives_[hive]->save(holdDepth_ == 0)) {
        if (holdDepth_ > 0) folderUnsynced_ = true;
        return RegStatus::Ok;
    }
    lastError_ = "cannot write " + hives_[hive]->file().string() + ": " +
                 hives_[hive]->saveError() + "; nothing was written";
    return RegStatus::WriteFault;
}

RegStatus WineRegistry::openKey(RegKey parent, std::string_view path, std::uint32_t access,
                                RegKey& result, std::uint32_t options) {
    Handle base;
    if (RegStatus s = handleOf(parent, base); s != RegStatus::Ok) return s;
    if (base.classes) {
        std::vector<std::u16string> below = classesPath(base, path);
        ClassesKey key;
        if (RegStatus s = classesKey(below, key); s != RegStatus::Ok) return s;
        result = nextHandle_++;
        handles_[result] = Handle{base.root, {}, access, true, std::move(below)};
        return RegStatus::Ok;
    }
    Found found;
    if (RegStatus s = find(base, path, found, options & KeyOption::OpenLink); s != RegStatus::Ok)
        return s;
    result = nextHandle_++;
    handles_[result] = Handle{base.root, std::move(found.at), access, false, {}};
    return RegStatus::Ok;
}

RegStatus WineRegistry::closeKey(RegKey key) {
    if (IsRootKey(key)) return RegStatus::Ok;
    return handles_.erase(key) ? RegStatus::Ok : RegStatus::InvalidHandle;
}

RegStatus WineRegistry::queryValue(RegKey key, std::string_view name, std::uint32_t& type,
                                   std::span<std::uint8_t> data, std::uint32_t& size) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (!(h.access & KeyAccess::QueryValue)) return RegStatus::AccessDenied;
    const auto name16 = Utf8ToUtf16(name);
    std::optional<RegValue> value;
    if (h.classes) {
        ClassesKey key;
        if (RegStatus s = classesKey(h.below, key); s != RegStatus::Ok) return KeyGone(s);
        if (!name16) return RegStatus::NotFound;
        value = classesValue(key, *name16);
    } else {
        Found found;
        if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) return s;
        if (!found.node || !name16) return RegStatus::NotFound;
        value = hives_[found.at.hive]->findValue(*found.node, *name16);
    }
    if (!value) return RegStatus::NotFound;
    type = value->type;
    size = static_cast<std::uint32_t>(value->data.size());
    if (data.empty()) return RegStatus::Ok;
    if (data.size() < value->data.size()) return RegStatus::MoreData;
    std::copy(value->data.begin(), value->data.end(), data.begin());
    return RegStatus::Ok;
}

RegStatus WineRegistry::setValue(RegKey key, std::string_view name, std::uint32_t type,
                                 std::span<const std::uint8_t> data) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (!(h.access & KeyAccess::SetValue)) return RegStatus::AccessDenied;
    const auto name16 = Utf8ToUtf16(name);
    if (!name16) return RegStatus::InvalidParameter;
    std::optional<WineServerLock> lock;
    if (RegStatus s = lockForWrite(lock); s != RegStatus::Ok) return s;
    Found found;
    if (h.classes) {
        ClassesKey key;
        if (RegStatus s = classesKey(h.below, key); s != RegStatus::Ok) return KeyGone(s);
        found = key.inUser ? key.user : key.machine;
    } else if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) {
        return s;
    }
    if (RegStatus s = writableHive(found.at.hive); s != RegStatus::Ok) return s;
    keepForCancel(found.at.hive);
    hives_[found.at.hive]->setValue(*found.node,
                                    RegValue{*name16, type, {data.begin(), data.end()}});
    return save(found.at.hive);
}

RegStatus WineRegistry::deleteValue(RegKey key, std::string_view name) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (!(h.access & KeyAccess::SetValue)) return RegStatus::AccessDenied;
    const auto name16 = Utf8ToUtf16(name);
    if (!name16) return RegStatus::NotFound;
    std::optional<WineServerLock> lock;
    if (RegStatus s = lockForWrite(lock); s != RegStatus::Ok) return s;
    Found found;
    if (h.classes) {
        // From the key whose value a read sees.
        ClassesKey key;
        if (RegStatus s = classesKey(h.below, key); s != RegStatus::Ok) return KeyGone(s);
        const bool userHas =
            key.inUser && hives_[User]->findValue(*key.user.node, *name16).has_value();
        found = userHas || !key.inMachine ? key.user : key.machine;
    } else if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) {
        return s;
    }
    if (RegStatus s = writableHive(found.at.hive); s != RegStatus::Ok) return s;
    keepForCancel(found.at.hive);
    if (!hives_[found.at.hive]->deleteValue(*found.node, *name16)) return RegStatus::NotFound;
    return save(found.at.hive);
}

RegStatus WineRegistry::queryInfoKey(RegKey key, std::uint32_t& subKeys,
                                     std::uint32_t& maxSubKeyLen) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (h.classes) {
        ClassesKey ck;
        if (RegStatus s = classesKey(h.below, ck); s != RegStatus::Ok) return KeyGone(s);
        const auto names = classesSubKeys(ck);
        subKeys = static_cast<std::uint32_t>(names.size());
        maxSubKeyLen = 0;
        for (const auto& n : names)
            maxSubKeyLen = std::max(maxSubKeyLen, static_cast<std::uint32_t>(n.size()));
        return RegStatus::Ok;
    }
    Found found;
    if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) return s;
    if (!found.node) {
        subKeys = 2;
        maxSubKeyLen = static_cast<std::uint32_t>(std::max(kDefaultUser.size(), userSid().size()));
        return RegStatus::Ok;
    }
    subKeys = static_cast<std::uint32_t>(found.node->children.size());
    maxSubKeyLen = 0;
    for (const auto& child : found.node->children)
        maxSubKeyLen = std::max(maxSubKeyLen, static_cast<std::uint32_t>(child->name.size()));
    return RegStatus::Ok;
}

RegStatus WineRegistry::enumKey(RegKey key, std::uint32_t index, std::string& name) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (!(h.access & KeyAccess::EnumerateSubKeys)) return RegStatus::AccessDenied;
    if (h.classes) {
        ClassesKey ck;
        if (RegStatus s = classesKey(h.below, ck); s != RegStatus::Ok) return KeyGone(s);
        const auto names = classesSubKeys(ck);
        if (index >= names.size()) return RegStatus::NoMoreItems;
        name = Utf16ToUtf8(names[index]);
        return RegStatus::Ok;
    }
    Found found;
    if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) return s;
    if (!found.node) {
        std::u16string names[] = {std::u16string(kDefaultUser), userSid()};
        if (CompareNoCase(names[0], names[1]) > 0) std::swap(names[0], names[1]);
        if (index >= 2) return RegStatus::NoMoreItems;
        name = Utf16ToUtf8(names[index]);
        return RegStatus::Ok;
    }
    if (index >= found.node->children.size()) return RegStatus::NoMoreItems;
    name = Utf16ToUtf8(found.node->children[index]->name);
    return RegStatus::Ok;
}

RegStatus WineRegistry::createKey(RegKey parent, std::string_view path, RegKey& result,
                                  std::uint32_t options) {
    Handle base;
    if (RegStatus s = handleOf(parent, base); s != RegStatus::Ok) return s;
    const auto path16 = Utf8ToUtf16(path);
    if (!path16) return RegStatus::InvalidParameter;
    if (base.classes) {
        // An existing key is opened where it is; a new one is made for the machine.
        std::vector<std::u16string> below = classesPath(base, path);
        ClassesKey ck;
        if (classesKey(below, ck) != RegStatus::Ok) {
            std::u16string full = u"\\Software\\Classes";
            for (const auto& name : below)
                full += u"\\" + name;
            RegKey made = 0;
            if (RegStatus s = createKey(RootKey::LocalMachine, Utf16ToUtf8(full), made);
                s != RegStatus::Ok)
                return s;
            (void)closeKey(made);
        }
        result = nextHandle_++;
        handles_[result] = Handle{base.root, {}, KeyAccess::AllAccess, true, std::move(below)};
        return RegStatus::Ok;
    }
    const std::vector<std::u16string> names = SplitPath(*path16);
    // Looked up and made under Wine's own lock, as every write is.
    std::optional<WineServerLock> lock;
    if (RegStatus s = lockForWrite(lock); s != RegStatus::Ok) return s;
    // The longest part of the path that exists (links followed), then the rest made.
    Found found;
    std::size_t have = names.size();
    const bool link = options & KeyOption::CreateLink;
    for (;; --have) {
        std::u16string part = !path16->empty() && (*path16)[0] == u'\\' ? u"\\" : u"";
        for (std::size_t i = 0; i < have; ++i)
            part += (i ? u"\\" : u"") + names[i];
        // A link asked for is looked up itself, never followed.
        if (find(base, Utf16ToUtf8(part), found, link && have == names.size()) == RegStatus::Ok)
            break;
        if (have == 0) return RegStatus::NotFound;
    }
    if (have < names.size()) {
        if (!found.node) return RegStatus::AccessDenied; // nothing is made beside the users
        if (RegStatus s = writableHive(found.at.hive); s != RegStatus::Ok) return s;
        keepForCancel(found.at.hive);
        RegHive& hive = *hives_[found.at.hive];
        RegNode* node = found.node;
        for (std::size_t i = have; i < names.size(); ++i) {
            node = &hive.addKey(*node, names[i]);
            found.at.names.push_back(node->name);
        }
        if (link) hive.markLink(*node);
        if (RegStatus s = save(found.at.hive); s != RegStatus::Ok) return s;
    }
    result = nextHandle_++;
    handles_[result] = Handle{base.root, std::move(found.at), KeyAccess::AllAccess, false, {}};
    return RegStatus::Ok;
}

RegStatus WineRegistry::enumValue(RegKey key, std::uint32_t index, std::string& name,
                                  std::uint32_t& type, std::vector<std::uint8_t>& data) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    if (!(h.access & KeyAccess::QueryValue)) return RegStatus::AccessDenied;
    std::vector<RegValue> values;
    if (h.classes) {
        ClassesKey ck;
        if (RegStatus s = classesKey(h.below, ck); s != RegStatus::Ok) return KeyGone(s);
        values = classesValues(ck);
    } else {
        Found found;
        if (RegStatus s = locate(h.at, found); s != RegStatus::Ok) return s;
        if (!found.node) return RegStatus::NoMoreItems;
        values = hives_[found.at.hive]->values(*found.node);
    }
    if (index >= values.size()) return RegStatus::NoMoreItems;
    name = Utf16ToUtf8(values[index].name);
    type = values[index].type;
    data = values[index].data;
    return RegStatus::Ok;
}

RegStatus WineRegistry::deleteKey(RegKey key, std::string_view path) {
    Handle h;
    if (RegStatus s = handleOf(key, h); s != RegStatus::Ok) return s;
    std::optional<WineServerLock> lock;
    if (RegStatus s = lockForWrite(lock); s != RegStatus::Ok) return s;
    Found found;
    if (h.classes) {
        const std::vector<std::u16string> below = classesPath(h, path);
        if (below.empty()) return RegStatus::AccessDenied;
        ClassesKey ck;
        if (RegStatus s = classesKey(below, ck); s != RegStatus::Ok) return s;
        found = ck.inUser ? ck.user : ck.machine;
    } else if (RegStatus s = find(h, path, found, true); s != RegStatus::Ok) {
        return s;
    }
    // The roots of the branches are never deleted, nor a key that has subkeys.
    if (!found.node || found.at.names.empty() || !found.node->children.empty())
        return RegStatus::AccessDenied;
    if (RegStatus s = writableHive(found.at.hive); s != RegStatus::Ok) return s;
    keepForCancel(found.at.hive);
    hives_[found.at.hive]->deleteKey(*found.node);
    return save(found.at.hive);
}

} // namespace corvane::wine
