#include "core/platform/wine/WineServer.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::wine {

namespace {

std::string ServerBaseName(const std::filesystem::path& prefix) {
    std::ifstream in(prefix / "wineserver");
    std::string name;
    if (in && std::getline(in, name)) {
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        // Only a plain folder name is taken; anything else could point outside.
        if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
            return name;
    }
    return ".wine-" + std::to_string(::getuid());
}

} // namespace

std::filesystem::path WineServerDir(const std::filesystem::path& prefix,
                                    const std::filesystem::path& tmpRoot) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return tmpRoot / ServerBaseName(prefix) / leaf;
}

bool WineServerRunning(const std::filesystem::path& prefix, const std::filesystem::path& tmpRoot) {
    const std::filesystem::path dir = WineServerDir(prefix, tmpRoot);
    if (dir.empty()) return false;
    const int fd = ::open((dir / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

} // namespace corvane::wine
