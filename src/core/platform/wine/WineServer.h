// Whether a wineserver runs for a prefix. While one runs it owns the prefix's
// registry and writes its own copy over the files, so nobody else may change them.
#pragma once

#include <filesystem>

namespace corvane::wine {

// The wineserver's folder for `prefix`, as Wine computes it:
// <tmpRoot>/.wine-<uid>/server-<st_dev hex>-<st_ino hex>. A file named "wineserver"
// in the prefix may name another folder to use instead of ".wine-<uid>". Empty when
// the prefix does not exist.
std::filesystem::path WineServerDir(const std::filesystem::path& prefix,
                                    const std::filesystem::path& tmpRoot = "/tmp");

// True while a process holds the server's write lock on byte 0 of "lock" there.
bool WineServerRunning(const std::filesystem::path& prefix,
                       const std::filesystem::path& tmpRoot = "/tmp");

} // namespace corvane::wine
