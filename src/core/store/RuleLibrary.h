// The rule library: the file, its schema, every statement the program sends to it, the
// creation of an empty library and the start-up count.
//
// The library is an encrypted SQLite file named by a LibraryLocation (its file, its key
// and the rule table's name, "cvdb"). Every operation opens its own connection
// (OpenRuleLibrary) and releases it when done.
//
// Statements are whole texts: text values stand in them as quoted literals (q), levels
// in decimal and IDs as they were read from the ID column.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/SQLiteTable3.h"

namespace corvane {

// Where the rule library is: its file, the key it is encrypted with and the name of
// its rule table.
struct LibraryLocation {
    std::string file;
    std::string key = "kplmvz";
    std::string table = "cvdb";
};

// The library kept beside the program in `appDir` (ending in a path separator).
LibraryLocation LibraryBeside(const std::string& appDir);

// The words of the levels 0 to 4.
inline constexpr std::array<std::string_view, 5> kLevelWords{"安全", "普通", "风险", "高风险",
                                                             "危险"};

// "安全", "普通", "风险", "高风险", "危险" for levels 0 to 4; empty for any other.
std::string LevelName(int level);

// A stored `Level` as a number: a whole decimal number as it stands, 0 for anything
// else (empty, not a number, trailing text).
int StoredLevel(std::string_view stored);

// One rule item's columns apart from its ID, which the library assigns.
struct RuleItem {
    std::string Name;
    int Level = 0; // 0 "安全" to 4 "危险"
    std::string OSId;
    std::string Des;
    std::string OptText;   // the detection document
    std::string RepairXML; // the repair document
    std::string MessBoxText;
};

// A text value as a single-quoted literal with every quote doubled: it's -> 'it''s'.
std::string q(std::string_view text);

// Every statement the program sends to the library. `table` is the rule table's name.
// An `id` must be an ID as read from the ID column (an integer in decimal); any other
// text raises ESQLiteException before a statement is built.
namespace RuleSql {
// The rule items.
std::string SelectAllRules(std::string_view table);
std::string CountAllRules(std::string_view table);
// What a scan reads of every row, in the order of SelectAllRules.
std::string SelectScanColumns(std::string_view table);
std::string SelectRuleForEdit(std::string_view table, std::string_view id);   // where id=
std::string SelectRuleForRepair(std::string_view table, std::string_view id); // where ID=
std::string DeleteRule(std::string_view table, std::string_view id);
std::string InsertRule(std::string_view table, const RuleItem& item);
std::string UpdateRule(std::string_view table, const RuleItem& item, std::string_view id);
// The platform groups' record in the Infos table.
std::string SelectWinOS();
std::string UpdateWinOS(std::string_view text);
std::string InsertWinOS(std::string_view text);
// The schema of an empty library.
std::string DropRuleTable(std::string_view table);
std::string CreateRuleTable(std::string_view table);
std::string CreateRuleNameIndex(std::string_view table);
std::string CreateInfosTable();
std::string CreateInfosNameIndex();
std::string InsertVersion();
} // namespace RuleSql

// A connection to the rule library at `library`, waiting up to 1000 ms for a lock.
[[nodiscard]] std::unique_ptr<TSQLiteDatabase> OpenRuleLibrary(const LibraryLocation& library);

// The current row of a query of the rule table, as every reader sees it: the texts as
// stored (a value that is not well-formed UTF-8 is kept as it is, for a pack check to
// report), the ID and the level as stored, and the level as a number (StoredLevel).
struct RuleRow {
    std::string Id;
    std::string LevelText;
    RuleItem item;
};
[[nodiscard]] RuleRow ReadRuleRow(const TSQLiteTable& table);

// The current row of SelectScanColumns, read as ReadRuleRow reads it; the columns the
// scan does not read stay empty.
[[nodiscard]] RuleRow ReadScanRow(const TSQLiteCursor& rows);
// The same row as Readable gives it, its texts moved out of the cursor into `row`
// (whose texts keep their room for the next row).
void TakeScanRow(TSQLiteCursor& rows, RuleRow& row);

// The row as the program shows and runs it: a text that is not well-formed UTF-8
// (written by another tool in code page 936, for instance) reads as the empty text.
[[nodiscard]] RuleRow Readable(RuleRow row);

// Reads a text column of the current row with the policy of Readable.
[[nodiscard]] std::string RuleText(const TSQLiteTable& table, std::string_view column);

// Leaves an empty rule table, creates the Infos table with its Version row when it is
// missing (an existing Infos table keeps its rows) and both indexes. All or nothing;
// every failure propagates.
void CreateRuleDatabase(const LibraryLocation& library);

// Counts the rule items without reading them. On success shows
// "当前加载库数量:<count>" through `showPanel0` and returns 0; when reading fails
// returns 1 and shows nothing. A failure to open the library propagates.
[[nodiscard]] int CountRules(const LibraryLocation& library,
                             const std::function<void(const std::string&)>& showPanel0);

} // namespace corvane
