// Temporary files beside a library: made under a lock that lasts as long as the write
// that made them, and removed at a later write once nobody holds them.
#pragma once

#include <filesystem>
#include <string>

namespace corvane {

// A new, empty file named `stem` followed by six characters (mkstemp's), locked (flock)
// until this object goes; removed then too unless kept.
class LockedTemporary {
public:
    explicit LockedTemporary(const std::filesystem::path& stem);
    ~LockedTemporary();
    LockedTemporary(const LockedTemporary&) = delete;
    LockedTemporary& operator=(const LockedTemporary&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void keep() { keep_ = true; } // it was renamed into place

private:
    int fd_ = -1;
    std::string path_;
    bool keep_ = false;
};

// Removes what killed writes left: files named `stem` and six characters (and their
// SQLite "-journal", "-wal", "-shm") that no process holds locked and that were last
// changed before this process started. Returns how many files went.
int RemoveStaleTemporaries(const std::filesystem::path& stem);

} // namespace corvane
