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

class Repair : public RepairVisitor {
public:
    Repair(std::string_view appDir, RepairWatcher* watcher) : appDir_(appDir), watcher_(watcher) {}

    RepairResult result;

    // An action that fails is passed over: whether the repair worked is for detection
    // to say. Each action is one step: the machine is checked for outside changes once.
    bool fileAction(const FileActionRow& row) override {
        const PlatformStep step(ActivePlatform());
        PlannedChange change;
        change.path = ExpandRulePath(row.FilePath, appDir_);
        change.source = ExpandRulePath(row.FromPath, appDir_);
        Platform& platform = ActivePlatform();
        if (row.decide == RuleWords::kDelete) {
            if (!Exists(platform, change.path)) return true;
            change.kind = PlannedChange::Kind::DeleteFiles;
            return run(change, [&] { return DeletePath(change.path); });
        }
        if (row.decide == RuleWords::kCopy) {
            // The target's existence plays no part: a copy overwrites.
            if (!Exists(platform, change.source)) return true;
            change.kind = PlannedChange::Kind::CopyFiles;
            return run(change, [&] { return CopyPath(change.source, change.path); });
        }
        if (row.decide == RuleWords::kMakeFolder) {
            // A real folder there is what the action makes: nothing to do.
            if (platform.folderExists(change.path) && !platform.linkExists(change.path))
                return true;
            change.kind = PlannedChange::Kind::MakeFolder;
            return run(change, [&] { return MakeFolders(change.path); });
        }
        return true;
    }

    bool regAction(const RegActionRow& row) override {
        const PlatformStep step(ActivePlatform());
        const RegKey root = RootKeyFromName(row.root);
        PlannedChange change;
        change.root = row.root;
        change.keyPath = row.KeyPath;
        change.name = row.KeyValue;
        if (row.decide == RuleWords::kDelKey) {
            if (!RegKeyExists(root, row.KeyPath, row.KeyValue)) return true;
            change.kind = PlannedChange::Kind::DeleteKey;
            // A key DeleteRegKey refuses (the root itself, a tree too deep) fails the
            // item with the reason before anything is recorded or made.
            if (std::string why = RegKeyDeleteRefusal(root, row.KeyPath, row.KeyValue);
                !why.empty()) {
                if (watcher_) watcher_->refusedByEngine(change, why);
                result.refused.push_back(std::move(why));
                return true;
            }
            return run(change, [&] { return DeleteRegKey(root, row.KeyPath, row.KeyValue); });
        }
        if (row.decide == RuleWords::kDelValue) {
            change.kind = PlannedChange::Kind::DeleteValue;
            return run(change, [&] { return DeleteRegValue(root, row.KeyPath, row.KeyValue); });
        }
        if (row.decide == RuleWords::kSetValue) {
            change.kind = PlannedChange::Kind::SetValue;
            change.typeName = row.KeyType;
            change.data = row.PathAbs == "1"
                              ? ExpandRulePath(row.ValueContent, RegistryAppDir(appDir_))
                              : row.ValueContent;
            // The new words are opt-in: without them the action does what it always did.
            change.createKeys = row.create == "1";
            change.list = row.list == "1" && row.KeyType == RuleWords::kListType;
            return run(change, [&] {
                if (change.createKeys && !CreateRegKey(root, row.KeyPath)) return false;
                if (change.list) return WriteRegList(root, row.KeyPath, row.KeyValue, change.data);
                return WriteRegValue(root, row.KeyPath, row.KeyValue, row.KeyType, change.data);
            });
        }
        return true;
    }

private:
    template <typename Make> bool run(const PlannedChange& change, Make make) {
        RepairWatcher::Answer answer = RepairWatcher::Answer::Go;
        std::string reason;
        if (watcher_) answer = watcher_->before(change, reason);
        if (answer == RepairWatcher::Answer::Refuse) {
            // Passed over like an action that failed: the next one may still go.
            result.refused.push_back(reason.empty() ? "a change was refused" : reason);
            return true;
        }
        if (answer == RepairWatcher::Answer::Done) return true;
        const bool made = make();
        if (watcher_) watcher_->after(change, made);
        const bool files = change.kind == PlannedChange::Kind::DeleteFiles ||
                           change.kind == PlannedChange::Kind::CopyFiles ||
                           change.kind == PlannedChange::Kind::MakeFolder;
        if (!made && files) {
            // A file action that did not go through says why, when the machine knows.
            if (std::string why = ActivePlatform().fileError(); !why.empty())
                result.refused.push_back(std::move(why));
        } else if (!made && ActivePlatform().regWriteState() != RegWriteState::Writable) {
            // A registry action fails quietly when there is nothing to change; one that
            // failed because a running Wine or another Corvane command holds the
            // registry says so.
            std::string why = ActivePlatform().registryError();
            result.refused.push_back(why.empty() ? "the registry could not be written"
                                                 : std::move(why));
        }
        return true;
    }

    std::string_view appDir_;
    RepairWatcher* watcher_;
};

} // namespace

RepairResult RunRepairXML(std::string_view repairXml, std::string_view appDir,
                          RepairWatcher* watcher) {
    Repair repair(appDir, watcher);
    // The document's registry changes are written together when it ends: each changed
    // registry file once. Its file actions go at once.
    Platform& platform = ActivePlatform();
    platform.beginBatch();
    try {
        // A read failure ends the walk; what was done stays done.
        (void)WalkRepairDocument(repairXml, repair);
    } catch (...) {
        // An error (memory running out) ends the run like a read failure: what was
        // done stays done.
    }
    std::string reason;
    if (watcher && !watcher->beforeSave(reason)) {
        platform.cancelBatch();
        repair.result.refused.push_back(reason);
        watcher->unsaved();
    } else if (!platform.endBatch()) {
        reason = platform.registryError();
        repair.result.refused.push_back(reason.empty() ? "the registry could not be written"
                                                       : reason);
        if (watcher) watcher->unsaved();
    }
    return std::move(repair.result);
}

} // namespace corvane
