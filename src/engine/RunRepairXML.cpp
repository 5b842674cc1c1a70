#include "engine/RunRepairXML.h"

#include <string>

#include "app/unitGlobal.h"
#include "engine/RegCommon.h"
#include "engine/RuleDocument.h"
#include "engine/UnitClean.h"
#include "platform/Platform.h"

namespace corvane {

namespace {

bool Exists(Platform& platform, const std::string& path) {
    return platform.folderExists(path) || platform.fileExists(path);
}

void RunFileAction(const FileActionRow& row) {
    const std::string target = ExpandRulePath(row.FilePath);
    const std::string source = ExpandRulePath(row.FromPath);
    Platform& platform = ActivePlatform();
    if (row.decide == "delete") {
        if (Exists(platform, target)) DeletePath(target);
    } else if (row.decide == "copy") {
        // The target's existence plays no part: a copy overwrites.
        if (Exists(platform, source)) CopyPath(source, target);
    }
}

void RunRegAction(const RegActionRow& row) {
    const RegKey root = RootKeyFromName(row.root);
    if (row.decide == "DelKey") {
        // DeleteRegKey refuses a subkey that comes to the root itself.
        if (RegKeyExists(root, row.KeyPath, row.KeyValue))
            DeleteRegKey(root, row.KeyPath, row.KeyValue);
    } else if (row.decide == "DelValue") {
        DeleteRegValue(root, row.KeyPath, row.KeyValue);
    } else if (row.decide == "SetValue") {
        const std::string content =
            row.PathAbs == "1" ? ExpandRulePath(row.ValueContent) : row.ValueContent;
        WriteRegValue(root, row.KeyPath, row.KeyValue, row.KeyType, content);
    }
}

class Repair : public RepairVisitor {
public:
    bool fileAction(const FileActionRow& row) override {
        RunFileAction(row);
        return true;
    }
    bool regAction(const RegActionRow& row) override {
        RunRegAction(row);
        return true;
    }
};

} // namespace

void RunRepairXML(std::string_view repairXml) {
    try {
        Repair repair;
        WalkRepairDocument(repairXml, repair);
    } catch (...) {
        // An error (memory running out) ends the run like a read failure: what was
        // done stays done.
    }
}

} // namespace corvane
