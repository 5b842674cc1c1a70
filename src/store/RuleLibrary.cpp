#include "store/RuleLibrary.h"

#include "app/unitGlobal.h"
#include "platform/Utf.h"

namespace corvane {

namespace {

constexpr int kBusyTimeout = 1000;

const std::string& T() {
    return Global().RuleTable;
}

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

std::string SelectAllRules() {
    return "SELECT * FROM " + T();
}

std::string SelectRuleForEdit(std::string_view id) {
    return "SELECT * FROM " + T() + " where id=" + std::string(Id(id));
}

std::string SelectRuleForRepair(std::string_view id) {
    return "SELECT * FROM " + T() + " where ID=" + std::string(Id(id));
}

std::string DeleteRule(std::string_view id) {
    return "delete FROM " + T() + " where id=" + std::string(Id(id));
}

std::string InsertRule(const RuleItem& item) {
    return "INSERT INTO " + T() + " (Name,Level,OSId,Des,OptText,RepairXML,MessBoxText) VALUES (" +
           q(item.Name) + "," + Decimal(item.Level) + "," + q(item.OSId) + "," + q(item.Des) + "," +
           q(item.OptText) + "," + q(item.RepairXML) + "," + q(item.MessBoxText) + ");";
}

std::string UpdateRule(const RuleItem& item, std::string_view id) {
    const std::string where(Id(id));
    return "UPDATE " + T() + " set " + "Name=" + q(item.Name) + ",Level=" + Decimal(item.Level) +
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

std::string DropRuleTable() {
    return "DROP TABLE " + T();
}

std::string CreateRuleTable() {
    return "CREATE TABLE " + T() + " ([ID] INTEGER PRIMARY KEY," +
           "[Name] VARCHAR (300),[OSId] TEXT,[OptText] TEXT, [RepairXML] TEXT,[MessBoxText] "
           "TEXT, [Des] TEXT, [Level] INTEGER);";
}

std::string CreateRuleNameIndex() {
    return "CREATE INDEX " + T() + "Name ON [" + T() + "]([Name]);";
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

std::unique_ptr<TSQLiteDatabase> OpenRuleLibrary() {
    return std::make_unique<TSQLiteDatabase>(Global().DbFile, Global().DbKey, kBusyTimeout);
}

std::string RuleText(const TSQLiteTable& table, std::string_view column) {
    std::string text = table.TextByName(column);
    if (!Utf8ToUtf16(text)) text.clear();
    return text;
}

void CreateRuleDatabase() {
    const auto db = OpenRuleLibrary();
    // In one transaction, so that a failure or a crash half-way leaves the library as
    // it was rather than without its rule table or without the Version row; releasing
    // the connection uncommitted rolls back.
    db->OpenTransaction();
    if (db->HasTable(T())) db->Execute(RuleSql::DropRuleTable());
    if (!db->HasTable(T())) {
        db->Execute(RuleSql::CreateRuleTable());
        db->Execute(RuleSql::CreateRuleNameIndex());
    }
    if (!db->HasTable("Infos")) {
        db->Execute(RuleSql::CreateInfosTable());
        db->Execute(RuleSql::CreateInfosNameIndex());
        db->Execute(RuleSql::InsertVersion());
    }
    db->CommitTransaction();
}

int CountRules(const std::function<void(const std::string&)>& showPanel0) {
    const auto db = OpenRuleLibrary();
    try {
        const int count = db->Query(RuleSql::SelectAllRules())->RowTotal();
        showPanel0("当前加载库数量:" + std::to_string(count));
        return 0;
    } catch (...) {
        return 1;
    }
}

} // namespace corvane
