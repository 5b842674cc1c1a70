#include "core/store/RuleLibrary.h"

#include <charconv>

#include "core/platform/Utf.h"

namespace corvane {

namespace {

constexpr int kBusyTimeout = 1000;

// An ID stands unquoted in a statement, so it must be the integer it was read as:
// a text such as "1 or 1=1" would otherwise reach other rows.
std::string_view Id(std::string_view id) {
    std::string_view digits = id;
    if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
    bool ok = !digits.empty();
    for (char c : digits)
        ok = ok && c >= '0' && c <= '9';
    if (!ok) throw ESQLiteException("Not a rule item ID: \"" + std::string(id) + "\"");
    return id;
}

std::string Decimal(int value) {
    return std::to_string(value);
}

} // namespace

std::string q(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    out += '\'';
    return out;
}

namespace RuleSql {

std::string SelectAllRules(std::string_view table) {
    const std::string T(table);
    return "SELECT * FROM " + T;
}

std::string CountAllRules(std::string_view table) {
    const std::string T(table);
    return "SELECT COUNT(*) FROM " + T;
}

std::string SelectScanColumns(std::string_view table) {
    const std::string T(table);
    return "SELECT ID,Name,OSId,OptText,Des,Level FROM " + T;
}

std::string SelectRuleForEdit(std::string_view table, std::string_view id) {
    const std::string T(table);
    return "SELECT * FROM " + T + " where id=" + std::string(Id(id));
}

std::string SelectRuleForRepair(std::string_view table, std::string_view id) {
    const std::string T(table);
    return "SELECT * FROM " + T + " where ID=" + std::string(Id(id));
}

std::string DeleteRule(std::string_view table, std::string_view id) {
    const std::string T(table);
    return "delete FROM " + T + " where id=" + std::string(Id(id));
}

std::string InsertRule(std::string_view table, const RuleItem& item) {
    const std::string T(table);
    return "INSERT INTO " + T + " (Name,Level,OSId,Des,OptText,RepairXML,MessBoxText) VALUES (" +
           q(item.Name) + "," + Decimal(item.Level) + "," + q(item.OSId) + "," + q(item.Des) + "," +
           q(item.OptText) + "," + q(item.RepairXML) + "," + q(item.MessBoxText) + ");";
}

std::string UpdateRule(std::string_view table, const RuleItem& item, std::string_view id) {
    const std::string T(table);
    const std::string where(Id(id));
    return "UPDATE " + T + " set " + "Name=" + q(item.Name) + ",Level=" + Decimal(item.Level) +
           ",OSId=" + q(item.OSId) + "," + "Des=" + q(item.Des) + ",OptText=" + q(item.OptText) +
           ",RepairXML=" + q(item.RepairXML) + ",MessBoxText=" + q(item.MessBoxText) +
           " WHERE ID=" + where;
}

std::string SelectWinOS() {
    return "SELECT * FROM Infos where Name=" + q("WinOS");
}

std::string UpdateWinOS(std::string_view text) {
    return "UPDATE Infos set Value=" + q(text) + " where Name=" + q("WinOS");
}

std::string InsertWinOS(std::string_view text) {
    return "INSERT INTO Infos(Name,Value) VALUES (" + q("WinOS") + "," + q(text) + ")";
}

std::string DropRuleTable(std::string_view table) {
    const std::string T(table);
    return "DROP TABLE " + T;
}

std::string CreateRuleTable(std::string_view table) {
    const std::string T(table);
    return "CREATE TABLE " + T + " ([ID] INTEGER PRIMARY KEY," +
           "[Name] VARCHAR (300),[OSId] TEXT,[OptText] TEXT, [RepairXML] TEXT,[MessBoxText] "
           "TEXT, [Des] TEXT, [Level] INTEGER);";
}

std::string CreateRuleNameIndex(std::string_view table) {
    const std::string T(table);
    return "CREATE INDEX " + T + "Name ON [" + T + "]([Name]);";
}

std::string CreateInfosTable() {
    return std::string("CREATE TABLE Infos ([ID] INTEGER PRIMARY KEY,") +
           "[Name] VARCHAR (300),[Value] TEXT);";
}

std::string CreateInfosNameIndex() {
    return "CREATE INDEX InfosName ON [Infos]([Name]);";
}

std::string InsertVersion() {
    return "INSERT INTO Infos(Name,Value) VALUES (" + q("Version") + "," + q("1.0") + ")";
}

} // namespace RuleSql

LibraryLocation LibraryBeside(const std::string& appDir) {
    LibraryLocation library;
    library.file = appDir + "cvdb.db";
    return library;
}

std::string LevelName(int level) {
    return level >= 0 && level < static_cast<int>(kLevelWords.size())
               ? std::string(kLevelWords[static_cast<std::size_t>(level)])
               : std::string();
}

int StoredLevel(std::string_view stored) {
    int level = 0;
    const char* end = stored.data() + stored.size();
    const auto [ptr, ec] = std::from_chars(stored.data(), end, level);
    return stored.empty() || ec != std::errc() || ptr != end ? 0 : level;
}

std::unique_ptr<TSQLiteDatabase> OpenRuleLibrary(const LibraryLocation& library) {
    try {
        return std::make_unique<TSQLiteDatabase>(library.file, library.key, kBusyTimeout);
    } catch (const ESQLiteException& e) {
        // The error names the library, so that the user knows which file it means.
        const std::string message = e.what();
        if (message.find(library.file) != std::string::npos) throw;
        throw ESQLiteException(message + " (rule library \"" + library.file + "\")");
    }
}

namespace {

void KeepIfUtf8(std::string& text) {
    if (!IsUtf8(text)) text.clear();
}

// The current row of a whole table or of a cursor; without `whole`, only the columns
// the scan selects.
template <typename Rows> RuleRow ReadRow(const Rows& rows, bool whole) {
    RuleRow row;
    row.Id = rows.TextByName("Id");
    row.LevelText = rows.TextByName("Level");
    row.item.Name = rows.TextByName("Name");
    row.item.Level = StoredLevel(row.LevelText);
    row.item.OSId = rows.TextByName("OSId");
    row.item.OptText = rows.TextByName("OptText");
    row.item.Des = rows.TextByName("Des");
    if (whole) {
        row.item.RepairXML = rows.TextByName("RepairXML");
        row.item.MessBoxText = rows.TextByName("MessBoxText");
    }
    return row;
}

} // namespace

RuleRow ReadRuleRow(const TSQLiteTable& table) {
    return ReadRow(table, true);
}

RuleRow ReadScanRow(const TSQLiteCursor& rows) {
    return ReadRow(rows, false);
}

void TakeScanRow(TSQLiteCursor& rows, RuleRow& row) {
    rows.TakeText(rows.ColumnIndex("Id"), row.Id);
    rows.TakeText(rows.ColumnIndex("Level"), row.LevelText);
    rows.TakeText(rows.ColumnIndex("Name"), row.item.Name);
    row.item.Level = StoredLevel(row.LevelText);
    rows.TakeText(rows.ColumnIndex("OSId"), row.item.OSId);
    rows.TakeText(rows.ColumnIndex("OptText"), row.item.OptText);
    rows.TakeText(rows.ColumnIndex("Des"), row.item.Des);
    for (std::string* text : {&row.Id, &row.LevelText, &row.item.Name, &row.item.OSId,
                              &row.item.Des, &row.item.OptText})
        KeepIfUtf8(*text);
}

RuleRow Readable(RuleRow row) {
    for (std::string* text :
         {&row.Id, &row.LevelText, &row.item.Name, &row.item.OSId, &row.item.Des, &row.item.OptText,
          &row.item.RepairXML, &row.item.MessBoxText})
        KeepIfUtf8(*text);
    return row;
}

std::string RuleText(const TSQLiteTable& table, std::string_view column) {
    std::string text = table.TextByName(column);
    KeepIfUtf8(text);
    return text;
}

void CreateRuleDatabase(const LibraryLocation& library) {
    const std::string& T = library.table;
    const auto db = OpenRuleLibrary(library);
    // In one transaction, so that a failure or a crash half-way leaves the library as
    // it was rather than without its rule table or without the Version row; releasing
    // the connection uncommitted rolls back.
    db->OpenTransaction();
    if (db->HasTable(T)) db->Execute(RuleSql::DropRuleTable(T));
    if (!db->HasTable(T)) {
        db->Execute(RuleSql::CreateRuleTable(T));
        db->Execute(RuleSql::CreateRuleNameIndex(T));
    }
    if (!db->HasTable("Infos")) {
        db->Execute(RuleSql::CreateInfosTable());
        db->Execute(RuleSql::CreateInfosNameIndex());
        db->Execute(RuleSql::InsertVersion());
    }
    db->CommitTransaction();
}

int CountRules(const LibraryLocation& library,
               const std::function<void(const std::string&)>& showPanel0) {
    const auto db = OpenRuleLibrary(library);
    try {
        const auto count = db->Query(RuleSql::CountAllRules(library.table))->IntegerAt(0);
        showPanel0("当前加载库数量:" + std::to_string(count));
        return 0;
    } catch (...) {
        return 1;
    }
}

} // namespace corvane
