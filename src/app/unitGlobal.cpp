#include "app/unitGlobal.h"

#include <array>
#include <cstdint>

#include "engine/UnitString.h"
#include "platform/Platform.h"
#include "store/IniFile.h"

namespace corvane {

namespace {

constexpr int kAppFolder = -1;

struct PathMacro {
    std::string_view name;
    int csidl;
};

constexpr std::array<PathMacro, 7> kPathMacros{{
    {"<app>", kAppFolder},
    {"<personal>", Csidl::Personal},
    {"<desktop>", Csidl::Desktop},
    {"<nethood>", Csidl::NetHood},
    {"<programs>", Csidl::Programs},
    {"<startup>", Csidl::Startup},
    {"<fonts>", Csidl::Fonts},
}};

} // namespace

GlobalContext& Global() {
    static GlobalContext context;
    return context;
}

void InitGlobalContext(const std::string& appDir) {
    GlobalContext& g = Global();
    g.RuleTable = "cvdb";
    g.AppDir = appDir;
    g.DbFile = appDir + "cvdb.db";
    g.WinOSFile = appDir + "WinOS.dat";
    g.DefaultOSTags = "[win98][win2000][win2003][winxp][winvista][win7][win8]";
    g.CurOSTag.clear();
    GetOSTag(g.CurOSTag);
    g.OSVersionText = GetOSVersionText();
    g.DbKey = "kplmvz";
}

void GetOSTag(std::string& tag) {
    static constexpr struct {
        std::uint32_t major, minor;
        std::string_view tag;
    } kTags[] = {
        {4, 0, "[win95]"},   {4, 1, "[win98]"},    {5, 0, "[win2000]"}, {5, 1, "[winxp]"},
        {5, 2, "[win2003]"}, {6, 0, "[winvista]"}, {6, 1, "[win7]"},    {6, 2, "[win8]"},
    };
    const WindowsVersion version = ActivePlatform().windowsVersion();
    for (const auto& entry : kTags)
        if (entry.major == version.major && entry.minor == version.minor) tag = entry.tag;
}

std::string GetOSVersionText() {
    const WindowsVersion version = ActivePlatform().windowsVersion();
    std::string servicePack = version.servicePack.substr(0, version.servicePack.find('\0'));
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build) + "." + servicePack;
}

void EnableDebugPrivilege() {
    // A Wine prefix has no process token to adjust, and nothing depends on it.
}

OemInfo ReadOemInfo() {
    const IniDocument ini(ReadTextFile(Global().AppDir + "oem/oem.ini"));
    // As GetPrivateProfileString: the default stands in for a missing key only.
    return {ini.find("Oem", "softName").value_or("CorvaneV1.0.0.0"),
            ini.find("Oem", "authorName").value_or("Halvik")};
}

LastDates ReadLastDates() {
    const IniDocument ini(ReadTextFile(Global().AppDir + "Setting.ini"));
    auto shown = [](std::string date) {
        if (!IsValidDateText(date)) date.clear();
        return date.empty() ? std::string("未知") : date;
    };
    return {shown(ini.read("Setting", "ScanTime")), shown(ini.read("Setting", "FixTime"))};
}

std::string ExpandRulePath(std::string_view rulePath) {
    Platform& platform = ActivePlatform();
    // The expansion is never cut short: a cut path could name another file, which a
    // repair would then delete.
    std::string text = platform.expandEnvironment(rulePath);
    const int open = NthPos("<", text, 1);
    if (open == 0) return text;
    // The first ">" of the whole text, wherever the "<" stands.
    const int close = NthPos(">", text, 1);
    if (close == 0 || close < open) return text;
    const std::string_view candidate = std::string_view(text).substr(
        static_cast<std::size_t>(open - 1), static_cast<std::size_t>(close - open + 1));
    for (const PathMacro& macro : kPathMacros) {
        if (candidate != macro.name) continue;
        const std::string folder =
            macro.csidl == kAppFolder ? Global().AppDir : platform.specialFolder(macro.csidl);
        // No occurrence can start before the first "<": the candidate itself is the
        // first one.
        text.replace(static_cast<std::size_t>(open - 1), candidate.size(), folder);
        return text;
    }
    return text;
}

} // namespace corvane
