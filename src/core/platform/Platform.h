// The operating-system services the core needs, behind one interface.
//
// Exactly one Platform is active in a process (ActivePlatform()). On Linux it is a
// Wine prefix (platform/wine); tests install their own on a temporary folder with
// PlatformScope. The engine reaches the machine only through this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A registry key handle: one of the predefined roots below, or a key opened with
// Platform::regOpenKey.
using RegKey = std::uint64_t;

// The predefined roots, with their Windows handle values.
namespace RootKey {
inline constexpr RegKey ClassesRoot = 0x80000000;
inline constexpr RegKey CurrentUser = 0x80000001;
inline constexpr RegKey LocalMachine = 0x80000002;
inline constexpr RegKey Users = 0x80000003;
inline constexpr RegKey CurrentConfig = 0x80000005;
} // namespace RootKey

bool IsRootKey(RegKey key);

// Access rights, with their Windows values.
namespace KeyAccess {
inline constexpr std::uint32_t QueryValue = 0x0001;
inline constexpr std::uint32_t SetValue = 0x0002;
inline constexpr std::uint32_t CreateSubKey = 0x0004;
inline constexpr std::uint32_t EnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t Notify = 0x0010;
inline constexpr std::uint32_t CreateLink = 0x0020;
inline constexpr std::uint32_t Delete = 0x00010000;
inline constexpr std::uint32_t ReadControl = 0x00020000;
inline constexpr std::uint32_t Read = ReadControl | QueryValue | EnumerateSubKeys | Notify;
inline constexpr std::uint32_t Write = ReadControl | SetValue | CreateSubKey;
inline constexpr std::uint32_t AllAccess = 0x000F003F;
} // namespace KeyAccess

// Options of regOpenKey and regCreateKey, with their Windows values.
namespace KeyOption {
// regCreateKey: a key made is a link key; its SymbolicLinkValue (REG_LINK) names the
// key it points to.
inline constexpr std::uint32_t CreateLink = 0x00000002;
// A link key named last in the path is opened itself, not the key it points to.
inline constexpr std::uint32_t OpenLink = 0x00000008;
} // namespace KeyOption

// Value types, with their Windows codes.
namespace RegType {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t Dword = 4;
inline constexpr std::uint32_t DwordBigEndian = 5;
inline constexpr std::uint32_t Link = 6;
inline constexpr std::uint32_t MultiSz = 7;
inline constexpr std::uint32_t Qword = 11;
} // namespace RegType

// Results of the registry primitives, with the Windows error codes they stand for.
enum class [[nodiscard]] RegStatus : std::int32_t{
    Ok = 0,
    NotFound = 2,       // ERROR_FILE_NOT_FOUND: no such key or value
    AccessDenied = 5,   // ERROR_ACCESS_DENIED: the key was not opened for this
    InvalidHandle = 6,  // ERROR_INVALID_HANDLE
    WriteFault = 29,    // ERROR_WRITE_FAULT: the store could not be written
    LockViolation = 33, // ERROR_LOCK_VIOLATION: another program owns the registry
    InvalidParameter = 87,
    MoreData = 234,    // ERROR_MORE_DATA: the buffer is too small
    NoMoreItems = 259, // ERROR_NO_MORE_ITEMS
    Unreadable = 1009, // ERROR_BADDB: the store cannot be read, or is not one
    KeyDeleted = 1018, // ERROR_KEY_DELETED: the opened key is gone
};

// Whether registry writes can go through, and if not, why.
enum class RegWriteState {
    Writable,
    ServerRunning, // a program of the machine owns the registry (a running wineserver)
    OtherWriter,   // another Corvane command is changing the registry just now
    NoMachine,     // there is no machine to write to (a missing prefix)
};

// Shell special folders, by their CSIDL numbers.
namespace Csidl {
inline constexpr int Desktop = 0;
inline constexpr int Programs = 2;
inline constexpr int Personal = 5;
inline constexpr int Startup = 7;
inline constexpr int NetHood = 19;
inline constexpr int Fonts = 20;
} // namespace Csidl

// The Windows version values of the machine (what GetVersionEx reports).
struct WindowsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::string servicePack; // "Service Pack 1", or empty
    bool operator==(const WindowsVersion&) const = default;
};

// Where the machine is, as the user knows it (a Wine prefix's folder), and whether it
// is there. The path is empty for the running system itself.
struct MachinePlace {
    std::string path;
    bool exists = false;
};

class Platform {
public:
    virtual ~Platform() = default;

    // --- Registry ---------------------------------------------------------------
    // Names and paths are UTF-8. A path is relative to `parent`; a path that begins
    // with a backslash is taken from the root `parent` belongs to. Keys are opened,
    // never created. `options` are KeyOption flags.
    virtual RegStatus regOpenKey(RegKey parent, std::string_view path, std::uint32_t access,
                                 RegKey& result, std::uint32_t options = 0) = 0;
    virtual RegStatus regCloseKey(RegKey key) = 0;
    // Reads a value's stored type and data size; when `data` is not empty its bytes
    // are copied there too, and MoreData comes back when it is too small (type and size
    // are filled in all the same). Strings are UTF-16LE with their terminating NUL.
    virtual RegStatus regQueryValue(RegKey key, std::string_view name, std::uint32_t& type,
                                    std::span<std::uint8_t> data, std::uint32_t& size) = 0;
    virtual RegStatus regSetValue(RegKey key, std::string_view name, std::uint32_t type,
                                  std::span<const std::uint8_t> data) = 0;
    virtual RegStatus regDeleteValue(RegKey key, std::string_view name) = 0;
    // Number of subkeys and the length of the longest subkey name in UTF-16 units.
    virtual RegStatus regQueryInfoKey(RegKey key, std::uint32_t& subKeys,
                                      std::uint32_t& maxSubKeyLen) = 0;
    virtual RegStatus regEnumKey(RegKey key, std::uint32_t index, std::string& name) = 0;
    // Deletes the subkey `path` of `key`, which must have no subkeys of its own. A
    // link key named last is deleted itself, never the key it points to.
    virtual RegStatus regDeleteKey(RegKey key, std::string_view path) = 0;
    // Opens `path` below `parent`, making the keys of it that are missing (what undoing
    // a deleted key needs).
    // With KeyOption::CreateLink, the last key made is a link key and is opened itself.
    virtual RegStatus regCreateKey(RegKey parent, std::string_view path, RegKey& result,
                                   std::uint32_t options = 0) = 0;
    // The value at `index` of an opened key, in stored order; NoMoreItems past the last.
    virtual RegStatus regEnumValue(RegKey key, std::uint32_t index, std::string& name,
                                   std::uint32_t& type, std::vector<std::uint8_t>& data) = 0;
    virtual RegWriteState regWriteState() = 0;
    virtual MachinePlace machinePlace() = 0;
    // Why the registry cannot be read (Unreadable) or the last write was refused or
    // failed, in a text that names the file or folder; empty when there is nothing to
    // report.
    virtual std::string registryError() = 0;
    // Why the machine cannot be scanned or repaired, naming the folder or file: there
    // is no machine at its place (on Linux: no folder, or one without system.reg, is no
    // Wine prefix), or one of its registry files cannot be read. Empty when it can be;
    // a refused write does not count.
    virtual std::string machineError() = 0;

    // --- Environment and folders ---------------------------------------------------
    // Replaces every %NAME% whose NAME is defined (matched without regard to case);
    // references to undefined names, and a lone %, stay as written.
    virtual std::string expandEnvironment(std::string_view text) = 0;
    // The path of a special folder (Csidl), or the empty text when none is known.
    virtual std::string specialFolder(int csidl) = 0;
    // The Windows path under which the machine sees a local folder ("Z:\\home\\...\\"),
    // or the empty text when no drive maps it.
    virtual std::string windowsPathOf(const std::string& linuxPath) {
        (void)linuxPath;
        return {};
    }
    virtual WindowsVersion windowsVersion() = 0;
    // The user's short date format, e.g. "yyyy-MM-dd".
    virtual std::string shortDateFormat() = 0;

    // --- Files ----------------------------------------------------------------------
    // Paths are the machine's own (Windows paths). `*` and `?` in the last component
    // of a file test, a delete or a copy source match without regard to case.
    // True when the first directory entry that matches `path` is not a folder.
    [[nodiscard]] virtual bool fileExists(std::string_view path) = 0;
    [[nodiscard]] virtual bool folderExists(std::string_view path) = 0;
    // Creates one folder; fails when its parent is missing or it exists.
    [[nodiscard]] virtual bool createFolder(std::string_view path) = 0;
    // True when `path` names a symbolic link itself (whatever it points to, if anything).
    [[nodiscard]] virtual bool linkExists(std::string_view path) {
        (void)path;
        return false;
    }
    // Makes the folder `path` and every folder missing on its way. A real folder there
    // is kept (true); a link there is taken away itself (never what it points to) and
    // the folder made in its place; a file there fails it. Confined like a delete: the
    // place must lie inside the machine, and no drive or the machine's own folder is
    // replaced.
    [[nodiscard]] virtual bool makeFolders(std::string_view path) {
        (void)path;
        return false;
    }
    // The place of this system's own file tree that `path` names (links on the way not
    // followed, missing parts taken as named), as deleteTargets names places; empty
    // when it names none or a drive's root.
    virtual std::string hostPathOf(std::string_view path) {
        (void)path;
        return {};
    }
    // The shell's silent delete: a file, a folder with everything in it, or every
    // match of a wildcard. False when nothing was found or something failed.
    [[nodiscard]] virtual bool shellDelete(std::string_view path) = 0;
    // The shell's silent copy: overwrites a file, copies into an existing folder,
    // creates a missing destination as the copy, copies folders whole and every
    // wildcard match into the destination folder. A folder copied onto an existing one
    // is merged into it file by file; what the copy does not name stays. A file where a
    // folder goes, or a folder where a file goes, fails that part.
    [[nodiscard]] virtual bool shellCopy(std::string_view source, std::string_view destination) = 0;
    // The entries of this system's own file tree that shellDelete(path) would take away,
    // as they stand now.
    virtual std::vector<std::string> deleteTargets(std::string_view path) = 0;
    // Every entry shellCopy(source, destination) will write, as it stands now: each file
    // and link, down into folders that exist already (those are merged into and not
    // listed), and each folder it makes whole, as one entry. Moving each listed entry
    // that exists away before the copy, and taking each listed entry away and putting
    // the moved ones back after it, gives back the tree as it was.
    virtual std::vector<std::string> copyTargets(std::string_view source,
                                                 std::string_view destination) = 0;

    // Why the last folder creation, delete or copy was refused or failed, naming the
    // path; empty when it worked. Changes reach only the machine's own files: on
    // Linux, a place whose real location lies outside the Wine prefix is refused.
    virtual std::string fileError() = 0;
    // Why a change at `hostPath`, a place of this system's own file tree as
    // deleteTargets and copyTargets name it, would be refused: the check a delete or a
    // copy makes before it writes. The entry must lie inside the machine and, unless
    // `entryItself` (a link there is the entry changed), so must what it points to.
    // The empty text when the change may be made.
    virtual std::string refusalAt(const std::string& hostPath, bool entryItself) {
        (void)hostPath;
        (void)entryItself;
        return {};
    }

    // --- Steps ----------------------------------------------------------------------
    // The engine evaluates one rule item, or carries out one repair action, as one step
    // (PlatformStep). Within a step a backend may check the machine for outside
    // changes once, at the first call that needs it, rather than on every call; a
    // change made from outside shows from the next step on. Outside steps every call
    // sees the machine as it is. Steps may nest; the outermost one counts.
    virtual void beginStep() {}
    virtual void endStep() {}

    // --- Batches of registry changes ------------------------------------------------
    // Between beginBatch() and endBatch() a backend may keep registry changes in memory,
    // each one seen by every read that follows, and write each changed file once, at
    // endBatch(). endBatch() is false when a file could not be written: that file is
    // then left as it was and holds none of the batch's changes, and registryError()
    // says why. Batches may nest; the outermost one writes.
    virtual void beginBatch() {}
    [[nodiscard]] virtual bool endBatch() { return true; }
    // Ends a batch without writing: the changes it holds are dropped and the files
    // read again as they are. A batch inside another drops only its own changes: those
    // the batch around it made before it stay, to be written when that one ends.
    virtual void cancelBatch() {}

    // --- Holding the registry for a run of changes ----------------------------------
    // Between beginHold() and endHold() a backend may keep what guards its registry
    // writes (on Linux, Wine's lock on the prefix) from the first change on rather
    // than take it for each change, and leave the last step of making a saved file
    // durable (the sync of its folder) to endHold(), or to the end of the batch that
    // saved it (what follows a batch may count on its files). Every change still
    // checks before it is written that nobody else may write the registry; what guards
    // the writes is let go after a failure and at endHold(). Holds may nest; the
    // outermost one counts.
    virtual void beginHold() {}
    virtual void endHold() {}
    // Lets go at once of what a hold keeps, for a wait within it (a question to the
    // user); the next change takes it again.
    virtual void letGo() {}
};

// A hold of `platform`'s registry (Platform::beginHold), from construction to
// destruction.
class PlatformHold {
public:
    explicit PlatformHold(Platform& platform) : platform_(platform) { platform_.beginHold(); }
    ~PlatformHold() { platform_.endHold(); }
    PlatformHold(const PlatformHold&) = delete;
    PlatformHold& operator=(const PlatformHold&) = delete;

private:
    Platform& platform_;
};

// One step of the engine on `platform`, from construction to destruction.
class PlatformStep {
public:
    explicit PlatformStep(Platform& platform) : platform_(platform) { platform_.beginStep(); }
    ~PlatformStep() { platform_.endStep(); }
    PlatformStep(const PlatformStep&) = delete;
    PlatformStep& operator=(const PlatformStep&) = delete;

private:
    Platform& platform_;
};

// The active platform. Unless one was installed, the default one for this system is
// made on first use (on Linux: the Wine prefix named by $WINEPREFIX, else ~/.wine).
Platform& ActivePlatform();

// Installs `platform` as the active one for the scope's lifetime and restores the
// previous one afterwards.
class PlatformScope {
public:
    explicit PlatformScope(Platform& platform);
    ~PlatformScope();
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    Platform* previous_;
};

// The platform of this system; defined by the backend that is built.
std::unique_ptr<Platform> MakeDefaultPlatform();

// A machine the user may look at, named as the user knows it ("Steam: ELDEN RING
// (1245620)") and its place (a Wine prefix's folder).
struct MachineChoice {
    std::string label;
    std::string path;
};

// Defined by the backend that is built, like MakeDefaultPlatform:
// every machine of the user (on Linux: the Wine prefixes of the user's home); what was
// skipped on the way goes to `notes` when given.
std::vector<MachineChoice> FindMachines(std::vector<std::string>* notes = nullptr);
// Whether a machine is at `machinePath` (a folder with system.reg and drive_c/).
bool MachineExists(const std::string& machinePath);
// The platform of the machine at `machinePath`.
std::unique_ptr<Platform> MakePlatformFor(const std::string& machinePath);
// Whether the process's environment names the machine ($WINEPREFIX); a machine the
// user chose in the window is then not used.
bool MachineNamedByEnvironment();

} // namespace corvane
