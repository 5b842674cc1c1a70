#include <gtest/gtest.h>

#include <filesystem>

#include "core/run/CommandLine.h"
#include "core/run/ProgramFolders.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

TEST(PlaceProgramFiles, ModeAndPlaceOfEachFile) {
    const std::string bin = "/opt/c/bin/";
    const FolderEnvironment xdg{"/home/u", "/x/config", "/x/data", "/x/cache"};
    const FolderEnvironment unset{"/home/u", "", "", ""};
    const FolderEnvironment relative{"/home/u", "config", "data", "./cache"};
    struct Case {
        const char* what;
        FolderFacts facts;
        FolderEnvironment env;
        bool installed;
        std::string data, library, settings, downloads;
    };
    const Case cases[] = {
        {"build folder",
         {true, true, true, false},
         xdg,
         false,
         bin,
         bin + "cvdb.db",
         bin + "Setting.ini",
         bin + "downsoft/"},
        {"fresh portable copy",
         {true, false, false, false},
         xdg,
         false,
         bin,
         bin + "cvdb.db",
         bin + "Setting.ini",
         bin + "downsoft/"},
        {"installed",
         {false, false, false, true},
         xdg,
         true,
         "/opt/c/share/corvane/",
         "/x/data/corvane/cvdb.db",
         "/x/config/corvane/Setting.ini",
         "/x/cache/corvane/downsoft/"},
        {"installed, writable by root",
         {true, false, false, true},
         xdg,
         true,
         "/opt/c/share/corvane/",
         "/x/data/corvane/cvdb.db",
         "/x/config/corvane/Setting.ini",
         "/x/cache/corvane/downsoft/"},
        {"read-only library beside",
         {true, true, false, false},
         xdg,
         true,
         bin,
         "/x/data/corvane/cvdb.db",
         "/x/config/corvane/Setting.ini",
         "/x/cache/corvane/downsoft/"},
        {"XDG unset",
         {false, false, false, true},
         unset,
         true,
         "/opt/c/share/corvane/",
         "/home/u/.local/share/corvane/cvdb.db",
         "/home/u/.config/corvane/Setting.ini",
         "/home/u/.cache/corvane/downsoft/"},
        {"XDG relative",
         {false, false, false, true},
         relative,
         true,
         "/opt/c/share/corvane/",
         "/home/u/.local/share/corvane/cvdb.db",
         "/home/u/.config/corvane/Setting.ini",
         "/home/u/.cache/corvane/downsoft/"},
    };
    for (const Case& c : cases) {
        const ProgramFolders f = PlaceProgramFiles(bin, c.facts, c.env);
        EXPECT_EQ(f.installed, c.installed) << c.what;
        EXPECT_EQ(f.dataDir, c.data) << c.what;
        EXPECT_EQ(f.shippedLibrary, c.data + "cvdb.db") << c.what;
        EXPECT_EQ(f.libraryFile, c.library) << c.what;
        EXPECT_EQ(f.settingsFile, c.settings) << c.what;
        EXPECT_EQ(f.downloadDir, c.downloads) << c.what;
        EXPECT_EQ(f.error, "") << c.what;
    }
    // Installed without $HOME: no place for the user's files, and it says why.
    const ProgramFolders lost = PlaceProgramFiles(bin, {false, false, false, true}, {});
    EXPECT_NE(lost.error.find("$HOME"), std::string::npos);
    EXPECT_NE(PrepareUserFiles(lost, true), "");
}

TEST(DecideProgramFolders, ReadsTheLayoutAroundTheExecutable) {
    TempPrefix root;
    const std::string bin = root.dir().string() + "/usr/bin/";
    fs::create_directories(bin);
    fs::create_directories(root.file("usr/share/corvane"));
    WriteFile(root.file("usr/share/corvane/cvdb.db"), "shipped");
    // An installed copy extracted under any root, even one the user may write.
    const ProgramFolders installed = DecideProgramFolders(bin);
    EXPECT_TRUE(installed.installed);
    EXPECT_EQ(installed.dataDir, root.dir().string() + "/usr/share/corvane/");
    // A library of its own beside the executable keeps everything there.
    WriteFile(bin + "cvdb.db", "own");
    const ProgramFolders beside = DecideProgramFolders(bin);
    EXPECT_FALSE(beside.installed);
    EXPECT_EQ(beside.libraryFile, bin + "cvdb.db");
}

TEST(PrepareUserFiles, CopiesTheShippedLibraryOnceThenKeepsTheUsers) {
    TempPrefix dir;
    fs::create_directories(dir.file("share/corvane"));
    WriteFile(dir.file("share/corvane/cvdb.db"), "shipped library");
    const std::string home = dir.dir().string() + "/home";
    const ProgramFolders f = PlaceProgramFiles(dir.dir().string() + "/bin/",
                                               {false, false, false, true}, {home, "", "", ""});
    ASSERT_EQ(PrepareUserFiles(f, true), "");
    EXPECT_EQ(ReadFile(f.libraryFile), "shipped library");
    EXPECT_TRUE(fs::is_directory(home + "/.config/corvane"));
    WriteFile(f.libraryFile, "edited by the user");
    ASSERT_EQ(PrepareUserFiles(f, true), "");
    EXPECT_EQ(ReadFile(f.libraryFile), "edited by the user");
    // Nothing but the library is left in its folder.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(home + "/.local/share/corvane"))
        ++files;
    EXPECT_EQ(files, 1);
    // A folder that cannot be made is an error that names it; no library appears.
    WriteFile(dir.file("blocked"), "a file where a folder should be");
    const ProgramFolders blocked =
        PlaceProgramFiles(dir.dir().string() + "/bin/", {false, false, false, true},
                          {home, "", dir.file("blocked").string(), ""});
    const std::string error = PrepareUserFiles(blocked, true);
    EXPECT_NE(error.find(dir.file("blocked").string()), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(blocked.libraryFile));
}

TEST(CommandLineHelp, NamesTheUsersFilesOfAnInstalledCopy) {
    const ProgramFolders f =
        PlaceProgramFiles("/usr/bin/", {false, false, false, true}, {"/home/u", "", "", ""});
    const std::string help = CommandLineHelp(f);
    for (const std::string& part :
         {f.dataDir, f.libraryFile, f.settingsFile, f.downloadDir, std::string("<app>")})
        EXPECT_NE(help.find(part), std::string::npos) << part;
}

} // namespace
} // namespace corvane
