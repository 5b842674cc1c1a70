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
    inputs.settingsFile = SettingsFile;
    inputs.winOsText = WinOSText;
    inputs.journalRoot = DefaultJournalRoot().string();
    return inputs;
}

void InitGlobalContext(const ProgramFolders& folders) {
    const RunInputs inputs = InputsOf(folders);
    GlobalContext& g = Global();
    g.RuleTable = inputs.library.table;
    g.AppDir = folders.dataDir;
    g.DbFile = inputs.library.file;
    g.WinOSFile = folders.dataDir + "WinOS.dat";
    g.SettingsFile = folders.settingsFile;
    g.DownloadDir = folders.downloadDir;
    g.DefaultOSTags = inputs.release.defaultTags;
    g.CurOSTag = inputs.release.osTag;
    g.OSVersionText = inputs.release.versionText;
    g.DbKey = inputs.library.key;
}

void InitGlobalContext(const std::string& appDir) {
    InitGlobalContext(DecideProgramFolders(appDir));
}

void EnableDebugPrivilege() {
    // A Wine prefix has no process token to adjust, and nothing depends on it.
}

} // namespace corvane
