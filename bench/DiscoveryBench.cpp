// Finding the user's prefixes when Steam holds 200 of them: a home with Steam's own
// library and a second one from libraryfolders.vdf, 100 games with a manifest and a
// prefix in each, reached also through ~/.steam/steam. Median of several rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/platform/wine/PrefixDiscovery.h"

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 15;
constexpr int kGamesPerLibrary = 100;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

void MakeLibrary(const fs::path& library, int firstId) {
    for (int i = 0; i < kGamesPerLibrary; ++i) {
        const std::string id = std::to_string(firstId + i * 10);
        const fs::path pfx = library / "steamapps/compatdata" / id / "pfx";
        fs::create_directories(pfx / "drive_c/windows/system32");
        Write(pfx / "system.reg", "WINE REGISTRY Version 2\n");
        Write(pfx / "user.reg", "WINE REGISTRY Version 2\n");
        Write(library / ("steamapps/appmanifest_" + id + ".acf"),
              "\"AppState\"\n{\n\t\"appid\"\t\t\"" + id + "\"\n\t\"Universe\"\t\t\"1\"\n" +
                  "\t\"name\"\t\t\"Game number " + id + "\"\n\t\"StateFlags\"\t\t\"4\"\n" +
                  "\t\"installdir\"\t\t\"Game " + id + "\"\n\t\"InstalledDepots\"\n\t{\n" +
                  "\t\t\"" + id + "1\"\n\t\t{\n\t\t\t\"manifest\"\t\t\"123456789\"\n" +
                  "\t\t\t\"size\"\t\t\"1000000\"\n\t\t}\n\t}\n}\n");
    }
}

} // namespace

int main() {
    char tmpl[] = "/tmp/corvane-discovery-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 2;
    const fs::path home = tmpl;
    const fs::path steam = home / ".local/share/Steam";
    const fs::path second = home / "Games/SteamLibrary";
    MakeLibrary(steam, 200000);
    MakeLibrary(second, 300000);
    Write(steam / "steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() +
              "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + second.string() + "\"\n\t}\n}\n");
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(steam, home / ".steam/steam");

    std::vector<double> ms;
    std::size_t found = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = Clock::now();
        const wine::Discovery discovery = wine::DiscoverPrefixes({home, "", ""});
        const auto t1 = Clock::now();
        found = discovery.prefixes.size();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("prefix discovery, %zu Steam prefixes in 2 libraries, median of %d\n", found,
                kRounds);
    std::printf("  discover               %7.2f ms   (%.1f us per prefix)\n", ms[ms.size() / 2],
                1000.0 * ms[ms.size() / 2] / static_cast<double>(found ? found : 1));
    std::error_code ec;
    fs::remove_all(home, ec);
    return found == 2 * kGamesPerLibrary ? 0 : 1;
}
