// The Wine prefixes of a user: the one Wine tools use ($WINEPREFIX, ~/.wine) and those
// that winetricks, Steam (Proton), Bottles, Lutris, PlayOnLinux, the deepin-wine
// launchers (WeChat, QQ, TIM, office programs) and CrossOver keep, each named the way
// the user knows it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wine {

enum class PrefixSource {
    Wine,
    Winetricks,
    Steam,
    Bottles,
    Lutris,
    PlayOnLinux,
    DeepinWine,
    CrossOver
};

// "wine", "winetricks", "steam", "bottles", "lutris", "playonlinux", "deepin-wine",
// "crossover".
std::string_view SourceName(PrefixSource source);

struct FoundPrefix {
    std::string label; // "Steam: ELDEN RING (1245620)", "Bottles: Office", "Wine: ~/.wine"
    std::filesystem::path path;
    PrefixSource source = PrefixSource::Wine;
};

struct Discovery {
    std::vector<FoundPrefix> prefixes;
    // Files of other programs that were skipped, each with why:
    // "/home/u/.local/share/Steam/steamapps/libraryfolders.vdf: line 3: unclosed quote".
    std::vector<std::string> notes;
};

// Where to look: the user's home and the environment values that move things.
struct DiscoveryPlaces {
    std::filesystem::path home;
    std::string winePrefix;  // $WINEPREFIX, may be empty
    std::string xdgDataHome; // $XDG_DATA_HOME, may be empty (then ~/.local/share)
    // Where deepin's packages install their launchers: <apps>/<id>/files/run.sh names
    // the prefix (BOTTLENAME), <apps>/<id>/entries/applications/*.desktop the program.
    std::filesystem::path apps = "/opt/apps";

    // $HOME (else the password database's home), $WINEPREFIX and $XDG_DATA_HOME.
    static DiscoveryPlaces FromProcess();
};

// A folder is a prefix when it holds system.reg and drive_c/.
bool IsPrefix(const std::filesystem::path& folder);

// Every prefix found, in the order: $WINEPREFIX, ~/.wine, winetricks, Steam (each
// library, by app ID), Bottles, Lutris, PlayOnLinux, deepin-wine, CrossOver; within a
// place by name. A folder
// reached twice (by a link, or named by two programs) is listed once, under the first
// name other than "Wine: ..." it has. Unreadable or damaged files are skipped with a
// note; nothing here throws for what it finds on disk.
Discovery DiscoverPrefixes(const DiscoveryPlaces& places);

} // namespace corvane::wine
