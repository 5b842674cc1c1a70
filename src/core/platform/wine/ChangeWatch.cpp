#include "core/platform/wine/ChangeWatch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
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
// A folder's names: what is written inside its files does not count.
constexpr std::uint32_t kNameEvents =
    IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

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

// The watches that tell of events by a signal: the inotify descriptor (plus one, so that
// zero is a free slot) and whether an event came since the last look. The handler only
// stores flags.
constexpr int kSlots = 32;
std::atomic<int> slotFd[kSlots];
std::atomic<bool> slotEvent[kSlots];
std::mutex slotsMutex;

int EventSignal() {
    return SIGRTMIN + 5;
}

void OnEventSignal(int, siginfo_t* info, void*) {
    for (int i = 0; i < kSlots; ++i)
        if (slotFd[i].load(std::memory_order_relaxed) == info->si_fd + 1)
            slotEvent[i].store(true, std::memory_order_release);
}

// The kernel sends SIGIO instead when it cannot queue the signal: every watch looks.
void OnSigio(int, siginfo_t*, void*) {
    for (int i = 0; i < kSlots; ++i)
        slotEvent[i].store(true, std::memory_order_release);
}

// Installs both handlers once; false when another part of the program uses either
// signal, or the signal is blocked in this thread, so that the watch is read instead.
bool SignalsReady() {
    using Handler = void (*)(int, siginfo_t*, void*);
    struct Use {
        int signal;
        Handler handler;
    };
    static const bool installed = [] {
        const Use uses[] = {{EventSignal(), &OnEventSignal}, {SIGIO, &OnSigio}};
        for (const auto& [signal, handler] : uses) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
                old.sa_handler != SIG_DFL)
                return false;
        }
        for (const auto& [signal, handler] : uses) {
            struct sigaction action {};
            action.sa_sigaction = handler;
            action.sa_flags = SA_SIGINFO | SA_RESTART;
            sigemptyset(&action.sa_mask);
            if (::sigaction(signal, &action, nullptr) != 0) return false;
        }
        return true;
    }();
    if (!installed) return false;
    sigset_t blocked;
    if (::pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0) return false;
    return !sigismember(&blocked, EventSignal()) && !sigismember(&blocked, SIGIO);
}

} // namespace

// A number of the calling thread, never given to another thread, even after it ended.
std::uint64_t ChangeWatch::ThisThread() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t id = next++;
    return id;
}

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
    tellBySignal();
}

// Events are told to this thread by a signal, so that a look costs no system call: the
// kernel queues the signal while the change is being made, and it is handled before
// this thread next returns from the kernel (or at once, when it runs elsewhere).
void ChangeWatch::tellBySignal() {
    if (!SignalsReady()) return;
    std::lock_guard lock(slotsMutex);
    for (int i = 0; i < kSlots; ++i) {
        if (slotFd[i].load() != 0) continue;
        slotEvent[i].store(true);
        slotFd[i].store(fd_ + 1);
        f_owner_ex owner{F_OWNER_TID, ::gettid()};
        const int flags = ::fcntl(fd_, F_GETFL);
        if (::fcntl(fd_, F_SETSIG, EventSignal()) != 0 || ::fcntl(fd_, F_SETOWN_EX, &owner) != 0 ||
            flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_ASYNC) != 0) {
            slotFd[i].store(0);
            return;
        }
        slot_ = i;
        owner_ = ThisThread();
        return;
    }
}

void ChangeWatch::stop() {
    if (fd_ >= 0) ::close(fd_);
    if (slot_ >= 0) {
        std::lock_guard lock(slotsMutex);
        slotFd[slot_].store(0);
    }
    slot_ = -1;
    fd_ = -1;
    folderWatch_ = -1;
}

void ChangeWatch::watchFiles() {
    // A missing file is seen by the folder's watch when it comes.
    for (const auto& file : files_)
        (void)::inotify_add_watch(fd_, file.c_str(), kFileEvents);
}

int ChangeWatch::watchFolder(const std::filesystem::path& folder) {
    if (fd_ < 0) return -1;
    return ::inotify_add_watch(fd_, folder.c_str(), kNameEvents | IN_ONLYDIR | IN_MASK_ADD);
}

bool ChangeWatch::changed(const std::function<void(int watch)>& each) {
    if (!started_) {
        started_ = true;
        start();
        return true;
    }
    if (fd_ < 0) return true;
    // Told by the signal: nothing came, nothing to read. Another thread reads.
    if (slot_ >= 0 && ThisThread() == owner_ &&
        !slotEvent[slot_].exchange(false, std::memory_order_acq_rel))
        return false;
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
            if (each) each(event->mask & IN_Q_OVERFLOW ? -1 : event->wd);
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
