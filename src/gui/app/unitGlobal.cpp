#include "gui/app/unitGlobal.h"

#include "core/run/Journal.h"

namespace corvane {

GlobalContext& Global() {
    static GlobalContext context;
    return context;
}

LibraryLocation GlobalContext::Library() const {
    return {DbFile, DbKey, RuleTable};
}

RunInputs GlobalContext::Inputs() const {
    RunInputs inputs;
    inputs.library = Library();
    inputs.release = {CurOSTag, OSVersionText, DefaultOSTags};
    inputs.appDir = AppDir;
    inputs.settingsFile = AppDir + "Setting.ini";
    inputs.winOsText = WinOSText;
    inputs.journalRoot = DefaultJournalRoot().string();
    return inputs;
}

void InitGlobalContext(const std::string& appDir) {
    const RunInputs inputs = InputsBeside(appDir);
    GlobalContext& g = Global();
    g.RuleTable = inputs.library.table;
    g.AppDir = appDir;
    g.DbFile = inputs.library.file;
    g.WinOSFile = appDir + "WinOS.dat";
    g.DefaultOSTags = inputs.release.defaultTags;
    g.CurOSTag = inputs.release.osTag;
    g.OSVersionText = inputs.release.versionText;
    g.DbKey = inputs.library.key;
}

void EnableDebugPrivilege() {
    // A Wine prefix has no process token to adjust, and nothing depends on it.
}

} // namespace corvane
