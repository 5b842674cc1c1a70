// A home folder with a copy of the demo prefix in each place where Wine, winetricks,
// Steam (native and Flatpak, with a second library), Bottles, Lutris, PlayOnLinux,
// deepin-wine (a prefix without its launcher) and CrossOver keep their prefixes, a damaged
// libraryfolders.vdf and a damaged Lutris game file.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/DemoPrefix.h"
#include "support/TempPrefix.h"

namespace corvane::test {

struct ExpectedPrefix {
    std::string label;
    std::filesystem::path path;
    std::string source;
    bool operator==(const ExpectedPrefix&) const = default;
};

inline void PrintTo(const ExpectedPrefix& p, std::ostream* out) {
    *out << p.label << " | " << p.path << " | " << p.source;
}

// Builds the home in `home` (an empty folder); the prefixes discovery lists there
// without $WINEPREFIX, in order, and the files it skips with a note.
struct FakeHome {
    std::vector<ExpectedPrefix> prefixes;
    std::vector<std::filesystem::path> damaged;
};

inline FakeHome MakeFakeHome(const std::filesystem::path& home) {
    namespace fs = std::filesystem;
    FakeHome made;
    auto prefix = [&](const fs::path& at, std::string label, std::string source) {
        fs::create_directories(at.parent_path());
        CopyDemoPrefix(at);
        if (!label.empty()) made.prefixes.push_back({std::move(label), at, std::move(source)});
    };
    auto file = [&](const fs::path& at, std::string_view text) {
        fs::create_directories(at.parent_path());
        WriteFile(at, text);
    };
    auto manifest = [&](const fs::path& library, const std::string& id, const std::string& name) {
        file(library / ("steamapps/appmanifest_" + id + ".acf"),
             "\"AppState\"\n{\n\t\"appid\"\t\t\"" + id + "\"\n\t\"name\"\t\t\"" + name +
                 "\"\n\t\"StateFlags\"\t\t\"4\"\n}\n");
    };
    const fs::path steam = home / ".local/share/Steam";
    const fs::path library = home / "Games/SteamLibrary";
    const fs::path flatpak = home / ".var/app/com.valvesoftware.Steam/.local/share/Steam";

    prefix(home / ".wine", "Wine: ~/.wine", "wine");
    prefix(home / ".local/share/wineprefixes/dotnet48", "winetricks: dotnet48", "winetricks");
    fs::create_directories(home / ".local/share/wineprefixes/not-a-prefix/drive_c");

    prefix(steam / "steamapps/compatdata/1245620/pfx", "Steam: ELDEN RING (1245620)", "steam");
    manifest(steam, "1245620", "ELDEN RING");
    file(steam / "steamapps/libraryfolders.vdf",
         "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() +
             "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"1245620\"\t\t\"50000000\"\n\t\t}\n\t}\n"
             "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
             library.string() + "\"\n\t}\n}\n");
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(steam, home / ".steam/steam");
    prefix(library / "steamapps/compatdata/292030/pfx", "Steam: The Witcher 3: Wild Hunt (292030)",
           "steam");
    manifest(library, "292030", "The Witcher 3: Wild Hunt");
    // A shortcut to a game from outside Steam has a prefix and no manifest.
    prefix(library / "steamapps/compatdata/2000000001/pfx", "Steam: 2000000001", "steam");

    prefix(flatpak / "steamapps/compatdata/570/pfx", "Steam: Dota 2 (570)", "steam");
    manifest(flatpak, "570", "Dota 2");
    file(flatpak / "steamapps/libraryfolders.vdf", "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n"
                                                   "\t\t\"path\"\t\t\"/mnt/unfinished\n");
    made.damaged.push_back(flatpak / "steamapps/libraryfolders.vdf");

    const fs::path bottle = home / ".local/share/bottles/bottles/office-2016";
    prefix(bottle, "Bottles: Office", "bottles");
    file(bottle / "bottle.yml", "Arch: win64\nName: Office\nRunner: soda-7.0-9\n");

    const fs::path lutris = home / ".config/lutris/games";
    file(lutris / "broken-1600000000.yml", "game:\n  prefix: [/home/x\n  exe: \"unclosed\n");
    made.damaged.push_back(lutris / "broken-1600000000.yml");
    prefix(home / "Games/diablo-ii", "Lutris: Diablo II", "lutris");
    file(lutris / "diablo-ii-1600000001.yml",
         "name: Diablo II\ngame:\n  exe: drive_c/Diablo II/Game.exe\n  prefix: " +
             (home / "Games/diablo-ii").string() + "\n");
    prefix(home / "Games/epic-games-store", "Lutris: epic-games-store", "lutris");
    file(lutris / "epic-games-store-1617372045.yml",
         "game:\n  prefix: ~/Games/epic-games-store\nwine:\n  version: lutris-7.2\n");
    // A game that shares the winetricks prefix is listed once, as found first.
    file(lutris / "shared-1600000002.yml",
         "game:\n  prefix: ~/.local/share/wineprefixes/dotnet48/\n");
    file(lutris / "native-1600000003.yml", "game:\n  exe: /usr/games/native\n");

    prefix(home / ".PlayOnLinux/wineprefix/Notepad++", "PlayOnLinux: Notepad++", "playonlinux");
    prefix(home / ".deepinwine/Deepin-QQ", "deepin-wine: Deepin-QQ", "deepin-wine");
    prefix(home / ".cxoffice/Office2016", "CrossOver: Office2016", "crossover");
    return made;
}

} // namespace corvane::test
