#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine/EnginePrefix.h"
#include "core/engine/RuleTriggered.h"

namespace corvane {
namespace {

using test::kDeclaration;
using test::ReadFile;

class RuleTriggeredTest : public test::EnginePrefixTest {};

std::string Detection(std::string filesMode, std::vector<FileConditionRow> files,
                      std::string regMode = "or", std::vector<RegConditionRow> registry = {}) {
    DetectionRows rows;
    rows.FilesMatchMode = std::move(filesMode);
    rows.RegMatchMode = std::move(regMode);
    rows.files = std::move(files);
    rows.registry = std::move(registry);
    std::string text;
    EXPECT_TRUE(WriteDetectionDocument(rows, text));
    return text;
}

std::string Registry(std::string mode, std::vector<RegConditionRow> registry) {
    return Detection("or", {}, std::move(mode), std::move(registry));
}

// A registry condition on HKLM\Software\Corvane.
RegConditionRow Corvane(std::string name, std::string type, std::string compare, std::string decide,
                        std::string pathAbs = "0") {
    return {"HKLM",
            "Software\\Corvane",
            std::move(name),
            std::move(type),
            std::move(compare),
            std::move(decide),
            std::move(pathAbs)};
}

const FileConditionRow kFileExists{"C:\\data\\file.txt", "0", "file"};
const FileConditionRow kFileMissing{"C:\\data\\none.txt", "0", "file"};

TEST_F(RuleTriggeredTest, MatchModesAndGroups) {
    const std::string fileGroup = "<type opttype=\"files\" mode=\"or\"><CHdb FilePath=\"C:\\data"
                                  "\\file.txt\" isFolder=\"0\" decide=\"file\"/></type>";
    const std::string failingRegGroup =
        "<type opttype=\"regedit\" mode=\"and\"><CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\" "
        "KeyValue=\"Child\" KeyType=\"\" compareValue=\"\" decide=\"KeyExists\"/>"
        "<CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\" KeyValue=\"None\" KeyType=\"\" "
        "compareValue=\"\" decide=\"KeyExists\"/></type>";
    struct Case {
        std::string_view what;
        std::string text;
        int expected;
    };
    const Case cases[] = {
        {"both groups empty", Detection("or", {}, "and", {}), 0},
        {"empty text", "", 0},
        {"or: one of two holds", Detection("or", {kFileMissing, kFileExists}), 1},
        {"or: none holds", Detection("or", {kFileMissing, kFileMissing}), 0},
        {"and: all hold", Detection("and", {kFileExists, kFileExists}), 1},
        {"and: one of two holds", Detection("and", {kFileExists, kFileMissing}), 0},
        {"and: no rule", Detection("and", {}, "and", {}), 0},
        {"AND is or-mode", Detection("AND", {kFileExists, kFileMissing}), 1},
        {"unknown mode is or-mode", Detection("", {kFileMissing, kFileExists}), 1},
        {"unsatisfied files, satisfied registry",
         Detection("and", {kFileMissing}, "or", {Corvane("Child", "", "", "KeyExists")}), 1},
        {"unsatisfied registry first, then a satisfied file group",
         std::string(kDeclaration) + "<rules>" + failingRegGroup + fileGroup + "</rules>", 1},
        {"a group that is neither files nor regedit is skipped",
         std::string(kDeclaration) + "<rules><type opttype=\"Files\" mode=\"or\">" +
             "<CHdb FilePath=\"C:\\data\\file.txt\" isFolder=\"0\" decide=\"file\"/></type>"
             "</rules>",
         0},
        {"other element names",
         std::string(kDeclaration) + "<a><b opttype=\"files\" mode=\"or\"><c FilePath=\"C:\\data"
                                     "\\file.txt\" isFolder=\"0\" decide=\"file\"/></b></a>",
         1},
        {"keyexists in lower case never holds",
         Registry("and",
                  {Corvane("Child", "", "", "KeyExists"), Corvane("Child", "", "", "keyexists")}),
         0},
        {"an unknown decide in or-mode just does not hold",
         Registry("or",
                  {Corvane("Child", "", "", "keyexists"), Corvane("Child", "", "", "KeyExists")}),
         1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RuleTriggered(c.text, appDir()), c.expected) << c.what;
}

TEST_F(RuleTriggeredTest, ReadFailuresEndWithFalseUnlessAGroupWasSatisfiedBefore) {
    const std::string holds = "<CHdb FilePath=\"C:\\data\\file.txt\" isFolder=\"0\" "
                              "decide=\"file\"/>";
    const std::string fails = "<CHdb FilePath=\"C:\\data\\none.txt\" isFolder=\"0\" "
                              "decide=\"file\"/>";
    const std::string keyExists = "<CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\" "
                                  "KeyValue=\"Child\" KeyType=\"\" compareValue=\"\" "
                                  "decide=\"KeyExists\"/>";
    const std::string satisfied = "<type opttype=\"files\" mode=\"or\">" + holds + "</type>";
    struct Case {
        std::string_view what;
        std::string body; // inside the root, after the declaration
        int expected;
    };
    const Case cases[] = {
        {"missing mode before a satisfied group",
         "<type opttype=\"regedit\">" + keyExists + "</type>" + satisfied, 0},
        {"missing isFolder",
         "<type opttype=\"files\" mode=\"or\">" + fails +
             "<CHdb FilePath=\"C:\\data\\file.txt\" decide=\"file\"/>" + holds + "</type>",
         0},
        {"missing compareValue, even for KeyExists",
         "<type opttype=\"regedit\" mode=\"or\"><CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\""
         " KeyValue=\"Child\" KeyType=\"\" decide=\"KeyExists\"/></type>" +
             satisfied,
         0},
        {"a comment among an and-group's rules",
         "<type opttype=\"files\" mode=\"and\">" + holds + "<!--c--></type>" + satisfied, 0},
        {"or: a rule that held ends the evaluation before the failure",
         "<type opttype=\"files\" mode=\"or\">" + holds + "<CHdb/></type>", 1},
        {"a satisfied group before a missing mode", satisfied + "<type opttype=\"regedit\"/>", 1},
        {"and: the failure comes before the group ends",
         "<type opttype=\"files\" mode=\"and\">" + holds + "<CHdb FilePath=\"x\"/></type>", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            RuleTriggered(std::string(kDeclaration) + "<rules>" + c.body + "</rules>", appDir()),
            c.expected)
            << c.what;
    // No declaration: the root element is the only top-level node.
    EXPECT_EQ(RuleTriggered("<rules>" + satisfied + "</rules>", appDir()), 0);
}

TEST_F(RuleTriggeredTest, FileConditions) {
    struct Case {
        FileConditionRow row;
        int expected;
    };
    const Case cases[] = {
        {{"C:\\data\\file.txt", "0", "file"}, 1},
        {{"C:\\DATA\\FILE.TXT", "0", "file"}, 1}, // components match without regard to case
        {{"C:\\data\\file.txt", "0", "nofile"}, 0},
        {{"C:\\data\\file.txt", "1", "file"}, 0}, // a file is no folder
        {{"C:\\data\\sub", "1", "file"}, 1},
        {{"C:\\data\\sub", "1", "nofile"}, 0},
        {{"C:\\data\\sub", "0", "file"}, 0}, // a folder is no file
        {{"C:\\data\\sub", "0", "nofile"}, 1},
        {{"C:\\data\\sub", "yes", "nofile"}, 1}, // only "1" means folder
        {{"C:\\data\\none", "1", "nofile"}, 1},
        {{"C:\\data\\none", "1", "whatever"}, 0}, // any other decide tests presence
        {{"C:\\data\\file.txt", "0", "NOFILE"}, 1},
        {{"C:\\data\\*.log", "0", "file"}, 1},
        {{"C:\\data\\*.exe", "0", "file"}, 0},
        {{"%windir%\\Fonts\\simsun.ttc", "0", "file"}, 1},
        {{"<fonts>", "1", "file"}, 1},
        {{"<app>Setting.ini", "0", "file"}, 1},
        {{"<app>none.ini", "0", "nofile"}, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RuleTriggered(Detection("or", {c.row}), appDir()), c.expected)
            << c.row.FilePath << " " << c.row.isFolder << " " << c.row.decide;
}

TEST_F(RuleTriggeredTest, RegistryConditions) {
    struct Case {
        RegConditionRow row;
        int expected;
    };
    const Case cases[] = {
        {Corvane("Child", "", "", "KeyExists"), 1},
        {Corvane("child", "", "", "KeyExists"), 1},
        {Corvane("Child\\Grand", "", "", "KeyExists"), 1},
        {Corvane("None", "", "", "KeyExists"), 0},
        {Corvane("", "", "", "KeyExists"), 1}, // the key path itself
        {{"HKLM", "Software\\None", "", "", "", "KeyExists", "0"}, 0},
        {Corvane("None", "", "", "!KeyExists"), 1},
        {Corvane("Child", "", "", "!KeyExists"), 0},
        {Corvane("Sz", "REG_SZ", "", "ValueExists"), 1},
        {Corvane("Sz", "REG_DWORD", "", "ValueExists"), 0},
        {Corvane("Multi", "REG_MULTI_SZ", "", "ValueExists"), 1},
        {Corvane("None", "", "", "ValueExists"), 0},
        {Corvane("Sz", "REG_DWORD", "", "!ValueExists"), 1},
        {Corvane("Sz", "", "", "!ValueExists"), 0},
        {{"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies", "Explorer", "", "",
          "KeyExists", "0"},
         1},
        {{"HKCU", "Software\\Corvane", "Child", "", "", "KeyExists", "0"}, 0},
        {{"HKEY", "Software\\Corvane", "Child", "", "", "KeyExists", "0"}, 1}, // HKLM
        // "Value=" and "Value!=" by type name.
        {Corvane("Sz", "REG_SZ", "hello world", "Value="), 1},
        {Corvane("Sz", "REG_SZ", "HELLO WORLD", "Value="), 1},
        {Corvane("Sz", "REG_SZ", "Hello World ", "Value="), 0},
        {Corvane("Sz", "REG_SZ", "hello world", "Value!="), 0},
        {Corvane("Sz", "REG_SZ", "other", "Value!="), 1},
        {Corvane("Sz", "REG_SZ", "hello world", "value="), 0},
        {Corvane("Cn", "REG_SZ", "中文Ａ", "Value="), 1},
        {Corvane("Cn", "REG_SZ", "中文ａ", "Value="), 0}, // full-width letters keep case
        {Corvane("None", "REG_SZ", "", "Value="), 1},
        {Corvane("None", "REG_SZ", "", "Value!="), 0},
        {Corvane("Exp", "REG_EXPAND_SZ", "%WINDIR%\\X", "Value="), 1}, // not expanded
        {Corvane("Dw", "REG_SZ", "", "Value="), 1}, // a REG_DWORD read as a string
        {Corvane("Dw", "REG_DWORD", "-1", "Value="), 1},
        {Corvane("Dw", "REG_DWORD", "4294967295", "Value="), 0},
        {Corvane("Dw", "REG_DWORD", "0xffffffff", "Value="), 0},
        {Corvane("None", "REG_DWORD", "", "Value="), 1},
        {Corvane("Sz", "REG_DWORD", "", "Value="), 1},
        {Corvane("Bin", "REG_BINARY", "4", "Value="), 1},
        {Corvane("Bin", "REG_BINARY", "01020304", "Value="), 0},
        {Corvane("None", "REG_BINARY", "0", "Value="), 1},
        {Corvane("Sz", "REG_BINARY", "", "Value="), 1},
        {Corvane("Multi", "REG_MULTI_SZ", "", "Value="), 1},
        {Corvane("Multi", "REG_MULTI_SZ", "a", "Value="), 0},
        // PathAbs: only "1" expands the compare text.
        {Corvane("App", "REG_SZ", "<app>Setting.ini", "Value=", "1"), 1},
        {Corvane("App", "REG_SZ", "<app>Setting.ini", "Value=", "0"), 0},
        {Corvane("App", "REG_SZ", "<app>Setting.ini", "Value=", ""), 0},
        {Corvane("Exp", "REG_SZ", "%windir%\\x", "Value=", "1"), 0},
        {Corvane("Child", "", "", "Delete"), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RuleTriggered(Registry("or", {c.row}), appDir()), c.expected)
            << c.row.KeyValue << " " << c.row.KeyType << " " << c.row.compareValue << " "
            << c.row.decide << " " << c.row.PathAbs;

    // A missing PathAbs reads as "0".
    const std::string noPathAbs =
        std::string(kDeclaration) +
        "<rules><type opttype=\"regedit\" mode=\"or\"><CHdb root=\"HKLM\" "
        "KeyPath=\"Software\\Corvane\" KeyValue=\"App\" KeyType=\"REG_SZ\" "
        "compareValue=\"&lt;app>Setting.ini\" decide=\"Value!=\"/></type></rules>";
    EXPECT_EQ(RuleTriggered(noPathAbs, appDir()), 1);
}

TEST_F(RuleTriggeredTest, TheWorkedExampleAndThatNothingChanges) {
    const std::string system = ReadFile(prefix() / "system.reg");
    const std::string user = ReadFile(prefix() / "user.reg");
    const std::string fontsOrPolicies =
        Detection("or", {{"<fonts>", "1", "nofile"}}, "or",
                  {{"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies", "Explorer",
                    "", "", "KeyExists", "0"}});
    EXPECT_EQ(RuleTriggered(fontsOrPolicies, appDir()), 1);
    EXPECT_EQ(ReadFile(prefix() / "system.reg"), system);
    EXPECT_EQ(ReadFile(prefix() / "user.reg"), user);
    EXPECT_TRUE(std::filesystem::exists(drive() / "data/file.txt"));
}

} // namespace
} // namespace corvane
