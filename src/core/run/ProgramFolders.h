// Where the program's files are. A program whose folder the user can write (the build
// folder, a portable copy) keeps everything beside its executable. An installed copy
// (a folder the user cannot write, or one without a library of its own next to an
// installed data folder <exe dir>/../share/corvane/) reads its shipped files from the
// data folder and writes to the user's folders: Setting.ini in $XDG_CONFIG_HOME/corvane/,
// the user's own library in $XDG_DATA_HOME/corvane/ (copied from the shipped one on
// first use), downloads in $XDG_CACHE_HOME/corvane/downsoft/.
#pragma once

#include <string>

#include "core/run/ScanRepair.h"

namespace corvane {

// $HOME and the XDG base folders as the process has them; unset is empty.
struct FolderEnvironment {
    std::string home;
    std::string configHome;
    std::string dataHome;
    std::string cacheHome;

    static FolderEnvironment FromProcess();
};

// What the file system says about the program's folder.
struct FolderFacts {
    bool folderWritable = false;   // the user may create files in the executable's folder
    bool libraryBeside = false;    // cvdb.db is beside the executable
    bool libraryWritable = false;  // ... and the user may write it
    bool installedLibrary = false; // <exe dir>/../share/corvane/cvdb.db is there

    static FolderFacts Of(const std::string& programDir);
};

struct ProgramFolders {
    bool installed = false;     // the user's files are in the XDG folders
    std::string programDir;     // the executable's folder, ending in '/'
    std::string dataDir;        // the shipped files (library, oem/, WinOS.dat); "<app>"
    std::string shippedLibrary; // the library that comes with the program
    std::string libraryFile;    // the library the program reads and the editor changes
    std::string settingsFile;   // Setting.ini
    std::string downloadDir;    // downloaded installers, ending in '/'
    std::string error;          // why the user's folders are unknown (no $HOME); else empty
};

// Where each file is for a program in `programDir` (ending in '/') with `facts` about
// its folder. Relative or empty XDG variables are ignored, as the XDG rules say; their
// defaults are under $HOME (~/.config, ~/.local/share, ~/.cache).
ProgramFolders PlaceProgramFiles(const std::string& programDir, const FolderFacts& facts,
                                 const FolderEnvironment& env);

// The same, the facts read from the file system and the process's environment.
ProgramFolders DecideProgramFolders(const std::string& programDir);

// Makes the user's folders ready in the installed mode: the folder of Setting.ini, and,
// with `library`, the user's library copied from the shipped one when it has none yet
// (through a temporary file and a rename: a copy cut short leaves no library). Returns
// why that failed; empty when ready. Nothing to do beside the program.
std::string PrepareUserFiles(const ProgramFolders& folders, bool library);

// The run's inputs on the active platform's machine: the library, settings and <app>
// of `folders`.
RunInputs InputsOf(const ProgramFolders& folders);

} // namespace corvane
