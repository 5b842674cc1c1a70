// What the rule item editor does with the library and the group names file, apart
// from its window: load the item it edits, find a group's display name, show a match
// mode, and store the item in one transaction.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/store/RuleLibrary.h"

namespace corvane {

// The line shown above a detection list for its group's match mode.
inline constexpr std::string_view kAllRulesLine = "所有规则满足才返回";
inline constexpr std::string_view kAnyRuleLine = "一个规则满足即返回";
std::string_view MatchModeLine(std::string_view mode);

// A stored `Level` as a position of the level box: a decimal 0 to 4 as it stands;
// anything else (not a whole number, out of range) shows as 0, "安全", and is saved so.
int LevelPosition(std::string_view stored);

// The display name of platform group `osId` from the group names file `winOsFile`
// (section `osId`, key "Name"); "所有Windows平台" when the file, the section or the key
// is missing.
std::string GroupDisplayName(const std::string& winOsFile, std::string_view osId);

// The item `id` as the editor opens it, or nothing when no row has that id. Failures
// to open or read the library propagate.
[[nodiscard]] std::optional<RuleItem> LoadRuleItem(const LibraryLocation& library,
                                                   std::string_view id);

// Stores an item in one transaction: opens the library, begins the transaction, takes
// the item from `build`, inserts it (editMode 0) or updates row `id` (editMode 1), and
// commits. Any failure propagates; the open transaction is then rolled back and the
// library is as it was.
void SaveRuleItem(const LibraryLocation& library, int editMode, std::string_view id,
                  const std::function<RuleItem()>& build);

} // namespace corvane
