#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "core/platform/wine/HeldFolder.h"
#include "core/platform/wine/WinePlatform.h"
#include "support/TempPrefix.h"

namespace corvane::wine {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

// root/prefix is the Wine prefix; root/outside stands for the user's own folders
// that Wine links into the prefix; root/app is the program's folder.
class WineFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* dir : {"prefix/dosdevices", "prefix/drive_c/Windows/System32/drivers/etc",
                                "prefix/drive_c/Windows/Fonts", "prefix/drive_c/Temp/sub",
                                "prefix/drive_c/users/tester", "prefix/other", "outside", "app"})
            fs::create_directories(root.dir() / dir);
        const fs::path devices = root.dir() / "prefix/dosdevices";
        fs::create_directory_symlink("../drive_c", devices / "c:");
        fs::create_directory_symlink(root.dir() / "prefix/other", devices / "d:");
        fs::create_directory_symlink(root.dir(), devices / "e:");
        fs::create_directory_symlink(root.dir() / "outside", c() / "users/tester/Documents");
        for (const char* file :
             {"AUTOEXEC.BAT", "Windows/System32/drivers/etc/hosts", "Windows/Fonts/SimSun.ttc",
              "Temp/a.log", "Temp/b.LOG", "Temp/keep.txt", "Temp/sub/x.log"})
            WriteFile(c() / file, file);
        WriteFile(root.dir() / "outside/precious.txt", "mine");
        WriteFile(c() / "Temp/\xff\xfe.bin", "odd");
    }
    fs::path c() const { return root.dir() / "prefix/dosdevices/c:"; }
    fs::path drive() const { return root.dir() / "prefix/drive_c"; }

    TempPrefix root;
    WinePlatform platform{root.dir() / "prefix", test::Options(root.dir(), root.dir() / "app")};
};

TEST_F(WineFilesTest, WindowsPathsResolveInsideThePrefix) {
    const fs::path c = this->c();
    const fs::path d = root.dir() / "prefix/dosdevices/d:";
    const std::pair<std::string_view, std::optional<fs::path>> cases[] = {
        {"C:\\WINDOWS\\system32\\DRIVERS\\etc\\HOSTS", c / "Windows/System32/drivers/etc/hosts"},
        {"c:/windows/fonts/simsun.ttc", c / "Windows/Fonts/SimSun.ttc"},
        {"C:\\..\\..\\windows", c / "Windows"},
        {"C:\\windows\\.\\system32\\..\\Fonts", c / "Windows/Fonts"},
        {"C:\\windows. \\fonts..", c / "Windows/Fonts"},
        {"C:\\Windows\\NewDir\\File.TXT", c / "Windows/NewDir/File.TXT"},
        {"C:", c},
        {"C:\\", c},
        {"\\windows", c / "Windows"},
        {"D:\\x", d / "x"},
        {"d:x", d / "x"},
        {"relative\\x.txt", root.dir() / "app/relative/x.txt"},
        {"/etc/hosts", fs::path("/etc/hosts")},
        {"/tmp/a\\b", fs::path("/tmp/a/b")},
        {"Q:\\x", std::nullopt},
        {"\\\\server\\share\\x", std::nullopt},
        {"\\\\?\\C:\\x", std::nullopt},
        {"\\\\.\\PhysicalDrive0", std::nullopt},
        {"C:\\windows\\con", std::nullopt},
        {"C:\\nul.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(platform.paths().resolve(path), expected) << path;
}

TEST_F(WineFilesTest, ExistenceOfFilesAndFolders) {
    struct Case {
        std::string path;
        bool file, folder;
    };
    const Case cases[] = {
        {"C:\\WINDOWS\\system32\\drivers\\etc\\HOSTS", true, false},
        {"c:\\windows", false, true},
        {"C:\\Temp\\*.LOG", true, false},
        {"C:\\Temp\\?.log", true, false},
        {"C:\\Temp\\??.log", false, false},
        {"C:\\Temp\\*.txt", true, false},
        {"C:\\Temp\\s*", false, false}, // the first match is the folder "sub"
        {"C:\\Temp\\*", false, false},  // "." comes first outside a drive's root
        {"C:\\*", true, false},         // AUTOEXEC.BAT comes first in the root
        {"C:\\Temp\\sub\\*.log", true, false},
        {"C:\\Temp\\missing\\*.log", false, false},
        {"C:\\Temp\\*.bin", true, false},
        {"C:\\Temp\\\xff\xfe.bin", true, false},
        {"C:\\users\\tester\\Documents", false, true}, // a link to a folder is a folder
        {"C:\\users\\tester\\documents\\PRECIOUS.TXT", true, false},
        {"C:\\" + std::string(5000, 'a'), false, false},
        {"C:\\..\\..\\..\\etc", false, false},
        {"Q:\\x", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform.fileExists(c.path), c.file) << c.path.substr(0, 40);
        EXPECT_EQ(platform.folderExists(c.path), c.folder) << c.path.substr(0, 40);
    }
}

// Names matched without regard to case come from a listing of the folder that is
// kept while the folder is unchanged; an entry added or renamed since is seen.
TEST_F(WineFilesTest, AFolderChangedSinceItWasListedIsListedAgain) {
    const fs::path temp = c() / "Temp";
    const auto age = [&] {
        const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, temp.c_str(), old, 0), 0);
    };
    age();
    EXPECT_TRUE(platform.fileExists("C:\\temp\\KEEP.TXT"));
    EXPECT_FALSE(platform.fileExists("C:\\temp\\NEW.TXT"));
    WriteFile(temp / "New.txt", "added");
    EXPECT_TRUE(platform.fileExists("C:\\temp\\NEW.TXT"));
    age();
    fs::rename(temp / "keep.txt", temp / "Kept.txt");
    EXPECT_FALSE(platform.fileExists("C:\\temp\\KEEP.TXT"));
    EXPECT_TRUE(platform.fileExists("C:\\temp\\kept.TXT"));
    EXPECT_EQ(platform.paths().resolve("C:\\TEMP\\KEPT.TXT"), temp / "Kept.txt");
}

TEST_F(WineFilesTest, CreatesOneFolderLevel) {
    EXPECT_TRUE(platform.createFolder("C:\\Temp\\New"));
    EXPECT_TRUE(fs::is_directory(drive() / "Temp/New"));
    EXPECT_FALSE(platform.createFolder("C:\\temp\\new")); // exists
    EXPECT_FALSE(platform.createFolder("C:\\Temp\\Missing\\New"));
    EXPECT_FALSE(fs::exists(drive() / "Temp/Missing"));
    EXPECT_FALSE(platform.createFolder("C:\\Temp\\keep.txt\\x"));
}

// A new folder whose real place, ".." taken after a folder that is missing and a link
// followed, lies outside is refused, and no folder is made on the way.
TEST_F(WineFilesTest, ANewFolderIsMadeOnlyInsideThePrefix) {
    fs::create_directory_symlink(root.dir() / "outside", drive() / "evil");
    const std::string p = (root.dir() / "prefix").string();
    const std::string paths[] = {p + "/x/../drive_c/evil/new", p + "/x/y/../../drive_c/evil/new",
                                 "C:\\evil\\new"};
    for (const std::string& path : paths) {
        EXPECT_FALSE(platform.createFolder(path)) << path;
        EXPECT_NE(platform.fileError().find("outside the prefix"), std::string::npos)
            << platform.fileError();
    }
    EXPECT_FALSE(fs::exists(root.dir() / "outside/new"));
    EXPECT_FALSE(fs::exists(root.dir() / "prefix/x"));
    EXPECT_TRUE(platform.createFolder(p + "/x/../drive_c/Temp/new")) << platform.fileError();
    EXPECT_TRUE(fs::is_directory(drive() / "Temp/new"));
}

TEST_F(WineFilesTest, DeletesFilesTreesAndWildcardMatches) {
    EXPECT_TRUE(platform.shellDelete("C:\\temp\\*.log"));
    EXPECT_FALSE(fs::exists(drive() / "Temp/a.log"));
    EXPECT_FALSE(fs::exists(drive() / "Temp/b.LOG"));
    EXPECT_TRUE(fs::exists(drive() / "Temp/keep.txt"));
    EXPECT_TRUE(fs::exists(drive() / "Temp/sub/x.log")); // matches are not searched below

    EXPECT_TRUE(platform.shellDelete("C:\\TEMP\\SUB"));
    EXPECT_FALSE(fs::exists(drive() / "Temp/sub"));
    EXPECT_TRUE(platform.shellDelete("c:\\temp\\keep.txt"));
    EXPECT_FALSE(fs::exists(drive() / "Temp/keep.txt"));

    EXPECT_FALSE(platform.shellDelete("C:\\Temp\\missing.txt"));
    EXPECT_FALSE(platform.shellDelete("C:\\Temp\\*.none"));
    EXPECT_FALSE(platform.shellDelete("\\\\server\\share"));
}

TEST_F(WineFilesTest, DeletionNeverFollowsALinkOutOfTheTree) {
    EXPECT_TRUE(platform.shellDelete("C:\\users\\tester\\Documents"));
    EXPECT_FALSE(fs::exists(drive() / "users/tester/Documents"));
    EXPECT_EQ(ReadFile(root.dir() / "outside/precious.txt"), "mine");

    fs::create_directory_symlink(root.dir() / "outside", drive() / "users/tester/Desktop");
    EXPECT_TRUE(platform.shellDelete("C:\\users"));
    EXPECT_FALSE(fs::exists(drive() / "users"));
    EXPECT_EQ(ReadFile(root.dir() / "outside/precious.txt"), "mine");
}

TEST_F(WineFilesTest, RootsAndThePrefixAreNeverDeleted) {
    for (const char* path : {"C:\\", "C:", "D:\\", "D:\\..", "E:\\prefix", "E:\\PREFIX\\..\\prefix",
                             "e:\\", "C:\\..\\..", "/"})
        EXPECT_FALSE(platform.shellDelete(path)) << path;
    EXPECT_TRUE(fs::exists(drive() / "AUTOEXEC.BAT"));
    EXPECT_TRUE(fs::exists(root.dir() / "prefix/other"));
    EXPECT_TRUE(fs::exists(root.dir() / "outside/precious.txt"));
}

// Where a path really is, walked as the kernel walks it: links followed, ".." taken
// against the real folder reached so far, a missing folder taken as written (and left
// again by a ".." after it).
TEST_F(WineFilesTest, TheRealLocationIsWhereTheKernelGoes) {
    const fs::path p = root.dir() / "prefix";
    const fs::path out = root.dir() / "outside";
    fs::create_directory_symlink(out, drive() / "evil");
    fs::create_directory_symlink("../../../outside", drive() / "Temp/up");
    fs::create_symlink("loop2", drive() / "loop1");
    fs::create_symlink("loop1", drive() / "loop2");
    fs::create_symlink(out / "precious.txt", drive() / "file-link");
    const fs::path real = fs::canonical(p);
    struct Case {
        fs::path path;
        bool entryItself;
        fs::path expected;
    };
    const Case cases[] = {
        {p / "x/../drive_c/evil/pwned.ini", false, out / "pwned.ini"},
        {p / "x/y/../../drive_c/evil", false, out},
        {p / "drive_c/evil/../Temp", false, root.dir() / "Temp"},
        {p / "drive_c/Temp/up/../prefix", false, real},
        {p / "dosdevices/c:/new/../../drive_c/Temp", false, real / "drive_c/Temp"},
        {p / "drive_c/new/sub/file.txt", false, real / "drive_c/new/sub/file.txt"},
        {p / "drive_c/evil", true, real / "drive_c/evil"},
        {p / "drive_c/evil/", true, out},
        {p / "drive_c/file-link", true, real / "drive_c/file-link"},
        {p / "drive_c/file-link", false, out / "precious.txt"},
        {p / "drive_c/loop1/x", false, {}},
        {"/..", false, "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RealLocation(c.path, c.entryItself), c.expected) << c.path;
}

// A folder is held while a change is made in it: a link swapped in for a folder on
// the way stops the change, and a folder held before the swap keeps the change.
TEST_F(WineFilesTest, ALinkSwappedInAfterTheCheckIsNotFollowed) {
    const fs::path out = root.dir() / "outside";
    const auto outsideBefore = ReadFile(out / "precious.txt");
    const fs::path real = RealLocation(drive() / "Temp/sub", false);
    FolderError error;
    const HeldFolder held = OpenRealFolder(real, false, error);
    ASSERT_TRUE(held) << error.text;
    // The folder is moved away and a link to the outside takes its place.
    fs::rename(drive() / "Temp/sub", drive() / "Temp/moved");
    fs::create_directory_symlink(out, drive() / "Temp/sub");
    EXPECT_TRUE(held.writeFile("new.txt", drive() / "Temp/a.log", error)) << error.text;
    EXPECT_EQ(ReadFile(drive() / "Temp/moved/new.txt"), "Temp/a.log");
    // Opened again, the same path is refused.
    EXPECT_FALSE(OpenRealFolder(real / "deeper", true, error));
    EXPECT_TRUE(error.linkInTheWay) << error.text;
    EXPECT_FALSE(OpenRealFolder(real, false, error));
    EXPECT_FALSE(fs::exists(out / "new.txt"));
    EXPECT_FALSE(fs::exists(out / "deeper"));
    EXPECT_EQ(ReadFile(out / "precious.txt"), outsideBefore);
}

// A folder copied onto an existing one is merged into it: each file it holds is
// written in its place, files the copy does not name stay; a file where a folder goes,
// or a folder where a file goes, fails that part. copyTargets names each entry the
// copy writes, and only those.
TEST_F(WineFilesTest, AFolderCopiedOntoAFolderIsMergedIntoIt) {
    const fs::path src = drive() / "src/dir";
    const fs::path dst = drive() / "dst/dir";
    for (const fs::path& dir :
         {src / "sub", src / "newsub", src / "clash-file", dst / "sub", dst / "clash-folder"})
        fs::create_directories(dir);
    for (const char* file : {"same.txt", "new.txt", "sub/deep.txt", "newsub/n.txt",
                             "clash-file/x.txt", "clash-folder"})
        WriteFile(src / file, std::string("new ") + file);
    fs::create_symlink("same.txt", src / "link");
    for (const char* file : {"same.txt", "untouched.txt", "sub/deep.txt", "sub/kept.txt",
                             "clash-file", "clash-folder/y.txt"})
        WriteFile(dst / file, std::string("old ") + file);

    std::vector<std::string> targets = platform.copyTargets("C:\\src\\dir", "C:\\dst");
    std::sort(targets.begin(), targets.end());
    const fs::path c = this->c() / "dst/dir";
    EXPECT_EQ(targets, (std::vector<std::string>{c / "link", c / "new.txt", c / "newsub",
                                                 c / "same.txt", c / "sub/deep.txt"}));

    EXPECT_FALSE(platform.shellCopy("C:\\src\\dir", "C:\\dst"));
    EXPECT_NE(platform.fileError().find("is in the way"), std::string::npos)
        << platform.fileError();
    const std::pair<std::string_view, std::string_view> contents[] = {
        {"same.txt", "new same.txt"},           {"new.txt", "new new.txt"},
        {"sub/deep.txt", "new sub/deep.txt"},   {"newsub/n.txt", "new newsub/n.txt"},
        {"untouched.txt", "old untouched.txt"}, {"sub/kept.txt", "old sub/kept.txt"},
        {"clash-file", "old clash-file"},       {"clash-folder/y.txt", "old clash-folder/y.txt"},
    };
    for (const auto& [file, content] : contents)
        EXPECT_EQ(ReadFile(dst / file), content) << file;
    EXPECT_EQ(fs::read_symlink(dst / "link"), "same.txt");
}

TEST_F(WineFilesTest, CopiesAsTheShellDoes) {
    // Onto an existing file: replaced.
    EXPECT_TRUE(platform.shellCopy("C:\\Temp\\a.log", "C:\\Temp\\keep.txt"));
    EXPECT_EQ(ReadFile(drive() / "Temp/keep.txt"), "Temp/a.log");
    // Into an existing folder.
    EXPECT_TRUE(platform.shellCopy("C:\\Temp\\a.log", "C:\\Windows"));
    EXPECT_EQ(ReadFile(drive() / "Windows/a.log"), "Temp/a.log");
    // A missing destination becomes the copy.
    EXPECT_TRUE(platform.shellCopy("c:\\windows\\fonts\\simsun.ttc", "C:\\Temp\\font.bak"));
    EXPECT_EQ(ReadFile(drive() / "Temp/font.bak"), "Windows/Fonts/SimSun.ttc");
    // A folder with everything in it, to a new name and into a folder.
    EXPECT_TRUE(platform.shellCopy("C:\\Temp", "C:\\Backup"));
    EXPECT_EQ(ReadFile(drive() / "Backup/sub/x.log"), "Temp/sub/x.log");
    EXPECT_TRUE(platform.shellCopy("C:\\Temp\\sub", "C:\\Windows"));
    EXPECT_EQ(ReadFile(drive() / "Windows/sub/x.log"), "Temp/sub/x.log");
    // Every wildcard match into the destination folder, made when missing.
    EXPECT_TRUE(platform.shellCopy("C:\\Temp\\*.log", "C:\\Logs"));
    EXPECT_EQ(ReadFile(drive() / "Logs/a.log"), "Temp/a.log");
    EXPECT_EQ(ReadFile(drive() / "Logs/b.LOG"), "Temp/b.LOG");
    EXPECT_FALSE(fs::exists(drive() / "Logs/keep.txt"));
    // Links inside a copied tree stay links.
    EXPECT_TRUE(platform.shellCopy("C:\\users", "C:\\users2"));
    EXPECT_TRUE(fs::is_symlink(drive() / "users2/tester/Documents"));

    EXPECT_FALSE(platform.shellCopy("C:\\Temp\\missing.txt", "C:\\x"));
    EXPECT_FALSE(platform.shellCopy("C:\\Temp\\*.none", "C:\\x"));
    EXPECT_FALSE(platform.shellCopy("C:\\Temp", "C:\\Temp\\sub")); // into itself
    EXPECT_FALSE(platform.shellCopy("C:\\Temp\\a.log", "C:\\Temp\\a.log"));
    EXPECT_FALSE(platform.shellCopy("C:\\Temp", "C:\\Temp\\keep.txt")); // a folder onto a file
    EXPECT_EQ(ReadFile(drive() / "Temp/a.log"), "Temp/a.log");
    // No temporary file is left behind.
    for (const auto& entry : fs::recursive_directory_iterator(drive()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
}

} // namespace
} // namespace corvane::wine
