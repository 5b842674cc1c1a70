#include "core/platform/wine/WineEnvironment.h"

#include <array>

#include "core/platform/Utf.h"

namespace corvane::wine {

namespace {

std::string Folded(std::string_view name) {
    auto units = Utf8ToUtf16(name);
    if (!units) return std::string(name);
    for (char16_t& c : *units)
        c = FoldCase(c);
    return Utf16ToUtf8(*units);
}

constexpr std::string_view kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view kNtCurrentVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";

} // namespace

std::optional<std::string> WineEnvironment::get(std::string_view name) const {
    const auto it = index_.find(Folded(name));
    if (it == index_.end()) return std::nullopt;
    return vars_[it->second].second;
}

void WineEnvironment::set(std::string_view name, std::string value) {
    std::string key = Folded(name);
    if (const auto it = index_.find(key); it != index_.end()) {
        vars_[it->second].second = std::move(value);
        return;
    }
    index_.emplace(std::move(key), vars_.size());
    vars_.emplace_back(std::string(name), std::move(value));
}

std::string WineEnvironment::expand(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        if (open == std::string_view::npos) break;
        out.append(text, pos, open - pos);
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            pos = open;
            break;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (auto value = name.empty() ? std::nullopt : get(name)) {
            out += *value;
            pos = close + 1;
        } else {
            // The closing % may open the next reference.
            out.append(text, open, close - open);
            pos = close;
        }
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

WineEnvironment WineEnvironment::Build(WineRegistry& registry, const UnixSide& unix) {
    WineEnvironment env;
    for (const std::string& entry : unix.environment) {
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string name = entry.substr(0, eq);
        const std::string folded = Folded(name);
        if (folded == "path" || folded == "pwd" || folded == "home" || folded == "temp" ||
            folded == "tmp")
            continue;
        env.set(name, entry.substr(eq + 1));
    }
    auto read = [&](RegKey root, std::string_view path, std::string_view name,
                    std::string_view fallback) {
        auto value = registry.readString(root, path, name);
        if (!value) return std::string(fallback);
        return value->expandable ? env.expand(value->text) : value->text;
    };

    env.set("SystemDrive", "C:");
    const std::string systemRoot =
        read(RootKey::LocalMachine, kNtCurrentVersion, "SystemRoot", "C:\\windows");
    env.set("SystemRoot", systemRoot);
    env.set("windir", systemRoot);

    const std::string programFiles =
        read(RootKey::LocalMachine, kCurrentVersion, "ProgramFilesDir", "C:\\Program Files");
    const std::string commonFiles = read(RootKey::LocalMachine, kCurrentVersion, "CommonFilesDir",
                                         programFiles + "\\Common Files");
    env.set("ProgramFiles", programFiles);
    env.set("ProgramW6432", programFiles);
    env.set("ProgramFiles(x86)", read(RootKey::LocalMachine, kCurrentVersion,
                                      "ProgramFilesDir (x86)", "C:\\Program Files (x86)"));
    env.set("CommonProgramFiles", commonFiles);
    env.set("CommonProgramW6432", commonFiles);
    env.set("CommonProgramFiles(x86)",
            read(RootKey::LocalMachine, kCurrentVersion, "CommonFilesDir (x86)",
                 "C:\\Program Files (x86)\\Common Files"));

    const std::string profileList = std::string(kNtCurrentVersion) + "\\ProfileList";
    const std::string programData =
        read(RootKey::LocalMachine, profileList, "ProgramData", "C:\\ProgramData");
    env.set("ProgramData", programData);
    env.set("ALLUSERSPROFILE", programData);
    env.set("PUBLIC", read(RootKey::LocalMachine, profileList, "Public", "C:\\users\\Public"));
    const std::string profile =
        read(RootKey::LocalMachine, profileList, "ProfilesDirectory", "C:\\users") + "\\" +
        unix.userName;
    env.set("USERPROFILE", profile);
    const std::string shellFolders = std::string(kCurrentVersion) + "\\Explorer\\Shell Folders";
    env.set("APPDATA",
            read(RootKey::CurrentUser, shellFolders, "AppData", profile + "\\AppData\\Roaming"));
    env.set("LOCALAPPDATA", read(RootKey::CurrentUser, shellFolders, "Local AppData",
                                 profile + "\\AppData\\Local"));
    env.set("USERNAME", unix.userName);
    env.set("COMPUTERNAME", read(RootKey::LocalMachine,
                                 "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                                 "ComputerName", unix.hostName));
    env.set("HOMEDRIVE", profile.substr(0, 2));
    env.set("HOMEPATH", profile.size() > 2 ? profile.substr(2) : "\\");

    // The machine's own variables, then the user's; later ones win.
    const std::array<std::pair<RegKey, std::string_view>, 3> keys{{
        {RootKey::LocalMachine, "System\\CurrentControlSet\\Control\\Session Manager\\Environment"},
        {RootKey::CurrentUser, "Environment"},
        {RootKey::CurrentUser, "Volatile Environment"},
    }};
    for (const auto& [root, path] : keys)
        for (const auto& value : registry.readStrings(root, path))
            env.set(value.name, value.expandable ? env.expand(value.text) : value.text);
    return env;
}

} // namespace corvane::wine
