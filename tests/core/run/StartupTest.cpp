#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "core/engine/UnitString.h"
#include "core/run/ScanRepair.h"
#include "core/store/IniFile.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

TEST(SplitText, ItemsBetweenDelimitersAndBlanks) {
    const std::pair<std::string_view, std::vector<std::string>> cases[] = {
        {"2008-05-12", {"2008", "05", "12"}},
        {"2008-05-", {"2008", "05", ""}},
        {"2008 05-12", {"2008", "05", "12"}}, // a blank separates as the delimiter does
        {"  a - b", {"a", "b"}},
        {"\"a-b\"-c", {"a-b", "c"}},
        {"\"say \"\"hi\"\"\"-x", {"say \"hi\"", "x"}},
        {"", {}},
        {"-", {"", ""}},
        {"a--b", {"a", "", "b"}},
    };
    for (const auto& [text, items] : cases)
        EXPECT_EQ(SplitText(text, '-'), items) << text;
}

TEST(IsValidDateText, ThroughTheShortDateFormat) {
    struct Case {
        std::string_view text, format;
        bool valid;
    };
    const Case cases[] = {
        {"2008-05-12", "yyyy-MM-dd", true},    {"2008-05-12", "M/d/yyyy", true},
        {"2008-05-12", "dd.MM.yyyy", true},    {"2008-05-12", "yyyy-M-d", true},
        {"2008-05-12", "yy/MM/dd", true},      {"2008-02-29", "yyyy-MM-dd", true},
        {"2009-02-29", "yyyy-MM-dd", false},   {"2008-13-40", "yyyy-MM-dd", false},
        {"2008-05", "yyyy-MM-dd", false},      {"", "yyyy-MM-dd", false},
        {"2013/05/07", "yyyy-MM-dd", false},   {"word", "M/d/yyyy", false},
        {"2008-05-12-1", "yyyy-MM-dd", false}, {"2008-0a-12", "yyyy-MM-dd", false},
        {"2008 05-12", "yyyy-MM-dd", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidDateText(c.text, c.format), c.valid) << c.text << " as " << c.format;
}

TEST(GetOSTag, TagsAndVersionTextOfTheRelease) {
    struct Case {
        std::string body;
        std::string tag, text;
    };
    const Case cases[] = {
        {"\"CurrentVersion\"=\"5.1\"\n\"CurrentBuildNumber\"=\"2600\"\n\"CSDVersion\"=\"Service "
         "Pack 3\"\n",
         "[winxp]", "5.1.2600.Service Pack 3"},
        {"\"CurrentVersion\"=\"6.1\"\n\"CurrentBuildNumber\"=\"7600\"\n", "[win7]", "6.1.7600."},
        {"\"CurrentVersion\"=\"6.2\"\n\"CurrentBuildNumber\"=\"9200\"\n", "[win8]", "6.2.9200."},
        {"\"CurrentVersion\"=\"4.90\"\n\"CurrentBuildNumber\"=\"3000\"\n", "", "4.90.3000."},
        {"\"CurrentMajorVersionNumber\"=dword:0000000a\n\"CurrentMinorVersionNumber\"=dword:"
         "00000000\n"
         "\"CurrentBuildNumber\"=\"19045\"\n",
         "", "10.0.19045."},
    };
    for (const Case& c : cases) {
        TempPrefix prefix;
        prefix.writeSystem("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n" +
                           c.body);
        wine::WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
        PlatformScope scope(platform);
        const RunInputs inputs = InputsBeside("/opt/corvane/");
        EXPECT_EQ(inputs.release.osTag, c.tag) << c.text;
        EXPECT_EQ(inputs.release.versionText, c.text);
        EXPECT_EQ(inputs.library.file, "/opt/corvane/cvdb.db");
        EXPECT_EQ(inputs.settingsFile, "/opt/corvane/Setting.ini");
    }
}

TEST(IniFile, ReadsAsGetPrivateProfileString) {
    const IniDocument ini("; comment\n[Setting]\nScanTime = 2013-05-07 \nscantime=ignored\n"
                          "Quoted=\"  x  \"\n\n[setting]\nFixTime=second section\n"
                          "[Oem]\r\nsoftName=\n");
    EXPECT_EQ(ini.read("SETTING", "scantime"), "2013-05-07");
    EXPECT_EQ(ini.read("Setting", "Quoted"), "  x  ");
    EXPECT_EQ(ini.read("Setting", "FixTime"), ""); // only the first section counts
    EXPECT_EQ(ini.read("Setting", "FixTime", IniLookup::Last), "second section");
    EXPECT_EQ(ini.read("Setting", "ScanTime", IniLookup::Last), "");
    EXPECT_EQ(ini.find("Oem", "softName"), std::optional<std::string>(""));
    EXPECT_EQ(ini.find("Oem", "authorName"), std::nullopt);
    EXPECT_EQ(ini.read("Missing", "x"), "");
    EXPECT_EQ(ini.sections(), (std::vector<std::string>{"Setting", "Oem"}));
    EXPECT_EQ(ini.keys("setting"), (std::vector<std::string>{"ScanTime", "Quoted"}));
}

TEST(IniFile, WritingKeepsEveryOtherLine) {
    TempPrefix dir;
    const auto file = dir.file("Setting.ini");
    ASSERT_TRUE(IniWriteString(file, "Setting", "ScanTime", "2020-01-02"));
    EXPECT_EQ(ReadFile(file), "[Setting]\nScanTime=2020-01-02\n");
    WriteFile(file, "; keep me\r\n[setting]\r\nscantime=old\r\nOther=1\r\n\r\n[Next]\r\nk=v");
    ASSERT_TRUE(IniWriteString(file, "Setting", "ScanTime", "2020-01-03"));
    ASSERT_TRUE(IniWriteString(file, "Setting", "FixTime", "2020-01-04"));
    ASSERT_TRUE(IniWriteString(file, "Third", "a", "b"));
    EXPECT_EQ(ReadFile(file), "; keep me\r\n[setting]\r\nScanTime=2020-01-03\r\nOther=1\r\n"
                              "FixTime=2020-01-04\r\n\r\n[Next]\r\nk=v\r\n\r\n[Third]\r\na=b\r\n");
    EXPECT_FALSE(IniWriteString(dir.file("missing/Setting.ini"), "S", "k", "v"));
}

// A key that holds the value already, as a write would put it, leaves the file alone.
TEST(IniFile, WritingTheValueHeldAlreadyLeavesTheFile) {
    TempPrefix dir;
    const auto file = dir.file("Setting.ini");
    WriteFile(file, "[Setting]\r\nFixTime=2020-01-02\r\nscantime=2020-01-02\r\n");
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(IniWriteString(file, "Setting", "FixTime", "2020-01-02"));
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written again";
    // A key written in another case is written as the write names it.
    ASSERT_TRUE(IniWriteString(file, "Setting", "ScanTime", "2020-01-02"));
    EXPECT_EQ(ReadFile(file), "[Setting]\r\nFixTime=2020-01-02\r\nScanTime=2020-01-02\r\n");
}

// ASCII text as UTF-16 (LE or BE) with its byte-order mark.
std::string Utf16(std::string_view ascii, bool bigEndian = false) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii)
        out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

// A write changes the one line of its key and keeps every other byte in the file's own
// encoding; a file it cannot keep whole is not written.
TEST(IniFile, WritingChangesOneLineInTheFilesEncoding) {
    // Bytes that are not GBK, then the sections that once got lost after them.
    const std::string notGbk = "[Junk]\r\nx=\x81\xff\xff\x80\xfe\r\n";
    struct Case {
        const char* name;
        std::string before;
        const char* key;
        const char* value;
        std::optional<std::string> after; // nullopt: refused, file unchanged
    };
    const Case cases[] = {
        {"gbk with bad bytes", notGbk + "[Setting]\r\nScanTime=old\r\n[Next]\r\nk=\xd6\xd0\r\n",
         "ScanTime", "2020-01-02",
         notGbk + "[Setting]\r\nScanTime=2020-01-02\r\n[Next]\r\nk=\xd6\xd0\r\n"},
        {"gbk new key in gbk", "[Setting]\nk=\xd6\xd0\n", "Name", "中文",
         "[Setting]\nk=\xd6\xd0\nName=\xd6\xd0\xce\xc4\n"},
        {"gbk cannot hold it", "[Setting]\nk=\xd6\xd0\n", "Name", "😀", std::nullopt},
        {"utf-16le", Utf16("[Setting]\r\nScanTime=old\r\n[B]\r\n"), "ScanTime", "new",
         Utf16("[Setting]\r\nScanTime=new\r\n[B]\r\n")},
        {"utf-16be new section", Utf16("[A]\r\nk=v", true), "ScanTime", "new",
         Utf16("[A]\r\nk=v\r\n\r\n[Setting]\r\nScanTime=new\r\n", true)},
        {"utf-8 bom with a bad byte", "\xEF\xBB\xBF[setting]\nOther = 1\n[Setting]\nOther=2\xff",
         "Other", "x", "\xEF\xBB\xBF[setting]\nOther=x\n[Setting]\nOther=2\xff"},
        {"utf-8 bom, mixed line ends", "\xEF\xBB\xBF[Setting]\nA=1\r\nScanTime=o\n  B = 2 \r\n",
         "ScanTime", "n", "\xEF\xBB\xBF[Setting]\nA=1\r\nScanTime=n\n  B = 2 \r\n"},
        {"nul bytes without bom", std::string("[Setting]\nA=\0\n", 14), "A", "1", std::nullopt},
        {"odd utf-16", Utf16("[Setting]\r\n") + "x", "A", "1", std::nullopt},
    };
    for (const Case& c : cases) {
        TempPrefix dir;
        const auto file = dir.file("Setting.ini");
        WriteFile(file, c.before);
        EXPECT_EQ(IniWriteString(file, "Setting", c.key, c.value), c.after.has_value()) << c.name;
        EXPECT_EQ(ReadFile(file), c.after.value_or(c.before)) << c.name;
        if (c.after) {
            EXPECT_EQ(IniDocument(ReadTextFile(file)).read("Setting", c.key), c.value) << c.name;
        }
    }
}

TEST(IniFile, FilesFromWindowsReadAsGbk) {
    TempPrefix dir;
    // "softName=中文" in code page 936.
    WriteFile(dir.file("oem.ini"), "[Oem]\r\nsoftName=\xd6\xd0\xce\xc4\r\n");
    EXPECT_EQ(IniDocument(ReadTextFile(dir.file("oem.ini"))).read("oem", "SOFTNAME"), "中文");
    WriteFile(dir.file("utf8.ini"), "\xEF\xBB\xBF[Oem]\nsoftName=中文\n");
    EXPECT_EQ(IniDocument(ReadTextFile(dir.file("utf8.ini"))).read("Oem", "softName"), "中文");
    EXPECT_EQ(IniDocument(ReadTextFile(dir.file("none.ini"))).read("Oem", "softName"), "");
}

} // namespace
} // namespace corvane
