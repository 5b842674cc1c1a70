// Fuzz target for the repair journal's item records: any text as the one item entry of
// a run must give a history and an undo (with and without force) that never crash, and
// undo must never touch anything outside the prefix and the run's own folder of the
// journal: a canary folder beside the prefix, and another run of the journal, stay
// exactly as they were.
//
// "@P" in the input stands for the prefix's path and "@O" for the canary folder's, so
// that seeds can name real places.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include "core/platform/Platform.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/run/Journal.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane;

void CheckAt(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}
#define Check(c) CheckAt((c), __LINE__)

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// Every entry below `folder` with its kind and content (a link's target).
std::map<std::string, std::string> Listing(const fs::path& folder) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        std::string what;
        if (it->is_symlink(ec)) {
            what = "link " + fs::read_symlink(p, ec).string();
        } else if (it->is_directory(ec)) {
            what = "folder";
        } else {
            std::ifstream in(p, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            what = "file " + text.str();
        }
        out[fs::relative(p, folder).string()] = what;
    }
    return out;
}

struct Places {
    fs::path base, prefix, outside, journalRoot;
};

const Places& Setup() {
    static const Places places = [] {
        Places p;
        p.base = fs::temp_directory_path() / ("corvane-journal-fuzz-" + std::to_string(::getpid()));
        p.prefix = p.base / "prefix";
        p.outside = p.base / "outside";
        p.journalRoot = p.base / "journal";
        fs::remove_all(p.base);
        const std::string header = "WINE REGISTRY Version 2\n;; All keys relative to ";
        Write(p.prefix / "system.reg",
              header + "\\\\Machine\n\n#arch=win64\n\n[Software\\\\Classes\\\\x] 1\n\"A\"=\"m\"\n");
        Write(p.prefix / "user.reg", header + "\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n["
                                              "Software\\\\T] 1\n\"V\"=dword:00000001\n");
        Write(p.prefix / "userdef.reg", header + "\\\\User\\\\.Default\n\n#arch=win64\n");
        fs::create_directories(p.prefix / "dosdevices");
        fs::create_directory_symlink("../drive_c", p.prefix / "dosdevices/c:");
        Write(p.outside / "canary.txt", "canary");
        fs::create_directories(p.outside / "empty");
        fs::create_directories(p.base / "tmp");
        return p;
    }();
    return places;
}

std::string Substituted(std::string text, const Places& p) {
    for (const auto& [token, path] :
         {std::pair{std::string("@P"), p.prefix.string()}, {"@O", p.outside.string()}}) {
        for (std::size_t at = 0; (at = text.find(token, at)) != std::string::npos;
             at += path.size())
            text.replace(at, token.size(), path);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Places& p = Setup();
    wine::WineOptions options;
    options.tmpRoot = p.base / "tmp";
    static wine::WinePlatform platform(p.prefix, options);
    PlatformScope scope(platform);
    // The prefix's files, as a repair of them would have left them.
    fs::remove_all(p.prefix / "drive_c");
    Write(p.prefix / "drive_c/a.txt", "now");
    fs::create_directories(p.prefix / "drive_c/made/inner");
    fs::create_symlink(p.outside, p.prefix / "drive_c/out");
    Journal journal(p.journalRoot, p.prefix);
    const fs::path folder = journal.folder();
    fs::remove_all(folder);
    const fs::path run = folder / "run-000001";
    Write(run / "item-0001.json",
          Substituted(std::string(reinterpret_cast<const char*>(data), size), p));
    Write(run / "item-0001.files/1", "stored one");
    Write(run / "item-0001.files/2", "stored two");
    Write(folder / "run-000002/item-0001.json", "{\"id\":\"7\",\"changes\":[]}");
    Write(folder / "run-000002/item-0001.files/1", "another run");
    const auto outsideBefore = Listing(p.outside);
    const auto otherBefore = Listing(folder / "run-000002");

    (void)journal.history();
    (void)journal.undo(1, {}, false);
    (void)journal.undo(1, {}, true);
    (void)journal.undo(1, {"1", "x"}, true);
    (void)journal.history();

    Check(Listing(p.outside) == outsideBefore);
    Check(Listing(folder / "run-000002") == otherBefore);
    return 0;
}
