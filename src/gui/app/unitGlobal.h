// The process-wide context of the program: what start-up finds and the windows hand to
// the core, and the values the editor windows hand to each other.
#pragma once

#include <string>

#include "core/run/ProgramFolders.h"
#include "core/run/ScanRepair.h"

namespace corvane {

// The process-wide values set at start-up (and the few that windows change later).
struct GlobalContext {
    std::string RuleTable;     // the rule table's name, "cvdb"
    std::string AppDir;        // the shipped files' folder ("<app>"), ending in a separator:
                               // the program's folder, or the installed data folder
    std::string DbFile;        // the library: AppDir + "cvdb.db", or the user's copy
    std::string WinOSFile;     // AppDir + "WinOS.dat", the group names file
    std::string SettingsFile;  // Setting.ini: in AppDir, or the user's config folder
    std::string DownloadDir;   // downsoft/ for downloaded installers, ending in '/'
    std::string DefaultOSTags; // "[win98][win2000][win2003][winxp][winvista][win7][win8]"
    std::string CurOSTag;      // the running release's OS tag, or empty
    std::string OSVersionText; // e.g. "6.1.7601.Service Pack 1"
    std::string DbKey;         // the rule library's key
    std::string SoftName;      // from oem/oem.ini
    std::string AuthorName;    // from oem/oem.ini
    std::string WinOSText;     // the platform groups as last read from the library
    std::string EditItemId;    // the item the rule item editor edits
    int EditMode = 0;          // 1: the editor edits EditItemId; 0: it adds an item

    // The library, the release and the folders as the core takes them.
    LibraryLocation Library() const;
    RunInputs Inputs() const;
};

// The one context of the process.
GlobalContext& Global();

// Start-up fills the context with `folders`: the rule table, where each file is, the
// OS tag and version text of the running release, and the library's key.
void InitGlobalContext(const ProgramFolders& folders);
// ... for a program in `appDir` (ending with a path separator), its folders decided.
void InitGlobalContext(const std::string& appDir);

// Enables the debug privilege where the system has one; nothing on Linux.
void EnableDebugPrivilege();

} // namespace corvane
