#include "core/engine/RulePath.h"

#include <array>

#include "core/engine/UnitString.h"
#include "core/platform/Platform.h"

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

std::string ExpandRulePath(std::string_view rulePath, std::string_view appDir) {
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
            macro.csidl == kAppFolder ? std::string(appDir) : platform.specialFolder(macro.csidl);
        // No occurrence can start before the first "<": the candidate itself is the
        // first one.
        text.replace(static_cast<std::size_t>(open - 1), candidate.size(), folder);
        return text;
    }
    return text;
}

std::string RegistryAppDir(std::string_view appDir) {
    std::string windows = ActivePlatform().windowsPathOf(std::string(appDir));
    return windows.empty() ? std::string(appDir) : windows;
}

} // namespace corvane
