#include "editor/RuleList.h"

#include "store/RuleLibrary.h"

namespace corvane {

std::vector<RuleListRow> ReadRuleList() {
    const auto db = OpenRuleLibrary();
    const auto table = db->Query(RuleSql::SelectAllRules());
    std::vector<RuleListRow> rows;
    const int total = table->RowTotal();
    rows.reserve(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i) {
        rows.push_back({RuleText(*table, "Id"), RuleText(*table, "Name"), RuleText(*table, "Des"),
                        RuleText(*table, "Level")});
        table->MoveNext();
    }
    return rows;
}

void DeleteRuleItem(std::string_view id) {
    const auto db = OpenRuleLibrary();
    db->Execute(RuleSql::DeleteRule(id));
}

} // namespace corvane
