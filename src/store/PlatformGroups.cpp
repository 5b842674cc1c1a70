#include "store/PlatformGroups.h"

#include "app/unitGlobal.h"
#include "store/RuleLibrary.h"

namespace corvane {

IniDocument ReadPlatformGroups(std::string_view winOsText) {
    return IniDocument(winOsText, IniSyntax::GroupText);
}

std::string GroupValue(const IniDocument& groups, std::string_view osId, std::string_view key,
                       std::string_view fallback) {
    return groups.find(osId, key, IniLookup::Last).value_or(std::string(fallback));
}

bool PlatformGroupApplies(std::string_view osId, const IniDocument& groups) {
    const GlobalContext& g = Global();
    const std::string value = GroupValue(groups, osId, "OS", g.DefaultOSTags);
    // Exact, case-sensitive substring searches; an empty tag never occurs.
    if (!g.CurOSTag.empty() && value.find(g.CurOSTag) != std::string::npos) return true;
    return value.find(";" + g.OSVersionText) != std::string::npos;
}

void ReadWinOSRecord(TSQLiteDatabase& db) {
    const auto table = db.Query(RuleSql::SelectWinOS());
    if (table->RowTotal() > 0) Global().WinOSText = RuleText(*table, "Value");
}

std::optional<std::string> LoadWinOSValue() {
    const auto db = OpenRuleLibrary();
    const auto table = db->Query(RuleSql::SelectWinOS());
    if (table->RowTotal() == 0) return std::nullopt;
    return RuleText(*table, "Value");
}

void SaveWinOSValue(const std::string& text) {
    const auto db = OpenRuleLibrary();
    const bool exists = db->Query(RuleSql::SelectWinOS())->RowTotal() > 0;
    db->Execute(exists ? RuleSql::UpdateWinOS(text) : RuleSql::InsertWinOS(text));
}

} // namespace corvane
