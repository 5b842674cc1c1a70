// The registry of a Wine prefix: its three files behind the registry primitives.
//
// system.reg is HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER (and HKEY_USERS\<SID>),
// userdef.reg HKEY_USERS\.Default; HKEY_CURRENT_CONFIG HKLM\System\CurrentControlSet\Hardware
// Profiles\Current. Keys marked "#link" are followed, except one named last in a path opened with
// KeyOption::OpenLink or deleted. An open key remembers its path, so it stays valid when
// a file is read again after a change on disk. A file that cannot be read, or that
// Wine would not read, makes every key of its branch Unreadable and is never written.
//
// Each change holds Wine's lock on the prefix (WineServerLock) from its check that
// no wineserver runs until its file is saved. A batch keeps it until it saves, a hold
// until it ends; before a file is written the lock kept is checked again (it must
// still keep every wineserver away), and taken anew when it does not.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/platform/Platform.h"
#include "core/platform/wine/ChangeWatch.h"
#include "core/platform/wine/RegHive.h"
#include "core/platform/wine/WineServer.h"

namespace corvane::wine {

class WineRegistry {
public:
    explicit WineRegistry(std::filesystem::path prefix, ServerRoots roots = {});

    const std::filesystem::path& prefix() const { return prefix_; }
    RegHive& machineHive() { return *hives_[Machine]; }
    RegHive& userHive() { return *hives_[User]; }
    RegHive& userDefaultHive() { return *hives_[UserDefault]; }

    RegStatus openKey(RegKey parent, std::string_view path, std::uint32_t access, RegKey& result,
                      std::uint32_t options = 0);
    RegStatus closeKey(RegKey key);
    RegStatus queryValue(RegKey key, std::string_view name, std::uint32_t& type,
                         std::span<std::uint8_t> data, std::uint32_t& size);
    RegStatus setValue(RegKey key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data);
    RegStatus deleteValue(RegKey key, std::string_view name);
    RegStatus queryInfoKey(RegKey key, std::uint32_t& subKeys, std::uint32_t& maxSubKeyLen);
    RegStatus enumKey(RegKey key, std::uint32_t index, std::string& name);
    RegStatus deleteKey(RegKey key, std::string_view path);
    // KeyOption::CreateLink makes the last key, when it is made, a link key ("#link").
    RegStatus createKey(RegKey parent, std::string_view path, RegKey& result,
                        std::uint32_t options = 0);
    RegStatus enumValue(RegKey key, std::uint32_t index, std::string& name, std::uint32_t& type,
                        std::vector<std::uint8_t>& data);
    RegWriteState writeState();
    // The first file that cannot be read, else why the last change was refused or
    // failed; empty when neither.
    std::string error();
    // Why the first file that cannot be read cannot be, naming it; empty when every
    // file can be read (or is missing). Each file is checked for a change on disk.
    std::string unreadable();

    // The SID of the prefix's user, from the header of user.reg.
    std::u16string userSid();

    // Conveniences for the backend's own reads. A string value is REG_SZ or
    // REG_EXPAND_SZ, read up to its first NUL.
    struct StringValue {
        std::string name, text;
        bool expandable = false;
    };
    std::optional<RegValue> readValue(RegKey root, std::string_view path, std::string_view name);
    std::optional<StringValue> readString(RegKey root, std::string_view path,
                                          std::string_view name);
    std::optional<std::uint32_t> readDword(RegKey root, std::string_view path,
                                           std::string_view name);
    // Every string value of a key, in stored order.
    std::vector<StringValue> readStrings(RegKey root, std::string_view path);
    // Changes whenever one of the files was read or written.
    std::uint64_t generation();

    // Within a step each file is checked for a change on disk at most once
    // (Platform::beginStep), and only when the watch on the prefix tells of a change.
    void beginStep();
    void endStep();
    // Within a batch a change is made in memory and its file marked; the outermost
    // endBatch() saves each marked file once and lets Wine's lock go, which the batch
    // holds from its first change on. A marked file is not read again before then.
    void beginBatch();
    [[nodiscard]] bool endBatch();
    // Ends a batch; the outermost one then drops what the batch changed. A batch just
    // inside the outermost one drops its own changes and keeps those made before it,
    // for the outermost one to write (a batch deeper in drops those of the batch it
    // is in).
    void cancelBatch();
    // Within a hold Wine's lock is kept from the first change to the outermost
    // endHold() (let go at once when a change or a save fails), and the prefix folder
    // is synced once for every file saved meanwhile: at the end of the outermost
    // batch that saved it, or at that endHold().
    void beginHold();
    void endHold();
    // Lets go of the lock a hold keeps (not of one a batch needs for its save).
    void letGo();

private:
    enum HiveId { Machine, User, UserDefault, HiveCount };
    static constexpr int kUsersRoot = -1; // HKEY_USERS itself

    struct Location {
        int hive = Machine;
        std::vector<std::u16string> names; // as stored, links already followed
    };
    struct Handle {
        RegKey root = 0;
        Location at;
        std::uint32_t access = 0;
        bool classes = false;              // a key of HKEY_CLASSES_ROOT
        std::vector<std::u16string> below; // its path below Software\Classes
    };
    struct Found {
        Location at;
        RegNode* node = nullptr; // null for HKEY_USERS itself
    };
    // A key of HKEY_CLASSES_ROOT under the user's classes and the machine's.
    struct ClassesKey {
        Found user, machine;
        bool inUser = false, inMachine = false;
    };

    RegStatus handleOf(RegKey key, Handle& out);
    RegStatus rootLocation(RegKey root, Found& out);
    RegStatus locate(const Location& at, Found& out);
    // `openLastLink`: a link key named last is taken itself.
    RegStatus walk(Found& cur, std::span<const std::u16string_view> names, int& links,
                   bool openLastLink = false);
    RegStatus followLink(Found& cur, int& links);
    RegStatus find(const Handle& base, std::string_view path, Found& out,
                   bool openLastLink = false);
    std::vector<std::u16string> classesPath(const Handle& base, std::string_view path);
    // Ok when the key exists in either branch.
    RegStatus classesKey(const std::vector<std::u16string>& below, ClassesKey& out);
    std::optional<RegValue> classesValue(const ClassesKey& key, std::u16string_view name);
    std::vector<RegValue> classesValues(const ClassesKey& key);
    std::vector<std::u16string> classesSubKeys(const ClassesKey& key);
    // Takes Wine's lock for a change (kept by a batch) and removes stale temporary
    // files; the key of the change is to be looked up after it.
    RegStatus lockForWrite(std::optional<WineServerLock>& lock);
    // Takes Wine's lock into `held`; the reason in lastError_ when it cannot.
    RegStatus takeLock(std::optional<WineServerLock>& held);
    RegStatus writableHive(int hive);
    // A SID that is not the user's: NotFound, or Unreadable when user.reg is.
    RegStatus userUnknown();
    // The outermost batch ends: its files saved, or dropped when it was cancelled.
    bool finishBatch();
    // Saves the file, or within a batch marks it for endBatch().
    RegStatus save(int hive);
    // Before a change to the file within a batch inside another: what the inner batch
    // drops when it is cancelled (the file's text, when it holds changes not saved).
    void keepForCancel(int hive);
    // The inner batch was cancelled: each file it changed as it was before it.
    void dropInner();
    // Writes the file now.
    RegStatus writeHive(int hive);
    // Syncs the prefix folder when a file saved within the hold is not yet durable.
    void syncSaved();
    // Reads the file again when it changed on disk, unless checked in this step or
    // since the watch last told of a change.
    RegHive& refreshed(int hive);
    void lookForChanges();

    std::filesystem::path prefix_;
    ServerRoots roots_;
    std::array<std::unique_ptr<RegHive>, HiveCount> hives_;
    std::unordered_map<RegKey, Handle> handles_;
    RegKey nextHandle_ = 1;
    std::string lastError_;
    // Tells when the files may have changed on disk; a file is checked (its stat
    // compared) once after each change told, and within a step at most once.
    ChangeWatch watch_;
    int stepDepth_ = 0;
    std::array<bool, HiveCount> checked_{};
    int batchDepth_ = 0;
    bool batchCancelled_ = false;
    int holdDepth_ = 0;
    bool folderUnsynced_ = false;            // a file was saved within the hold
    std::optional<WineServerLock> heldLock_; // kept by a batch or a hold
    std::array<bool, HiveCount> unsaved_{};
    // The batch just inside the outermost one: the files it changed, and the text of
    // those that held changes of the outer batch before it; whether a batch within it
    // was cancelled.
    std::array<bool, HiveCount> innerChanged_{};
    std::array<std::optional<std::string>, HiveCount> innerKept_{};
    bool innerCancelled_ = false;
    std::uint64_t changes_ = 0; // changes made in a batch, for generation()
};

} // namespace corvane::wine
