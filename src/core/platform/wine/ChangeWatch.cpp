#include "core/platform/wine/ChangeWatch.h"

#include <cerrno>
#include <cstdint>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace corvane::wine {

namespace {

constexpr std::uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                        IN_MOVE_SELF;
constexpr std::uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

// File systems whose every change is made by this machine's kernel, so that inotify
// sees it. Elsewhere (NFS, SMB, FUSE, 9p) another machine may change a file unseen.
bool LocalFileSystem(const std::filesystem::path& folder) {
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) return false;
    switch (static_cast<std::uint32_t>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0x794C7630: // overlayfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
    case 0xCA451A4E: // bcachefs
    case 0x3153464A: // jfs
    case 0x52654973: // reiserfs
        return true;
    default:
        return false;
    }
}

} // namespace

ChangeWatch::ChangeWatch(std::filesystem::path folder, std::vector<std::filesystem::path> files)
    : folder_(std::move(folder)), files_(std::move(files)) {}

ChangeWatch::~ChangeWatch() {
    stop();
}

void ChangeWatch::start() {
    if (!LocalFileSystem(folder_)) return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    folderWatch_ = ::inotify_add_watch(fd_, folder_.c_str(), kFolderEvents | IN_ONLYDIR);
    if (folderWatch_ < 0) return stop();
    watchFiles();
}

void ChangeWatch::stop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    folderWatch_ = -1;
}

void ChangeWatch::watchFiles() {
    // A missing file is seen by the folder's watch when it comes.
    for (const auto& file : files_)
        (void)::inotify_add_watch(fd_, file.c_str(), kFileEvents);
}

bool ChangeWatch::changed() {
    if (!started_) {
        started_ = true;
        start();
        return true;
    }
    if (fd_ < 0) return true;
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            stop();
            return true;
        }
        any = true;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // The folder itself moved or went: its files can no longer be watched.
            if (event->wd == folderWatch_ &&
                (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT))) {
                stop();
                return true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (any) watchFiles();
    return any;
}

} // namespace corvane::wine
