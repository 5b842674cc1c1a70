#include "core/engine/RunRepairXML.h"

#include <string>
#include <utility>

#include "core/engine/RegCommon.h"
#include "core/engine/RuleDocument.h"
#include "core/engine/RulePath.h"
#include "core/engine/UnitClean.h"
#include "core/platform/Platform.h"

namespace corvane {

namespace {

bool Exists(Platform& platform, const std::string& path) {
    return platform.folderExists(path) || platform.fileExists(path);
}

// An action with nothing to do is passed over; one that was tried and did not go
// through leaves its reason in `result`.
void RunFileAction(const FileActionRow& row, std::string_view appDir, RepairResult& result) {
    const std::string target = ExpandRulePath(row.FilePath, appDir);
    const std::string source = ExpandRulePath(row.FromPath, appDir);
    Platform& platform = ActivePlatform();
    bool done = true;
    if (row.decide == RuleWords::kDelete) {
        if (Exists(platform, target)) done = DeletePath(target);
    } else if (row.decide == RuleWords::kCopy) {
        // The target's existence plays no part: a copy overwrites.
        if (Exists(platform, source)) done = CopyPath(source, target);
    }
    if (done) return;
    std::string reason = platform.fileError();
    if (!reason.empty()) result.refused.push_back(std::move(reason));
}

void RunRegAction(const RegActionRow& row, std::string_view appDir) {
    const RegKey root = RootKeyFromName(row.root);
    if (row.decide == RuleWords::kDelKey) {
        // DeleteRegKey refuses a subkey that comes to the root itself.
        if (RegKeyExists(root, row.KeyPath, row.KeyValue))
            (void)DeleteRegKey(root, row.KeyPath, row.KeyValue);
    } else if (row.decide == RuleWords::kDelValue) {
        (void)DeleteRegValue(root, row.KeyPath, row.KeyValue);
    } else if (row.decide == RuleWords::kSetValue) {
        const std::string content =
            row.PathAbs == "1" ? ExpandRulePath(row.ValueContent, appDir) : row.ValueContent;
        (void)WriteRegValue(root, row.KeyPath, row.KeyValue, row.KeyType, content);
    }
}

class Repair : public RepairVisitor {
public:
    explicit Repair(std::string_view appDir) : appDir_(appDir) {}
    bool fileAction(const FileActionRow& row) override {
        RunFileAction(row, appDir_, result);
        return true;
    }
    bool regAction(const RegActionRow& row) override {
        RunRegAction(row, appDir_);
        return true;
    }
    RepairResult result;

private:
    std::string_view appDir_;
};

} // namespace

RepairResult RunRepairXML(std::string_view repairXml, std::string_view appDir) {
    Repair repair(appDir);
    try {
        // A read failure ends the walk; what was done stays done.
        (void)WalkRepairDocument(repairXml, repair);
    } catch (...) {
        // An error (memory running out) ends the run like a read failure: what was
        // done stays done.
    }
    return std::move(repair.result);
}

} // namespace corvane
