// The process-wide context of the program and the expansion of rule paths.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The process-wide values set at start-up (and the few that windows change later).
struct GlobalContext {
    std::string RuleTable;     // the rule table's name, "cvdb"
    std::string AppDir;        // the program's folder, ending in a path separator
    std::string DbFile;        // AppDir + "cvdb.db"
    std::string WinOSFile;     // AppDir + "WinOS.dat", the group names file
    std::string DefaultOSTags; // "[win98][win2000][win2003][winxp][winvista][win7][win8]"
    std::string CurOSTag;      // the running release's OS tag, or empty
    std::string OSVersionText; // e.g. "6.1.7601.Service Pack 1"
    std::string DbKey;         // the rule library's key
    std::string SoftName;      // from oem/oem.ini
    std::string AuthorName;    // from oem/oem.ini
    std::string WinOSText;     // the platform groups as last read from the library
    std::string EditItemId;    // the item the rule item editor edits
    int EditMode = 0;          // 1: the editor edits EditItemId; 0: it adds an item
};

// The one context of the process.
GlobalContext& Global();

// Steps 1 to 8 of start-up: the rule table, the folders and files beside the
// program (`appDir` ends with a path separator), the OS tags and version text of the
// running release, and the library's key.
void InitGlobalContext(const std::string& appDir);

// The OS tag of the running release ("[win7]" ...); `tag` is left untouched for a
// release without one.
void GetOSTag(std::string& tag);
// "major.minor.build.service pack", e.g. "6.1.7601.Service Pack 1" or "6.1.7600.".
std::string GetOSVersionText();
// Enables the debug privilege where the system has one; nothing on Linux.
void EnableDebugPrivilege();

// The branding of oem/oem.ini beside the program, with its defaults.
struct OemInfo {
    std::string softName;
    std::string authorName;
};
OemInfo ReadOemInfo();

// The texts of the two date labels: the stored dates of the last scan and repair from
// Setting.ini, or "未知" where a date is missing or not valid.
struct LastDates {
    std::string scan;
    std::string fix;
};
LastDates ReadLastDates();

// Turns a path written in a rule into a real path: environment variables first, then
// the first path macro ("<app>", "<personal>", "<desktop>", "<nethood>",
// "<programs>", "<startup>", "<fonts>") when the text between the first "<" and the
// first ">" is exactly one of them.
std::string ExpandRulePath(std::string_view rulePath);

} // namespace corvane
