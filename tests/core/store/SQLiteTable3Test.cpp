#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sys/stat.h>

#include "core/store/SQLite3.h"
#include "core/store/SQLiteTable3.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

constexpr const char* kKey = "kplmvz";
constexpr std::string_view kPlainHeader = test::kPlainSqliteHeader;

std::string Failure(const std::function<void()>& run) {
    return test::MessageOf<ESQLiteException>(run);
}

std::set<std::string> FilesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

ino_t Inode(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0);
    return st.st_ino;
}

TEST(SQLite3, ResultCodeText) {
    const std::pair<int, std::string> cases[] = {
        {0, "Successful result"},
        {1, "SQL error or missing database"},
        {5, "The database file is locked"},
        {19, "Abort due to contraint violation"},
        {26, "File opened that is not a database file"},
        {100, "sqlite3_step() has another row ready"},
        {101, "sqlite3_step() has finished executing"},
        {27, "Unknown SQLite Error Code \"27\""},
        {99, "Unknown SQLite Error Code \"99\""},
        {102, "Unknown SQLite Error Code \"102\""},
        {-1, "Unknown SQLite Error Code \"-1\""},
        {266, "Unknown SQLite Error Code \"266\""}, // an extended code is not its primary one
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ResultCodeText(code), text) << code;

    EXPECT_NO_THROW(CheckResult(0));
    EXPECT_EQ(Failure([] { CheckResult(26); }), "File opened that is not a database file");
}

class SQLiteTable3Test : public ::testing::Test {
protected:
    fs::path file() const { return dir.file("lib.db"); }
    std::unique_ptr<TSQLiteDatabase> Open(const std::string& key = kKey, int busy = 1000) const {
        return std::make_unique<TSQLiteDatabase>(file().string(), key, busy);
    }

    TempPrefix dir;
};

TEST_F(SQLiteTable3Test, FailedStatementsSayWhatAndLeaveTheConnectionUsable) {
    auto db = Open();
    db->Execute("CREATE TABLE t ([a] INTEGER PRIMARY KEY, [b] TEXT NOT NULL);");
    db->Execute("INSERT INTO t VALUES (1, 'x');");

    struct Case {
        bool query;
        std::string sql;
        std::string prefix; // the message up to SQLite's own text
        // Part of SQLite's text; nullopt: the message is the prefix alone.
        std::optional<std::string> sqliteSays;
    };
    const Case cases[] = {
        {false, "SELEC 1", "SQL error or missing database \"SELEC 1\" : ", "syntax error"},
        {false, "INSERT INTO t VALUES (1, 'y')",
         "Abort due to contraint violation \"INSERT INTO t VALUES (1, 'y')\" : ", "UNIQUE"},
        {false, "INSERT INTO t (b) VALUES (NULL)",
         "Abort due to contraint violation \"INSERT INTO t (b) VALUES (NULL)\" : ", "NOT NULL"},
        {false, "SELECT * FROM t",
         "sqlite3_step() has another row ready \"SELECT * FROM t\" : ", ""},
        {false, "", "Could not prepare SQL statement", std::nullopt},
        {false, "  -- a comment only", "Could not prepare SQL statement", std::nullopt},
        {true, "SELEC", "Error executing SQL \"SELEC\" : ", "syntax error"},
        {true, "SELECT * FROM missing",
         "Error executing SQL \"SELECT * FROM missing\" : ", "no such table"},
        {true, "", "Could not prepare SQL statement", std::nullopt},
        {true, "SELECT abs(-9223372036854775807 - 1)",
         "Could not retrieve data \"SELECT abs(-9223372036854775807 - 1)\" : ", "overflow"},
    };
    for (const Case& c : cases) {
        const std::string message = Failure([&] {
            if (c.query)
                db->Query(c.sql);
            else
                db->Execute(c.sql);
        });
        if (!c.sqliteSays) {
            EXPECT_EQ(message, c.prefix) << c.sql;
        } else {
            EXPECT_TRUE(message.starts_with(c.prefix)) << c.sql << " -> " << message;
            EXPECT_GT(message.size(), c.prefix.size()) << message;
            EXPECT_NE(message.find(*c.sqliteSays, c.prefix.size()), std::string::npos) << message;
        }
        EXPECT_EQ(db->Query("SELECT * FROM t")->RowTotal(), 1) << c.sql;
        EXPECT_FALSE(db->InTransaction());
    }
}

TEST_F(SQLiteTable3Test, ALockHeldBeyondTheBusyTimeout) {
    auto holder = Open();
    holder->Execute("CREATE TABLE t ([a] INTEGER PRIMARY KEY, [b] TEXT);");
    auto waiter = Open(kKey, 50);
    EXPECT_EQ(waiter->Query("SELECT * FROM t")->RowTotal(), 0);

    holder->Execute("BEGIN EXCLUSIVE;");
    const std::string insert = "INSERT INTO t (b) VALUES ('z')";
    EXPECT_TRUE(Failure([&] {
                    waiter->Execute(insert);
                }).starts_with("The database file is locked \"" + insert + "\" : "));
    EXPECT_EQ(Failure([&] { waiter->Query("SELECT * FROM t"); }),
              "Could not prepare SQL statement");
    holder->Execute("COMMIT;");

    waiter->Execute(insert);
    EXPECT_EQ(holder->Query("SELECT * FROM t")->RowTotal(), 1);
}

TEST_F(SQLiteTable3Test, ValuesReadByColumnType) {
    auto db = Open();
    db->Execute("CREATE TABLE v ([ID] INTEGER PRIMARY KEY, [Name] VARCHAR (300), [Level] INTEGER,"
                " [Low] integer, [Amount] REAL, [Data] BLOB, [Flag] BOOLEAN);");
    db->Execute("INSERT INTO v VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL);");
    db->Execute("INSERT INTO v VALUES (2, CAST(X'610062' AS TEXT), 'abc', 7, 2.5, X'', 1);");
    db->Execute("INSERT INTO v VALUES (3, '名称', 4, 'seven', 0.1, X'610062', 0);");
    db->Execute("INSERT INTO v VALUES (4, '', -9223372036854775808, 12, 1e300, X'FF', 1);");
    auto t = db->Query("SELECT * FROM v ORDER BY ID");
    ASSERT_EQ(t->RowTotal(), 4);

    const std::vector<std::string> expected[] = {
        // ID, Name, Level, Low, Amount, Data, Flag
        {"1", "", "0", "", "0", "", "0"},
        {"2", "a", "0", "7", "2.5", "", "1"},
        {"3", "名称", "4", "seven", "0.1", std::string("a\0b", 3), "0"},
        {"4", "", "-9223372036854775808", "12", "1e+300", "\xff", "1"},
    };
    for (const auto& row : expected) {
        for (int c = 0; c < 7; ++c)
            EXPECT_EQ(t->TextAt(c), row[static_cast<std::size_t>(c)])
                << "row " << row[0] << " column " << t->ColumnNames()[static_cast<std::size_t>(c)];
        t->MoveNext();
    }
}

TEST_F(SQLiteTable3Test, TypedReadersRefuseOtherTypes) {
    auto db = Open();
    auto t = db->Query("SELECT 5 AS i, 'text' AS s, X'0001' AS b");
    EXPECT_EQ(t->BlobAt(2), std::string_view("\0\1", 2));
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { t->RealAt(1); }, "Not an integer or numeric field"},
        {[&] { t->RealAt(2); }, "Not an integer or numeric field"},
        {[&] { t->BlobAt(1); }, "Not a Blob field"},
        {[&] { t->BlobTextAt(0); }, "Not a Blob field"},
        {[&] { t->TextAt(3); }, "Column index out of range: 3"},
        {[&] { t->TextAt(-1); }, "Column index out of range: -1"},
    };
    for (const auto& [run, message] : refused)
        EXPECT_EQ(Failure(run), message);
}

TEST_F(SQLiteTable3Test, AColumnWithoutTypeKeepsTheValuesAfterAFirstNull) {
    auto db = Open();
    auto t = db->Query("SELECT NULL AS v UNION ALL SELECT 'later' UNION ALL SELECT 3");
    ASSERT_EQ(t->RowTotal(), 3);
    std::vector<std::string> read;
    for (int r = 0; r < 3; ++r, t->MoveNext())
        read.push_back(t->TextByName("V"));
    EXPECT_EQ(read, (std::vector<std::string>{"", "later", "3"}));
}

TEST_F(SQLiteTable3Test, ColumnNamesMatchWithoutRegardToCase) {
    auto db = Open();
    auto t = db->Query("SELECT 1 AS ID, 'first' AS Name, 'second' AS name, 'Ä' AS Äb");
    EXPECT_EQ(t->ColumnNames(), (std::vector<std::string>{"ID", "NAME", "NAME", "ÄB"}));
    for (const char* name : {"Id", "id", "ID", "iD"})
        EXPECT_EQ(t->TextByName(name), "1") << name;
    EXPECT_EQ(t->ColumnIndex("name"), 1); // the first of two wins
    // Only ASCII letters fold.
    EXPECT_EQ(t->ColumnIndex("Äb"), 3);
    EXPECT_EQ(Failure([&] { t->ColumnIndex("äb"); }), "Field not found in dataset: äb");
    EXPECT_EQ(Failure([&] { t->ColumnIndex("Nope"); }), "Field not found in dataset: Nope");
}

TEST_F(SQLiteTable3Test, WalkingToTheEnd) {
    auto db = Open();
    db->Execute("CREATE TABLE t ([Name] TEXT);");

    auto empty = db->Query("SELECT * FROM t");
    EXPECT_EQ(empty->RowTotal(), 0);
    EXPECT_EQ(empty->ColumnCount(), 0);
    EXPECT_TRUE(empty->AtEnd());
    EXPECT_FALSE(empty->MoveNext());
    // The column check comes before the end check.
    EXPECT_EQ(Failure([&] { empty->TextByName("Name"); }), "Field Name Not found. Empty dataset");

    db->Execute("INSERT INTO t VALUES ('a');");
    db->Execute("INSERT INTO t VALUES ('b');");
    auto t = db->Query("SELECT * FROM t");
    EXPECT_EQ(t->RowTotal(), 2);
    std::string seen;
    for (int r = 0; r < t->RowTotal(); ++r) {
        EXPECT_FALSE(t->AtEnd());
        seen += t->TextByName("Name");
        EXPECT_TRUE(t->MoveNext());
    }
    EXPECT_EQ(seen, "ab");
    EXPECT_TRUE(t->AtEnd());
    EXPECT_FALSE(t->MoveNext());
    EXPECT_TRUE(t->AtEnd());
    EXPECT_EQ(Failure([&] { t->TextByName("Name"); }), "Table is at End of File");
    EXPECT_EQ(Failure([&] { t->IntegerAt(0); }), "Table is at End of File");
    EXPECT_EQ(Failure([&] { t->BlobAt(0); }), "Table is at End of File");
}

// A connection reads the library in large pieces (here the whole table at once); what
// another connection wrote between two of its reads is read.
TEST_F(SQLiteTable3Test, WhatAnotherConnectionWroteIsReadAfterALargeRead) {
    auto writer = Open();
    writer->Execute("CREATE TABLE t ([ID] INTEGER PRIMARY KEY, [Name] TEXT);");
    auto reader = Open();
    writer->OpenTransaction();
    for (int n = 0; n < 60; ++n)
        writer->Execute("INSERT INTO t (Name) VALUES ('" + std::string(900, 'a') + "');");
    writer->CommitTransaction();
    const auto names = [&] {
        std::string all;
        auto t = reader->Query("SELECT substr(Name, 1, 1) AS Name FROM t ORDER BY ID");
        for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext())
            all += t->TextByName("Name");
        return all;
    };
    EXPECT_EQ(names(), std::string(60, 'a'));
    // Every page changes in place: the texts keep their length.
    writer->Execute("UPDATE t SET Name = 'b' || substr(Name, 2) WHERE ID % 3 = 0;");
    std::string expected(60, 'a');
    for (std::size_t id = 3; id <= 60; id += 3)
        expected[id - 1] = 'b';
    EXPECT_EQ(names(), expected);
}

TEST_F(SQLiteTable3Test, OnlyTheFirstStatementRuns) {
    auto db = Open();
    db->Execute("CREATE TABLE a ([x] TEXT); CREATE TABLE b ([y] TEXT);");
    EXPECT_TRUE(db->HasTable("a"));
    EXPECT_FALSE(db->HasTable("b"));
}

TEST_F(SQLiteTable3Test, HasTable) {
    auto db = Open();
    db->Execute("CREATE TABLE MixedCase ([x] TEXT);");
    db->Execute("CREATE VIEW Shown AS SELECT * FROM MixedCase;");
    const std::pair<std::string, bool> cases[] = {
        {"MixedCase", true},     {"mixedcase", true}, {"MIXEDCASE", true},
        {"Mixed", false},        {"Shown", false}, // a view is no table
        {"x' or '1'='1", false},
    };
    for (const auto& [name, has] : cases)
        EXPECT_EQ(db->HasTable(name), has) << name;
}

TEST_F(SQLiteTable3Test, Transactions) {
    {
        auto db = Open();
        db->Execute("CREATE TABLE t ([x] TEXT);");
        db->OpenTransaction();
        db->Execute("INSERT INTO t VALUES ('committed');");
        db->CommitTransaction();
        EXPECT_FALSE(db->InTransaction());

        db->OpenTransaction();
        db->Execute("INSERT INTO t VALUES ('rolled back');");
        // Refused by the layer itself: SQLite would have said "cannot start a transaction
        // within a transaction".
        EXPECT_EQ(Failure([&] { db->OpenTransaction(); }), "Transaction already open");
        EXPECT_TRUE(db->InTransaction());
    } // released uncommitted
    auto db = Open();
    auto t = db->Query("SELECT * FROM t");
    ASSERT_EQ(t->RowTotal(), 1);
    EXPECT_EQ(t->TextByName("x"), "committed");
}

TEST_F(SQLiteTable3Test, OpeningCreatesMissingFolders) {
    const fs::path nested = dir.file("a") / "b" / "c" / "lib.db";
    { TSQLiteDatabase db(nested.string(), kKey, 1000); }
    EXPECT_TRUE(fs::is_regular_file(nested));

    WriteFile(dir.file("plain.txt"), "a file, not a folder");
    const std::string blocked = (dir.file("plain.txt") / "sub" / "lib.db").string();
    const std::string message = Failure([&] { TSQLiteDatabase db(blocked, kKey, 1000); });
    const std::string prefix = "Failed to open database \"" + blocked + "\" : ";
    EXPECT_TRUE(message.starts_with(prefix)) << message;
    EXPECT_GT(message.size(), prefix.size());
}

TEST_F(SQLiteTable3Test, APlainFileIsEncryptedOnItsFirstOpenWithAKey) {
    const std::string longText(5000, 'z'); // spans pages of every size below
    const std::vector<std::string> expected{"第一", "it's", longText};
    const auto names = [&](TSQLiteDatabase& db) {
        std::vector<std::string> read;
        auto t = db.Query("SELECT * FROM t ORDER BY ID");
        for (int r = 0; r < t->RowTotal(); ++r, t->MoveNext())
            read.push_back(t->TextByName("Name"));
        return read;
    };

    for (const int pageSize : {4096, 512, 65536}) {
        SCOPED_TRACE(pageSize);
        fs::remove(file());
        {
            TSQLiteDatabase plain(file().string(), "", 1000);
            plain.Execute("PRAGMA page_size = " + std::to_string(pageSize) + ";");
            plain.Execute("CREATE TABLE t ([ID] INTEGER PRIMARY KEY, [Name] TEXT);");
            for (const std::string& name : expected)
                plain.Execute("INSERT INTO t (Name) VALUES (" + Quoted(name) + ");");
        }
        ASSERT_TRUE(ReadFile(file()).starts_with(kPlainHeader));
        ::chmod(file().c_str(), 0640);
        const ino_t plainInode = Inode(file());

        {
            auto db = Open();
            EXPECT_EQ(names(*db), expected);
            EXPECT_EQ(db->Query("PRAGMA page_size")->TextAt(0), "4096");
        }
        EXPECT_FALSE(ReadFile(file()).starts_with(kPlainHeader));
        EXPECT_NE(Inode(file()), plainInode) << "written anew beside it and renamed into place";
        EXPECT_EQ(FilesIn(dir.dir()), std::set<std::string>{"lib.db"});
        struct stat st {};
        ::stat(file().c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);

        // From now on the file opens directly with its key, and only with it.
        const ino_t encryptedInode = Inode(file());
        EXPECT_EQ(names(*Open()), expected);
        EXPECT_EQ(Inode(file()), encryptedInode);
        EXPECT_TRUE(
            Failure([&] { Open(""); }).starts_with("File opened that is not a database file"));
    }
}

TEST_F(SQLiteTable3Test, AFileThatDoesNotOpenWithTheKeyIsLeftAsItIs) {
    const std::function<void()> makers[] = {
        [&] {
            TSQLiteDatabase other(file().string(), "another key", 1000);
            other.Execute("CREATE TABLE t ([x] TEXT);");
        },
        [&] { WriteFile(file(), std::string(4096, 'x')); },
    };
    for (const auto& make : makers) {
        fs::remove(file());
        make();
        const std::string before = ReadFile(file());
        const std::string message = Failure([&] { Open(); });
        EXPECT_TRUE(message.starts_with("File opened that is not a database file")) << message;
        EXPECT_EQ(ReadFile(file()), before);
        EXPECT_EQ(FilesIn(dir.dir()), std::set<std::string>{"lib.db"});
    }
}

TEST_F(SQLiteTable3Test, APlainFileAnotherConnectionWritesIsNotReplaced) {
    {
        auto holder = std::make_unique<TSQLiteDatabase>(file().string(), "", 1000);
        holder->Query("PRAGMA journal_mode = WAL;");
        holder->Execute("CREATE TABLE t ([x] TEXT);");
        holder->Execute("INSERT INTO t VALUES ('in the log');");
        ASSERT_TRUE(fs::exists(file().string() + "-wal"));

        // Its log would be played into the encrypted file after a rename.
        EXPECT_EQ(Failure([&] { Open(); }), "The database file is locked");
        EXPECT_EQ(holder->Query("SELECT * FROM t")->TextAt(0), "in the log");
        EXPECT_EQ(FilesIn(dir.dir()),
                  (std::set<std::string>{"lib.db", "lib.db-shm", "lib.db-wal"}));
    }
    EXPECT_EQ(Open()->Query("SELECT * FROM t")->TextAt(0), "in the log");
    EXPECT_FALSE(ReadFile(file()).starts_with(kPlainHeader));
}

} // namespace
} // namespace corvane
