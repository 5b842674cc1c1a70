#include "core/engine/RuleTriggered.h"

#include "core/engine/RegCommon.h"
#include "core/engine/RuleDocument.h"
#include "core/engine/RulePath.h"
#include "core/platform/Platform.h"
#include "core/platform/Utf.h"

namespace corvane {

namespace {

bool FileConditionHolds(const FileConditionRow& row, std::string_view appDir) {
    const std::string path = ExpandRulePath(row.FilePath, appDir);
    Platform& platform = ActivePlatform();
    const bool exists =
        row.isFolder == "1" ? platform.folderExists(path) : platform.fileExists(path);
    return row.decide == RuleWords::kNoFile ? !exists : exists;
}

bool ValueEquals(RegKey root, const RegConditionRow& row, std::string_view appDir) {
    const std::string compare =
        row.PathAbs == "1" ? ExpandRulePath(row.compareValue, appDir) : row.compareValue;
    // A value that cannot be read as the type name says compares as the empty text.
    std::string value;
    if (!ReadRegValueText(root, row.KeyPath, row.KeyValue, row.KeyType, value)) value.clear();
    return AsciiLower(value) == AsciiLower(compare);
}

bool RegConditionHolds(const RegConditionRow& row, std::string_view appDir) {
    const RegKey root = RootKeyFromName(row.root);
    if (row.decide == RuleWords::kKeyExists) return RegKeyExists(root, row.KeyPath, row.KeyValue);
    if (row.decide == RuleWords::kNoKey) return !RegKeyExists(root, row.KeyPath, row.KeyValue);
    if (row.decide == RuleWords::kValueExists)
        return RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType);
    if (row.decide == RuleWords::kNoValue)
        return !RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType);
    if (row.decide == RuleWords::kValueEquals) return ValueEquals(root, row, appDir);
    if (row.decide == RuleWords::kValueDiffers) return !ValueEquals(root, row, appDir);
    return false;
}

// Walks the groups with a counter of the rules that hold in each; ends the walk as
// soon as a group is satisfied.
class Evaluation : public DetectionVisitor {
public:
    explicit Evaluation(std::string_view appDir) : appDir_(appDir) {}
    bool triggered() const { return triggered_; }

    bool beginGroup(RuleGroupKind, const std::string& mode, std::size_t ruleCount) override {
        andMode_ = mode == RuleWords::kAnd;
        held_ = 0;
        ruleCount_ = ruleCount;
        return true;
    }
    bool fileCondition(const FileConditionRow& row) override {
        return counted(FileConditionHolds(row, appDir_));
    }
    bool regCondition(const RegConditionRow& row) override {
        return counted(RegConditionHolds(row, appDir_));
    }
    bool endGroup(RuleGroupKind) override {
        if (andMode_ && held_ >= 1 && held_ == ruleCount_) return satisfied();
        return true;
    }

private:
    bool counted(bool holds) {
        if (!holds) return true;
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
};

} // namespace

int RuleTriggered(std::string_view optText, std::string_view appDir) {
    try {
        // The machine is checked for outside changes once for the whole item.
        const PlatformStep step(ActivePlatform());
        Evaluation evaluation(appDir);
        // A document that does not read, or a walk cut short by a read failure, finds
        // only what was satisfied before.
        (void)WalkDetectionDocument(optText, evaluation);
        return evaluation.triggered() ? 1 : 0;
    } catch (...) {
        // Any error during the evaluation (memory running out) ends it with "not found".
        return 0;
    }
}

} // namespace corvane
