#include "core/run/JournalFiles.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace corvane::journal {

namespace fs = std::filesystem;

namespace {

std::string Why() {
    return std::strerror(errno);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool CopyEntry(const fs::path& from, const fs::path& to, std::string& error);

bool CopyFile(const fs::path& from, const fs::path& to, const struct stat& st, std::string& error) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        error = from.string() + ": " + Why();
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        error = to.string() + ": " + Why();
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = from.string() + ": " + Why();
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            error = to.string() + ": " + Why();
            ok = false;
            break;
        }
    }
    if (ok && (::fchmod(out, st.st_mode & 07777) != 0 || ::fsync(out) != 0)) {
        error = to.string() + ": " + Why();
        ok = false;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) (void)::futimens(out, times);
    ::close(in);
    if (::close(out) != 0 && ok) {
        error = to.string() + ": " + Why();
        ok = false;
    }
    return ok;
}

bool CopyFolder(const fs::path& from, const fs::path& to, const struct stat& st,
                std::string& error) {
    if (::mkdir(to.c_str(), 0700) != 0) {
        error = to.string() + ": " + Why();
        return false;
    }
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec))
        if (!CopyEntry(it->path(), to / it->path().filename(), error)) return false;
    if (ec) {
        error = from.string() + ": " + ec.message();
        return false;
    }
    const int fd = ::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (ok) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        (void)::futimens(fd, times);
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    }
    if (!ok) error = to.string() + ": " + Why();
    if (fd >= 0) ::close(fd);
    return ok;
}

bool CopyEntry(const fs::path& from, const fs::path& to, std::string& error) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        error = from.string() + ": " + Why();
        return false;
    }
    if (S_ISREG(st.st_mode)) return CopyFile(from, to, st, error);
    if (S_ISDIR(st.st_mode)) return CopyFolder(from, to, st, error);
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(from, ec);
        if (!ec) fs::create_symlink(target, to, ec);
        if (ec) error = to.string() + ": " + ec.message();
        return !ec;
    }
    error = from.string() + ": not a file, folder or link";
    return false;
}

} // namespace

bool WriteWhole(const fs::path& file, const std::string& text, bool syncFolder) {
    std::string pattern = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text.data(), text.size());
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(pattern.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(pattern.c_str());
        return false;
    }
    if (syncFolder) SyncFolder(file.parent_path());
    return true;
}

bool SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Inside(const fs::path& path, const fs::path& folder) {
    const std::string p = path.lexically_normal().string();
    const std::string f = folder.lexically_normal().string();
    return !f.empty() && p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
           (f.back() == '/' || p[f.size()] == '/');
}

fs::path RealLocation(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    return (ec ? path.parent_path() : folder) / path.filename();
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

namespace {

// The bytes of the regular files below the folder open as `fd` (taken over), each
// looked at from its folder: a name's type from the listing where it tells it.
std::uintmax_t BytesBelow(int fd) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::uintmax_t total = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_REG || e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISREG(st.st_mode)) total += static_cast<std::uintmax_t>(st.st_size);
            folder = S_ISDIR(st.st_mode);
        }
        if (!folder) continue;
        const int sub =
            ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) total += BytesBelow(sub);
    }
    ::closedir(dir);
    return total;
}

} // namespace

std::uintmax_t SizeOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return static_cast<std::uintmax_t>(st.st_size);
    if (!S_ISDIR(st.st_mode)) return 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : BytesBelow(fd);
}

namespace {

constexpr const char* kSizeAttribute = "user.corvane.bytes";

} // namespace

std::optional<std::uintmax_t> RecordedSize(const fs::path& runFolder) {
    char text[32];
    const ssize_t n = ::getxattr(runFolder.c_str(), kSizeAttribute, text, sizeof text);
    if (n <= 0) return std::nullopt;
    std::uintmax_t bytes = 0;
    const auto [end, error] = std::from_chars(text, text + n, bytes);
    if (error != std::errc() || end != text + n) return std::nullopt;
    return bytes;
}

void RecordSize(const fs::path& runFolder, std::uintmax_t bytes) {
    const std::string text = std::to_string(bytes);
    (void)::setxattr(runFolder.c_str(), kSizeAttribute, text.data(), text.size(), 0);
}

void ForgetSize(const fs::path& runFolder) {
    (void)::removexattr(runFolder.c_str(), kSizeAttribute);
}

Placed PlaceWhole(const fs::path& from, const fs::path& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        SyncFolder(to.parent_path());
        if (from.parent_path() != to.parent_path()) SyncFolder(from.parent_path());
        return Placed::Renamed;
    }
    if (errno != EXDEV) {
        error = from.string() + " → " + to.string() + ": " + Why();
        return Placed::Failed;
    }
    // Another file system: a whole copy first, under a name nobody reads.
    const fs::path temp = to.parent_path() / ("." + to.filename().string() + ".corvane-part");
    std::error_code ec;
    fs::remove_all(temp, ec);
    if (!CopyEntry(from, temp, error)) {
        fs::remove_all(temp, ec);
        return Placed::Failed;
    }
    SyncFolder(to.parent_path());
    if (::rename(temp.c_str(), to.c_str()) != 0) {
        error = temp.string() + " → " + to.string() + ": " + Why();
        fs::remove_all(temp, ec);
        return Placed::Failed;
    }
    SyncFolder(to.parent_path());
    return Placed::Copied;
}

JournalLock::JournalLock(const fs::path& journalFolder) {
    const fs::path file = journalFolder / "lock";
    std::error_code ec;
    fs::create_directories(journalFolder, ec);
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "the journal cannot be locked: " + file.string() + ": " + Why();
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Held;
        return;
    }
    const bool busy = errno == EWOULDBLOCK;
    state_ = busy ? State::Busy : State::Failed;
    error_ = busy ? "another Corvane command is changing this prefix: it holds " + file.string() +
                        "; try again when it has finished"
                  : "the journal cannot be locked: " + file.string() + ": " + Why();
    ::close(fd_);
    fd_ = -1;
}

JournalLock::~JournalLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace corvane::journal
