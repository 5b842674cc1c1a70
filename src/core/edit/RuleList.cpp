#include "core/edit/RuleList.h"

#include "core/store/RuleLibrary.h"

namespace corvane {

std::vector<RuleListRow> ReadRuleList(const LibraryLocation& library) {
    const auto db = OpenRuleLibrary(library);
    const auto table = db->Query(RuleSql::SelectAllRules(library.table));
    std::vector<RuleListRow> rows;
    const int total = table->RowTotal();
    rows.reserve(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i) {
        RuleRow row = Readable(ReadRuleRow(*table));
        rows.push_back({std::move(row.Id), std::move(row.item.Name), std::move(row.item.Des),
                        std::move(row.LevelText)});
        table->MoveNext();
    }
    return rows;
}

void DeleteRuleItem(const LibraryLocation& library, std::string_view id) {
    const auto db = OpenRuleLibrary(library);
    db->Execute(RuleSql::DeleteRule(library.table, id));
}

} // namespace corvane
