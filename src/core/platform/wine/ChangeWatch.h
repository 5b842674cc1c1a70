// Whether files may have changed on disk, told without a look at each file.
//
// An inotify watch on the folder that holds the files (a file saved by rename, as Wine
// saves the registry, or made, deleted or written in place there) and on each file
// itself (a file that is a link to another folder, or a hard link written through
// another name). The kernel tells of an event by a real-time signal to the thread that
// started the watch, so that a question costs no system call there while nothing
// happened; elsewhere, or when the signal is taken, a question reads the watch. Where
// the kernel cannot tell, every question answers "may have changed": no inotify
// instance left, a folder that cannot be watched, or a file system where a change
// made by another machine raises no event (network and FUSE file systems).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace corvane::wine {

class ChangeWatch {
public:
    ChangeWatch(std::filesystem::path folder, std::vector<std::filesystem::path> files);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // True when one of the files may have changed since the last call that answered;
    // always for the first call, which starts the watch. A change that has ended by the
    // time a call begins is told by that call.
    // `each` is told the watch of every event (its number from watchFolder, or the
    // folder's own), or -1 when events were lost.
    bool changed(const std::function<void(int watch)>& each = {});
    // Whether the watch is kept (after the first call); false when every call answers
    // true.
    bool watching() const { return fd_ >= 0; }
    // The watch of the folder given at construction.
    int folderWatch() const { return folderWatch_; }
    // Watches another folder for names that come, go or change: the number its events
    // are told with, or -1 when it cannot be watched.
    int watchFolder(const std::filesystem::path& folder);

private:
    void start();
    void stop();
    void tellBySignal();
    static std::uint64_t ThisThread();
    // Watches each file as its name now leads, after a rename put another file there.
    void watchFiles();

    std::filesystem::path folder_;
    std::vector<std::filesystem::path> files_;
    int fd_ = -1;
    int folderWatch_ = -1;
    bool started_ = false;
    int slot_ = -1;           // the signal's slot, when events are told by a signal
    std::uint64_t owner_ = 0; // the thread the signal goes to (ThisThread)
};

} // namespace corvane::wine
