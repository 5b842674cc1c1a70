#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "core/store/RuleLibrary.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

constexpr std::string_view kPlainHeader = test::kPlainSqliteHeader;

std::string Failure(const std::function<void()>& run) {
    return test::MessageOf<ESQLiteException>(run);
}

class RuleLibraryTest : public ::testing::Test {
protected:
    // Adds an item as the rule item editor does: statement 5 in a transaction.
    void Add(const RuleItem& item) {
        const auto db = OpenRuleLibrary(lib);
        db->OpenTransaction();
        db->Execute(RuleSql::InsertRule(lib.table, item));
        db->CommitTransaction();
    }
    static RuleItem Item(std::string name) {
        RuleItem item;
        item.Name = std::move(name);
        return item;
    }
    // The IDs and names of statement 1, in the order the library gives them.
    std::vector<std::pair<std::string, std::string>> Rows() {
        std::vector<std::pair<std::string, std::string>> rows;
        const auto t = OpenRuleLibrary(lib)->Query(RuleSql::SelectAllRules(lib.table));
        for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext())
            rows.emplace_back(t->TextByName("Id"), RuleText(*t, "Name"));
        return rows;
    }
    std::vector<std::pair<std::string, std::string>> Infos() {
        std::vector<std::pair<std::string, std::string>> rows;
        const auto t = OpenRuleLibrary(lib)->Query("SELECT * FROM Infos ORDER BY ID");
        for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext())
            rows.emplace_back(RuleText(*t, "Name"), RuleText(*t, "Value"));
        return rows;
    }

    TempPrefix dir;
    LibraryLocation lib{dir.file("cvdb.db").string()};
};

TEST_F(RuleLibraryTest, AnIdMustBeAnInteger) {
    const std::pair<std::string, bool> cases[] = {
        {"7", true},   {"-3", true},        {"9223372036854775807", true},
        {"", false},   {"1 or 1=1", false}, {"1;", false},
        {" 1", false}, {"-", false},
    };
    for (const auto& [id, ok] : cases) {
        const std::string message = Failure([&] { RuleSql::DeleteRule(lib.table, id); });
        if (ok)
            EXPECT_EQ(message, "(nothing raised)") << id;
        else
            EXPECT_EQ(message, "Not a rule item ID: \"" + id + "\"") << id;
    }
}

TEST_F(RuleLibraryTest, ItemsRoundTripThroughTheStatements) {
    CreateRuleDatabase(lib);
    RuleItem tricky;
    tricky.Name = "它's \"引号\" ''";
    tricky.Level = 4;
    tricky.OSId = "all-os";
    tricky.Des = "";
    tricky.OptText = "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules mode='or'/>";
    tricky.RepairXML = "<rules>\n\t<CHdb path='C:\\Temp'/>\n</rules>";
    tricky.MessBoxText = "";
    Add(tricky);
    Add(Item("second"));

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    const std::string id = rows[0].first;
    {
        const auto db = OpenRuleLibrary(lib);
        const auto t = db->Query(RuleSql::SelectRuleForEdit(lib.table, id));
        ASSERT_EQ(t->RowTotal(), 1);
        EXPECT_EQ(RuleText(*t, "Name"), tricky.Name);
        EXPECT_EQ(t->TextByName("Level"), "4");
        EXPECT_EQ(RuleText(*t, "OSId"), tricky.OSId);
        EXPECT_EQ(RuleText(*t, "OptText"), tricky.OptText);
        EXPECT_EQ(RuleText(*t, "RepairXML"), tricky.RepairXML);
        // Empty texts are stored as texts, not as nulls.
        const auto types =
            db->Query("SELECT typeof(Des) AS d, typeof(MessBoxText) AS m FROM cvdb where ID=" + id);
        EXPECT_EQ(types->TextByName("d"), "text");
        EXPECT_EQ(types->TextByName("m"), "text");
    }

    RuleItem changed = tricky;
    changed.Name = "改名 'x'";
    changed.Level = 0;
    changed.MessBoxText = "修复前请关闭程序";
    {
        const auto db = OpenRuleLibrary(lib);
        db->OpenTransaction();
        db->Execute(RuleSql::UpdateRule(lib.table, changed, id));
        db->CommitTransaction();
        const auto t = db->Query(RuleSql::SelectRuleForRepair(lib.table, id));
        ASSERT_EQ(t->RowTotal(), 1);
        EXPECT_EQ(RuleText(*t, "Name"), changed.Name);
        EXPECT_EQ(t->TextByName("Level"), "0");
        EXPECT_EQ(RuleText(*t, "MessBoxText"), changed.MessBoxText);

        // An ID that is gone: no rows, no change, no error.
        EXPECT_EQ(db->Query(RuleSql::SelectRuleForEdit(lib.table, "999"))->RowTotal(), 0);
        db->Execute(RuleSql::UpdateRule(lib.table, Item("ghost"), "999"));
        db->Execute(RuleSql::DeleteRule(lib.table, "999"));
        db->Execute(RuleSql::DeleteRule(lib.table, id));
    }
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, std::string>>{{rows[1]}}));
}

TEST_F(RuleLibraryTest, TheLargestIdIsGivenAgainAfterItsItemIsDeleted) {
    CreateRuleDatabase(lib);
    for (const char* name : {"a", "b", "c"})
        Add(Item(name));
    const auto before = Rows();
    ASSERT_EQ(before.size(), 3u);
    const std::string largest = before.back().first;

    OpenRuleLibrary(lib)->Execute(RuleSql::DeleteRule(lib.table, largest));
    Add(Item("d"));
    const auto after = Rows();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after.back(), std::make_pair(largest, std::string("d")));
}

TEST_F(RuleLibraryTest, TheWinOSRecord) {
    CreateRuleDatabase(lib);
    const auto winOS = [this] {
        const auto t = OpenRuleLibrary(lib)->Query(RuleSql::SelectWinOS());
        std::vector<std::string> values;
        for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext())
            values.push_back(RuleText(*t, "Value"));
        return values;
    };
    EXPECT_TRUE(winOS().empty());
    OpenRuleLibrary(lib)->Execute(RuleSql::InsertWinOS("[all-os]\nname=所有系统\n"));
    EXPECT_EQ(winOS(), std::vector<std::string>{"[all-os]\nname=所有系统\n"});
    OpenRuleLibrary(lib)->Execute(RuleSql::UpdateWinOS("[xp]\nname='XP'\n"));
    EXPECT_EQ(winOS(), std::vector<std::string>{"[xp]\nname='XP'\n"});
}

TEST_F(RuleLibraryTest, AValueThatIsNotUtf8ReadsAsEmpty) {
    CreateRuleDatabase(lib);
    const auto db = OpenRuleLibrary(lib);
    // "测试" in code page 936; then a good text with one bad byte; then a good text.
    for (const char* name : {"CAST(X'B2E2CAD4' AS TEXT)", "CAST(X'E6B58BFF' AS TEXT)", "'测试'"})
        db->Execute("INSERT INTO cvdb (Name) VALUES (" + std::string(name) + ");");
    const auto t = db->Query("SELECT * FROM cvdb ORDER BY ID");
    std::vector<std::string> names, raw;
    for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext()) {
        names.push_back(RuleText(*t, "Name"));
        raw.push_back(t->TextByName("Name"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "", "测试"}));
    EXPECT_EQ(raw[0], "\xb2\xe2\xca\xd4") << "the layer itself passes values through";
}

TEST_F(RuleLibraryTest, CreateRuleDatabaseEmptiesTheRuleTableAndKeepsInfos) {
    using Rows2 = std::vector<std::pair<std::string, std::string>>;
    CreateRuleDatabase(lib); // on a missing file
    EXPECT_FALSE(ReadFile(lib.file).starts_with(kPlainHeader));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Infos(), (Rows2{{"Version", "1.0"}}));

    Add(Item("one"));
    Add(Item("two"));
    OpenRuleLibrary(lib)->Execute(RuleSql::InsertWinOS("[all-os]"));
    CreateRuleDatabase(lib);
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Infos(), (Rows2{{"Version", "1.0"}, {"WinOS", "[all-os]"}}));
}

TEST_F(RuleLibraryTest, CreateRuleDatabaseThatFailsHalfWayChangesNothing) {
    {
        const auto db = OpenRuleLibrary(lib);
        db->Execute(RuleSql::CreateRuleTable(lib.table));
        db->Execute(RuleSql::InsertRule(lib.table, Item("kept")));
        // A view where the Infos table would go: HasTable does not count it, and the
        // CREATE TABLE then fails after the rule table was dropped and made again.
        db->Execute("CREATE VIEW Infos AS SELECT 1 AS Name;");
    }
    EXPECT_NE(Failure([this] { CreateRuleDatabase(lib); }), "(nothing raised)");
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].second, "kept");
}

TEST_F(RuleLibraryTest, CountRules) {
    struct Case {
        std::string name;
        std::function<void()> prepare;
        int result;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"empty rule table", [this] { CreateRuleDatabase(lib); }, 0, {"当前加载库数量:0"}},
        {"three items",
         [this] {
             CreateRuleDatabase(lib);
             for (const char* name : {"a", "b", "c"})
                 Add(Item(name));
         },
         0,
         {"当前加载库数量:3"}},
        {"no rule table",
         [this] {
             CreateRuleDatabase(lib);
             OpenRuleLibrary(lib)->Execute(RuleSql::DropRuleTable(lib.table));
         },
         1,
         {}},
    };
    for (const Case& c : cases) {
        fs::remove(lib.file);
        c.prepare();
        std::vector<std::string> shown;
        EXPECT_EQ(CountRules(lib, [&](const std::string& text) { shown.push_back(text); }),
                  c.result)
            << c.name;
        EXPECT_EQ(shown, c.shown) << c.name;
    }

    // A library that does not open propagates the failure of the open.
    fs::remove(lib.file);
    WriteFile(lib.file, std::string(2048, '\x5a'));
    bool called = false;
    const std::string message =
        Failure([&] { (void)CountRules(lib, [&](const std::string&) { called = true; }); });
    EXPECT_TRUE(message.starts_with("File opened that is not a database file")) << message;
    EXPECT_TRUE(message.ends_with(" (rule library \"" + lib.file + "\")")) << message;
    EXPECT_FALSE(called);
}

// Debian's sqlcipher program reads what CreateRuleDatabase and statement 5 wrote.
TEST_F(RuleLibraryTest, AnotherSQLCipherClientReadsTheLibrary) {
    CreateRuleDatabase(lib);
    RuleItem item = Item("清理临时文件");
    item.Level = 2;
    Add(item);

    WriteFile(dir.file("read.sql"), "PRAGMA key='kplmvz';\n"
                                    "PRAGMA cipher_page_size = 4096;\n"
                                    "PRAGMA kdf_iter = 64000;\n"
                                    "PRAGMA cipher_hmac_algorithm = HMAC_SHA1;\n"
                                    "PRAGMA cipher_kdf_algorithm = PBKDF2_HMAC_SHA1;\n"
                                    "SELECT '--';\n"
                                    "SELECT sql FROM sqlite_master ORDER BY rowid;\n"
                                    "SELECT Name || '=' || Value FROM Infos;\n"
                                    "SELECT Name || '|' || Level || '|' || hex(Name) FROM cvdb;\n");
    const std::string command = "sqlcipher -batch '" + lib.file + "' < '" +
                                dir.file("read.sql").string() + "' > '" +
                                dir.file("out.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << "sqlcipher (Debian package sqlcipher, installed by scripts/bootstrap): "
        << ReadFile(dir.file("out.txt"));

    std::istringstream out(ReadFile(dir.file("out.txt")));
    std::vector<std::string> lines;
    bool after = false;
    for (std::string line; std::getline(out, line);) {
        if (after) lines.push_back(line);
        after = after || line == "--";
    }
    std::string hex;
    for (unsigned char c : item.Name) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    const std::vector<std::string> expected{
        "CREATE TABLE cvdb ([ID] INTEGER PRIMARY KEY,[Name] VARCHAR (300),[OSId] TEXT,"
        "[OptText] TEXT, [RepairXML] TEXT,[MessBoxText] TEXT, [Des] TEXT, [Level] INTEGER)",
        "CREATE INDEX cvdbName ON [cvdb]([Name])",
        "CREATE TABLE Infos ([ID] INTEGER PRIMARY KEY,[Name] VARCHAR (300),[Value] TEXT)",
        "CREATE INDEX InfosName ON [Infos]([Name])",
        "Version=1.0",
        "清理临时文件|2|" + hex,
    };
    EXPECT_EQ(lines, expected);
}

} // namespace
} // namespace corvane
