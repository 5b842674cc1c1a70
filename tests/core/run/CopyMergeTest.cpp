#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/engine/EnginePrefix.h"
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

// A repair that copies a folder onto an existing one merges it: the preview names each
// file the copy replaces, the journal keeps each of them, the files the copy does not
// name stay where they are, and undo gives back the tree as it was, entry by entry.
TEST(CopyMerge, ARepairMergesAFolderAndUndoGivesBackTheTree) {
    test::EnginePrefix m;
    const fs::path saved = m.drive() / "saved/sub";
    fs::create_directories(saved / "deeper");
    fs::create_directories(m.drive() / "data/sub/fresh");
    WriteFile(m.drive() / "data/sub/fresh/z.dat", "z");
    WriteFile(saved / "x.dat", "old x");
    WriteFile(saved / "untouched.txt", "mine");
    WriteFile(saved / "deeper/kept.dat", "kept");
    const auto before = Tree(m.drive());

    RepairRows rows;
    rows.files.push_back({"C:\\saved", "C:\\data\\sub", "copy"});
    std::string xml;
    ASSERT_TRUE(WriteRepairDocument(rows, xml));
    const std::vector<PreviewAction> preview = PreviewRepair(xml, m.appDir());
    ASSERT_EQ(preview.size(), 1u);
    EXPECT_EQ(preview[0].before, "C:\\saved\\sub\\deeper\\y.dat (absent), C:\\saved\\sub\\fresh "
                                 "(absent), C:\\saved\\sub\\x.dat (5 bytes)");
    EXPECT_EQ(preview[0].refusal, "");

    Journal journal(m.root.dir() / "journal", m.prefix());
    const int run = journal.beginRun();
    std::string error;
    auto recorder = journal.beginItem(run, "1", "merge", 1, error);
    ASSERT_TRUE(recorder) << error;
    EXPECT_EQ(RunRepairXML(xml, m.appDir(), recorder.get()).refused, std::vector<std::string>{});
    ASSERT_TRUE(recorder->finish("修复成功", false));
    auto merged = before;
    merged["saved/sub/x.dat"] = "data/sub/x.dat";
    merged["saved/sub/deeper/y.dat"] = "data/sub/deeper/y.dat";
    merged["saved/sub/fresh"] = "(folder)";
    merged["saved/sub/fresh/z.dat"] = "z";
    EXPECT_EQ(Tree(m.drive()), merged);

    const auto outcomes = journal.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->size() == 1u);
    EXPECT_TRUE(outcomes->front().undone) << outcomes->front().reason;
    EXPECT_EQ(Tree(m.drive()), before);
}

} // namespace
} // namespace corvane
