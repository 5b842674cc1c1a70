// The process-wide context of the program and the expansion of rule paths.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The process-wide values set at start-up (and the few that windows change later).
struct GlobalContext {
    std::string RuleTable;      // the rule table's name, "cvdb"
    std::string AppDir;         // the program's folder, ending in a path separator
    std::string DbFile;         // AppDir + "cvdb.db"
    std::string WinOSFile;      // AppDir + "WinOS.dat", the group names file
    std::string DefaultOSTags;  // "[win98][win2000][win2003][winxp][winvista][win7][win8]"
    std::string CurOSTag;       // the running release's OS tag, or empty
    std::string OSVersionText;  // e.g. "6.1.7601.Service Pack 1"
    std::string DbKey;          // the rule library's key
    std::string SoftName;       // from oem/oem.ini
    std::string AuthorName;     // from oem/oem.ini
    std::string WinOSText;      // the platform groups as last read from the library
    std::string EditItemId;     // the item the rule item editor edits
    int EditMode = 0;           // 1: the editor edits EditItemId; 0: it adds an item
};

// The one context of the process.
GlobalContext& Global();

// Turns a path written in a rule into a real path: environment variables first, then
// the first path macro ("<app>", "<personal>", "<desktop>", "<nethood>",
// "<programs>", "<startup>", "<fonts>") when the text between the first "<" and the
// first ">" is exactly one of them.
std::string ExpandRulePath(std::string_view rulePath);

} // namespace corvane
