#include <gtest/gtest.h>

#include "core/engine/RulePath.h"
#include "core/platform/wine/WinePlatform.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;

TEST(ExpandRulePath, EnvironmentThenOnePathMacro) {
    TempPrefix prefix;
    prefix.writeUser(
        "\n[Environment] 1\n\"MACRO\"=\"<fonts>\"\n\"LONG\"=\"" + std::string(300, 'x') +
        "\"\n"
        "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1\n"
        "\"Desktop\"=\"C:\\\\users\\\\tester\\\\Desktop\"\n"
        "\"Fonts\"=\"C:\\\\windows\\\\Fonts\"\n"
        "\"NetHood\"=\"C:\\\\users\\\\tester\\\\NetHood\"\n"
        "\"Personal\"=\"C:\\\\users\\\\tester\\\\Documents\"\n"
        "\"Programs\"=\"C:\\\\users\\\\tester\\\\Start Menu\\\\Programs\"\n"
        "\"Startup\"=\"C:\\\\users\\\\tester\\\\Start Menu\\\\Programs\\\\StartUp\"\n");
    wine::WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
    PlatformScope scope(platform);

    const std::pair<std::string_view, std::string> cases[] = {
        {"%windir%\\system32\\drivers\\etc\\hosts", "C:\\windows\\system32\\drivers\\etc\\hosts"},
        {"<personal>\\x", "C:\\users\\tester\\Documents\\x"},
        {"<app>Setting.ini", "/opt/corvane/Setting.ini"},
        {"<desktop>\\a.lnk", "C:\\users\\tester\\Desktop\\a.lnk"},
        {"<nethood>\\n", "C:\\users\\tester\\NetHood\\n"},
        {"<programs>\\p", "C:\\users\\tester\\Start Menu\\Programs\\p"},
        {"<startup>\\s", "C:\\users\\tester\\Start Menu\\Programs\\StartUp\\s"},
        {"<fonts>\\simsun.ttc", "C:\\windows\\Fonts\\simsun.ttc"},
        {"<Fonts>\\simsun.ttc", "<Fonts>\\simsun.ttc"}, // exact names only
        {"<APP>x", "<APP>x"},
        {"<desktop>\\<app>", "C:\\users\\tester\\Desktop\\<app>"}, // one macro only
        {"<app>x<fonts>", "/opt/corvane/x<fonts>"},
        {"a>b<app>", "a>b<app>"}, // ">" before "<"
        {"<app", "<app"},
        {"%MACRO%\\x", "C:\\windows\\Fonts\\x"}, // a variable may hold one
        {"<unknown>\\x", "<unknown>\\x"},
        {"%undefined%<app>", "%undefined%/opt/corvane/"},
    };
    for (const auto& [rule, expected] : cases)
        EXPECT_EQ(ExpandRulePath(rule, "/opt/corvane/"), expected) << rule;

    // Never cut short: past 259 characters the path goes on.
    const std::string expanded = ExpandRulePath("C:\\%LONG%\\target.txt", "/opt/corvane/");
    EXPECT_EQ(expanded.size(), 3 + 300 + 11u);
    EXPECT_TRUE(expanded.ends_with("\\target.txt"));
}

TEST(ExpandRulePath, AFolderThePlatformCannotNameIsEmpty) {
    TempPrefix parent;
    wine::WinePlatform platform(parent.dir() / "missing", test::Options(parent.dir()));
    PlatformScope scope(platform);
    EXPECT_EQ(ExpandRulePath("<personal>\\x", "/opt/corvane/"), "\\x");
}

} // namespace
} // namespace corvane
