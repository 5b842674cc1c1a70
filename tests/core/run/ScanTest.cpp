#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/engine/RuleTriggered.h"
#include "core/run/ScanRepair.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;

// A detection document that holds when HKLM\Software\Corvane has `name` = "1".
std::string ValueIsOne(const std::string& name) {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\" "
           "mode=\"or\"/><type opttype=\"regedit\" mode=\"or\"><CHdb root=\"HKLM\" "
           "KeyPath=\"Software\\Corvane\" KeyValue=\"" +
           name +
           "\" KeyType=\"REG_SZ\" compareValue=\"1\" decide=\"Value=\" PathAbs=\"0\"/>"
           "</type></rules>";
}

// system.reg of a Windows 7 machine, with `body` below.
std::string Machine(const std::string& body) {
    return "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n"
           "\"CurrentVersion\"=\"6.1\"\n\"CurrentBuildNumber\"=\"7601\"\n" +
           body;
}

struct Found {
    std::string id, name, description;
    int level = 0;
    bool operator==(const Found&) const = default;
};

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root.file("app"));
        prefix.writeSystem(Machine(""));
        inputs = InputsBeside(root.file("app").string() + "/");
        CreateRuleDatabase(inputs.library);
    }
    void Add(const std::vector<RuleItem>& items) {
        const auto db = OpenRuleLibrary(inputs.library);
        db->OpenTransaction();
        for (const RuleItem& item : items)
            db->Execute(RuleSql::InsertRule(inputs.library.table, item));
        db->CommitTransaction();
    }
    // Two items, "first" and "second", each found when the file `path` exists; drive C:
    // is the prefix's drive_c.
    void AddTwoLookingFor(const std::string& path) {
        RuleItem first;
        first.Name = "first";
        first.OSId = "all-os";
        first.OptText = "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\" "
                        "mode=\"or\"><CHdb FilePath=\"" +
                        path +
                        "\" isFolder=\"0\" decide=\"file\"/></type><type opttype=\"regedit\" "
                        "mode=\"or\"/></rules>";
        RuleItem second = first;
        second.Name = "second";
        Add({first, second});
        fs::create_directories(prefix.file("dosdevices"));
        fs::create_directory_symlink("../drive_c", prefix.file("dosdevices/c:"));
    }
    std::vector<Found> Scan(const std::function<void(int row)>& onRow = {}) {
        std::vector<Found> found;
        ScanEvents events;
        events.row = [&](int row, const std::string&) {
            if (onRow) onRow(row);
        };
        events.found = [&](const ScanFinding& f) {
            found.push_back({f.id, f.name, f.description, f.level});
        };
        RunScan(inputs, events);
        return found;
    }

    TempPrefix root;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(root.dir())};
    PlatformScope scope{platform};
    RunInputs inputs;
};

// The scan that reads row by row finds what evaluating every row of the whole rule
// table finds, in the same order and with the same texts.
TEST_F(ScanTest, AStreamedScanOfTenThousandItemsFindsWhatTheWholeTableFinds) {
    std::string values;
    for (int k = 0; k < 40; k += 3)
        values += "\"V" + std::to_string(k) + "\"=\"1\"\n";
    prefix.writeSystem(Machine("\n[Software\\\\Corvane] 1\n" + values));
    {
        const auto db = OpenRuleLibrary(inputs.library);
        db->Execute(RuleSql::InsertWinOS("[xp-only]\nName=XP\nOS=[winxp]\n"));
    }
    std::vector<RuleItem> items;
    for (int n = 0; n < 10000; ++n) {
        RuleItem item;
        item.Name = n % 997 == 0 ? "\xff\xfe not UTF-8" : "项目 " + std::to_string(n);
        item.Level = n % 5;
        item.OSId = n % 6 == 0 ? "xp-only" : "all-os";
        item.Des = "说明 " + std::to_string(n * 7);
        item.OptText = ValueIsOne("V" + std::to_string(n % 40));
        items.push_back(item);
    }
    Add(items);

    std::vector<Found> expected;
    {
        const auto db = OpenRuleLibrary(inputs.library);
        const IniDocument groups = ReadPlatformGroups(ReadWinOSRecord(*db).value_or(""));
        const auto table = db->Query(RuleSql::SelectAllRules(inputs.library.table));
        for (int r = 0; r < table->RowTotal(); ++r, table->MoveNext()) {
            const RuleRow row = Readable(ReadRuleRow(*table));
            if (PlatformGroupApplies(row.item.OSId, groups, inputs.release) &&
                RuleTriggered(row.item.OptText, inputs.appDir) == 1)
                expected.push_back({row.Id, row.item.Name, row.item.Des, row.item.Level});
        }
    }
    ASSERT_GT(expected.size(), 1000u);
    EXPECT_EQ(Scan(), expected);
}

// Each item checks the registry files afresh: a change made from outside between two
// items is seen by the second, however the file was changed.
TEST_F(ScanTest, AnOutsideChangeBetweenTwoItemsIsSeen) {
    RuleItem first;
    first.Name = "first";
    first.OSId = "all-os";
    first.OptText = ValueIsOne("A");
    RuleItem second = first;
    second.Name = "second";
    Add({first, second});

    const std::string header =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    const std::string before = header + Machine("\n[Software\\\\Corvane] 1\n\"A\"=\"0\"\n");
    const std::string after =
        header + Machine("\n[Software\\\\Corvane] 1\n\"A\"=\"1\"\n;; changed\n");
    const fs::path system = prefix.file("system.reg");
    const fs::path elsewhere = root.file("elsewhere.reg");
    struct Case {
        const char* how;
        std::function<void()> setUp, change;
    };
    const Case cases[] = {
        {"written in place", [&] { test::WriteFile(system, before); },
         [&] { test::WriteFile(system, after); }},
        {"saved beside it and renamed over it, as Wine saves",
         [&] { test::WriteFile(system, before); },
         [&] {
             test::WriteFile(prefix.file("system.reg.new"), after);
             fs::rename(prefix.file("system.reg.new"), system);
         }},
        {"written by another process", [&] { test::WriteFile(system, before); },
         [&] {
             const pid_t child = ::fork();
             if (child == 0) {
                 test::WriteFile(system, after);
                 ::_exit(0);
             }
             ::waitpid(child, nullptr, 0);
         }},
        {"a link to a file in another folder, written there",
         [&] {
             test::WriteFile(elsewhere, before);
             fs::remove(system);
             fs::create_symlink(elsewhere, system);
         },
         [&] { test::WriteFile(elsewhere, after); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        c.setUp();
        const std::vector<Found> found = Scan([&](int row) {
            if (row == 2) c.change();
        });
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].name, "second");
    }
}

// A file that comes between two items, in a folder the first item looked into, is seen
// by the second, however the folders on its way changed.
TEST_F(ScanTest, AFileThatComesBetweenTwoItemsIsSeen) {
    AddTwoLookingFor("C:\\Games\\Save\\bad.dll");
    const fs::path drive = prefix.file("drive_c");
    const fs::path elsewhere = root.file("elsewhere");
    struct Case {
        const char* how;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"made in the folder", [&] { test::WriteFile(drive / "Games/Save/bad.dll", "x"); }},
        {"in a folder renamed into its place",
         [&] {
             fs::create_directories(drive / "Games/New");
             test::WriteFile(drive / "Games/New/bad.dll", "x");
             fs::rename(drive / "Games/Save", drive / "Games/Old");
             fs::rename(drive / "Games/New", drive / "Games/Save");
         }},
        {"in a folder elsewhere a link now leads to",
         [&] {
             fs::create_directories(elsewhere / "Save");
             test::WriteFile(elsewhere / "Save/BAD.DLL", "x");
             fs::rename(drive / "Games", drive / "Games.old");
             fs::create_directory_symlink(elsewhere, drive / "Games");
         }},
        {"on a drive pointed elsewhere",
         [&] {
             fs::create_directories(elsewhere / "Games/Save");
             test::WriteFile(elsewhere / "Games/Save/bad.dll", "x");
             fs::remove(prefix.file("dosdevices/c:"));
             fs::create_directory_symlink(elsewhere, prefix.file("dosdevices/c:"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        std::error_code ec;
        fs::remove_all(drive, ec);
        fs::remove_all(elsewhere, ec);
        fs::remove(prefix.file("dosdevices/c:"), ec);
        fs::create_directory_symlink("../drive_c", prefix.file("dosdevices/c:"));
        fs::create_directories(drive / "Games/Save");
        const std::vector<std::string> found = [&] {
            std::vector<std::string> names;
            for (const Found& f : Scan([&](int row) {
                     if (row == 2) c.change();
                 }))
                names.push_back(f.name);
            return names;
        }();
        EXPECT_EQ(found, std::vector<std::string>{"second"});
    }
}

// A special folder is where the registry says at the time of each item: one pointed
// elsewhere between two items is looked into there by the second.
TEST_F(ScanTest, ASpecialFolderPointedElsewhereBetweenTwoItemsIsSeen) {
    AddTwoLookingFor("<fonts>\\probe.ttf");
    fs::create_directories(prefix.file("drive_c/windows/Fonts"));
    fs::create_directories(prefix.file("drive_c/Other"));
    test::WriteFile(prefix.file("drive_c/Other/probe.ttf"), "x");
    const auto fontsIn = [&](const std::string& folder) {
        prefix.writeSystem(
            Machine("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell "
                    "Folders] 1\n\"Fonts\"=\"" +
                    folder + "\"\n"));
    };
    fontsIn("C:\\\\windows\\\\Fonts");
    std::vector<std::string> found;
    for (const Found& f : Scan([&](int row) {
             if (row == 2) fontsIn("C:\\\\Other");
         }))
        found.push_back(f.name);
    EXPECT_EQ(found, std::vector<std::string>{"second"});
}

// The rows are read ahead of the rows evaluated. A scan that ends early, because the
// caller stops it or because the library cannot be read on, has evaluated each row
// before that point in order and raises the error; nothing waits for the rest.
TEST_F(ScanTest, AScanCutShortEndsAfterTheRowsBeforeIt) {
    const auto item = [](int n, std::size_t size) {
        RuleItem item;
        item.Name = "item " + std::to_string(n);
        item.OSId = "all-os";
        item.OptText = ValueIsOne("V") + std::string(size, ' ');
        return item;
    };
    std::vector<RuleItem> items;
    for (int n = 1; n <= 600; ++n)
        items.push_back(item(n, 0));
    Add(items);
    // A document long enough for pages of its own, which counting the rows never reads.
    const auto before = fs::file_size(inputs.library.file);
    Add({item(601, 256 * 1024)});
    const auto after = fs::file_size(inputs.library.file);
    items.clear();
    for (int n = 602; n <= 1200; ++n)
        items.push_back(item(n, 0));
    Add(items);
    prefix.writeSystem(Machine("\n[Software\\\\Corvane] 1\n\"V\"=\"1\"\n"));

    struct Case {
        const char* how;
        std::function<void()> setUp;
        int stopAt; // a row that raises an error of the caller's own, or 0
        int lastRow;
    };
    const Case cases[] = {
        {"the caller stops it", [] {}, 100, 100},
        {"a page of the library is damaged",
         [&] {
             std::fstream file(inputs.library.file,
                               std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(static_cast<std::streamoff>((before + after) / 2 / 4096 * 4096));
             file << std::string(4096, 'x');
         },
         0, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        c.setUp();
        std::vector<int> rows;
        std::size_t found = 0;
        ScanEvents events;
        events.row = [&](int row, const std::string&) {
            rows.push_back(row);
            if (row == c.stopAt) throw std::logic_error("stopped");
        };
        events.found = [&](const ScanFinding&) { ++found; };
        EXPECT_ANY_THROW(RunScan(inputs, events));
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.lastRow));
        for (int i = 0; i < c.lastRow; ++i)
            ASSERT_EQ(rows[static_cast<std::size_t>(i)], i + 1);
        EXPECT_EQ(found, static_cast<std::size_t>(c.stopAt ? c.lastRow - 1 : c.lastRow));
    }
}

} // namespace
} // namespace corvane
