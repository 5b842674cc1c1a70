#include "core/engine/RuleTriggered.h"

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
    const bool folder = row.isFolder == "1";
    const bool exists = folder ? platform.folderExists(path) : platform.fileExists(path);
    seen = {path, exists ? (folder ? "文件夹存在" : "文件存在")
                         : (folder ? "文件夹不存在" : "文件不存在")};
    return row.decide == RuleWords::kNoFile ? !exists : exists;
}

bool ValueEquals(RegKey root, const RegConditionRow& row, std::string_view appDir, Seen& seen) {
    const std::string compare = row.PathAbs == "1"
                                    ? ExpandRulePath(row.compareValue, RegistryAppDir(appDir))
                                    : row.compareValue;
    // A value that cannot be read as the type name says compares as the empty text.
    std::string value;
    const bool read = ReadRegValueText(root, row.KeyPath, row.KeyValue, row.KeyType, value);
    if (!read) value.clear();
    // What is shown is the value as stored: the rule's type name may differ (a string
    // of either kind reads as text).
    const std::string stored = RegValueTypeName(root, row.KeyPath, row.KeyValue);
    seen.observed = stored.empty() ? "值不存在" : read ? stored + " " + value : stored;
    return AsciiLower(value) == AsciiLower(compare);
}

bool RegConditionHolds(const RegConditionRow& row, std::string_view appDir, Seen& seen) {
    const RegKey root = RootKeyFromName(row.root);
    seen.target = RegTarget(row);
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
    if (row.decide == RuleWords::kValueEquals) return ValueEquals(root, row, appDir, seen);
    if (row.decide == RuleWords::kValueDiffers) return !ValueEquals(root, row, appDir, seen);
    return false;
}

// Walks the groups with a counter of the rules that hold in each; ends the walk as
// soon as a group is satisfied.
class Evaluation : public DetectionVisitor {
public:
    explicit Evaluation(std::string_view appDir) : appDir_(appDir) {}
    bool triggered() const { return triggered_; }
    std::vector<MatchedCondition> matched() const { return matched_; }

    bool beginGroup(RuleGroupKind, const std::string& mode, std::size_t ruleCount) override {
        andMode_ = mode == RuleWords::kAnd;
        held_ = 0;
        ruleCount_ = ruleCount;
        matched_.clear();
        return true;
    }
    bool fileCondition(const FileConditionRow& row) override {
        Seen seen;
        const bool holds = FileConditionHolds(row, appDir_, seen);
        return counted(holds, row.decide, seen);
    }
    bool regCondition(const RegConditionRow& row) override {
        Seen seen;
        const bool holds = RegConditionHolds(row, appDir_, seen);
        std::string condition = row.decide;
        if (row.decide == RuleWords::kValueEquals || row.decide == RuleWords::kValueDiffers)
            condition += row.compareValue;
        return counted(holds, condition, seen);
    }
    bool endGroup(RuleGroupKind) override {
        if (andMode_ && held_ >= 1 && held_ == ruleCount_) return satisfied();
        return true;
    }

private:
    bool counted(bool holds, const std::string& condition, const Seen& seen) {
        if (!holds) return true;
        matched_.push_back({condition, seen.target, seen.observed});
        if (!andMode_) return satisfied();
        ++held_;
        return true;
    }
    bool satisfied() {
        triggered_ = true;
        return false;
    }

    std::string_view appDir_;
    bool andMode_ = false;
    std::size_t held_ = 0;
    std::size_t ruleCount_ = 0;
    bool triggered_ = false;
    std::vector<MatchedCondition> matched_;
};

} // namespace

int RuleTriggered(std::string_view optText, std::string_view appDir,
                  std::vector<MatchedCondition>* matched) {
    try {
        // The machine is checked for outside changes once for the whole item.
        const PlatformStep step(ActivePlatform());
        Evaluation evaluation(appDir);
        // A document that does not read, or a walk cut short by a read failure, finds
        // only what was satisfied before.
        (void)WalkDetectionDocument(optText, evaluation);
        if (matched && evaluation.triggered()) *matched = evaluation.matched();
        return evaluation.triggered() ? 1 : 0;
    } catch (...) {
        // Any error during the evaluation (memory running out) ends it with "not found".
        return 0;
    }
}

} // namespace corvane
