#include "core/platform/wine/PrefixDiscovery.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include "core/platform/wine/KeyValues.h"

namespace corvane::wine {

namespace fs = std::filesystem;

namespace {

// Files of other programs larger than this are not theirs to begin with.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

class Collector {
public:
    explicit Collector(fs::path home) : home_(std::move(home)) {}

    void add(PrefixSource source, std::string label, const fs::path& path) {
        if (!IsPrefix(path)) return;
        std::error_code ec;
        fs::path real = fs::canonical(path, ec);
        if (ec) real = path.lexically_normal();
        const auto [at, added] = byRealPath_.emplace(real.string(), result.prefixes.size());
        if (added) {
            result.prefixes.push_back({std::move(label), path, source});
            return;
        }
        FoundPrefix& first = result.prefixes[at->second];
        if (first.source == PrefixSource::Wine && source != PrefixSource::Wine) {
            first.label = std::move(label);
            first.source = source;
        }
    }

    void note(const fs::path& file, const std::string& problem) {
        result.notes.push_back("skipped " + file.string() + ": " + problem);
    }

    // The text of a small file of another program; nothing, with a note, when it cannot
    // be read. A file that is not there gives nothing without a note.
    std::optional<std::string> read(const fs::path& file) {
        std::error_code ec;
        const fs::file_status status = fs::status(file, ec);
        if (!fs::exists(status)) return std::nullopt;
        if (!fs::is_regular_file(status)) {
            note(file, "not a file");
            return std::nullopt;
        }
        if (fs::file_size(file, ec) > kMaxFileSize && !ec) {
            note(file, "larger than 16 MiB");
            return std::nullopt;
        }
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        if (in) text << in.rdbuf();
        if (!in || in.bad()) {
            note(file, "cannot be read");
            return std::nullopt;
        }
        return std::move(text).str();
    }

    std::optional<KeyValue> readKeyValues(const fs::path& file) {
        const auto text = read(file);
        if (!text) return std::nullopt;
        std::string error;
        auto values = ReadKeyValues(*text, error);
        if (!values) note(file, error);
        return values;
    }

    std::optional<YAML::Node> readYaml(const fs::path& file) {
        const auto text = read(file);
        if (!text) return std::nullopt;
        try {
            return YAML::Load(*text);
        } catch (const std::exception& e) {
            note(file, e.what());
        }
        return std::nullopt;
    }

    const fs::path& home() const { return home_; }
    Discovery result;

private:
    fs::path home_;
    std::map<std::string, std::size_t> byRealPath_;
};

// The folders in `dir`, by name.
std::vector<fs::path> SubFolders(const fs::path& dir) {
    std::vector<fs::path> folders;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) folders.push_back(it->path());
    std::sort(folders.begin(), folders.end());
    return folders;
}

// The files in `dir` whose names end in `extension`, by name.
std::vector<fs::path> FilesIn(const fs::path& dir, std::string_view extension) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == extension && !it->is_directory(ec))
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `path` with the home folder written as "~".
std::string Tilde(const fs::path& path, const fs::path& home) {
    const fs::path relative = path.lexically_normal().lexically_relative(home.lexically_normal());
    if (relative.empty() || *relative.begin() == "..") return path.string();
    if (relative == ".") return "~";
    return "~/" + relative.string();
}

// The text of the scalar `key` of a YAML mapping; empty when there is none.
std::string YamlText(const YAML::Node& node, const char* key) {
    try {
        if (!node.IsMap()) return {};
        const YAML::Node value = node[key];
        return value && value.IsScalar() ? value.Scalar() : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

// --- Steam ---------------------------------------------------------------------------

// The library folders a Steam installation lists: itself first, then those of
// steamapps/libraryfolders.vdf (entries "N" { "path" "..." }, or "N" "path" in the
// format older clients wrote).
std::vector<fs::path> SteamLibraries(const fs::path& steam, Collector& found) {
    std::vector<fs::path> libraries{steam};
    const fs::path vdf = steam / "steamapps/libraryfolders.vdf";
    const auto values = found.readKeyValues(vdf);
    if (!values) return libraries;
    const KeyValue* list = values->find("libraryfolders");
    if (!list || !list->block) {
        found.note(vdf, "no \"libraryfolders\" block");
        return libraries;
    }
    for (const KeyValue& entry : list->entries) {
        if (!AllDigits(entry.key)) continue;
        const std::string path = entry.block ? entry.text("path") : entry.value;
        if (fs::path(path).is_absolute()) libraries.emplace_back(path);
    }
    return libraries;
}

void FindSteamLibrary(const fs::path& library, Collector& found) {
    std::vector<std::pair<std::string, fs::path>> apps; // app ID, its compatdata folder
    for (const fs::path& folder : SubFolders(library / "steamapps/compatdata"))
        if (AllDigits(folder.filename().string()))
            apps.emplace_back(folder.filename().string(), folder);
    std::sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size()
                                                : a.first < b.first;
    });
    for (const auto& [id, folder] : apps) {
        const fs::path pfx = folder / "pfx";
        if (!IsPrefix(pfx)) continue;
        std::string name;
        if (const auto manifest =
                found.readKeyValues(library / ("steamapps/appmanifest_" + id + ".acf")))
            if (const KeyValue* state = manifest->find("AppState")) name = state->text("name");
        found.add(PrefixSource::Steam, "Steam: " + (name.empty() ? id : name + " (" + id + ")"),
                  pfx);
    }
}

void FindSteam(const std::vector<fs::path>& installations, Collector& found) {
    std::vector<std::string> seen; // libraries already looked at, by their real path
    for (const fs::path& steam : installations) {
        std::error_code ec;
        if (!fs::is_directory(steam / "steamapps", ec)) continue;
        for (const fs::path& library : SteamLibraries(steam, found)) {
            fs::path real = fs::canonical(library, ec);
            if (ec) continue;
            if (std::find(seen.begin(), seen.end(), real.string()) != seen.end()) continue;
            seen.push_back(real.string());
            FindSteamLibrary(library, found);
        }
    }
}

// --- Bottles, Lutris, folders of prefixes ----------------------------------------------

void FindBottles(const fs::path& bottles, Collector& found) {
    for (const fs::path& bottle : SubFolders(bottles)) {
        if (!IsPrefix(bottle)) continue;
        std::string name;
        if (const auto config = found.readYaml(bottle / "bottle.yml"))
            name = YamlText(*config, "Name");
        found.add(PrefixSource::Bottles,
                  "Bottles: " + (name.empty() ? bottle.filename().string() : name), bottle);
    }
}

// A Lutris game file is named "<slug>-<install time>.yml".
std::string LutrisSlug(const fs::path& file) {
    std::string slug = file.stem().string();
    const auto dash = slug.rfind('-');
    if (dash != std::string::npos && dash > 0 && AllDigits(std::string_view(slug).substr(dash + 1)))
        slug.resize(dash);
    return slug;
}

void FindLutris(const fs::path& games, Collector& found) {
    for (const fs::path& file : FilesIn(games, ".yml")) {
        const auto config = found.readYaml(file);
        if (!config) continue;
        std::string prefix;
        try {
            if (config->IsMap()) prefix = YamlText((*config)["game"], "prefix");
        } catch (const std::exception&) {
        }
        if (prefix.empty()) continue;
        if (prefix == "~" || prefix.starts_with("~/"))
            prefix =
                (found.home() / prefix.substr(std::min<std::size_t>(2, prefix.size()))).string();
        if (!fs::path(prefix).is_absolute()) continue;
        std::string name = YamlText(*config, "name");
        if (name.empty()) name = LutrisSlug(file);
        found.add(PrefixSource::Lutris, "Lutris: " + name, fs::path(prefix).lexically_normal());
    }
}

// --- deepin-wine and CrossOver --------------------------------------------------------

// The value of `name=` on a line of a shell script or desktop entry, quotes removed.
std::string LineValue(std::string_view text, std::string_view name) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.starts_with("export ")) line.remove_prefix(7);
        if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != '=')
            continue;
        std::string_view value = line.substr(name.size() + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.remove_suffix(1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return {};
}

// The programs deepin's launchers run in each prefix of ~/.deepinwine, by prefix name:
// "Deepin-WeChat" → "微信" (the launcher's Chinese name, else its name).
std::map<std::string, std::string> DeepinLaunchers(const fs::path& apps, Collector& found) {
    std::map<std::string, std::string> names;
    for (const fs::path& app : SubFolders(apps)) {
        const fs::path script = app / "files/run.sh";
        std::error_code ec;
        if (!fs::exists(script, ec)) continue;
        const auto text = found.read(script);
        if (!text) continue;
        const std::string bottle = LineValue(*text, "BOTTLENAME");
        if (bottle.empty() || names.count(bottle)) continue;
        std::string name;
        for (const fs::path& entry : FilesIn(app / "entries/applications", ".desktop")) {
            if (const auto desktop = found.read(entry)) {
                name = LineValue(*desktop, "Name[zh_CN]");
                if (name.empty()) name = LineValue(*desktop, "Name");
            }
            if (!name.empty()) break;
        }
        names[bottle] = name;
    }
    return names;
}

void FindDeepin(const fs::path& folder, const fs::path& apps, Collector& found) {
    const std::vector<fs::path> prefixes = SubFolders(folder);
    if (prefixes.empty()) return;
    const std::map<std::string, std::string> launchers = DeepinLaunchers(apps, found);
    for (const fs::path& prefix : prefixes) {
        const std::string bottle = prefix.filename().string();
        const auto named = launchers.find(bottle);
        const bool hasName = named != launchers.end() && !named->second.empty();
        found.add(PrefixSource::DeepinWine,
                  "deepin-wine: " + (hasName ? named->second + " (" + bottle + ")" : bottle),
                  prefix);
    }
}

void FindEach(const fs::path& folder, PrefixSource source, const std::string& program,
              Collector& found) {
    for (const fs::path& prefix : SubFolders(folder))
        found.add(source, program + ": " + prefix.filename().string(), prefix);
}

} // namespace

std::string_view SourceName(PrefixSource source) {
    switch (source) {
    case PrefixSource::Wine:
        return "wine";
    case PrefixSource::Winetricks:
        return "winetricks";
    case PrefixSource::Steam:
        return "steam";
    case PrefixSource::Bottles:
        return "bottles";
    case PrefixSource::Lutris:
        return "lutris";
    case PrefixSource::PlayOnLinux:
        return "playonlinux";
    case PrefixSource::DeepinWine:
        return "deepin-wine";
    case PrefixSource::CrossOver:
        return "crossover";
    }
    return "wine";
}

DiscoveryPlaces DiscoveryPlaces::FromProcess() {
    DiscoveryPlaces places;
    if (const char* home = std::getenv("HOME"); home && *home) {
        places.home = home;
    } else if (const passwd* pw = ::getpwuid(::getuid())) {
        places.home = pw->pw_dir;
    } else {
        places.home = "/";
    }
    if (const char* prefix = std::getenv("WINEPREFIX")) places.winePrefix = prefix;
    if (const char* data = std::getenv("XDG_DATA_HOME")) places.xdgDataHome = data;
    return places;
}

bool IsPrefix(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / "system.reg", ec) &&
           fs::is_directory(folder / "drive_c", ec);
}

Discovery DiscoverPrefixes(const DiscoveryPlaces& places) {
    const fs::path& home = places.home;
    // As the XDG rules say, a relative $XDG_DATA_HOME is ignored.
    const fs::path data = fs::path(places.xdgDataHome).is_absolute() ? fs::path(places.xdgDataHome)
                                                                     : home / ".local/share";
    Collector found(home);
    if (!places.winePrefix.empty()) {
        std::error_code ec;
        const fs::path prefix = fs::absolute(places.winePrefix, ec).lexically_normal();
        found.add(PrefixSource::Wine, "Wine: " + Tilde(prefix, home), prefix);
    }
    found.add(PrefixSource::Wine, "Wine: ~/.wine", home / ".wine");
    FindEach(data / "wineprefixes", PrefixSource::Winetricks, "winetricks", found);
    FindSteam({data / "Steam", home / ".steam/steam",
               home / ".var/app/com.valvesoftware.Steam/.local/share/Steam"},
              found);
    FindBottles(data / "bottles/bottles", found);
    FindBottles(home / ".var/app/com.usebottles.bottles/data/bottles/bottles", found);
    FindLutris(home / ".config/lutris/games", found);
    FindLutris(data / "lutris/games", found);
    FindEach(home / ".PlayOnLinux/wineprefix", PrefixSource::PlayOnLinux, "PlayOnLinux", found);
    FindDeepin(home / ".deepinwine", places.apps, found);
    // A CrossOver bottle is a prefix; CrossOver names it by its folder.
    FindEach(home / ".cxoffice", PrefixSource::CrossOver, "CrossOver", found);
    return std::move(found.result);
}

} // namespace corvane::wine
