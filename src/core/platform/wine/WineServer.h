// Whether a wineserver runs for a prefix. While one runs it owns the prefix's
// registry and writes its own copy over the files, so nobody else may change them.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvane::wine {

// Where wineservers keep their folders. The defaults are the real places; tests put
// them below a folder of their own.
struct ServerRoots {
    std::filesystem::path runUser = "/run/user"; // <runUser>/<uid>/wine/server-...
    std::filesystem::path tmp = "/tmp";          // /tmp/.wine-<uid>, /tmp/<named folder>
    std::filesystem::path tmpDir;                // $TMPDIR; empty: the same as `tmp`

    ServerRoots() = default;
    // Every place below `root`: the user's runtime folders in <root>/run-user.
    ServerRoots(const std::filesystem::path& root); // NOLINT: implicit on purpose
    ServerRoots(std::filesystem::path runUserRoot, std::filesystem::path tmpRoot,
                std::filesystem::path tmpDirRoot);
    // The real places, with $TMPDIR from the environment.
    static ServerRoots FromProcess();
    const std::filesystem::path& tmpDirOrTmp() const { return tmpDir.empty() ? tmp : tmpDir; }
};

// The wineserver's folder for `prefix` as the installed Wine (Debian's) finds it,
// server-<st_dev hex>-<st_ino hex> below:
//  - <runUser>/<uid>/wine when <runUser>/<uid> is a folder (a systemd session);
//  - else <tmpDir>/<name> where the prefix's file "wineserver" (mode 0400) names
//    the folder; when that file is missing Wine makes a new <tmpDir>/wine-XXXXXX
//    and writes its name there;
//  - Wine's own builds use <tmp>/.wine-<uid>, given here when neither is known.
// Nothing is made. Empty when the prefix does not exist.
std::filesystem::path WineServerDir(const std::filesystem::path& prefix,
                                    const ServerRoots& roots = {});

// Every folder where a wineserver for `prefix` may hold its lock: the three above,
// and the named folder below both <tmpDir> and <tmp>.
std::vector<std::filesystem::path> WineServerDirs(const std::filesystem::path& prefix,
                                                  const ServerRoots& roots = {});

// WineServerDir, made as wineserver makes it when it is missing (folders of mode
// 0700, the name file of mode 0400); empty, with `error` naming the place, when it
// cannot be made.
std::filesystem::path MakeWineServerDir(const std::filesystem::path& prefix,
                                        const ServerRoots& roots, std::string& error);

// Who holds the lock of the server folder for a prefix: a wineserver holds byte 0 of
// "lock"; a Corvane command holds byte 1 and byte 0 while it changes the registry.
enum class LockHolder { Nobody, Wine, Corvane };
LockHolder WineServerLockHolder(const std::filesystem::path& prefix, const ServerRoots& roots = {});

// True while a wineserver (not a Corvane command) holds the lock in any of the
// folders of WineServerDirs.
bool WineServerRunning(const std::filesystem::path& prefix, const ServerRoots& roots = {});

// Wine's own lock on a prefix, held for one change of its registry files: from the
// check that no wineserver runs to the end of the save, so none can start in between
// (a wineserver that finds the lock taken leaves the prefix to the one it thinks
// runs, and its program tries again a little later). It is taken in the folder the
// installed Wine uses, made as wineserver makes it, and the other folders are checked
// too. Released when the object goes; while it is held, nothing else in the process
// may open the lock file.
class WineServerLock {
public:
    enum class Result { Locked, ServerRunning, OtherCorvane, Failed };
    WineServerLock(const std::filesystem::path& prefix, const ServerRoots& roots);
    ~WineServerLock();
    WineServerLock(const WineServerLock&) = delete;
    WineServerLock& operator=(const WineServerLock&) = delete;

    Result result() const { return result_; }
    // Why the lock could not be taken (Failed), naming the file or folder.
    const std::string& error() const { return error_; }
    // Whether the lock, once taken, still keeps every wineserver away from the prefix:
    // its file is still the one locked (nobody removed or replaced it) in the folder the
    // installed Wine takes, and nobody holds the lock in another of WineServerDirs.
    // Opens no lock file of its own folder, so that its locks stay held.
    bool stillHeld() const;

private:
    std::filesystem::path prefix_;
    ServerRoots roots_;
    std::filesystem::path dir_; // the folder whose lock file is held
    dev_t lockDev_ = 0;         // the lock file held
    ino_t lockIno_ = 0;
    int fd_ = -1;
    Result result_ = Result::Failed;
    std::string error_;
};

} // namespace corvane::wine
