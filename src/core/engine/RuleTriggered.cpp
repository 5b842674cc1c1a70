#include "core/engine/RuleTriggered.h"

#include "core/engine/DetectionWalk.h"
#include "core/engine/RegCommon.h"
#include "core/engine/RuleDocument.h"
#include "core/engine/RulePath.h"
#include "core/platform/Platform.h"
#include "core/platform/Utf.h"

namespace corvane {

namespace {

// What a condition looked at and saw, for the reasons of a finding.
struct Seen {
    std::string target, observed;
};

std::string RegTarget(const RegConditionRow& row) {
    std::string target = row.root + "\\" + row.KeyPath;
    if (!row.KeyValue.empty()) target += "\\" + row.KeyValue;
    return target;
}

bool FileConditionHolds(const FileConditionRow& row, std::string_view appDir, Seen& seen) {
    const std::string path = ExpandRulePath(row.FilePath, appDir);
    Platform& platform = ActivePlatform();
    if (row.decide == RuleWords::kLink || row.decide == RuleWords::kNoLink) {
        // The entry itself: a link to a folder is a link, never "no link".
        const bool link = platform.linkExists(path);
        seen = {path, link ? "是链接" : "不是链接"};
        return row.decide == RuleWords::kLink ? link : !link;
    }
    const bool folder = row.isFolder == "1";
    const bool exists = folder ? platform.folderExists(path) : platform.fileExists(path);
    seen = {path, exists ? (folder ? "文件夹存在" : "文件存在")
                         : (folder ? "文件夹不存在" : "文件不存在")};
    return row.decide == RuleWords::kNoFile ? !exists : exists;
}

// Whether the value equals the rule's (`equals`) or differs from it. What was seen is
// told only when the condition holds: the stored type is looked up for it alone.
bool ValueCompared(RegKey root, const RegConditionRow& row, std::string_view appDir, bool equals,
                   Seen& seen) {
    const std::string compare = row.PathAbs == "1"
                                    ? ExpandRulePath(row.compareValue, RegistryAppDir(appDir))
                                    : row.compareValue;
    // A value that cannot be read as the type name says compares as the empty text.
    std::string value;
    const bool read = ReadRegValueText(root, row.KeyPath, row.KeyValue, row.KeyType, value);
    if (!read) value.clear();
    const bool holds = (AsciiLower(value) == AsciiLower(compare)) == equals;
    if (!holds) return false;
    // What is shown is the value as stored: the rule's type name may differ (a string
    // of either kind reads as text).
    const std::string stored = RegValueTypeName(root, row.KeyPath, row.KeyValue);
    seen.observed = stored.empty() ? "值不存在" : read ? stored + " " + value : stored;
    return true;
}

// A list's text form as one line: each entry quoted, "a", "b".
std::string ListShown(std::string_view text) {
    std::string shown;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(RuleWords::kListSeparator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start || !text.empty())
            shown += (shown.empty() ? "\"" : ", \"") +
                     std::string(text.substr(start, end - start)) + "\"";
        start = end + 1;
    }
    return shown;
}

// The list's entries in its text form (separated by line feeds); a value that is no
// REG_MULTI_SZ is the empty list.
bool ListEquals(RegKey root, const RegConditionRow& row, std::string_view appDir, Seen& seen) {
    const std::string compare = row.PathAbs == "1"
                                    ? ExpandRulePath(row.compareValue, RegistryAppDir(appDir))
                                    : row.compareValue;
    std::vector<std::string> entries;
    const bool read = ReadRegList(root, row.KeyPath, row.KeyValue, entries);
    std::string text;
    for (const std::string& entry : entries)
        text += (text.empty() ? "" : std::string(1, RuleWords::kListSeparator)) + entry;
    seen.observed = read ? std::string(RuleWords::kListType) + " " + ListShown(text) : "值不存在";
    return AsciiLower(text) == AsciiLower(compare);
}

bool RegConditionHolds(const RegConditionRow& row, std::string_view appDir, Seen& seen) {
    const RegKey root = RootKeyFromName(row.root);
    auto said = [&](bool exists, const char* yes, const char* no) {
        seen.observed = exists ? yes : no;
        return exists;
    };
    if (row.decide == RuleWords::kKeyExists)
        return said(RegKeyExists(root, row.KeyPath, row.KeyValue), "键存在", "键不存在");
    if (row.decide == RuleWords::kNoKey)
        return !said(RegKeyExists(root, row.KeyPath, row.KeyValue), "键存在", "键不存在");
    if (row.decide == RuleWords::kValueExists)
        return said(RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType), "值存在",
                    "值不存在");
    if (row.decide == RuleWords::kNoValue)
        return !said(RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType), "值存在",
                     "值不存在");
    if (row.decide == RuleWords::kValueEquals) return ValueCompared(root, row, appDir, true, seen);
    if (row.decide == RuleWords::kValueDiffers)
        return ValueCompared(root, row, appDir, false, seen);
    if (row.decide == RuleWords::kListEquals) return ListEquals(root, row, appDir, seen);
    if (row.decide == RuleWords::kListDiffers) return !ListEquals(root, row, appDir, seen);
    return false;
}

// Walks the groups with a counter of the rules that hold in each; ends the walk as
// soon as a group is satisfied.
class Evaluation : public DetectionVisitor {
public:
    explicit Evaluation(std::string_view appDir) : appDir_(appDir) {}
    // With the groups joined by "and", only a walk that read every group, each of them
    // satisfied, finds the item.
    bool triggered(WalkResult walk) const {
        if (!joinAnd_) return triggered_;
        return walk == WalkResult::Finished && groups_ > 0 && satisfiedGroups_ == groups_;
    }
    std::vector<MatchedCondition> matched() const { return matched_; }

    bool beginDocument(const std::string& join) override {
        joinAnd_ = join == RuleWords::kAnd;
        return true;
    }
    bool beginGroup(RuleGroupKind, const std::string& mode, std::size_t ruleCount) override {
        andMode_ = mode == RuleWords::kAnd;
        held_ = 0;
        ruleCount_ = ruleCount;
        groupDone_ = false;
        ++groups_;
        if (!joinAnd_) matched_.clear();
        return true;
    }
    bool fileCondition(const FileConditionRow& row) override {
        if (groupDone_) return true; // the group is satisfied: its other rules are not needed
        Seen seen;
        const bool holds = FileConditionHolds(row, appDir_, seen);
        return counted(holds, row.decide, seen);
    }
    bool regCondition(const RegConditionRow& row) override {
        if (groupDone_) return true;
        Seen seen;
        const bool holds = RegConditionHolds(row, appDir_, seen);
        if (!holds) return true;
        seen.target = RegTarget(row);
        std::string condition = row.decide;
        if (row.decide == RuleWords::kValueEquals || row.decide == RuleWords::kValueDiffers)
            condition += row.compareValue;
        if (row.decide == RuleWords::kListEquals || row.decide == RuleWords::kListDiffers)
            condition += ListShown(row.compareValue); // on one line
        return counted(holds, condition, seen);
    }
    bool endGroup(RuleGroupKind) override {
        if (!groupDone_ && andMode_ && held_ >= 1 && held_ == ruleCount_) return satisfied();
        if (groupDone_ || !joinAnd_) return true;
        // Joined by "and": a group not satisfied decides the item is not found.
        return false;
    }

private:
    bool counted(bool holds, const std::string& condition, const Seen& seen) {
        if (!holds) return true;
        matched_.push_back({condition, seen.target, seen.observed});
        if (!andMode_) return satisfied();
        ++held_;
        return true;
    }
    // The group is satisfied: alone that ends the walk; joined by "and", the next
    // group is tried.
    bool satisfied() {
        if (joinAnd_) {
            groupDone_ = true;
            ++satisfiedGroups_;
            return true;
        }
        triggered_ = true;
        return false;
    }

    std::string_view appDir_;
    bool andMode_ = false;
    std::size_t held_ = 0;
    std::size_t ruleCount_ = 0;
    bool triggered_ = false;
    bool joinAnd_ = false;
    bool groupDone_ = false;
    std::size_t groups_ = 0, satisfiedGroups_ = 0;
    std::vector<MatchedCondition> matched_;
};

} // namespace

namespace {

// Evaluates the document that `walk` hands to its visitor.
template <typename Walk>
int Triggered(Walk walk, std::string_view appDir, std::vector<MatchedCondition>* matched) {
    try {
        // The machine is checked for outside changes once for the whole item.
        const PlatformStep step(ActivePlatform());
        Evaluation evaluation(appDir);
        // A document that does not read, or a walk cut short by a read failure, finds
        // only what was satisfied before.
        const WalkResult result = walk(evaluation);
        const bool found = evaluation.triggered(result);
        if (matched && found) *matched = evaluation.matched();
        return found ? 1 : 0;
    } catch (...) {
        // Any error during the evaluation (memory running out) ends it with "not found".
        return 0;
    }
}

} // namespace

int RuleTriggered(std::string_view optText, std::string_view appDir,
                  std::vector<MatchedCondition>* matched) {
    return Triggered(
        [&](DetectionVisitor& visitor) { return WalkDetectionDocument(optText, visitor); }, appDir,
        matched);
}

int RuleTriggered(const DetectionWalk& walk, std::string_view appDir,
                  std::vector<MatchedCondition>* matched) {
    return Triggered([&](DetectionVisitor& visitor) { return walk.replay(visitor); }, appDir,
                     matched);
}

} // namespace corvane
