#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/engine/RuleDocument.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RulePack.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;
using test::WriteFile;
namespace fs = std::filesystem;

std::string Detection(DetectionRows rows = {}) {
    if (rows.files.empty() && rows.registry.empty())
        rows.files.push_back({"%WINDIR%\\a <b> & \"c\"", "1", "nofile"});
    std::string text;
    EXPECT_TRUE(WriteDetectionDocument(rows, text));
    return text;
}

std::string Repair(RepairRows rows = {}) {
    if (rows.files.empty() && rows.registry.empty())
        rows.registry.push_back({"HKCU", "Software\\X", "V", "REG_SZ", "1", "SetValue", ""});
    std::string text;
    EXPECT_TRUE(WriteRepairDocument(rows, text));
    return text;
}

RuleItem Item(std::string name, std::string osId = "all-os") {
    RuleItem item;
    item.Name = std::move(name);
    item.Level = 2;
    item.OSId = std::move(osId);
    item.Des = "说明";
    item.MessBoxText = "";
    item.OptText = Detection();
    item.RepairXML = Repair();
    return item;
}

const std::string kGroups = "[xp]\nName=Windows XP\nOS=[winxp]\n";

std::string Message(const std::function<void()>& run) {
    return test::MessageOf<ERulePackException>(run);
}

TEST(RulePackTest, EveryFieldReadsBackAsWritten) {
    std::string controls;
    for (int c = 1; c < 128; ++c)
        controls += static_cast<char>(c);
    const std::string values[] = {"",
                                  "  ",
                                  "\n",
                                  "\r\n",
                                  " lead and trail \t",
                                  controls,
                                  "]]> <![CDATA[ &amp; &#x41;",
                                  "中文 €𝄞",
                                  Detection()};
    for (const std::string& v : values) {
        RulePack pack;
        pack.platforms = v;
        RuleItem item = Item(v);
        item.Des = item.MessBoxText = item.OSId = item.OptText = item.RepairXML = v;
        item.Level = -7;
        pack.items = {item, Item("second")};
        const std::string text = WriteRulePack(pack);
        EXPECT_EQ(ReadRulePack(text), pack) << text;
        EXPECT_EQ(WriteRulePack(ReadRulePack(text)), text);
    }
}

TEST(RulePackTest, WritesOneFieldPerLineInStableOrder) {
    RulePack pack;
    pack.platforms = "[xp]\r\nName=XP\r\n";
    RuleItem item;
    item.Name = "a&b";
    item.Level = 4;
    item.OSId = "xp";
    item.Des = "d<1>";
    item.MessBoxText = "w";
    item.OptText = "o";
    item.RepairXML = "r";
    pack.items = {item};
    EXPECT_EQ(WriteRulePack(pack), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<rulepack version=\"1\">\n"
                                   "  <platforms>[xp]&#x0D;\nName=XP&#x0D;\n</platforms>\n"
                                   "  <item>\n"
                                   "    <name>a&amp;b</name>\n"
                                   "    <level>4</level>\n"
                                   "    <platform>xp</platform>\n"
                                   "    <description>d&lt;1&gt;</description>\n"
                                   "    <warning>w</warning>\n"
                                   "    <detection>o</detection>\n"
                                   "    <repair>r</repair>\n"
                                   "  </item>\n"
                                   "</rulepack>\n");
    pack.platforms.reset();
    EXPECT_EQ(WriteRulePack(pack).find("platforms"), std::string::npos);
    EXPECT_EQ(ReadRulePack(WriteRulePack(pack)), pack);
}

TEST(RulePackTest, RefusesTextsNoPackCanHold) {
    RulePack pack;
    pack.items = {Item("nul")};
    pack.items[0].Des = std::string("a\0b", 3);
    EXPECT_EQ(Message([&] { WriteRulePack(pack); }), "item \"nul\": a text holds a NUL character");
    pack.items[0].Des = "\xff\xfe";
    EXPECT_EQ(Message([&] { WriteRulePack(pack); }), "item \"nul\": a text is not UTF-8");
}

TEST(RulePackTest, RefusesTextsThatAreNoPack) {
    const std::string head = "<?xml version=\"1.0\"?><rulepack version=\"1\">";
    const std::string fields = "<level>1</level><platform>p</platform><description/>"
                               "<warning/><detection/><repair/>";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"", "not an XML text: No document element found at byte 0"},
        {"<rules/>", "the root element is not <rulepack>"},
        {"<rulepack version=\"2\"/>", "rule pack version \"2\" is not known"},
        {head + "<extra/></rulepack>", "unknown element <extra>"},
        {head + "stray</rulepack>", "text outside an item"},
        {head + "<item><name>n</name></item></rulepack>", "item \"n\": no <level>"},
        {head + "<item>" + fields + "</item></rulepack>", "item 1: no <name>"},
        {head + "<item><name>n</name><name>m</name></item></rulepack>",
         "item \"n\": field <name> twice"},
        {head + "<item><name>n</name><colour/></item></rulepack>",
         "item \"n\": unknown field <colour>"},
        {head + "<item><name>n<b/></name></item></rulepack>", "item 1: <name> may hold text only"},
        {head + "<item><name>n</name>" + std::string(fields).replace(7, 1, "x") +
             "</item></rulepack>",
         "item \"n\": level \"x\" is no number"},
        {head + "<item><name>n</name>" + std::string(fields).replace(7, 1, "1.5") +
             "</item></rulepack>",
         "item \"n\": level \"1.5\" is no number"},
        {head + "<item><name>n</name>" + fields + "</item><platforms/></rulepack>",
         "<platforms> must come once, before the items"},
        // A NUL would end the field's text there.
        {head + "<item><name>a&#0;b</name>" + fields + "</item></rulepack>",
         "a NUL character (&#0;) at byte 56"},
        {head + "<item><name>a&#x000;b</name>" + fields + "</item></rulepack>",
         "a NUL character (&#x000;) at byte 56"},
        {head + "<item><name>a" + std::string(1, '\0') + "b</name>" + fields + "</item></rulepack>",
         "a NUL character at byte 56"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Message([&] { ReadRulePack(c.text); }), c.message) << c.text;
    EXPECT_EQ(ReadRulePack(head + "<item><name>n</name>" + fields + "</item></rulepack>")
                  .items.at(0)
                  .OSId,
              "p");
}

TEST(RulePackTest, CheckNamesEveryProblemWithItsItem) {
    const auto detection = [](auto change) {
        DetectionRows rows;
        rows.files.push_back({"c:\\x", "1", "file"});
        rows.registry.push_back({"HKLM", "K", "V", "REG_SZ", "1", "Value=", "0"});
        change(rows);
        return Detection(rows);
    };
    const auto repair = [](auto change) {
        RepairRows rows;
        rows.files.push_back({"c:\\x", "c:\\y", "copy"});
        rows.registry.push_back({"HKU", "K", "V", "", "", "DelKey", ""});
        change(rows);
        return Repair(rows);
    };
    const struct {
        std::function<void(RuleItem&)> change;
        std::vector<std::string> problems;
    } cases[] = {
        {[](RuleItem&) {}, {}},
        {[](RuleItem& i) { i.OSId = "XP"; }, {}}, // group ids are found without case
        {[](RuleItem& i) { i.OSId = "vista"; }, {"platform group \"vista\" does not exist"}},
        {[](RuleItem& i) { i.Level = 5; }, {"level 5 is not 0 to 4"}},
        {[](RuleItem& i) { i.Des = "\xb2\xe2"; }, {"the description is not UTF-8"}},
        {[](RuleItem& i) { i.Level = -1; }, {"level -1 is not 0 to 4"}},
        {[](RuleItem& i) { i.OptText = "<rules/>"; }, {"the detection document does not read"}},
        {[](RuleItem& i) { i.RepairXML = ""; }, {"the repair document does not read"}},
        {[&](RuleItem& i) {
             i.OptText = detection([](DetectionRows& r) { r.files[0].isFolder = "2"; });
         },
         {"detection file rule 1: unknown isFolder \"2\""}},
        {[&](RuleItem& i) {
             i.OptText = detection([](DetectionRows& r) { r.files[0].decide = "File"; });
         },
         {"detection file rule 1: unknown decide \"File\""}},
        {[&](RuleItem& i) {
             i.OptText = detection([](DetectionRows& r) {
                 r.registry.push_back(r.registry[0]);
                 r.registry[1].root = "HKEY_LOCAL_MACHINE";
                 r.registry[1].KeyType = "REG_QWORD";
                 r.registry[1].decide = "Value<";
             });
         },
         {"detection registry rule 2: unknown root \"HKEY_LOCAL_MACHINE\"",
          "detection registry rule 2: unknown KeyType \"REG_QWORD\"",
          "detection registry rule 2: unknown decide \"Value<\""}},
        {[&](RuleItem& i) {
             i.RepairXML = repair([](RepairRows& r) { r.files[0].decide = "move"; });
         },
         {"repair file rule 1: unknown decide \"move\""}},
        {[&](RuleItem& i) {
             i.RepairXML = repair([](RepairRows& r) {
                 r.registry[0].root = "hklm";
                 r.registry[0].KeyType = "REG_MULTI_SZ";
                 r.registry[0].decide = "SetKey";
             });
         },
         {"repair registry rule 1: unknown root \"hklm\"",
          "repair registry rule 1: unknown KeyType \"REG_MULTI_SZ\"",
          "repair registry rule 1: unknown decide \"SetKey\""}},
        {[](RuleItem& i) {
             std::string& t = i.OptText;
             t.replace(t.find("opttype=\"files\""), 15, "opttype=\"Files\"");
         },
         {"detection: unknown opttype \"Files\""}},
        {[](RuleItem& i) {
             std::string& t = i.RepairXML;
             t.replace(t.find("opttype=\"regedit\""), 17, "kind=\"regedit\"");
         },
         {"repair: a group without opttype"}},
    };
    for (const auto& c : cases) {
        RulePack pack;
        pack.platforms = kGroups;
        pack.items = {Item("first", "xp"), Item("changed", "xp")};
        c.change(pack.items[1]);
        std::vector<RulePackProblem> expected;
        for (const std::string& p : c.problems)
            expected.push_back({"changed", p});
        EXPECT_EQ(CheckRulePack(pack), expected) << pack.items[1].OptText;
    }
}

TEST(RulePackTest, CheckFindsRepeatedNamesAndGroupsWithoutPlatforms) {
    RulePack pack;
    pack.items = {Item("a"), Item("b", "xp"), Item("a"), Item("a")};
    const std::vector<RulePackProblem> expected = {
        {"b", "platform group \"xp\" does not exist"},
        {"a", "the name is used by an earlier item"},
        {"a", "the name is used by an earlier item"},
    };
    EXPECT_EQ(CheckRulePack(pack), expected);
}

class RulePackLibraryTest : public ::testing::Test {
protected:
    void use(std::string_view file) { lib.file = dir.file(file).string(); }

    static RulePack Sample() {
        RulePack pack;
        pack.platforms = kGroups;
        pack.items = {Item("z last alphabetically", "xp"), Item("a 'quoted' name"), Item("中文")};
        pack.items[1].Level = 0;
        pack.items[1].MessBoxText = "it's\r\nrisky";
        return pack;
    }

    TempPrefix dir;
    LibraryLocation lib{dir.file("cvdb.db").string()};
};

TEST_F(RulePackLibraryTest, ExportOfAnImportGivesBackThePack) {
    CreateRuleDatabase(lib);
    const RulePack pack = Sample();
    ImportRuleLibrary(lib, pack);
    EXPECT_EQ(ExportRuleLibrary(lib), pack);
    EXPECT_EQ(LoadWinOSValue(lib), kGroups);

    // A library the editor filled exports in rule-table order and imports elsewhere
    // to the same pack.
    const std::string text = WriteRulePack(ExportRuleLibrary(lib));
    use("copy.db");
    CreateRuleDatabase(lib);
    ImportRuleLibrary(lib, ReadRulePack(text));
    EXPECT_EQ(WriteRulePack(ExportRuleLibrary(lib)), text);
}

TEST_F(RulePackLibraryTest, ALibraryWithoutPlatformsExportsWithoutThem) {
    CreateRuleDatabase(lib);
    RulePack pack;
    pack.items = {Item("only")};
    ImportRuleLibrary(lib, pack);
    EXPECT_EQ(ExportRuleLibrary(lib), pack);
    EXPECT_EQ(LoadWinOSValue(lib), std::nullopt);
}

TEST_F(RulePackLibraryTest, AValueThatIsNotUtf8IsReportedNotExportedAsEmpty) {
    CreateRuleDatabase(lib);
    RuleItem item = Item("gbk");
    item.MessBoxText = "\xb2\xe2\xca\xd4"; // 测试 in code page 936
    const auto db = OpenRuleLibrary(lib);
    db->Execute(RuleSql::InsertRule(lib.table, item));
    const RulePack pack = ExportRuleLibrary(lib);
    EXPECT_EQ(pack.items.at(0).MessBoxText, item.MessBoxText);
    EXPECT_EQ(CheckRulePack(pack),
              (std::vector<RulePackProblem>{{"gbk", "the warning is not UTF-8"}}));
    EXPECT_EQ(Message([&] { WriteRulePack(pack); }), "item \"gbk\": a text is not UTF-8");
}

TEST_F(RulePackLibraryTest, AnImportThatCannotBeDoneLeavesTheLibraryAsItWas) {
    CreateRuleDatabase(lib);
    SaveWinOSValue(lib, "[old]\nName=old\n");
    RulePack bad = Sample();
    bad.items[2].Level = 9;
    EXPECT_EQ(Message([&] { ImportRuleLibrary(lib, bad); }),
              "the pack does not check: item \"中文\": level 9 is not 0 to 4");
    EXPECT_TRUE(ExportRuleLibrary(lib).items.empty());
    EXPECT_EQ(LoadWinOSValue(lib), "[old]\nName=old\n");

    RulePack first;
    first.items = {Item("kept")};
    ImportRuleLibrary(lib, first);
    const std::string before = WriteRulePack(ExportRuleLibrary(lib));
    EXPECT_EQ(Message([&] { ImportRuleLibrary(lib, Sample()); }),
              "the rule library already holds items; import needs an empty one");
    EXPECT_EQ(WriteRulePack(ExportRuleLibrary(lib)), before);
}

// What killed imports and conversions left beside the library goes at the next write,
// unless another process holds it; a new library appears only complete.
TEST_F(RulePackLibraryTest, KilledWritesLeaveNothingBehindTheNextWrite) {
    struct Left {
        const char* name;
        bool locked, gone;
    };
    const Left left[] = {
        {"cvdb.db.import-Ab12Cd", false, true},   {"cvdb.db.import-Ab12Cd-journal", false, true},
        {"cvdb.db.import-Zz99Zz", true, false},   {"cvdb.db.encrypt-Qw12Er", false, true},
        {"cvdb.db.import-short", false, false}, // not a name mkstemp makes
        {"other.db.import-Ab12Cd", false, false},
    };
    std::vector<int> locks;
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const Left& l : left) {
        WriteFile(dir.file(l.name), "half");
        fs::last_write_time(dir.file(l.name), past);
        if (!l.locked) continue;
        locks.push_back(::open(dir.file(l.name).c_str(), O_RDONLY));
        ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
    }
    ImportNewRuleLibrary(lib, Sample());
    EXPECT_EQ(ExportRuleLibrary(lib), Sample());
    EXPECT_EQ(Message([&] { ImportNewRuleLibrary(lib, Sample()); }),
              "cannot put the new library in place at " + lib.file + ": File exists");
    // A plain library is encrypted in place of itself: that write clears the rest.
    use("plain.db");
    {
        TSQLiteDatabase plain(lib.file, "", 1000);
        plain.Execute("CREATE TABLE t(x);");
    }
    WriteFile(dir.file("plain.db.encrypt-Xx11Yy"), "half");
    fs::last_write_time(dir.file("plain.db.encrypt-Xx11Yy"), past);
    (void)OpenRuleLibrary(lib);
    EXPECT_FALSE(fs::exists(dir.file("plain.db.encrypt-Xx11Yy")));

    for (const Left& l : left)
        EXPECT_EQ(fs::exists(dir.file(l.name)), !l.gone) << l.name;
    for (const auto& entry : fs::directory_iterator(dir.dir())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.starts_with("cvdb.db") || name.starts_with("other") ||
                    name.starts_with("plain.db"))
            << name;
    }
    for (int fd : locks)
        ::close(fd);
}

// A read-only plain library is encrypted by whoever may write its folder; root
// bypasses permissions, so the open runs as "nobody" then.
TEST_F(RulePackLibraryTest, AReadOnlyPlainLibraryOpens) {
    use("ro/plain.db");
    fs::create_directories(dir.file("ro"));
    {
        TSQLiteDatabase plain(lib.file, "", 1000);
        plain.Execute("CREATE TABLE t(x);");
    }
    fs::permissions(lib.file,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir.file("ro"), fs::perms::all);
    fs::permissions(dir.dir(), fs::perms::others_exec, fs::perm_options::add);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        try {
            (void)OpenRuleLibrary(lib);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(fs::status(lib.file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

} // namespace
} // namespace corvane
