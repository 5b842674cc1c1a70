// File operations on Linux paths with the results of the Windows calls they stand
// for: FindFirstFile and GetFileAttributes tests, CreateDirectory, and the shell's
// silent delete and copy.
#pragma once

#include <filesystem>
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

private:
    bool removeEntry(const std::filesystem::path& target) const;
    const WinePaths& paths_;
};

// Copies one file through a temporary name in the destination's folder and a
// rename, so that the destination is never half written.
bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);
// Copies a folder with everything in it into `to` (made when missing); links inside
// are copied as links.
bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace corvane::wine
