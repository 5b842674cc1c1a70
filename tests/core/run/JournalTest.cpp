// The repair journal on real prefixes: files moved into it whole even across file
// systems, one command at a time, undo confined to the prefix and its own folder of the
// journal, undo that says what went back and finishes what an earlier one left, and
// damaged records that fail only themselves.
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

#include "core/engine/RegCommon.h"
#include "core/engine/RunRepairXML.h"
#include "core/run/Journal.h"
#include "core/run/JournalRecord.h"
#include "core/run/ScanRepair.h"
#include "core/store/RulePack.h"
#include "support/DemoPrefix.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::ReadFile;

constexpr const char* kTaskMgr = "任务管理器被禁用";
constexpr const char* kAutorun = "C 盘根目录的 autorun.inf";
constexpr const char* kPanda = "熊猫烧香病毒（spo0lsv.exe）";
constexpr const char* kLnk = "快捷方式（lnkfile）打开命令被劫持";
constexpr const char* kPolicy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CopyDemoPrefix(prefix());
        fs::create_directory(root.dir() / "app");
        inputs = InputsBeside((root.dir() / "app").string() + "/");
        inputs.journalRoot = (root.dir() / "journal").string();
        CreateRuleDatabase(inputs.library);
        ImportRuleLibrary(inputs.library, ReadRulePack(ReadFile(test::kStarterPack)));
        for (const RuleItem& item : ReadRulePack(ReadFile(test::kStarterPack)).items)
            names_.push_back(item.Name);
    }

    fs::path prefix() const { return root.dir() / "prefix"; }
    Journal journal() const { return Journal(inputs.journalRoot, prefix()); }

    // Repairs the starter items named, as one run; the reasons of failed items.
    int repair(const std::vector<std::string>& names, std::vector<std::string>* reasons = nullptr) {
        std::vector<RepairRow> rows;
        for (const std::string& name : names) {
            const auto at = std::find(names_.begin(), names_.end(), name);
            EXPECT_NE(at, names_.end()) << name;
            rows.push_back({rows.size(), std::to_string(at - names_.begin() + 1)});
        }
        int run = 0;
        RepairEvents events;
        events.journaled = [&](int r) { run = r; };
        events.failed = [&](std::size_t, const std::string& reason) {
            if (reasons) reasons->push_back(reason);
        };
        RunRepair(inputs, rows, events);
        return run;
    }

    fs::path entryFile(int run, int index) const {
        char name[48];
        std::snprintf(name, sizeof name, "run-%06d/item-%04d.json", run, index);
        return journal().folder() / name;
    }
    json entry(int run, int index) const {
        for (const journal::StoredEntry& e :
             journal::RunEntries(entryFile(run, index).parent_path()))
            if (e.file == entryFile(run, index) && e.entry) return *e.entry;
        ADD_FAILURE() << "no entry " << index << " in run " << run;
        return json::object();
    }
    void rewrite(int run, int index, const json& e) const {
        test::WriteFile(entryFile(run, index), e.dump(1));
    }
    fs::path stored(int run, int index, const std::string& name) const {
        const fs::path file = entryFile(run, index);
        return file.parent_path() / (file.stem().string() + ".files") / name;
    }

    test::TempPrefix root;
    RunInputs inputs;
    wine::WinePlatform platform{prefix(), test::Options(root.dir(), root.dir() / "app")};
    PlatformScope scope{platform};

private:
    std::vector<std::string> names_;
};

std::string TaskMgrValue() {
    std::string value;
    if (!ReadRegValueText(RootKey::CurrentUser, kPolicy, "DisableTaskMgr", "REG_DWORD", value))
        return "(absent)";
    return value;
}

// Undoes run `run` of kTaskMgr and kAutorun whole: both items go back.
void ExpectUndoneWhole(Journal journal, int run, const fs::path& prefix) {
    const auto outcomes = journal.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->size() == 2);
    for (const UndoOutcome& out : *outcomes)
        EXPECT_TRUE(out.undone) << out.name << ": " << out.reason;
    EXPECT_EQ(TaskMgrValue(), "1");
    EXPECT_TRUE(fs::exists(prefix / "drive_c/autorun.inf"));
}

// A file moved into a journal on another file system is copied whole before the
// original goes; a copy cut short (the file size limit) leaves the original, and undo
// never puts back a stored copy that is not whole, nor removes what is there for it.
TEST_F(JournalTest, AMoveAcrossFileSystemsLeavesTheOriginalOrAWholeCopy) {
    char pattern[] = "/dev/shm/corvane-journal-XXXXXX";
    struct stat shm {
    }, here{};
    if (!::mkdtemp(pattern) || ::stat(pattern, &shm) != 0 || ::stat(prefix().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system (tmpfs at /dev/shm) for the journal";
    const fs::path other = pattern;
    inputs.journalRoot = (other / "journal").string();
    const fs::path autorun = prefix() / "drive_c/autorun.inf";
    const std::string bytes = RandomBytes(3 << 20);
    test::WriteFile(autorun, bytes);

    // Cut short: every write past 1 MB fails.
    std::vector<std::string> reasons;
    int run = 0;
    {
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = 1 << 20;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        run = repair({kAutorun}, &reasons);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_NE(reasons[0].find("cannot move"), std::string::npos) << reasons[0];
    EXPECT_EQ(ReadFile(autorun), bytes);
    Journal j = journal();
    auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->size() == 1);
    EXPECT_TRUE(outcomes->front().undone) << outcomes->front().reason;
    EXPECT_NE(outcomes->front().note.find(autorun.string()), std::string::npos);
    EXPECT_EQ(ReadFile(autorun), bytes);

    // Whole: the original goes, the copy comes back byte for byte.
    run = repair({kAutorun});
    EXPECT_FALSE(fs::exists(autorun));
    outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->front().undone) << outcomes->front().reason;
    EXPECT_EQ(ReadFile(autorun), bytes);

    // A stored copy that is not whole is never put back over what is there.
    run = repair({kAutorun});
    const fs::path copy = stored(run, 1, "1");
    fs::resize_file(copy, 1000);
    test::WriteFile(autorun, "made since");
    outcomes = j.undo(run, {}, true);
    ASSERT_TRUE(outcomes);
    EXPECT_FALSE(outcomes->front().undone);
    EXPECT_NE(outcomes->front().reason.find("incomplete"), std::string::npos);
    EXPECT_EQ(ReadFile(autorun), "made since");
    fs::remove_all(other);
}

// Two commands never share a journal: the second is refused while the first runs.
TEST_F(JournalTest, ASecondCommandIsRefusedWhileOneHoldsTheJournal) {
    Journal first = journal();
    const int run = first.beginRun();
    Journal second = journal();
    EXPECT_THROW(second.beginRun(), JournalBusy);
    EXPECT_THROW(repair({kTaskMgr}), JournalBusy);
    std::string error;
    ASSERT_TRUE(first.beginItem(run, "1", "x", 1, error)) << error;
    EXPECT_THROW(second.undo(run, {}, false), JournalBusy);
    first = journal(); // lets the claim go
    EXPECT_EQ(second.beginRun(), run + 1);
}

// A registry file that cannot be read hides whether an item is gone: the run repairs
// nothing and fails every item with the reason, naming the file.
TEST_F(JournalTest, ARegistryThatCannotBeReadIsNotRepaired) {
    const fs::path user = prefix() / "user.reg";
    const std::string text = "\xEF\xBB\xBF" + ReadFile(user);
    test::WriteFile(user, text);
    std::vector<std::string> reasons;
    repair({kTaskMgr, kAutorun}, &reasons);
    ASSERT_EQ(reasons.size(), 2u);
    for (const std::string& reason : reasons)
        EXPECT_TRUE(reason.starts_with(user.string() + " is not a Wine registry file")) << reason;
    EXPECT_TRUE(fs::exists(prefix() / "drive_c/autorun.inf"));
    EXPECT_EQ(ReadFile(user), text);
}

// A tampered record cannot lead undo outside the prefix and the item's own folder of
// the journal: the item fails with the reason and nothing outside is touched.
TEST_F(JournalTest, ATamperedRecordCannotLeadUndoOutside) {
    const fs::path victim = root.dir() / "victim";
    fs::create_directories(victim / "empty");
    test::WriteFile(victim / "secret.txt", "secret");
    test::WriteFile(victim / "id_rsa", "key");
    fs::create_directory_symlink(victim, prefix() / "drive_c/out");
    const fs::path autorun = prefix() / "drive_c/autorun.inf";
    const std::string original = ReadFile(autorun);
    const std::vector<std::pair<std::string, std::function<void(json&)>>> tampers = {
        {"madeFolders outside",
         [&](json& e) { e["madeFolders"] = json::array({(victim / "empty").string()}); }},
        {"stored outside",
         [&](json& e) { e["entries"][0]["stored"] = "../../../../victim/id_rsa"; }},
        {"real through ..",
         [&](json& e) {
             e["entries"][0]["real"] = (prefix() / "drive_c/../../victim/secret.txt").string();
         }},
        {"real through a link",
         [&](json& e) {
             e["entries"][0]["real"] = (prefix() / "drive_c/out/secret.txt").string();
         }},
        {"madeFolders through a link",
         [&](json& e) {
             e["madeFolders"] = json::array({(prefix() / "drive_c/out/empty").string()});
         }},
    };
    for (const auto& [what, tamper] : tampers) {
        SCOPED_TRACE(what);
        test::WriteFile(autorun, original);
        const int run = repair({kAutorun});
        json e = entry(run, 1);
        tamper(e["changes"][0]);
        rewrite(run, 1, e);
        const auto outcomes = journal().undo(run, {}, true);
        ASSERT_TRUE(outcomes && outcomes->size() == 1);
        EXPECT_FALSE(outcomes->front().undone);
        EXPECT_NE(outcomes->front().reason.find("记录已损坏"), std::string::npos)
            << outcomes->front().reason;
        EXPECT_EQ(ReadFile(victim / "secret.txt"), "secret");
        EXPECT_EQ(ReadFile(victim / "id_rsa"), "key");
        EXPECT_TRUE(fs::is_directory(victim / "empty"));
        EXPECT_FALSE(fs::exists(autorun));
    }
}

// An item whose registry values went back but whose file could not says so, stays not
// undone, and the next undo finishes it without --force.
TEST_F(JournalTest, AnUndoThatCouldNotPutEverythingBackIsFinishedByTheNext) {
    const fs::path virus = prefix() / "drive_c/windows/system32/drivers/spo0lsv.exe";
    const std::string bytes = ReadFile(virus);
    const int run = repair({kPanda});
    ASSERT_FALSE(fs::exists(virus));
    const fs::path copy = stored(run, 1, "1");
    test::WriteFile(copy, "cut");
    Journal j = journal();
    auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->size() == 1);
    const UndoOutcome first = outcomes->front();
    EXPECT_FALSE(first.undone);
    EXPECT_NE(first.reason.find("已恢复: HKCU"), std::string::npos) << first.reason;
    EXPECT_NE(first.reason.find("未恢复"), std::string::npos) << first.reason;
    EXPECT_FALSE(j.history().front().items.front().undone);
    EXPECT_FALSE(fs::exists(virus));
    test::WriteFile(copy, bytes);
    outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->front().undone) << outcomes->front().reason;
    EXPECT_EQ(ReadFile(virus), bytes);
}

// An undo cut short after a value went back but before the journal marked it: the next
// undo finishes it without --force; an undo that never began still checks.
TEST_F(JournalTest, AnUndoCutShortIsFinishedWithoutForce) {
    const int run = repair({kTaskMgr});
    ASSERT_EQ(TaskMgrValue(), "(absent)");
    ASSERT_TRUE(WriteRegValue(RootKey::CurrentUser, kPolicy, "DisableTaskMgr", "REG_DWORD", "1"));
    Journal j = journal();
    auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes);
    EXPECT_FALSE(outcomes->front().undone);
    json e = entry(run, 1);
    e["undoBegun"] = true;
    rewrite(run, 1, e);
    outcomes = j.undo(run, {}, false);
    EXPECT_TRUE(outcomes->front().undone) << outcomes->front().reason;
    EXPECT_EQ(TaskMgrValue(), "1");
}

// A key of HKEY_CLASSES_ROOT in both the user's and the machine's classes: each gets
// its own values back.
TEST_F(JournalTest, UndoGivesEachClassesBranchItsOwnValues) {
    const std::string key = "Software\\Classes\\lnkfile\\shell\\open\\command";
    ASSERT_TRUE(WriteRegValue(RootKey::CurrentUser, key, "", "REG_SZ", "user.exe"));
    ASSERT_TRUE(WriteRegValue(RootKey::LocalMachine, key, "", "REG_SZ", "machine.exe"));
    ASSERT_TRUE(WriteRegValue(RootKey::LocalMachine, key, "Only", "REG_SZ", "machine"));
    const auto before = [&] {
        std::map<std::string, std::string> values;
        for (const auto& [root, name] :
             std::vector<std::pair<RegKey, std::string>>{{RootKey::CurrentUser, ""},
                                                         {RootKey::CurrentUser, "Only"},
                                                         {RootKey::LocalMachine, ""},
                                                         {RootKey::LocalMachine, "Only"}}) {
            std::string value = "(absent)";
            (void)ReadRegValueText(root, key, name, "REG_SZ", value);
            values[std::to_string(root) + name] = value;
        }
        return values;
    };
    const auto expected = before();
    const int run = repair({kLnk});
    const auto outcomes = journal().undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->front().undone) << outcomes->front().reason;
    EXPECT_EQ(before(), expected);
}

// A damaged record fails its own item, named; every other item lists and undoes. An ID
// the run does not hold is said so.
TEST_F(JournalTest, ADamagedRecordFailsOnlyItself) {
    const int run = repair({kTaskMgr, kAutorun});
    json first = entry(run, 1), second = entry(run, 2);
    first["changes"][0].erase("root");
    second["id"] = 46;
    rewrite(run, 1, first);
    rewrite(run, 2, second);
    const fs::path third = entryFile(run, 3);
    test::WriteFile(third, "{\"id\": [");
    Journal j = journal();
    const auto runs = j.history();
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].items.size(), 3u);
    EXPECT_EQ(runs[0].items[1].id, "46");
    EXPECT_NE(runs[0].items[2].problem.find(third.string()), std::string::npos);
    const auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->size() == 3);
    EXPECT_FALSE((*outcomes)[0].undone);
    EXPECT_NE((*outcomes)[0].reason.find(entryFile(run, 1).string()), std::string::npos);
    EXPECT_TRUE((*outcomes)[1].undone) << (*outcomes)[1].reason;
    EXPECT_FALSE((*outcomes)[2].undone);
    EXPECT_TRUE(fs::exists(prefix() / "drive_c/autorun.inf"));
    const auto missing = j.undo(run, {"99"}, false);
    ASSERT_TRUE(missing && missing->size() == 1);
    EXPECT_FALSE(missing->front().undone);
    EXPECT_NE(missing->front().reason.find("99"), std::string::npos);
}

// What a crash leaves past the log's last sync (a line written again elsewhere, zeros
// cut short) is no entry; a line damaged in place is listed as damaged, and the lines
// after it still read.
TEST_F(JournalTest, OnlyWholeLinesOfTheLogAreEntries) {
    const int run = repair({kTaskMgr, kAutorun});
    const fs::path log = entryFile(run, 1).parent_path() / "items.log";
    const std::string text = ReadFile(log);
    // The run's own line, then the first item's record (not yet ended).
    const std::size_t second = text.find('\n') + 1;
    const std::string record = text.substr(second, text.find('\n', second) + 1 - second);
    ASSERT_NE(record.find("\"index\":1"), std::string::npos) << record;
    struct Case {
        const char* what;
        std::string log;
        std::size_t items;
    };
    std::string flipped = text;
    flipped[second + record.find("\"changes\"") + 2] ^= 0x20;
    const Case cases[] = {
        {"a record again, then zeros", text + record + std::string(300, '\0'), 2},
        {"a byte changed in a record", flipped, 3},
    };
    for (const Case& c : cases) {
        test::WriteFile(log, c.log);
        const auto runs = journal().history();
        ASSERT_EQ(runs.size(), 1u) << c.what;
        ASSERT_EQ(runs[0].items.size(), c.items) << c.what;
        EXPECT_EQ(runs[0].items[0].result, "修复成功") << c.what;
        EXPECT_EQ(runs[0].items[1].result, "修复成功") << c.what;
        if (c.items == 3) {
            EXPECT_NE(runs[0].items[2].problem.find("items.log, line 2"), std::string::npos)
                << runs[0].items[2].problem;
        }
    }
    test::WriteFile(log, text + record + std::string(300, '\0'));
    ExpectUndoneWhole(journal(), run, prefix());
}

// A run written before the log (run.json and a file per entry) lists and undoes as it
// did.
TEST_F(JournalTest, ARunWrittenAsFilesPerEntryStillReads) {
    const int run = repair({kTaskMgr, kAutorun});
    const auto before = journal().history();
    const fs::path runFolder = entryFile(run, 1).parent_path();
    json info;
    for (const journal::StoredEntry& e : journal::RunEntries(runFolder, &info))
        test::WriteFile(e.file, e.entry->dump(1));
    test::WriteFile(runFolder / "run.json", info.dump(1));
    fs::remove(runFolder / "items.log");
    const auto after = journal().history();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].time, before[0].time);
    ASSERT_EQ(after[0].items.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(after[0].items[i].id, before[0].items[i].id);
        EXPECT_EQ(after[0].items[i].result, "修复成功");
    }
    ExpectUndoneWhole(journal(), run, prefix());
}

// Runs are numbered past six digits and read as numbers: history, undo and pruning
// see every run in order.
TEST_F(JournalTest, RunsPastSixDigitsAreSeenInOrder) {
    const int old = repair({kTaskMgr});
    fs::rename(journal().folder() / "run-000001", journal().folder() / "run-999999");
    ASSERT_EQ(old, 1);
    const int run = repair({kAutorun});
    EXPECT_EQ(run, 1000000);
    Journal j = journal();
    EXPECT_EQ(j.lastRun(), 1000000);
    const auto runs = j.history();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].run, 1000000);
    EXPECT_EQ(runs[1].run, 999999);
    ASSERT_TRUE(j.undo(1000000, {}, false)->front().undone);
    j.prune(1);
    ASSERT_EQ(j.history().size(), 1u);
    EXPECT_EQ(j.history()[0].run, 1000000);
}

// The byte limit counts each run as it is now: a run an undo made smaller is measured
// again, and the prune keeps it when the runs fit then.
TEST_F(JournalTest, ThePruneCountsARunAsAnUndoLeftIt) {
    test::WriteFile(prefix() / "drive_c/autorun.inf", std::string(200000, 'x'));
    const int big = repair({kAutorun});
    const int small = repair({kTaskMgr});
    const auto bytes = [](const fs::path& folder) {
        std::uintmax_t total = 0;
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file() && !e.is_symlink()) total += e.file_size();
        return total;
    };
    Journal j = journal();
    j.prune(); // both measured
    ASSERT_GT(bytes(j.folder() / "run-000001"), 200000u);
    ASSERT_TRUE(j.undo(big, {}, false)->front().undone);
    const std::uintmax_t now = bytes(j.folder() / "run-000001") + bytes(j.folder() / "run-000002");
    ASSERT_LT(now, 100000u);
    j.prune(100, now);
    EXPECT_EQ(j.history().size(), 2u) << "the undone run was counted as it was";
    j.prune(100, now - 1);
    ASSERT_EQ(j.history().size(), 1u);
    EXPECT_EQ(j.history()[0].run, small);
}

// Undoing a copy into new nested folders removes every folder it made; a file it
// replaced comes back.
TEST_F(JournalTest, UndoingACopyRemovesTheFoldersItMade) {
    const fs::path source = root.dir() / "app/payload.txt";
    test::WriteFile(source, "payload");
    const fs::path autorun = prefix() / "drive_c/autorun.inf";
    const std::string original = ReadFile(autorun);
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\">"
        "<CHdb FilePath=\"C:\\new1\\new2\\new3\\x.txt\" FromPath=\"" +
        source.string() +
        "\" decide=\"copy\"/>"
        "<CHdb FilePath=\"C:\\autorun.inf\" FromPath=\"" +
        source.string() + "\" decide=\"copy\"/></type><type opttype=\"regedit\"/></rules>";
    Journal j = journal();
    const int run = j.beginRun();
    std::string error;
    auto recorder = j.beginItem(run, "900", "copy", 1, error);
    ASSERT_TRUE(recorder) << error;
    const RepairResult result = RunRepairXML(doc, inputs.appDir, recorder.get());
    ASSERT_TRUE(recorder->finish("修复成功", false));
    ASSERT_EQ(result.refused, std::vector<std::string>{});
    ASSERT_EQ(ReadFile(prefix() / "drive_c/new1/new2/new3/x.txt"), "payload");
    ASSERT_EQ(ReadFile(autorun), "payload");
    recorder.reset();
    const auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->front().undone) << outcomes->front().reason;
    EXPECT_FALSE(fs::exists(prefix() / "drive_c/new1"));
    EXPECT_EQ(ReadFile(autorun), original);
}

// A copy onto a link that leads outside is refused before the journal moves anything:
// the link stays where it was and what it leads to is untouched.
TEST_F(JournalTest, ACopyOntoALinkOutsideIsRefusedBeforeAnythingMoves) {
    const fs::path source = root.dir() / "app/payload.txt";
    const fs::path outside = root.dir() / "outside.txt";
    test::WriteFile(source, "payload");
    test::WriteFile(outside, "mine");
    const fs::path autorun = prefix() / "drive_c/autorun.inf";
    fs::remove(autorun);
    fs::create_symlink(outside, autorun);
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\">"
        "<CHdb FilePath=\"C:\\autorun.inf\" FromPath=\"" +
        source.string() + "\" decide=\"copy\"/></type><type opttype=\"regedit\"/></rules>";
    Journal j = journal();
    std::string error;
    auto recorder = j.beginItem(j.beginRun(), "900", "copy", 1, error);
    ASSERT_TRUE(recorder) << error;
    const RepairResult result = RunRepairXML(doc, inputs.appDir, recorder.get());
    ASSERT_EQ(result.refused.size(), 1u);
    EXPECT_NE(result.refused[0].find("lies outside the prefix"), std::string::npos)
        << result.refused[0];
    EXPECT_EQ(fs::read_symlink(autorun), outside);
    EXPECT_EQ(ReadFile(outside), "mine");
}

// A deleted key that holds a link key comes back with the link as a link, not as a
// copy of the key it points to.
TEST_F(JournalTest, ALinkKeyComesBackAsALink) {
    std::string target;
    for (char16_t c : std::u16string(u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Target")) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%s%02x,%02x", target.empty() ? "" : ",", c & 0xff,
                      c >> 8);
        target += byte;
    }
    test::WriteFile(prefix() / "user.reg",
                    ReadFile(prefix() / "user.reg") +
                        "\n[Software\\\\LinkTest] 1\n\"A\"=\"1\"\n"
                        "\n[Software\\\\LinkTest\\\\Lnk] 1\n#link\n\"SymbolicLinkValue\"=hex(6):" +
                        target + "\n\n[Software\\\\Target] 1\n\"T\"=\"target\"\n");
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\"/>"
        "<type opttype=\"regedit\"><CHdb root=\"HKCU\" KeyPath=\"Software\" "
        "KeyValue=\"LinkTest\" KeyType=\"\" ValueContent=\"\" decide=\"DelKey\" "
        "PathAbs=\"\"/></type></rules>";
    Journal j = journal();
    const int run = j.beginRun();
    std::string error;
    auto recorder = j.beginItem(run, "901", "link", 1, error);
    ASSERT_TRUE(recorder) << error;
    const RepairResult result = RunRepairXML(doc, inputs.appDir, recorder.get());
    ASSERT_TRUE(recorder->finish("修复成功", false));
    ASSERT_EQ(result.refused, std::vector<std::string>{});
    ASSERT_FALSE(RegKeyExists(RootKey::CurrentUser, "Software", "LinkTest"));
    recorder.reset();
    const auto outcomes = j.undo(run, {}, false);
    ASSERT_TRUE(outcomes && outcomes->front().undone) << outcomes->front().reason;
    const std::string text = ReadFile(prefix() / "user.reg");
    const auto section = text.find("[Software\\\\LinkTest\\\\Lnk]");
    ASSERT_NE(section, std::string::npos);
    EXPECT_NE(text.find("#link", section), std::string::npos);
    EXPECT_LT(text.find("#link", section), text.find("SymbolicLinkValue", section));
    EXPECT_EQ(text.find("\"T\"="), text.rfind("\"T\"=")) << "the target's value was copied";
    std::string value;
    ASSERT_TRUE(
        ReadRegValueText(RootKey::CurrentUser, "Software\\LinkTest\\Lnk", "T", "REG_SZ", value));
    EXPECT_EQ(value, "target");
}

} // namespace
} // namespace corvane
