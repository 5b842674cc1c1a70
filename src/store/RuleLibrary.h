// The rule library: the file, its schema, every statement the program sends to it, the
// creation of an empty library and the start-up count.
//
// The library is the encrypted SQLite file Global().DbFile, keyed with Global().DbKey;
// the rule table is named Global().RuleTable ("cvdb"). Every operation opens its own
// connection (OpenRuleLibrary) and releases it when done.
//
// Statements are whole texts: text values stand in them as quoted literals (q), levels
// in decimal and IDs as they were read from the ID column.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/SQLiteTable3.h"

namespace corvane {

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

// The statements, numbered as the rule library's statement list numbers them. T is
// Global().RuleTable. An `id` must be an ID as read from the ID column (an integer in
// decimal); any other text raises ESQLiteException before a statement is built.
namespace RuleSql {
std::string SelectAllRules();                                      // 1
std::string SelectRuleForEdit(std::string_view id);                // 2  ... where id=
std::string SelectRuleForRepair(std::string_view id);              // 3  ... where ID=
std::string DeleteRule(std::string_view id);                       // 4
std::string InsertRule(const RuleItem& item);                      // 5
std::string UpdateRule(const RuleItem& item, std::string_view id); // 6
std::string SelectWinOS();                                         // 7
std::string UpdateWinOS(std::string_view text);                    // 8
std::string InsertWinOS(std::string_view text);                    // 9
std::string DropRuleTable();                                       // 10
std::string CreateRuleTable();                                     // 11
std::string CreateRuleNameIndex();                                 // 12
std::string CreateInfosTable();                                    // 13
std::string CreateInfosNameIndex();                                // 14
std::string InsertVersion();                                       // 15
} // namespace RuleSql

// A connection to the rule library: Global().DbFile, Global().DbKey, 1000 ms.
std::unique_ptr<TSQLiteDatabase> OpenRuleLibrary();

// Reads a text column of the current row. A value that is not well-formed UTF-8
// (written by another tool in code page 936, for instance) reads as the empty text.
std::string RuleText(const TSQLiteTable& table, std::string_view column);

// Leaves an empty rule table, creates the Infos table with its Version row when it is
// missing (an existing Infos table keeps its rows) and both indexes. All or nothing;
// every failure propagates.
void CreateRuleDatabase();

// Counts the rule items by reading the whole rule table. On success shows
// "当前加载库数量:<count>" through `showPanel0` and returns 0; when reading fails
// returns 1 and shows nothing. A failure to open the library propagates.
int CountRules(const std::function<void(const std::string&)>& showPanel0);

} // namespace corvane
