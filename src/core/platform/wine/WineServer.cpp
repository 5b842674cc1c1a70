#include "core/platform/wine/WineServer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::wine {

namespace {

std::string ServerBaseName(const std::filesystem::path& prefix) {
    std::ifstream in(prefix / "wineserver");
    std::string name;
    if (in && std::getline(in, name)) {
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        // Only a plain folder name is taken; anything else could point outside.
        if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
            return name;
    }
    return ".wine-" + std::to_string(::getuid());
}

} // namespace

std::filesystem::path WineServerDir(const std::filesystem::path& prefix,
                                    const std::filesystem::path& tmpRoot) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return tmpRoot / ServerBaseName(prefix) / leaf;
}

bool WineServerRunning(const std::filesystem::path& prefix, const std::filesystem::path& tmpRoot) {
    const std::filesystem::path dir = WineServerDir(prefix, tmpRoot);
    if (dir.empty()) return false;
    const int fd = ::open((dir / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

namespace {

// Makes a folder as wineserver does (mode 0700) unless it is there.
bool MakeFolder(const std::filesystem::path& dir, std::string& error) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        const bool made = errno == ENOENT && (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) &&
                          ::lstat(dir.c_str(), &st) == 0;
        if (!made) {
            error =
                "cannot make Wine's server folder " + dir.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "Wine's server folder " + dir.string() + " is not a folder";
        return false;
    }
    return true;
}

} // namespace

WineServerLock::WineServerLock(const std::filesystem::path& prefix,
                               const std::filesystem::path& tmpRoot) {
    const std::filesystem::path dir = WineServerDir(prefix, tmpRoot);
    if (dir.empty()) {
        error_ = "no Wine prefix at " + prefix.string();
        return;
    }
    if (!MakeFolder(dir.parent_path(), error_) || !MakeFolder(dir, error_)) return;
    const std::filesystem::path file = dir / "lock";
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error_ = "Wine's lock file " + file.string() + " is not a file";
        return;
    }
    fd_ = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "cannot open Wine's lock file " + file.string() + ": " + std::strerror(errno);
        return;
    }
    // A process lock, as wineserver takes it: Wine's tools see who holds it.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    if (::fcntl(fd_, F_SETLK, &lock) == 0) {
        result_ = Result::Locked;
    } else if (errno == EAGAIN || errno == EACCES) {
        result_ = Result::ServerRunning;
    } else {
        error_ = "cannot lock Wine's lock file " + file.string() + ": " + std::strerror(errno);
    }
}

WineServerLock::~WineServerLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace corvane::wine
