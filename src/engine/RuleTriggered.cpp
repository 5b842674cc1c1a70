#include "engine/RuleTriggered.h"

#include "app/unitGlobal.h"
#include "engine/RegCommon.h"
#include "engine/RuleDocument.h"
#include "platform/Platform.h"

namespace corvane {

namespace {

bool FileConditionHolds(const FileConditionRow& row) {
    const std::string path = ExpandRulePath(row.FilePath);
    Platform& platform = ActivePlatform();
    const bool exists =
        row.isFolder == "1" ? platform.folderExists(path) : platform.fileExists(path);
    return row.decide == "nofile" ? !exists : exists;
}

bool ValueEquals(RegKey root, const RegConditionRow& row) {
    const std::string compare =
        row.PathAbs == "1" ? ExpandRulePath(row.compareValue) : row.compareValue;
    // A value that cannot be read as the type name says compares as the empty text.
    std::string value;
    if (!ReadRegValueText(root, row.KeyPath, row.KeyValue, row.KeyType, value)) value.clear();
    return AsciiLower(value) == AsciiLower(compare);
}

bool RegConditionHolds(const RegConditionRow& row) {
    const RegKey root = RootKeyFromName(row.root);
    if (row.decide == "KeyExists") return RegKeyExists(root, row.KeyPath, row.KeyValue);
    if (row.decide == "!KeyExists") return !RegKeyExists(root, row.KeyPath, row.KeyValue);
    if (row.decide == "ValueExists")
        return RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType);
    if (row.decide == "!ValueExists")
        return !RegValueExists(root, row.KeyPath, row.KeyValue, row.KeyType);
    if (row.decide == "Value=") return ValueEquals(root, row);
    if (row.decide == "Value!=") return !ValueEquals(root, row);
    return false;
}

// Walks the groups with a counter of the rules that hold in each; ends the walk as
// soon as a group is satisfied.
class Evaluation : public DetectionVisitor {
public:
    bool triggered() const { return triggered_; }

    bool beginGroup(RuleGroupKind, const std::string& mode, std::size_t ruleCount) override {
        andMode_ = mode == "and";
        held_ = 0;
        ruleCount_ = ruleCount;
        return true;
    }
    bool fileCondition(const FileConditionRow& row) override {
        return counted(FileConditionHolds(row));
    }
    bool regCondition(const RegConditionRow& row) override {
        return counted(RegConditionHolds(row));
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

    bool andMode_ = false;
    std::size_t held_ = 0;
    std::size_t ruleCount_ = 0;
    bool triggered_ = false;
};

} // namespace

std::string AsciiLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

int RuleTriggered(std::string_view optText) {
    try {
        Evaluation evaluation;
        WalkDetectionDocument(optText, evaluation);
        return evaluation.triggered() ? 1 : 0;
    } catch (...) {
        // Any error during the evaluation (memory running out) ends it with "not found".
        return 0;
    }
}

} // namespace corvane
