#include "editor/RuleItemEdit.h"

#include <charconv>

#include "app/unitGlobal.h"
#include "store/IniFile.h"
#include "store/PlatformGroups.h"

namespace corvane {

std::string_view MatchModeLine(std::string_view mode) {
    return mode == "and" ? kAllRulesLine : kAnyRuleLine;
}

int LevelPosition(std::string_view stored) {
    int level = 0;
    const char* end = stored.data() + stored.size();
    const auto [ptr, ec] = std::from_chars(stored.data(), end, level);
    if (stored.empty() || ec != std::errc() || ptr != end || level < 0 || level > 4) return 0;
    return level;
}

std::string GroupDisplayName(std::string_view osId) {
    const IniDocument names(ReadTextFile(Global().WinOSFile));
    return names.find(osId, "Name").value_or(std::string(kAllOsName));
}

std::optional<RuleItem> LoadRuleItem(std::string_view id) {
    const auto db = OpenRuleLibrary();
    const auto table = db->Query(RuleSql::SelectRuleForEdit(id));
    if (table->RowTotal() <= 0) return std::nullopt;
    RuleItem item;
    item.Name = RuleText(*table, "Name");
    item.Level = LevelPosition(RuleText(*table, "Level"));
    item.OSId = RuleText(*table, "OSId");
    item.Des = RuleText(*table, "Des");
    item.MessBoxText = RuleText(*table, "MessBoxText");
    item.OptText = RuleText(*table, "OptText");
    item.RepairXML = RuleText(*table, "RepairXML");
    return item;
}

void SaveRuleItem(int editMode, std::string_view id, const std::function<RuleItem()>& build) {
    const auto db = OpenRuleLibrary();
    db->OpenTransaction();
    const RuleItem item = build();
    db->Execute(editMode == 1 ? RuleSql::UpdateRule(item, id) : RuleSql::InsertRule(item));
    db->CommitTransaction();
}

} // namespace corvane
