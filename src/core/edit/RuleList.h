// What the rule library window shows and deletes, apart from its window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/store/RuleLibrary.h"

namespace corvane {

// One line of the rule library window: the item's ID (the only key the window keeps),
// its name, description and level exactly as stored (the digit, not the level's word).
struct RuleListRow {
    std::string Id;
    std::string Name;
    std::string Des;
    std::string Level;
    bool operator==(const RuleListRow&) const = default;
};

// Every rule item of the library, in the order the query returns them. The
// connection and the result are released on every exit; failures propagate.
[[nodiscard]] std::vector<RuleListRow> ReadRuleList(const LibraryLocation& library);

// Deletes the item `id` (as read from the ID column), outside a transaction. Failures
// propagate.
void DeleteRuleItem(const LibraryLocation& library, std::string_view id);

} // namespace corvane
