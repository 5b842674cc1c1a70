// File operations on Linux paths with the results of the Windows calls they stand
// for: FindFirstFile and GetFileAttributes tests, CreateDirectory, and the shell's
// silent delete and copy.
//
// Changes stay inside the prefix: a delete, a copy's destination and a new folder
// whose real location (RealLocation: links resolved, ".." taken against the real
// folder) lies outside the prefix folder are refused. Each change is then made through
// folders opened one component at a time without following a link, missing ones made
// and opened the same way, so that a link put in the way after the check is not
// followed. Tests for existence and a copy's source may look anywhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/wine/WinePaths.h"

namespace corvane::wine {

class WineFiles {
public:
    explicit WineFiles(const WinePaths& paths) : paths_(paths) {}

    bool fileExists(std::string_view path) const;
    bool folderExists(std::string_view path) const;
    bool createFolder(std::string_view path) const;
    // Whether `path` names a link itself.
    bool linkExists(std::string_view path) const;
    // Platform::makeFolders.
    bool makeFolders(std::string_view path) const;
    bool remove(std::string_view path) const;
    // The shell's copy. A folder copied onto an existing folder is merged into it, as
    // Windows merges: each file is written in its place, files the copy does not name
    // stay. A file where the copy needs a folder, or a folder where it needs a file,
    // fails that part (the rest is still copied, and the copy is false).
    bool copy(std::string_view source, std::string_view destination) const;
    // What remove(path) would take away, as it stands now.
    std::vector<std::filesystem::path> removeTargets(std::string_view path) const;
    // Every entry copy(source, destination) will write, as it stands now: each file
    // and link it writes, down into the folders that exist already, and each folder it
    // makes whole (one entry for the folder and all it will hold). Folders it merges
    // into are not listed: they stay. Parts that fail are not listed.
    std::vector<std::filesystem::path> copyTargets(std::string_view source,
                                                   std::string_view destination) const;
    // Why a change at `target` (a Linux path) would be refused, naming it; empty when
    // it may be made. The entry itself must lie inside the prefix and, unless
    // `entryItself`, so must what a link there points to.
    std::string refusalAt(const std::filesystem::path& target, bool entryItself) const;
    // Why the last change was refused or failed, naming the path; empty when it worked.
    const std::string& error() const { return error_; }

private:
    bool removeEntry(std::string_view written, const std::filesystem::path& target) const;
    // Copies `from` (a file or folder) onto the entry `target`, merging into a folder
    // there.
    bool copyEntry(std::string_view destination, const std::filesystem::path& from,
                   const std::filesystem::path& target) const;
    // True when `target` may be changed; else records the refusal and is false.
    bool mayChange(std::string_view written, const std::filesystem::path& target,
                   bool entryItself) const;
    bool fail(std::string_view written, std::string_view why) const;
    // Whether `target` is an entry of the prefix's dosdevices (a drive).
    bool isDrive(const std::filesystem::path& target) const;
    const WinePaths& paths_;
    mutable std::string error_;
};

} // namespace corvane::wine
