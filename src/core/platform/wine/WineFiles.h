// File operations on Linux paths with the results of the Windows calls they stand
// for: FindFirstFile and GetFileAttributes tests, CreateDirectory, and the shell's
// silent delete and copy.
//
// Changes stay inside the prefix: a delete, a copy's destination and a new folder
// whose real location (links resolved) lies outside the prefix folder are refused.
// Tests for existence and a copy's source may look anywhere.
#pragma once

#include <filesystem>
#include <functional>
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
    bool remove(std::string_view path) const;
    bool copy(std::string_view source, std::string_view destination) const;
    // What remove(path) would take away, and what copy(source, destination) would
    // write, as they stand now.
    std::vector<std::filesystem::path> removeTargets(std::string_view path) const;
    std::vector<std::filesystem::path> copyTargets(std::string_view source,
                                                   std::string_view destination) const;
    // Why a change at `target` (a Linux path) would be refused, naming it; empty when
    // it may be made. `entryItself`: a link there is itself the entry changed.
    std::string refusalAt(const std::filesystem::path& target, bool entryItself) const;
    // Why the last change was refused or failed, naming the path; empty when it worked.
    const std::string& error() const { return error_; }

private:
    bool removeEntry(std::string_view written, const std::filesystem::path& target) const;
    // True when `target` may be changed; else records the refusal and is false.
    bool mayChange(std::string_view written, const std::filesystem::path& target,
                   bool entryItself) const;
    bool fail(std::string_view written, std::string_view why) const;
    const WinePaths& paths_;
    mutable std::string error_;
};

// Copies one file through a temporary name in the destination's folder and a
// rename, so that the destination is never half written.
bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);
// Copies a folder with everything in it into `to` (made when missing); links inside
// are copied as links. A destination `allowed` refuses is not written.
bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to,
              const std::function<bool(const std::filesystem::path&)>& allowed);

} // namespace corvane::wine
