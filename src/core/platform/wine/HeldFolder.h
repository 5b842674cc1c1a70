// Changes made by name inside folders held open, so that the place that was checked is
// the place that is changed: a folder is opened one component at a time from "/" and
// never through a link, and each change is made relative to it. A link put in the
// way after the check stops the change instead of leading it elsewhere.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::wine {

// Why a step failed, naming the path it concerns.
struct FolderError {
    int code = 0;              // errno, 0 when nothing failed
    std::string text;          // e.g. "/p/drive_c/x: Permission denied"
    bool linkInTheWay = false; // a link stood where a folder or entry was expected
};

// An open folder and its path (for messages), or none; closed when it goes.
class HeldFolder {
public:
    HeldFolder() = default;
    HeldFolder(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    ~HeldFolder();
    HeldFolder(HeldFolder&& other) noexcept;
    HeldFolder& operator=(HeldFolder&& other) noexcept;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    explicit operator bool() const { return fd_ >= 0; }

    // The folder `name` inside this one, never through a link; with `make`, made first
    // when missing.
    HeldFolder open(const std::string& name, bool make, FolderError& error) const;

    // The entry `name` becomes a copy of the file `from`, written under a temporary
    // name, synced and renamed into place (a link there is replaced, never followed; a
    // folder there stays and fails it).
    bool writeFile(const std::string& name, const std::filesystem::path& from,
                   FolderError& error) const;
    // The entry `name` becomes a link with the target of the link `from`.
    bool writeLink(const std::string& name, const std::filesystem::path& from,
                   FolderError& error) const;
    // The entry `name`, missing, becomes a folder holding a copy of everything in the
    // folder `from`; links inside are copied as links, and what is neither a file, a
    // folder nor a link is not copied and fails it (the rest is still copied).
    bool writeFolder(const std::string& name, const std::filesystem::path& from,
                     FolderError& error) const;
    // A new, empty folder `name`.
    bool makeFolder(const std::string& name, FolderError& error) const;
    // Takes the entry `name` away: a file, a link (never what it points to), or a folder
    // with everything in it.
    bool remove(const std::string& name, FolderError& error) const;

private:
    bool fail(const std::string& name, FolderError& error) const;
    int fd_ = -1;
    std::filesystem::path path_;
};

// Opens the folder `real`, a path RealLocation gave (absolute, no link, no "." or
// ".."), from "/". With `make`, a missing folder on the way is made and opened at once,
// the same way, before the next one is made.
HeldFolder OpenRealFolder(const std::filesystem::path& real, bool make, FolderError& error);

} // namespace corvane::wine
