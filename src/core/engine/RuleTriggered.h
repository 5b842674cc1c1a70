// Detection: whether a rule item's bad setting is present on the machine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Evaluates a detection document against the machine's files, folders and registry:
// 1 when a group is satisfied (or-mode: one of its rules holds; and-mode: it has rules
// and every one holds), 0 otherwise, and 0 on any read failure met before a satisfied
// group. Groups and rules are tried in document order; the first satisfied group
// ends the evaluation. With the root's `join` "and" every group must be satisfied
// (and there must be one), and a group that is not ends it with 0. Rule paths expand
// with "<app>" as `appDir`. Changes nothing, never throws and shows nothing.
// When `matched` is given and the item is found, it receives the conditions of the
// satisfied group (joined by "and": of every group) that held, with what they saw.
struct MatchedCondition {
    std::string condition; // the rule's `decide` ("KeyExists", "Value=1", "file" ...)
    std::string target;    // the expanded path, or ROOT\key path\name
    std::string observed;  // what was there ("键存在", "REG_DWORD 1", "文件存在" ...)
};
[[nodiscard]] int RuleTriggered(std::string_view optText, std::string_view appDir,
                                std::vector<MatchedCondition>* matched = nullptr);
// The same, for a document walked ahead of time.
class DetectionWalk;
[[nodiscard]] int RuleTriggered(const DetectionWalk& walk, std::string_view appDir,
                                std::vector<MatchedCondition>* matched = nullptr);

} // namespace corvane
