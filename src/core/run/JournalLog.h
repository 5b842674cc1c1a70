// The log of a run's entries: every entry a repair writes, each time it writes one, is a
// line appended to one file of the run's folder ("items.log"). The last whole line of
// an item is its entry. Records pending together (the registry changes of a run, written
// in one go) become durable together, with one sync of one file, instead of a file made
// and synced per item and per write.
//
// A line is the entry's JSON (one line), a tab and a checksum of the JSON, of the line's
// place in the file and of the names of the run's folder and its machine's folder. What
// a crash can leave past the last sync (a line cut short, zeros, or bytes that another
// file left on the disk) never reads as an entry.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace corvane::journal {

// The name of the log in a run's folder.
inline constexpr const char* kLogName = "items.log";

class EntryLog {
public:
    // Opens the log `file`, made when it is not there; error() says why not.
    explicit EntryLog(std::filesystem::path file);
    ~EntryLog();
    EntryLog(const EntryLog&) = delete;
    EntryLog& operator=(const EntryLog&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& file() const { return file_; }

    // Appends the entry `json` (without a line break) whole, or leaves the log as it was
    // and is false. A log that could not be put back as it was takes nothing more.
    bool append(std::string_view json);
    // A name was made in the log's folder (a folder for moved files): the next sync
    // makes it durable too.
    void folderChanged() { folderSynced_ = false; }
    // Makes every line appended so far durable, and the log's name and the folder's
    // new names with the first; false when it cannot.
    bool sync();

private:
    std::filesystem::path file_;
    int fd_ = -1;
    std::uint64_t size_ = 0; // the end of the last whole line
    bool synced_ = true;
    bool folderSynced_ = false;
    bool broken_ = false;
    std::string error_;
};

// Reads the log `file` line by line: `entry` is called with each line's number and its
// JSON, or with an empty view and why the line cannot be read. The last line is left
// out when it has no line break (a write cut short). False when the file cannot be read.
bool ReadLog(const std::filesystem::path& file,
             const std::function<void(std::size_t line, std::string_view json,
                                      const std::string& problem)>& entry);

// A line of the log at `offset` in `file` holding `json`, with its line break.
std::string LogLine(std::string_view json, const std::filesystem::path& file, std::uint64_t offset);

} // namespace corvane::journal
