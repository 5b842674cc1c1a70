#include "core/platform/wine/WineServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvane::wine {

ServerRoots::ServerRoots(const std::filesystem::path& root)
    : runUser(root / "run-user"), tmp(root) {}

ServerRoots::ServerRoots(std::filesystem::path runUserRoot, std::filesystem::path tmpRoot,
                         std::filesystem::path tmpDirRoot)
    : runUser(std::move(runUserRoot)), tmp(std::move(tmpRoot)), tmpDir(std::move(tmpDirRoot)) {}

ServerRoots ServerRoots::FromProcess() {
    ServerRoots roots;
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir) roots.tmpDir = dir;
    return roots;
}

namespace {

std::string Uid() {
    static const std::string uid = std::to_string(::getuid());
    return uid;
}

std::filesystem::path RunUserDir(const ServerRoots& roots) {
    return roots.runUser / Uid();
}

// Whether Wine takes its folder below the user's runtime folder: it opens the folder
// as a folder (links followed).
bool HasRunUserDir(const ServerRoots& roots) {
    const int fd =
        ::open(RunUserDir(roots).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// The folder the prefix's "wineserver" file names, read once: `name` is empty when
// there is no usable one; `accepted` says whether Wine itself takes it (a file of
// mode 0400: Wine removes any other and makes a new one).
struct Named {
    std::string name;
    bool accepted = false;
};
Named NamedFolderOf(const std::filesystem::path& prefix) {
    const std::filesystem::path file = prefix / "wineserver";
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    Named named;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        named.accepted = (st.st_mode & 07777) == 0400;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) named.name.assign(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::string& name = named.name;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ' ||
                             name.back() == '\t'))
        name.pop_back();
    // Only a plain folder name is taken; anything else could point outside.
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name == "." || name == "..")
        return {};
    return named;
}

// The folder the prefix's "wineserver" file names; empty when there is no usable one.
// `strict` asks for what Wine itself accepts.
std::string NamedFolder(const std::filesystem::path& prefix, bool strict) {
    Named named = NamedFolderOf(prefix);
    return !strict || named.accepted ? std::move(named.name) : std::string();
}

// server-<st_dev hex>-<st_ino hex> of the prefix; empty when it is not a folder.
std::string ServerLeaf(const std::filesystem::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return leaf;
}

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

// As wineserver does when the prefix names no folder: a new <tmpDir>/wine-XXXXXX,
// its name written to the prefix's "wineserver" file (mode 0400). When another
// process wrote the file first, its folder is used.
std::string MakeNamedFolder(const std::filesystem::path& prefix, const ServerRoots& roots,
                            std::string& error) {
    const std::filesystem::path file = prefix / "wineserver";
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && NamedFolder(prefix, true).empty())
        ::unlink(file.c_str());
    std::string pattern = (roots.tmpDirOrTmp() / "wine-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make Wine's server folder in " + roots.tmpDirOrTmp().string() + ": " +
                std::strerror(errno);
        return {};
    }
    const std::string name = std::filesystem::path(pattern).filename().string();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
    if (fd < 0) {
        const int saved = errno;
        ::rmdir(pattern.c_str());
        if (saved == EEXIST) {
            if (std::string other = NamedFolder(prefix, false); !other.empty()) return other;
        }
        error = "cannot write Wine's file " + file.string() + ": " + std::strerror(saved);
        return {};
    }
    const bool written = ::write(fd, name.data(), name.size()) == static_cast<ssize_t>(name.size());
    const int saved = errno;
    ::close(fd);
    if (!written) {
        ::unlink(file.c_str());
        ::rmdir(pattern.c_str());
        error = "cannot write Wine's file " + file.string() + ": " + std::strerror(saved);
        return {};
    }
    return name;
}

// A write lock on one byte of the lock file, as wineserver takes byte 0.
struct flock WriteLockOn(off_t byte) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return lock;
}

LockHolder HolderIn(const std::filesystem::path& dir) {
    const int fd = ::open((dir / "lock").c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LockHolder::Nobody;
    const auto held = [fd](off_t byte) {
        struct flock lock = WriteLockOn(byte);
        return ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    };
    const LockHolder holder = !held(0)  ? LockHolder::Nobody
                              : held(1) ? LockHolder::Corvane
                                        : LockHolder::Wine;
    ::close(fd);
    return holder;
}

} // namespace

namespace {

// WineServerDir and WineServerDirs, from one look at the prefix.
struct Places {
    std::filesystem::path installed;
    std::vector<std::filesystem::path> all;
};
Places PlacesOf(const std::filesystem::path& prefix, const ServerRoots& roots, bool wantInstalled) {
    Places places;
    const std::string leaf = ServerLeaf(prefix);
    if (leaf.empty()) return places;
    const Named named = NamedFolderOf(prefix);
    if (wantInstalled) {
        if (HasRunUserDir(roots))
            places.installed = RunUserDir(roots) / "wine" / leaf;
        else if (named.accepted)
            places.installed = roots.tmpDirOrTmp() / named.name / leaf;
        else
            places.installed = roots.tmp / (".wine-" + Uid()) / leaf;
    }
    std::vector<std::filesystem::path> dirs;
    dirs.push_back(RunUserDir(roots) / "wine" / leaf);
    if (!named.name.empty()) {
        dirs.push_back(roots.tmpDirOrTmp() / named.name / leaf);
        dirs.push_back(roots.tmp / named.name / leaf);
    }
    dirs.push_back(roots.tmp / (".wine-" + Uid()) / leaf);
    for (auto& dir : dirs)
        if (std::find(places.all.begin(), places.all.end(), dir) == places.all.end())
            places.all.push_back(std::move(dir));
    return places;
}

} // namespace

std::filesystem::path WineServerDir(const std::filesystem::path& prefix, const ServerRoots& roots) {
    return PlacesOf(prefix, roots, true).installed;
}

std::vector<std::filesystem::path> WineServerDirs(const std::filesystem::path& prefix,
                                                  const ServerRoots& roots) {
    return PlacesOf(prefix, roots, false).all;
}

std::filesystem::path MakeWineServerDir(const std::filesystem::path& prefix,
                                        const ServerRoots& roots, std::string& error) {
    const std::string leaf = ServerLeaf(prefix);
    if (leaf.empty()) {
        error = "no Wine prefix at " + prefix.string();
        return {};
    }
    std::filesystem::path base;
    if (HasRunUserDir(roots)) {
        base = RunUserDir(roots) / "wine";
    } else {
        std::string name = NamedFolder(prefix, true);
        if (name.empty()) name = MakeNamedFolder(prefix, roots, error);
        if (name.empty()) return {};
        base = roots.tmpDirOrTmp() / name;
    }
    if (!MakeFolder(base, error) || !MakeFolder(base / leaf, error)) return {};
    return base / leaf;
}

LockHolder WineServerLockHolder(const std::filesystem::path& prefix, const ServerRoots& roots) {
    LockHolder found = LockHolder::Nobody;
    for (const auto& dir : WineServerDirs(prefix, roots)) {
        const LockHolder holder = HolderIn(dir);
        if (holder == LockHolder::Wine) return holder;
        if (holder == LockHolder::Corvane) found = holder;
    }
    return found;
}

bool WineServerRunning(const std::filesystem::path& prefix, const ServerRoots& roots) {
    return WineServerLockHolder(prefix, roots) == LockHolder::Wine;
}

WineServerLock::WineServerLock(const std::filesystem::path& prefix, const ServerRoots& roots)
    : prefix_(prefix), roots_(roots) {
    const std::filesystem::path dir = MakeWineServerDir(prefix, roots, error_);
    if (dir.empty()) return;
    dir_ = dir;
    const std::filesystem::path file = dir / "lock";
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error_ = "Wine's lock file " + file.string() + " is not a file";
        return;
    }
    fd_ = ::open(file.c_str(), O_CREAT | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "cannot open Wine's lock file " + file.string() + ": " + std::strerror(errno);
        return;
    }
    // Process locks, as wineserver takes them: Wine's tools see who holds them. Byte 1
    // first, which only Corvane takes, so that a holder of byte 0 alone is a wineserver.
    for (const auto& [byte, heldBy] :
         {std::pair{off_t{1}, Result::OtherCorvane}, std::pair{off_t{0}, Result::ServerRunning}}) {
        struct flock lock = WriteLockOn(byte);
        if (::fcntl(fd_, F_SETLK, &lock) == 0) continue;
        if (errno == EAGAIN || errno == EACCES)
            result_ = heldBy;
        else
            error_ = "cannot lock Wine's lock file " + file.string() + ": " + std::strerror(errno);
        return;
    }
    struct stat locked {};
    if (::fstat(fd_, &locked) == 0) {
        lockDev_ = locked.st_dev;
        lockIno_ = locked.st_ino;
    }
    // A wineserver of another build keeps its folder elsewhere.
    for (const auto& other : WineServerDirs(prefix, roots)) {
        if (other == dir) continue;
        if (const LockHolder holder = HolderIn(other); holder != LockHolder::Nobody) {
            result_ = holder == LockHolder::Wine ? Result::ServerRunning : Result::OtherCorvane;
            return;
        }
    }
    result_ = Result::Locked;
}

bool WineServerLock::stillHeld() const {
    if (result_ != Result::Locked) return false;
    struct stat now {};
    if (::lstat((dir_ / "lock").c_str(), &now) != 0 || now.st_dev != lockDev_ ||
        now.st_ino != lockIno_)
        return false;
    // The installed Wine would now take another folder (the user's runtime folder
    // appeared, say): a wineserver starting there would not see this lock.
    const Places places = PlacesOf(prefix_, roots_, true);
    if (places.installed != dir_) return false;
    for (const auto& other : places.all)
        if (other != dir_ && HolderIn(other) != LockHolder::Nobody) return false;
    return true;
}

WineServerLock::~WineServerLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace corvane::wine
