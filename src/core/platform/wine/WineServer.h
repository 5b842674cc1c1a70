// Whether a wineserver runs for a prefix. While one runs it owns the prefix's
// registry and writes its own copy over the files, so nobody else may change them.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::wine {

// The wineserver's folder for `prefix`, as Wine computes it:
// <tmpRoot>/.wine-<uid>/server-<st_dev hex>-<st_ino hex>. A file named "wineserver"
// in the prefix may name another folder to use instead of ".wine-<uid>". Empty when
// the prefix does not exist.
std::filesystem::path WineServerDir(const std::filesystem::path& prefix,
                                    const std::filesystem::path& tmpRoot = "/tmp");

// True while a process holds the server's write lock on byte 0 of "lock" there.
bool WineServerRunning(const std::filesystem::path& prefix,
                       const std::filesystem::path& tmpRoot = "/tmp");

// Wine's own lock on a prefix, held for one change of its registry files: from the
// check that no wineserver runs to the end of the save, so none can start in between
// (a wineserver that finds the lock taken leaves the prefix to the one it thinks
// runs, and its program tries again a little later). The server's folder and lock
// file are made as wineserver makes them when they are missing. Released when the
// object goes; while it is held, nothing else in the process may open the lock file.
class WineServerLock {
public:
    enum class Result { Locked, ServerRunning, Failed };
    WineServerLock(const std::filesystem::path& prefix, const std::filesystem::path& tmpRoot);
    ~WineServerLock();
    WineServerLock(const WineServerLock&) = delete;
    WineServerLock& operator=(const WineServerLock&) = delete;

    Result result() const { return result_; }
    // Why the lock could not be taken (Failed), naming the file or folder.
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    Result result_ = Result::Failed;
    std::string error_;
};

} // namespace corvane::wine
