// The journal and undo of the newer actions on a real prefix: a folder made (its link
// put back as it was), a key made by SetValue, a list written; and their preview.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "core/engine/EnginePrefix.h"
#include "core/engine/RegCommon.h"
#include "core/engine/RunRepairXML.h"
#include "core/run/Journal.h"
#include "core/run/Preview.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Every entry below `folder`: a file with what it holds, a folder, a link with its target.
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string& shown = tree[fs::relative(entry.path(), folder).string()];
        if (entry.is_symlink())
            shown = "-> " + fs::read_symlink(entry.path()).string();
        else
            shown = entry.is_directory() ? "(folder)" : ReadFile(entry.path());
    }
    return tree;
}

// What the registry holds of the keys the tests change.
std::string Registry() {
    std::string shown;
    for (const char* key :
         {"Software\\Corvane", "Software\\Corvane\\New", "Software\\Corvane\\New\\Deeper"}) {
        shown += std::string(key) + (RegKeyExists(RootKey::LocalMachine, key, "") ? " yes" : " no");
        std::vector<std::string> list;
        if (ReadRegList(RootKey::LocalMachine, key, "Multi", list))
            for (const std::string& entry : list)
                shown += " [" + entry + "]";
        std::string v;
        if (ReadRegValueText(RootKey::LocalMachine, key, "V", "REG_SZ", v)) shown += " V=" + v;
        shown += "\n";
    }
    return shown;
}

class RuleWordsJournal : public ::testing::Test, public test::EnginePrefix {
protected:
    // Runs `xml` as one journaled item; its run.
    int repair(const std::string& xml, std::vector<std::string> refused = {}) {
        const int run = journal.beginRun();
        std::string error;
        auto recorder = journal.beginItem(run, "1", "words", 1, error);
        EXPECT_TRUE(recorder) << error;
        if (!recorder) return run;
        EXPECT_EQ(RunRepairXML(xml, appDir(), recorder.get()).refused, refused);
        EXPECT_TRUE(recorder->finish("修复成功", false));
        return run;
    }
    UndoOutcome undo(int run, bool force = false) {
        const auto outcomes = journal.undo(run, {}, force);
        EXPECT_TRUE(outcomes && outcomes->size() == 1u);
        return outcomes && !outcomes->empty() ? outcomes->front() : UndoOutcome{};
    }
    Journal journal{root.dir() / "journal", prefix()};
};

std::string Repair(std::vector<FileActionRow> files, std::vector<RegActionRow> registry = {}) {
    RepairRows rows{std::move(files), std::move(registry)};
    std::string text;
    EXPECT_TRUE(WriteRepairDocument(rows, text));
    return text;
}

TEST_F(RuleWordsJournal, MadeFoldersGoAndReplacedLinksComeBack) {
    fs::create_directories(root.dir() / "home/Documents");
    WriteFile(root.dir() / "home/Documents/mine.txt", "mine");
    fs::create_directory_symlink(root.dir() / "home/Documents", drive() / "data/Documents");
    fs::create_directory_symlink("sub", drive() / "data/ToSub");
    const auto before = Tree(prefix());
    const auto home = Tree(root.dir() / "home");
    const std::string xml = Repair({{"C:\\data\\Documents", "", "mkdir"},
                                    {"C:\\data\\ToSub", "", "mkdir"},
                                    {"C:\\new\\deeper", "", "mkdir"}});

    const auto preview = PreviewRepair(xml, appDir());
    ASSERT_EQ(preview.size(), 3u);
    EXPECT_EQ(preview[0].action, "MakeFolder");
    EXPECT_EQ(preview[0].before, "(link)");
    EXPECT_EQ(preview[0].after, "(folder)");
    EXPECT_EQ(preview[2].before, "(absent)");
    EXPECT_EQ(Tree(prefix()), before);

    const int run = repair(xml);
    EXPECT_TRUE(fs::is_empty(drive() / "data/Documents"));
    EXPECT_FALSE(fs::is_symlink(drive() / "data/ToSub"));
    EXPECT_TRUE(fs::is_directory(drive() / "new/deeper"));
    EXPECT_EQ(Tree(root.dir() / "home"), home);

    const UndoOutcome out = undo(run);
    EXPECT_TRUE(out.undone) << out.reason;
    EXPECT_EQ(Tree(prefix()), before);
    EXPECT_EQ(Tree(root.dir() / "home"), home);
}

TEST_F(RuleWordsJournal, AFolderFilledSinceIsLeftAndItsLinkNotPutBack) {
    fs::create_directories(root.dir() / "home/Documents");
    fs::create_directory_symlink(root.dir() / "home/Documents", drive() / "data/Documents");
    const int run = repair(Repair({{"C:\\data\\Documents", "", "mkdir"}}));
    WriteFile(drive() / "data/Documents/new.txt", "new");

    UndoOutcome out = undo(run);
    EXPECT_FALSE(out.undone);
    EXPECT_NE(out.reason.find("data/Documents"), std::string::npos) << out.reason;
    out = undo(run, true);
    EXPECT_FALSE(out.undone);
    EXPECT_NE(out.reason.find("not empty"), std::string::npos) << out.reason;
    EXPECT_EQ(ReadFile(drive() / "data/Documents/new.txt"), "new");
}

TEST_F(RuleWordsJournal, AMkdirOutsideThePrefixIsRefusedAndJournalsNothing) {
    fs::create_directories(root.dir() / "home/Documents");
    fs::create_directory_symlink(root.dir() / "home/Documents", drive() / "data/Documents");
    const auto before = Tree(root.dir() / "home");
    const int run = journal.beginRun();
    std::string error;
    auto recorder = journal.beginItem(run, "1", "words", 1, error);
    ASSERT_TRUE(recorder) << error;
    const auto refused = RunRepairXML(Repair({{"C:\\data\\Documents\\Inside\\More", "", "mkdir"}}),
                                      appDir(), recorder.get())
                             .refused;
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("outside the prefix"), std::string::npos) << refused[0];
    EXPECT_EQ(Tree(root.dir() / "home"), before);
    const auto preview =
        PreviewRepair(Repair({{"C:\\data\\Documents\\Inside", "", "mkdir"}}), appDir());
    ASSERT_EQ(preview.size(), 1u);
    EXPECT_TRUE(AnyRefused(preview));
}

TEST_F(RuleWordsJournal, AMadeKeyAndAListValueGoBackAsTheyWere) {
    const std::string before = Registry();
    const std::string xml = Repair(
        {}, {{"HKLM", "Software\\Corvane\\New\\Deeper", "V", "REG_SZ", "x", "SetValue", "", "1"},
             {"HKLM", "Software\\Corvane", "Multi", "REG_MULTI_SZ", "Noto\n中文", "SetValue", "",
              "", "1"}});
    const auto preview = PreviewRepair(xml, appDir());
    ASSERT_EQ(preview.size(), 2u);
    EXPECT_EQ(preview[0].after, "REG_SZ x (the key is made)");
    EXPECT_EQ(preview[1].before, "REG_MULTI_SZ \"a\", \"b\"");
    EXPECT_EQ(preview[1].after, "REG_MULTI_SZ \"Noto\", \"中文\"");

    const int run = repair(xml);
    EXPECT_NE(Registry(), before);
    EXPECT_TRUE(RegKeyExists(RootKey::LocalMachine, "Software\\Corvane\\New\\Deeper", ""));
    const UndoOutcome out = undo(run);
    EXPECT_TRUE(out.undone) << out.reason;
    EXPECT_EQ(Registry(), before);
}

} // namespace
} // namespace corvane
