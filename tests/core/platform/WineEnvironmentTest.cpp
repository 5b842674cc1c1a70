#include <gtest/gtest.h>

#include "core/platform/wine/WinePlatform.h"
#include "support/TempPrefix.h"

namespace corvane::wine {
namespace {

using test::TempPrefix;

class WineEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.writeSystem(
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n"
            "\"CommonFilesDir\"=\"C:\\\\Program Files\\\\Common Files\"\n"
            "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n"
            "\"ProgramFilesDir (x86)\"=\"C:\\\\Program Files (x86)\"\n"
            "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\ProfileList] 1\n"
            "\"ProfilesDirectory\"=str(2):\"%SystemDrive%\\\\users\"\n"
            "\"ProgramData\"=str(2):\"%SystemDrive%\\\\ProgramData\"\n"
            "\"Public\"=str(2):\"%SystemDrive%\\\\users\\\\Public\"\n"
            "\n[System\\\\CurrentControlSet\\\\Control\\\\ComputerName\\\\ComputerName] 1\n"
            "\"ComputerName\"=\"WINEBOX\"\n"
            "\n[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1\n"
            "\"ComSpec\"=str(2):\"%SystemRoot%\\\\system32\\\\cmd.exe\"\n"
            "\"TEMP\"=str(2):\"%SystemRoot%\\\\temp\"\n"
            "\"windir\"=str(2):\"%SystemRoot%\"\n"
            "\"Shared\"=\"machine\"\n"
            "\"Literal\"=\"%SystemRoot%\"\n");
        prefix.writeUser("\n[Environment] 1\n"
                         "\"TEMP\"=str(2):\"%USERPROFILE%\\\\Temp\"\n"
                         "\"Shared\"=\"user\"\n"
                         "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\"
                         "Shell Folders] 1\n"
                         "\"Personal\"=\"C:\\\\users\\\\tester\\\\Documents\"\n"
                         "\"AppData\"=\"C:\\\\users\\\\tester\\\\AppData\\\\Roaming\"\n"
                         "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\"
                         "User Shell Folders] 1\n"
                         "\"Desktop\"=str(2):\"%USERPROFILE%\\\\Desktop\"\n"
                         "\n[Volatile Environment] 1\n\"LOGONSERVER\"=\"\\\\\\\\WINEBOX\"\n");
    }
    TempPrefix prefix;
    WinePlatform platform{prefix.dir(),
                          test::Options(prefix.dir(), {},
                                        {"LANG=C.UTF-8", "PATH=/usr/bin", "HOME=/home/tester",
                                         "Shared=unix", "TMP=/tmp", "CORVANE_UNIX=yes"})};
};

TEST_F(WineEnvironmentTest, VariablesComeFromThePrefix) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"%SystemDrive%", "C:"},
        {"%SystemRoot%|%WINDIR%", "C:\\windows|C:\\windows"},
        {"%ComSpec%", "C:\\windows\\system32\\cmd.exe"},
        {"%ProgramFiles%|%ProgramFiles(x86)%", "C:\\Program Files|C:\\Program Files (x86)"},
        {"%CommonProgramFiles%", "C:\\Program Files\\Common Files"},
        {"%ProgramData%|%ALLUSERSPROFILE%|%PUBLIC%",
         "C:\\ProgramData|C:\\ProgramData|C:\\users\\Public"},
        {"%USERPROFILE%|%USERNAME%", "C:\\users\\tester|tester"},
        {"%APPDATA%|%LOCALAPPDATA%",
         "C:\\users\\tester\\AppData\\Roaming|C:\\users\\tester\\AppData\\Local"},
        {"%HOMEDRIVE%%HOMEPATH%", "C:\\users\\tester"},
        {"%COMPUTERNAME%", "WINEBOX"},
        {"%temp%", "C:\\users\\tester\\Temp"}, // the user's value wins over the machine's
        {"%Shared%", "user"},                  // and both over the Unix one
        {"%Literal%", "%SystemRoot%"},         // a REG_SZ value is not expanded
        {"%LOGONSERVER%", "\\\\WINEBOX"},
        {"%LANG%|%CORVANE_UNIX%", "C.UTF-8|yes"},
        {"%PATH%|%HOME%|%TMP%", "%PATH%|%HOME%|%TMP%"}, // not taken from Unix
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(platform.expandEnvironment(text), expected);
}

TEST_F(WineEnvironmentTest, ExpansionKeepsWhatItCannotReplace) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"no references", "no references"},
        {"%undefined%\\x", "%undefined%\\x"},
        {"100%", "100%"},
        {"%", "%"},
        {"%%", "%%"},
        {"a%%b", "a%%b"},
        {"%undefined%windir%", "%undefinedC:\\windows"}, // the closing % opens the next
        {"%windir%%windir%", "C:\\windows"
                             "C:\\windows"},
        {"%SYSTEMDRIVE%\\%", "C:\\%"},
        {"中文%windir%中文", "中文C:\\windows中文"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(platform.expandEnvironment(text), expected) << text;
}

TEST_F(WineEnvironmentTest, ChangesToTheRegistryAreSeen) {
    EXPECT_EQ(platform.expandEnvironment("%Shared%"), "user");
    prefix.writeUser("\n[Environment] 1\n\"Shared\"=\"changed\"\n");
    EXPECT_EQ(platform.expandEnvironment("%Shared%"), "changed");
}

TEST_F(WineEnvironmentTest, SpecialFolders) {
    EXPECT_EQ(platform.specialFolder(Csidl::Personal), "C:\\users\\tester\\Documents");
    EXPECT_EQ(platform.specialFolder(Csidl::Desktop), "C:\\users\\tester\\Desktop"); // expanded
    EXPECT_EQ(platform.specialFolder(Csidl::Fonts), "");
    EXPECT_EQ(platform.specialFolder(99), "");
}

TEST(WineEnvironmentDefaults, AMissingPrefixHasADefaultEnvironment) {
    TempPrefix parent;
    WinePlatform platform(parent.dir() / "missing", test::Options(parent.dir()));
    EXPECT_EQ(
        platform.expandEnvironment("%windir%|%USERPROFILE%|%ProgramFiles%|%APPDATA%"),
        "C:\\windows|C:\\users\\tester|C:\\Program Files|C:\\users\\tester\\AppData\\Roaming");
    EXPECT_EQ(platform.expandEnvironment("%COMPUTERNAME%"), "TESTHOST");
    EXPECT_EQ(platform.specialFolder(Csidl::Personal), "");
    EXPECT_EQ(platform.windowsVersion(), WindowsVersion{});
    EXPECT_EQ(platform.shortDateFormat(), "yyyy-MM-dd");
}

TEST(WineVersion, VersionValuesOfTheRelease) {
    struct Case {
        std::string body;
        WindowsVersion expected;
    };
    const Case cases[] = {
        // A fresh Wine 8 prefix (Windows 7).
        {"\"CSDVersion\"=\"Service Pack 1\"\n\"CurrentBuildNumber\"=\"7601\"\n"
         "\"CurrentVersion\"=\"6.1\"\n",
         {6, 1, 7601, "Service Pack 1"}},
        // winecfg set to Windows 10.
        {"\"CurrentBuild\"=\"19045\"\n\"CurrentBuildNumber\"=\"19045\"\n"
         "\"CurrentMajorVersionNumber\"=dword:0000000a\n\"CurrentMinorVersionNumber\"=dword:"
         "00000000\n"
         "\"CurrentVersion\"=\"6.3\"\n",
         {10, 0, 19045, ""}},
        // Windows XP.
        {"\"CSDVersion\"=\"Service Pack 3\"\n\"CurrentBuildNumber\"=\"2600\"\n"
         "\"CurrentVersion\"=\"5.1\"\n",
         {5, 1, 2600, "Service Pack 3"}},
        {"\"CurrentVersion\"=\"garbage\"\n", {0, 0, 0, ""}},
    };
    for (const Case& c : cases) {
        TempPrefix prefix;
        prefix.writeSystem("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n" +
                           c.body);
        WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
        EXPECT_EQ(platform.windowsVersion(), c.expected) << c.body;
    }
}

TEST(WineShortDate, FromTheUsersInternationalSettings) {
    TempPrefix prefix;
    prefix.writeUser("\n[Control Panel\\\\International] 1\n\"sShortDate\"=\"M/d/yyyy\"\n");
    WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
    EXPECT_EQ(platform.shortDateFormat(), "M/d/yyyy");
    prefix.writeUser("\n[Control Panel\\\\International] 1\n\"iDate\"=\"0\"\n");
    EXPECT_EQ(platform.shortDateFormat(), "yyyy-MM-dd");
}

} // namespace
} // namespace corvane::wine
