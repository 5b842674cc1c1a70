// The file work of the repair journal: records written whole, files moved into the
// journal and back so that a crash at any moment leaves the original or a whole copy,
// never neither, and the lock that gives one command at a time a prefix's journal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvane::journal {

// Writes `text` to `file` whole: a temporary file beside it, fsync, rename. With
// `syncFolder` the rename itself is made durable too; without, a crash may leave the
// file as it was before, never half written. False when any step fails; the file is
// then as it was.
bool WriteWhole(const std::filesystem::path& file, const std::string& text, bool syncFolder = true);
// Makes the entries of `folder` durable (fsync of the folder); false when it cannot.
bool SyncFolder(const std::filesystem::path& folder);

// Whether `path` lies inside `folder` (both absolute and without "." or "..").
bool Inside(const std::filesystem::path& path, const std::filesystem::path& folder);
// The real location of `path`: its folder with every link resolved, and its own name
// (a link itself stays a link).
std::filesystem::path RealLocation(const std::filesystem::path& path);
// Whether anything (a link included) is at `path`.
bool Exists(const std::filesystem::path& path);
// The bytes of a file, or of every file below a folder.
std::uintmax_t SizeOf(const std::filesystem::path& path);
// The size of a run's folder as the prune that measured it recorded it on the folder
// (an extended attribute, "user.corvane.bytes"); nothing when none is recorded or the
// file system keeps none. Whatever changes a run once it ended (an undo) forgets it
// first.
std::optional<std::uintmax_t> RecordedSize(const std::filesystem::path& runFolder);
void RecordSize(const std::filesystem::path& runFolder, std::uintmax_t bytes);
void ForgetSize(const std::filesystem::path& runFolder);

// How PlaceWhole went.
enum class Placed {
    Renamed, // `from` was renamed to `to`: it is gone
    Copied,  // `to` holds a whole copy; `from` is still there
    Failed,  // `to` is as it was; `from` is still there
};

// Puts `from` at `to` so that `to` is never seen partly written: a rename, or across
// file systems a copy under a temporary name beside `to` (".NAME.corvane-part"), synced file
// by file and folder by folder, then renamed to `to`. A file at `to` is replaced at
// once; a folder at `to` must not exist. Links are copied as links. `error` says why
// it failed.
Placed PlaceWhole(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string& error);

// The exclusive claim of a prefix's journal: a lock file in its folder held (flock)
// for as long as the object lives. Two commands never record into, or undo from, one
// journal at once.
class JournalLock {
public:
    enum class State { Held, Busy, Failed };
    explicit JournalLock(const std::filesystem::path& journalFolder);
    ~JournalLock();
    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;

    State state() const { return state_; }
    // Why it is not held, naming the lock file.
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    State state_ = State::Failed;
    std::string error_;
};

} // namespace corvane::journal
