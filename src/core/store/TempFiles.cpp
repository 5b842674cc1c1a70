#include "core/store/TempFiles.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace corvane {

namespace {

namespace fs = std::filesystem;

// When this process began, from its /proc entry; now when that cannot be read.
std::timespec ProcessStart() {
    static const std::timespec start = [] {
        struct stat st {};
        std::timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return ::stat("/proc/self", &st) == 0 ? st.st_mtim : now;
    }();
    return start;
}

bool Before(const std::timespec& a, const std::timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// Whether `rest` (what follows "<file><marker>") is what mkstemp put there, with one
// of SQLite's own suffixes or none.
bool OurSuffix(std::string_view rest, bool& sqliteFile) {
    if (rest.size() < 6) return false;
    for (char c : rest.substr(0, 6))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    rest.remove_prefix(6);
    sqliteFile = !rest.empty();
    return rest.empty() || rest == "-journal" || rest == "-wal" || rest == "-shm";
}

// True when the file is ours to take away: nobody locks it, and it is older than us.
bool Stale(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                 Before(st.st_mtim, ProcessStart()) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return stale;
}

} // namespace

LockedTemporary::LockedTemporary(const fs::path& stem) {
    path_ = stem.string() + "XXXXXX";
    fd_ = ::mkstemp(path_.data());
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
        fd_ = -1;
    }
}

LockedTemporary::~LockedTemporary() {
    if (fd_ < 0) return;
    if (!keep_) {
        ::unlink(path_.c_str());
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            ::unlink((path_ + suffix).c_str());
    }
    ::close(fd_);
}

int RemoveStaleTemporaries(const fs::path& stemPath) {
    const std::string stem = stemPath.filename().string();
    const fs::path folder = stemPath.has_parent_path() ? stemPath.parent_path() : fs::path(".");
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        bool sqliteFile = false;
        if (!name.starts_with(stem) ||
            !OurSuffix(std::string_view(name).substr(stem.size()), sqliteFile))
            continue;
        // A journal goes with its file: when that is gone or stale itself.
        const fs::path owner = folder / name.substr(0, stem.size() + 6);
        if (sqliteFile && fs::exists(owner, ec) && !Stale(owner)) continue;
        if (!Stale(entry.path())) continue;
        if (::unlink(entry.path().c_str()) == 0) ++removed;
    }
    return removed;
}

} // namespace corvane
