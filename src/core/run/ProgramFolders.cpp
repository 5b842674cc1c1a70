#include "core/run/ProgramFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/store/TempFiles.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLibraryName = "cvdb.db";

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string InstalledDataDir(const std::string& programDir) {
    return fs::path(programDir + "../share/corvane/").lexically_normal().string();
}

// $XDG_..._HOME when it is an absolute path, else `fallback` under $HOME; with the
// program's own folder below it. Empty when neither is known.
std::string UserFolder(const std::string& xdg, const std::string& home, const char* fallback) {
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/corvane/";
    if (!home.empty() && home[0] == '/') return home + "/" + fallback + "/corvane/";
    return {};
}

bool Writable(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

std::string Reason() {
    return std::strerror(errno);
}

// Copies `from` to `to` through a temporary file beside `to`, flushed before the rename.
std::string CopyWhole(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return "cannot read the shipped rule library " + from + ": " + Reason();
    const fs::path target(to);
    const fs::path stem = target.parent_path() / ("." + target.filename().string() + ".");
    (void)RemoveStaleTemporaries(stem);
    LockedTemporary temp(stem);
    std::string error;
    if (!temp.ok()) error = "cannot write in " + target.parent_path().string() + ": " + Reason();
    char buffer[1 << 16];
    while (error.empty()) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = "cannot read the shipped rule library " + from + ": " + Reason();
        if (n <= 0) break;
        for (ssize_t done = 0; error.empty() && done < n;) {
            const ssize_t w = ::write(temp.fd(), buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) error = "cannot write " + temp.path() + ": " + Reason();
            if (w > 0) done += w;
        }
    }
    ::close(in);
    if (error.empty() && (::fchmod(temp.fd(), 0644) != 0 || ::fsync(temp.fd()) != 0))
        error = "cannot write " + temp.path() + ": " + Reason();
    if (error.empty() && ::rename(temp.path().c_str(), to.c_str()) != 0)
        error = "cannot make " + to + ": " + Reason();
    if (error.empty()) temp.keep();
    return error;
}

} // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
    return {Variable("HOME"), Variable("XDG_CONFIG_HOME"), Variable("XDG_DATA_HOME"),
            Variable("XDG_CACHE_HOME")};
}

FolderFacts FolderFacts::Of(const std::string& programDir) {
    std::error_code ec;
    FolderFacts facts;
    facts.folderWritable = Writable(programDir);
    facts.libraryBeside = fs::exists(programDir + kLibraryName, ec);
    facts.libraryWritable = facts.libraryBeside && Writable(programDir + kLibraryName);
    facts.installedLibrary = fs::is_regular_file(InstalledDataDir(programDir) + kLibraryName, ec);
    return facts;
}

ProgramFolders PlaceProgramFiles(const std::string& programDir, const FolderFacts& facts,
                                 const FolderEnvironment& env) {
    ProgramFolders f;
    f.programDir = programDir;
    const bool writable = facts.folderWritable && (!facts.libraryBeside || facts.libraryWritable);
    // Even a user who may write there (root) leaves an installed copy's folder alone.
    f.installed = !writable || (!facts.libraryBeside && facts.installedLibrary);
    if (!f.installed) {
        f.dataDir = programDir;
        f.shippedLibrary = f.libraryFile = programDir + kLibraryName;
        f.settingsFile = programDir + "Setting.ini";
        f.downloadDir = programDir + "downsoft/";
        return f;
    }
    // A read-only portable copy ships its files beside the executable.
    f.dataDir = facts.installedLibrary ? InstalledDataDir(programDir) : programDir;
    f.shippedLibrary = f.dataDir + kLibraryName;
    const std::string config = UserFolder(env.configHome, env.home, ".config");
    const std::string data = UserFolder(env.dataHome, env.home, ".local/share");
    const std::string cache = UserFolder(env.cacheHome, env.home, ".cache");
    if (config.empty() || data.empty() || cache.empty()) {
        f.error = "the program's folder " + programDir +
                  " cannot be written and $HOME is not set: no folder for the user's files";
        return f;
    }
    f.libraryFile = data + kLibraryName;
    f.settingsFile = config + "Setting.ini";
    f.downloadDir = cache + "downsoft/";
    return f;
}

ProgramFolders DecideProgramFolders(const std::string& programDir) {
    return PlaceProgramFiles(programDir, FolderFacts::Of(programDir),
                             FolderEnvironment::FromProcess());
}

std::string PrepareUserFiles(const ProgramFolders& folders, bool library) {
    if (!folders.installed) return {};
    if (!folders.error.empty()) return folders.error;
    std::error_code ec;
    const fs::path settings = fs::path(folders.settingsFile).parent_path();
    if (fs::create_directories(settings, ec); ec)
        return "cannot make the folder " + settings.string() + ": " + ec.message();
    if (!library || fs::exists(folders.libraryFile, ec)) return {};
    const fs::path data = fs::path(folders.libraryFile).parent_path();
    if (fs::create_directories(data, ec); ec)
        return "cannot make the folder " + data.string() + ": " + ec.message();
    // Without a shipped library the window makes an empty one there, as beside it.
    if (!fs::exists(folders.shippedLibrary, ec)) return {};
    const std::string error = CopyWhole(folders.shippedLibrary, folders.libraryFile);
    return error.empty() ? error : "cannot copy the rule library: " + error;
}

RunInputs InputsOf(const ProgramFolders& folders) {
    RunInputs inputs = InputsBeside(folders.dataDir);
    inputs.library.file = folders.libraryFile;
    inputs.settingsFile = folders.settingsFile;
    return inputs;
}

} // namespace corvane
