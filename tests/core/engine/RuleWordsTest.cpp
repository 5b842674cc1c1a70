// The words added to the rule documents, on a real prefix: link conditions, groups
// joined by "and", SetValue that makes its key and writes lists, folders made (a link in
// their place replaced); and documents without them read and write as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/engine/EnginePrefix.h"
#include "core/engine/RegCommon.h"
#include "core/engine/RuleTriggered.h"
#include "core/engine/RunRepairXML.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::EnginePrefixTest;
using test::WriteFile;

std::string Detection(const DetectionRows& rows) {
    std::string text;
    EXPECT_TRUE(WriteDetectionDocument(rows, text));
    return text;
}

std::string Repair(std::vector<FileActionRow> files, std::vector<RegActionRow> registry = {}) {
    RepairRows rows{std::move(files), std::move(registry)};
    std::string text;
    EXPECT_TRUE(WriteRepairDocument(rows, text));
    return text;
}

std::string LinkTarget(const fs::path& link) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(link, ec)) ? fs::read_symlink(link).string() : "";
}

TEST(RuleWords, DocumentsWithoutTheNewWordsAreWrittenAsBeforeAndTheNewOnesReadBack) {
    DetectionRows detection;
    detection.files.push_back({"C:\\x", "1", "file"});
    RepairRows repair;
    repair.registry.push_back({"HKLM", "K", "V", "REG_SZ", "a", "SetValue", ""});
    std::string oldDetection, oldRepair;
    ASSERT_TRUE(WriteDetectionDocument(detection, oldDetection));
    ASSERT_TRUE(WriteRepairDocument(repair, oldRepair));
    for (const char* word : {"join", "create", "list"}) {
        EXPECT_EQ(oldDetection.find(word), std::string::npos) << word;
        EXPECT_EQ(oldRepair.find(word), std::string::npos) << word;
    }

    detection.join = "and";
    repair.registry[0] = {"HKLM", "K", "V", "REG_MULTI_SZ", "a\n中文", "SetValue", "", "1", "1"};
    std::string text;
    ASSERT_TRUE(WriteRepairDocument(repair, text));
    EXPECT_NE(text.find("ValueContent=\"a&#10;中文\""), std::string::npos) << text;
    RepairRows repairRead;
    ASSERT_TRUE(ReadRepairDocument(text, repairRead));
    EXPECT_EQ(repairRead.registry, repair.registry);
    ASSERT_TRUE(WriteDetectionDocument(detection, text));
    DetectionRows detectionRead;
    ASSERT_TRUE(ReadDetectionDocument(text, detectionRead));
    EXPECT_EQ(detectionRead.join, "and");
    EXPECT_EQ(detectionRead.files, detection.files);
}

TEST_F(EnginePrefixTest, LinkConditionsLookAtTheEntryItself) {
    fs::create_directories(root.dir() / "home/Documents");
    fs::create_directory_symlink(root.dir() / "home/Documents", drive() / "data/ToHome");
    fs::create_directory_symlink("sub", drive() / "data/ToSub");
    fs::create_symlink("missing", drive() / "data/Dangling");
    struct Case {
        const char* path;
        bool link;
    };
    for (const Case c :
         {Case{"C:\\data\\ToHome", true}, Case{"C:\\DATA\\tosub", true},
          Case{"C:\\data\\Dangling", true}, Case{"C:\\data\\sub", false},
          Case{"C:\\data\\file.txt", false}, Case{"C:\\data\\none", false}, Case{"C:\\", false}}) {
        for (const char* isFolder : {"0", "1"}) {
            SCOPED_TRACE(std::string(c.path) + " isFolder " + isFolder);
            DetectionRows rows;
            rows.files.push_back({c.path, isFolder, "link"});
            std::vector<MatchedCondition> matched;
            EXPECT_EQ(RuleTriggered(Detection(rows), appDir(), &matched), c.link ? 1 : 0);
            if (c.link) {
                ASSERT_EQ(matched.size(), 1u);
                EXPECT_EQ(matched[0].condition, "link");
                EXPECT_EQ(matched[0].observed, "是链接");
            }
            rows.files[0].decide = "nolink";
            EXPECT_EQ(RuleTriggered(Detection(rows), appDir()), c.link ? 0 : 1);
        }
    }
}

TEST_F(EnginePrefixTest, ListConditionsCompareTheEntries) {
    struct Case {
        const char* name; // Multi holds "a", "b"; Sz is a REG_SZ
        const char* decide;
        const char* compare;
        int found;
    };
    for (const Case& c : {Case{"Multi", "List=", "a\nb", 1}, Case{"Multi", "List=", "A\nB", 1},
                          Case{"Multi", "List=", "a", 0}, Case{"Multi", "List!=", "a", 1},
                          Case{"Multi", "List!=", "a\nb", 0}, Case{"None", "List=", "", 1},
                          Case{"Sz", "List=", "", 1}, Case{"Sz", "List=", "Hello World", 0},
                          Case{"Multi", "Value=", "", 1}}) {
        SCOPED_TRACE(std::string(c.name) + " " + c.decide + " " + c.compare);
        DetectionRows rows;
        rows.registry.push_back(
            {"HKLM", "Software\\Corvane", c.name, "REG_MULTI_SZ", c.compare, c.decide, "0"});
        std::vector<MatchedCondition> matched;
        EXPECT_EQ(RuleTriggered(Detection(rows), appDir(), &matched), c.found);
        if (c.found && std::string_view(c.name) == "Multi" && c.decide[0] == 'L') {
            ASSERT_EQ(matched.size(), 1u);
            EXPECT_EQ(matched[0].observed, "REG_MULTI_SZ \"a\", \"b\"");
            if (std::string_view(c.compare) == "a\nb") {
                EXPECT_EQ(matched[0].condition, "List=\"a\", \"b\""); // one line
            }
        }
    }
}

TEST_F(EnginePrefixTest, GroupsJoinedByAndMustAllBeSatisfied) {
    const FileConditionRow fileHolds{"C:\\data\\file.txt", "0", "file"};
    const FileConditionRow fileFails{"C:\\data\\none.txt", "0", "file"};
    const RegConditionRow regHolds{"HKLM", "Software\\Corvane", "Sz", "REG_SZ",
                                   "",     "ValueExists",       "0"};
    const RegConditionRow regFails{"HKLM", "Software\\Corvane", "None", "REG_SZ",
                                   "",     "ValueExists",       "0"};
    struct Case {
        const char* join;
        std::vector<FileConditionRow> files;
        std::vector<RegConditionRow> registry;
        int found;
        std::size_t matched;
    };
    const Case cases[] = {
        {"and", {fileHolds}, {regHolds}, 1, 2}, {"and", {fileFails, fileHolds}, {regHolds}, 1, 2},
        {"and", {fileHolds}, {regFails}, 0, 0}, {"and", {fileFails}, {regHolds}, 0, 0},
        {"and", {fileHolds}, {}, 0, 0}, // a group without rules is never satisfied
        {"", {fileHolds}, {regFails}, 1, 1},    {"or", {fileFails}, {regHolds}, 1, 1},
        {"AND", {fileHolds}, {regFails}, 1, 1},
    };
    for (const Case& c : cases) {
        DetectionRows rows;
        rows.join = c.join;
        rows.files = c.files;
        rows.registry = c.registry;
        std::vector<MatchedCondition> matched;
        EXPECT_EQ(RuleTriggered(Detection(rows), appDir(), &matched), c.found) << c.join;
        EXPECT_EQ(matched.size(), c.matched) << c.join;
    }
    // And-mode inside a group still counts every rule of it.
    DetectionRows rows;
    rows.join = "and";
    rows.FilesMatchMode = "and";
    rows.files = {fileHolds, fileFails};
    rows.registry = {regHolds};
    EXPECT_EQ(RuleTriggered(Detection(rows), appDir()), 0);
}

TEST(RuleWords, SetValueMakesItsKeyAndWritesListsOnlyWhenAsked) {
    const std::string missing = "Software\\Corvane\\New\\Deeper";
    struct Case {
        const char* name;
        RegActionRow row;
        bool keyMade;
        std::vector<std::string> list; // empty: no list value there
        std::string sz;                // a REG_SZ read back, when written
    };
    const Case cases[] = {
        {"no create: the key is not made",
         {"HKLM", missing, "V", "REG_SZ", "x", "SetValue", ""},
         false,
         {},
         ""},
        {"create 0", {"HKLM", missing, "V", "REG_SZ", "x", "SetValue", "", "0"}, false, {}, ""},
        {"create 1", {"HKLM", missing, "V", "REG_SZ", "x", "SetValue", "", "1"}, true, {}, "x"},
        {"create 1 and a list",
         {"HKLM", missing, "V", "REG_MULTI_SZ", "SimSun,Noto\n中文", "SetValue", "", "1", "1"},
         true,
         {"SimSun,Noto", "中文"},
         ""},
        {"a list without list 1 writes nothing",
         {"HKLM", "Software\\Corvane", "M", "REG_MULTI_SZ", "a\nb", "SetValue", ""},
         false,
         {},
         ""},
        {"a list with an empty entry writes nothing",
         {"HKLM", "Software\\Corvane", "M", "REG_MULTI_SZ", "a\n\nb", "SetValue", "", "", "1"},
         false,
         {},
         ""},
        {"a list over an existing one",
         {"HKLM", "Software\\Corvane", "Multi", "REG_MULTI_SZ", "c", "SetValue", "", "", "1"},
         false,
         {"c"},
         ""},
        {"create on DelValue makes nothing",
         {"HKLM", missing, "V", "", "", "DelValue", "", "1"},
         false,
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::EnginePrefix m;
        EXPECT_TRUE(RunRepairXML(Repair({}, {c.row}), m.appDir()).refused.empty());
        EXPECT_EQ(RegKeyExists(RootKey::LocalMachine, missing, ""), c.keyMade);
        std::vector<std::string> list;
        (void)ReadRegList(RootKey::LocalMachine, c.row.KeyPath, c.row.KeyValue, list);
        EXPECT_EQ(list, c.list);
        std::string sz;
        (void)ReadRegValueText(RootKey::LocalMachine, c.row.KeyPath, c.row.KeyValue, "REG_SZ", sz);
        EXPECT_EQ(sz, c.sz);
    }
}

TEST_F(EnginePrefixTest, MkdirMakesFoldersAndReplacesALinkNeverItsTarget) {
    fs::create_directories(root.dir() / "home/Documents");
    WriteFile(root.dir() / "home/Documents/mine.txt", "mine");
    fs::create_directory_symlink(root.dir() / "home/Documents", drive() / "data/Documents");
    fs::create_directory_symlink("sub", drive() / "data/ToSub");
    WriteFile(drive() / "data/sub/kept.txt", "kept");
    struct Case {
        const char* path;
        const char* made; // below drive_c: a real folder afterwards
        bool refused;     // the action says why it did not go through
    };
    const Case cases[] = {
        {"C:\\data\\Documents\\Inside", "", true}, // through the link: outside
        {"C:\\new\\deeper\\folder", "new/deeper/folder", false},
        {"C:\\data\\sub", "data/sub", false},
        {"C:\\data\\Documents", "data/Documents", false},
        {"C:\\data\\tosub", "data/ToSub", false},
        {"C:\\data\\file.txt", "", true},
        {"C:\\", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const RepairResult result = RunRepairXML(Repair({{c.path, "", "mkdir"}}), appDir());
        EXPECT_EQ(!result.refused.empty(), c.refused);
        if (*c.made) {
            const fs::path made = drive() / c.made;
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(made)));
        }
    }
    EXPECT_TRUE(fs::is_empty(drive() / "data/Documents"));
    EXPECT_TRUE(fs::is_empty(drive() / "data/ToSub"));
    EXPECT_EQ(test::ReadFile(drive() / "data/sub/kept.txt"), "kept");
    EXPECT_EQ(test::ReadFile(root.dir() / "home/Documents/mine.txt"), "mine");
    EXPECT_FALSE(fs::exists(root.dir() / "home/Documents/Inside"));
    // A drive named by its entry in dosdevices is the drive, not a link to replace.
    const std::string driveEntry = (prefix() / "dosdevices/c:").string();
    EXPECT_TRUE(RunRepairXML(Repair({{driveEntry, "", "mkdir"}}), appDir()).refused.empty());
    EXPECT_EQ(LinkTarget(prefix() / "dosdevices/c:"), "../drive_c");
    EXPECT_TRUE(fs::is_regular_file(drive() / "data/file.txt"));
}

} // namespace
} // namespace corvane
