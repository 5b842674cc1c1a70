#include "core/edit/RuleItemEdit.h"

#include "core/engine/RuleDocument.h"
#include "core/store/IniFile.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"

namespace corvane {

std::string_view MatchModeLine(std::string_view mode) {
    return mode == RuleWords::kAnd ? kAllRulesLine : kAnyRuleLine;
}

int LevelPosition(std::string_view stored) {
    const int level = StoredLevel(stored);
    return LevelName(level).empty() ? 0 : level;
}

std::string GroupDisplayName(const std::string& winOsFile, std::string_view osId) {
    const IniDocument names(ReadTextFile(winOsFile));
    return names.find(osId, "Name").value_or(std::string(kAllOsName));
}

std::optional<RuleItem> LoadRuleItem(const LibraryLocation& library, std::string_view id) {
    const auto db = OpenRuleLibrary(library);
    const auto table = db->Query(RuleSql::SelectRuleForEdit(library.table, id));
    if (table->RowTotal() <= 0) return std::nullopt;
    RuleRow row = Readable(ReadRuleRow(*table));
    row.item.Level = LevelPosition(row.LevelText);
    return row.item;
}

void SaveRuleItem(const LibraryLocation& library, int editMode, std::string_view id,
                  const std::function<RuleItem()>& build) {
    const auto db = OpenRuleLibrary(library);
    db->OpenTransaction();
    const RuleItem item = build();
    db->Execute(editMode == 1 ? RuleSql::UpdateRule(library.table, item, id)
                              : RuleSql::InsertRule(library.table, item));
    db->CommitTransaction();
}

} // namespace corvane
