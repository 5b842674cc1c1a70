#include <gtest/gtest.h>

#include "core/engine/UnitClean.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

TEST(UnitClean, CopyMakesTheDestinationsFolderAndDeleteTakesItAway) {
    TempPrefix prefix;
    fs::create_directories(prefix.dir() / "drive_c/src");
    fs::create_directories(prefix.dir() / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix.dir() / "dosdevices/c:");
    WriteFile(prefix.dir() / "drive_c/src/rule.dat", "data");
    wine::WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
    PlatformScope scope(platform);

    EXPECT_TRUE(CopyPath("C:\\src\\rule.dat", "C:\\Backup\\rule.dat"));
    EXPECT_EQ(ReadFile(prefix.dir() / "drive_c/Backup/rule.dat"), "data");
    EXPECT_TRUE(CopyPath("C:\\src\\rule.dat", "C:\\Backup\\rule.dat")); // replaced silently
    EXPECT_TRUE(CopyPath("C:\\src", "C:\\Deep\\Er\\src"));
    EXPECT_EQ(ReadFile(prefix.dir() / "drive_c/Deep/Er/src/rule.dat"), "data");
    EXPECT_FALSE(CopyPath("C:\\src\\none.dat", "C:\\Other\\none.dat"));
    EXPECT_TRUE(fs::is_directory(prefix.dir() / "drive_c/Other")); // made before the copy

    EXPECT_TRUE(DeletePath("C:\\Backup"));
    EXPECT_FALSE(fs::exists(prefix.dir() / "drive_c/Backup"));
    EXPECT_FALSE(DeletePath("C:\\Backup"));
}

} // namespace
} // namespace corvane
