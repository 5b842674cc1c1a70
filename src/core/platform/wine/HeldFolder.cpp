#include "core/platform/wine/HeldFolder.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvane::wine {

namespace {

// A folder opened to work in, never through a link.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// ".<name>.<six letters>", short enough for any name the folder takes.
std::string TemporaryName(const std::string& name) {
    thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string out = "." + name.substr(0, 200) + ".";
    for (int i = 0; i < 6; ++i)
        out += kLetters[random() % (sizeof kLetters - 1)];
    return out;
}

// The names in an open folder but "." and "..".
std::vector<std::string> Names(DIR* dir) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

} // namespace

HeldFolder::~HeldFolder() {
    if (fd_ >= 0) ::close(fd_);
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool HeldFolder::fail(const std::string& name, FolderError& error) const {
    const int code = errno;
    const std::filesystem::path at = name.empty() ? path_ : path_ / name;
    struct stat st {};
    error.code = code;
    error.linkInTheWay = !name.empty() &&
                         ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISLNK(st.st_mode) && (code == ELOOP || code == ENOTDIR);
    if (error.linkInTheWay)
        error.text = "refused, a link was put in the way at " + at.string();
    else
        error.text = at.string() + ": " + std::strerror(code);
    return false;
}

HeldFolder HeldFolder::open(const std::string& name, bool make, FolderError& error) const {
    int fd = ::openat(fd_, name.c_str(), kFolderFlags);
    if (fd < 0 && errno == ENOENT && make) {
        if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
            fail(name, error);
            return {};
        }
        fd = ::openat(fd_, name.c_str(), kFolderFlags);
    }
    if (fd < 0) {
        fail(name, error);
        return {};
    }
    return HeldFolder(fd, path_ / name);
}

HeldFolder OpenRealFolder(const std::filesystem::path& real, bool make, FolderError& error) {
    HeldFolder held(::open("/", kFolderFlags), "/");
    if (!held) {
        error = {errno, std::string("/: ") + std::strerror(errno)};
        return {};
    }
    for (const auto& part : real.relative_path()) {
        const std::string name = part.string();
        if (name.empty()) continue;
        if (name == "." || name == "..") {
            error = {EINVAL, real.string() + ": not a real location"};
            return {};
        }
        held = held.open(name, make, error);
        if (!held) return {};
    }
    return held;
}

bool HeldFolder::writeFile(const std::string& name, const std::filesystem::path& from,
                           FolderError& error) const {
    // A pipe is not waited for: only a regular file is copied.
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (in >= 0) ::close(in);
        error = {EINVAL, from.string() + ": cannot be read as a file"};
        return false;
    }
    std::string temporary;
    int out = -1;
    for (int tries = 0; out < 0 && tries < 100; ++tries) {
        temporary = TemporaryName(name);
        out = ::openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600);
        if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0) {
        ::close(in);
        return fail(temporary, error);
    }
    bool ok = true;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(out, buf, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
    if (!ok) fail(name, error);
    if (::close(out) != 0 && ok) ok = fail(name, error);
    // A folder in the way is not replaced: renameat() refuses it.
    if (ok && ::renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) ok = fail(name, error);
    if (!ok) ::unlinkat(fd_, temporary.c_str(), 0);
    return ok;
}

bool HeldFolder::writeLink(const std::string& name, const std::filesystem::path& from,
                           FolderError& error) const {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(from, ec);
    if (ec) {
        error = {ec.value(), from.string() + ": " + ec.message()};
        return false;
    }
    std::string temporary;
    int made = -1;
    for (int tries = 0; made != 0 && tries < 100; ++tries) {
        temporary = TemporaryName(name);
        made = ::symlinkat(target.c_str(), fd_, temporary.c_str());
        if (made != 0 && errno != EEXIST) break;
    }
    if (made != 0) return fail(temporary, error);
    if (::renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) {
        fail(name, error);
        ::unlinkat(fd_, temporary.c_str(), 0);
        return false;
    }
    return true;
}

bool HeldFolder::makeFolder(const std::string& name, FolderError& error) const {
    return ::mkdirat(fd_, name.c_str(), 0777) == 0 || fail(name, error);
}

bool HeldFolder::writeFolder(const std::string& name, const std::filesystem::path& from,
                             FolderError& error) const {
    if (!makeFolder(name, error)) return false;
    const HeldFolder inner = open(name, false, error);
    if (!inner) return false;
    DIR* dir = ::opendir(from.c_str());
    if (!dir) {
        error = {errno, from.string() + ": " + std::strerror(errno)};
        return false;
    }
    const std::vector<std::string> names = Names(dir);
    ::closedir(dir);
    bool ok = true;
    FolderError first;
    for (const std::string& child : names) {
        const std::filesystem::path source = from / child;
        FolderError failed;
        struct stat st {};
        bool done = false;
        if (::lstat(source.c_str(), &st) != 0)
            failed = {errno, source.string() + ": " + std::strerror(errno)};
        else if (S_ISLNK(st.st_mode))
            done = inner.writeLink(child, source, failed);
        else if (S_ISDIR(st.st_mode))
            done = inner.writeFolder(child, source, failed);
        else if (S_ISREG(st.st_mode))
            done = inner.writeFile(child, source, failed);
        else
            failed = {EINVAL, source.string() + ": neither a file nor a folder, not copied"};
        if (!done && ok) first = failed;
        ok = done && ok;
    }
    if (!ok) error = first;
    return ok;
}

bool HeldFolder::remove(const std::string& name, FolderError& error) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(name, error);
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(fd_, name.c_str(), 0) == 0 || fail(name, error);
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(name, error);
    const HeldFolder inner(fd, path_ / name);
    const int listed = ::dup(fd);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        inner.fail({}, error);
        if (listed >= 0) ::close(listed);
        return false;
    }
    const std::vector<std::string> names = Names(dir);
    ::closedir(dir);
    for (const std::string& child : names)
        if (!inner.remove(child, error)) return false;
    return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0 || fail(name, error);
}

} // namespace corvane::wine
