#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/platform/Utf.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/platform/wine/WineServer.h"
#include "support/FakeWineServer.h"
#include "support/TempPrefix.h"

namespace corvane::wine {
namespace {

using test::TempPrefix;

// "\Registry\Machine\System\ControlSet001" as Wine stores a link target.
std::string LinkValue(std::u16string_view target) {
    std::string out = "\"SymbolicLinkValue\"=hex(6):";
    for (std::size_t i = 0; i < target.size(); ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s%02x,%02x", i ? "," : "", unsigned(target[i] & 0xff),
                      unsigned(target[i] >> 8));
        out += buf;
    }
    return out + "\n";
}

std::string LinkSection(std::string_view key, std::u16string_view target) {
    return "\n[" + std::string(key) + "] 1\n#link\n" + LinkValue(target);
}

class WineRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.writeSystem(
            "\n[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n"
            "\n[System\\\\ControlSet001\\\\Hardware Profiles\\\\Current\\\\Software] 1\n"
            "\"Config\"=\"current\"\n" +
            LinkSection("System\\\\CurrentControlSet",
                        u"\\Registry\\Machine\\System\\ControlSet001"));
        prefix.writeUser("\n[Environment] 1\n\"TEMP\"=str(2):\"%USERPROFILE%\\\\Temp\"\n",
                         "S-1-5-21-1-2-3-1000");
        prefix.writeUserDefault("\n[Control Panel\\\\Desktop] 1\n\"Wallpaper\"=\"\"\n");
    }

    // The text of a REG_SZ or REG_EXPAND_SZ value, or "<status>" when it cannot be read.
    std::string read(RegKey root, std::string_view path, std::string_view name) {
        RegKey key = 0;
        RegStatus s = platform.regOpenKey(root, path, KeyAccess::Read, key);
        if (s != RegStatus::Ok) return "<" + std::to_string(int(s)) + ">";
        std::uint8_t data[512];
        std::uint32_t type = 0, size = 0;
        s = platform.regQueryValue(key, name, type, data, size);
        (void)platform.regCloseKey(key);
        if (s != RegStatus::Ok) return "<" + std::to_string(int(s)) + ">";
        std::u16string text = Utf16FromBytes(std::span(data, size));
        if (!text.empty() && text.back() == 0) text.pop_back();
        return Utf16ToUtf8(text);
    }

    RegStatus set(RegKey root, std::string_view path, std::string_view name,
                  std::u16string_view v) {
        RegKey key = 0;
        RegStatus s = platform.regOpenKey(root, path, KeyAccess::AllAccess, key);
        if (s != RegStatus::Ok) return s;
        const auto bytes = Utf16ToBytes(v);
        s = platform.regSetValue(key, name, RegType::Sz, bytes);
        (void)platform.regCloseKey(key);
        return s;
    }

    TempPrefix prefix;
    TempPrefix tmpRoot; // where a test's wineserver keeps its folder
    WinePlatform platform{prefix.dir(), test::Options(tmpRoot.dir())};
};

TEST_F(WineRegistryTest, RootsMapOntoThePrefixFiles) {
    struct Case {
        RegKey root;
        std::string_view path, name, expected;
    };
    const Case cases[] = {
        {RootKey::LocalMachine, "Software\\Classes\\.txt", "", "txtfile"},
        {RootKey::ClassesRoot, ".TXT", "", "txtfile"},
        {RootKey::CurrentConfig, "Software", "Config", "current"},
        {RootKey::LocalMachine, "System\\CurrentControlSet\\Hardware Profiles\\Current\\Software",
         "config", "current"},
        {RootKey::CurrentUser, "Environment", "TEMP", "%USERPROFILE%\\Temp"},
        {RootKey::Users, "S-1-5-21-1-2-3-1000\\Environment", "temp", "%USERPROFILE%\\Temp"},
        {RootKey::Users, ".DEFAULT\\Control Panel\\Desktop", "Wallpaper", ""},
        {RootKey::Users, "S-1-5-21-0-0-0-1000\\Environment", "TEMP", "<2>"},
        {RootKey::CurrentUser, "Control Panel\\Desktop", "Wallpaper", "<2>"},
        {RootKey::LocalMachine, "Software\\\\Classes\\.txt\\", "", "txtfile"},
        {RootKey::LocalMachine, "\\Software\\Classes\\.txt", "", "txtfile"},
        {RootKey::LocalMachine, "Software\\Classes\\.txt", "missing", "<2>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.root, c.path, c.name), c.expected) << c.path << " " << c.name;
}

TEST_F(WineRegistryTest, PathsFromAnOpenKeyAndFromItsRoot) {
    RegKey classes = 0;
    ASSERT_EQ(
        platform.regOpenKey(RootKey::LocalMachine, "Software\\Classes", KeyAccess::Read, classes),
        RegStatus::Ok);
    RegKey txt = 0;
    EXPECT_EQ(platform.regOpenKey(classes, ".txt", KeyAccess::Read, txt), RegStatus::Ok);
    (void)platform.regCloseKey(txt);
    // A leading backslash starts again at the root the key was opened from.
    EXPECT_EQ(platform.regOpenKey(classes, "\\Software", KeyAccess::Read, txt), RegStatus::Ok);
    (void)platform.regCloseKey(txt);
    EXPECT_EQ(platform.regOpenKey(classes, "Software", KeyAccess::Read, txt), RegStatus::NotFound);
    (void)platform.regCloseKey(classes);
    EXPECT_EQ(platform.regCloseKey(classes), RegStatus::InvalidHandle);
}

TEST_F(WineRegistryTest, EnumeratesSubkeysAndTheUserBranches) {
    std::uint32_t count = 0, maxLen = 0;
    ASSERT_EQ(platform.regQueryInfoKey(RootKey::Users, count, maxLen), RegStatus::Ok);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(maxLen, std::string_view("S-1-5-21-1-2-3-1000").size());
    std::string name;
    ASSERT_EQ(platform.regEnumKey(RootKey::Users, 0, name), RegStatus::Ok);
    EXPECT_EQ(name, ".Default");
    ASSERT_EQ(platform.regEnumKey(RootKey::Users, 1, name), RegStatus::Ok);
    EXPECT_EQ(name, "S-1-5-21-1-2-3-1000");
    EXPECT_EQ(platform.regEnumKey(RootKey::Users, 2, name), RegStatus::NoMoreItems);

    ASSERT_EQ(platform.regQueryInfoKey(RootKey::LocalMachine, count, maxLen), RegStatus::Ok);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(maxLen, 8u);
    ASSERT_EQ(platform.regEnumKey(RootKey::LocalMachine, 1, name), RegStatus::Ok);
    EXPECT_EQ(name, "System");
}

TEST_F(WineRegistryTest, LinksAreFollowedSixteenDeepAndCyclesEnd) {
    std::string body = "\n[Target] 1\n\"v\"=\"reached\"\n";
    // L0 -> L1 -> ... -> L15 -> Target: sixteen links.
    for (int i = 0; i < 16; ++i) {
        const std::string next = i == 15 ? "Target" : "L" + std::to_string(i + 1);
        body += LinkSection("L" + std::to_string(i), u"\\Registry\\Machine\\" + *Utf8ToUtf16(next));
    }
    body += LinkSection("TooDeep", u"\\Registry\\Machine\\L0");
    body += LinkSection("CycleA", u"\\Registry\\Machine\\CycleB");
    body += LinkSection("CycleB", u"\\Registry\\Machine\\CycleA");
    body += LinkSection("ToUser", u"\\Registry\\User\\S-1-5-21-1-2-3-1000\\Environment");
    body += LinkSection("ToOtherUser", u"\\Registry\\User\\S-1-5-21-9-9-9-1000");
    body += LinkSection("Dangling", u"\\Registry\\Machine\\Nowhere");
    prefix.writeSystem(body);
    EXPECT_EQ(read(RootKey::LocalMachine, "L0", "v"), "reached");
    EXPECT_EQ(read(RootKey::LocalMachine, "TooDeep", "v"), "<2>");
    EXPECT_EQ(read(RootKey::LocalMachine, "CycleA", "v"), "<2>");
    EXPECT_EQ(read(RootKey::LocalMachine, "ToUser", "TEMP"), "%USERPROFILE%\\Temp");
    EXPECT_EQ(read(RootKey::LocalMachine, "ToOtherUser", "x"), "<2>");
    EXPECT_EQ(read(RootKey::LocalMachine, "Dangling", "x"), "<2>");
}

TEST_F(WineRegistryTest, AnOpenKeyOutlivesARereadOfItsFile) {
    RegKey key = 0;
    ASSERT_EQ(platform.regOpenKey(RootKey::CurrentUser, "Environment", KeyAccess::AllAccess, key),
              RegStatus::Ok);
    prefix.writeUser("\n[Environment] 1\n\"TEMP\"=\"changed outside\"\n", "S-1-5-21-1-2-3-1000");
    std::uint8_t data[128];
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(platform.regQueryValue(key, "TEMP", type, data, size), RegStatus::Ok);
    EXPECT_EQ(Utf16ToUtf8(Utf16FromBytes(std::span(data, size - 2))), "changed outside");
    prefix.writeUser("\n[Other] 1\n", "S-1-5-21-1-2-3-1000");
    EXPECT_EQ(platform.regQueryValue(key, "TEMP", type, data, size), RegStatus::KeyDeleted);
    (void)platform.regCloseKey(key);
}

TEST_F(WineRegistryTest, QueryReportsSizeAndAsksForRoom) {
    RegKey key = 0;
    ASSERT_EQ(platform.regOpenKey(RootKey::CurrentUser, "Environment", KeyAccess::Read, key),
              RegStatus::Ok);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(platform.regQueryValue(key, "TEMP", type, {}, size), RegStatus::Ok);
    EXPECT_EQ(type, RegType::ExpandSz);
    EXPECT_EQ(size, (std::u16string_view(u"%USERPROFILE%\\Temp").size() + 1) * 2);
    std::uint8_t small[4];
    EXPECT_EQ(platform.regQueryValue(key, "TEMP", type, small, size), RegStatus::MoreData);
    EXPECT_EQ(size, 38u);
    // A key opened for reading only cannot be changed.
    const auto bytes = Utf16ToBytes(u"x");
    EXPECT_EQ(platform.regSetValue(key, "TEMP", RegType::Sz, bytes), RegStatus::AccessDenied);
    (void)platform.regCloseKey(key);
}

TEST_F(WineRegistryTest, KeysWithSubkeysAndRootsAreNotDeleted) {
    EXPECT_EQ(platform.regDeleteKey(RootKey::LocalMachine, "Software\\Classes"),
              RegStatus::AccessDenied);
    EXPECT_EQ(platform.regDeleteKey(RootKey::LocalMachine, ""), RegStatus::AccessDenied);
    EXPECT_EQ(platform.regDeleteKey(RootKey::Users, ".Default"), RegStatus::AccessDenied);
    EXPECT_EQ(platform.regDeleteKey(RootKey::LocalMachine, "Software\\Nothing"),
              RegStatus::NotFound);
    EXPECT_EQ(platform.regDeleteKey(RootKey::ClassesRoot, ".txt"), RegStatus::Ok);
    EXPECT_EQ(read(RootKey::LocalMachine, "Software\\Classes\\.txt", ""), "<2>");
    EXPECT_NE(prefix.read("system.reg").find("\n[Software\\\\Classes] "), std::string::npos);
}

// A lock on the server's "lock" file as a running wineserver holds it. An open file
// description lock conflicts with the store's test even inside one process.
class ServerLock {
public:
    explicit ServerLock(const std::filesystem::path& dir) {
        std::filesystem::create_directories(dir);
        fd_ = ::open((dir / "lock").c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        locked_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
    }
    ~ServerLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

TEST_F(WineRegistryTest, NothingIsWrittenWhileWineRuns) {
    const std::string before = prefix.read("user.reg");
    // The server's lock file exists but nobody holds it: Wine is not running.
    std::filesystem::create_directories(WineServerDir(prefix.dir(), tmpRoot.dir()));
    test::WriteFile(WineServerDir(prefix.dir(), tmpRoot.dir()) / "lock", "");
    EXPECT_EQ(platform.regWriteState(), RegWriteState::Writable);
    {
        ServerLock lock(WineServerDir(prefix.dir(), tmpRoot.dir()));
        ASSERT_TRUE(lock.locked());
        EXPECT_EQ(platform.regWriteState(), RegWriteState::ServerRunning);
        EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::LockViolation);
        RegKey key = 0;
        ASSERT_EQ(
            platform.regOpenKey(RootKey::CurrentUser, "Environment", KeyAccess::AllAccess, key),
            RegStatus::Ok);
        EXPECT_EQ(platform.regDeleteValue(key, "TEMP"), RegStatus::LockViolation);
        (void)platform.regCloseKey(key);
        EXPECT_EQ(platform.regDeleteKey(RootKey::CurrentUser, "Environment"),
                  RegStatus::LockViolation);
        EXPECT_EQ(read(RootKey::CurrentUser, "Environment", "TEMP"), "%USERPROFILE%\\Temp");
        EXPECT_EQ(prefix.read("user.reg"), before);
    }
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::Ok);
}

// A file Wine would not read (it refuses one that starts with a byte-order mark) or
// that cannot be read is an error naming it, never an empty branch, and is never
// written; the other files are read as ever.
TEST_F(WineRegistryTest, UnreadableFilesAreErrorsThatNameThem) {
    const std::string text = "\xEF\xBB\xBF" + prefix.read("user.reg");
    const std::filesystem::path user = prefix.file("user.reg");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { prefix.write("user.reg", text); },
         user.string() + " is not a Wine registry file: its first line is not \"WINE REGISTRY "
                         "Version 2\" (it starts with a byte-order mark)"},
        {[&] {
             std::filesystem::remove(user);
             std::filesystem::create_directory(user);
         },
         "cannot read " + user.string() + ": it is not a regular file"},
    };
    for (const auto& [damage, message] : cases) {
        damage();
        EXPECT_EQ(read(RootKey::CurrentUser, "Environment", "TEMP"), "<1009>");
        EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::Unreadable);
        EXPECT_EQ(set(RootKey::Users, "S-1-5-21-1-2-3-1000\\Environment", "X", u"1"),
                  RegStatus::Unreadable);
        EXPECT_EQ(platform.registryError(), message);
        EXPECT_EQ(platform.machineError(), message);
        EXPECT_EQ(read(RootKey::LocalMachine, "Software\\Classes\\.txt", ""), "txtfile");
    }
    EXPECT_TRUE(std::filesystem::is_directory(user));
    std::filesystem::remove(user);
    prefix.write("user.reg", text);
    EXPECT_EQ(set(RootKey::CurrentUser, "", "X", u"1"), RegStatus::Unreadable);
    EXPECT_EQ(prefix.read("user.reg"), text);
}

// A change holds Wine's own lock from its check to the end of its save: the server's
// folder and lock file are made as wineserver makes them, and while the lock is held
// another process (a starting wineserver) cannot take it.
TEST_F(WineRegistryTest, ChangesHoldWinesLock) {
    const auto dir = WineServerDir(prefix.dir(), tmpRoot.dir());
    ASSERT_FALSE(std::filesystem::exists(dir));
    {
        WineServerLock lock(prefix.dir(), tmpRoot.dir());
        ASSERT_EQ(lock.result(), WineServerLock::Result::Locked);
        for (const auto& made : {dir.parent_path(), dir})
            EXPECT_EQ(std::filesystem::status(made).permissions(),
                      std::filesystem::perms::owner_all);
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open((dir / "lock").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_len = 1;
            ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == -1 && errno == EAGAIN ? 2 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 2) << "a wineserver would have started";
    }
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::Ok);
    EXPECT_EQ(platform.registryError(), "");
    ServerLock server(dir);
    ASSERT_TRUE(server.locked()) << "the change let the lock go";
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"2"), RegStatus::LockViolation);
    EXPECT_NE(platform.registryError().find("Wine is running for " + prefix.dir().string()),
              std::string::npos);

    // No lock, no change.
    TempPrefix other;
    other.writeUser("\n[Environment] 1\n");
    test::WriteFile(tmpRoot.dir() / "file", "");
    WinePlatform blocked(other.dir(), test::Options(tmpRoot.dir() / "file"));
    EXPECT_EQ(blocked.regSetValue(RootKey::CurrentUser, "X", RegType::Sz, Utf16ToBytes(u"1")),
              RegStatus::WriteFault);
    EXPECT_NE(blocked.registryError().find((tmpRoot.dir() / "file").string()), std::string::npos)
        << blocked.registryError();
    EXPECT_EQ(other.read("user.reg").find("\"X\""), std::string::npos);
}

// Whether another process (a starting wineserver) can take the lock in `dir` now. A
// child asks: closing a descriptor of the lock file here would let this process's
// locks go.
bool FreeForAnotherProcess(const std::filesystem::path& dir) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open((dir / "lock").c_str(), O_CREAT | O_WRONLY, 0600);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_len = 1;
        ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A hold keeps Wine's lock from its first change to its end, and asking whether the
// registry may be written does not let it go; before each save it checks that no
// wineserver runs in another place, and a change that fails lets the lock go.
TEST_F(WineRegistryTest, AHoldKeepsWinesLockAndChecksItBeforeEachSave) {
    const auto dir = WineServerDir(prefix.dir(), tmpRoot.dir());
    const auto elsewhere = tmpRoot.dir() / (".wine-" + std::to_string(::getuid())) / dir.filename();
    platform.beginHold();
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::Ok);
    EXPECT_EQ(platform.regWriteState(), RegWriteState::Writable);
    EXPECT_FALSE(FreeForAnotherProcess(dir)) << "the hold, or asking, let the lock go";
    for (const bool batch : {false, true}) {
        if (batch) {
            platform.beginBatch();
            EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"2"), RegStatus::Ok);
        }
        const std::string before = prefix.read("user.reg");
        {
            test::FakeWineServer wine(test::FakeWineServer::At{elsewhere});
            if (batch)
                EXPECT_FALSE(platform.endBatch());
            else
                EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"2"),
                          RegStatus::LockViolation);
            EXPECT_NE(platform.registryError().find("Wine is running for"), std::string::npos)
                << platform.registryError();
            EXPECT_EQ(prefix.read("user.reg"), before) << batch;
            EXPECT_TRUE(FreeForAnotherProcess(dir)) << "a failed change kept the lock";
        }
        EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"3"), RegStatus::Ok);
        EXPECT_FALSE(FreeForAnotherProcess(dir));
    }
    platform.endHold();
    EXPECT_TRUE(FreeForAnotherProcess(dir)) << "the hold kept the lock after its end";
    EXPECT_EQ(read(RootKey::CurrentUser, "Environment", "X"), "3");
    EXPECT_NE(prefix.read("user.reg").find("\"X\"=\"3\""), std::string::npos);
}

// A batch inside another that is cancelled drops its own changes only: what the outer
// batch changed before it, in the same file or another, is written when that one ends,
// and a file the inner batch alone changed is left as it is on disk.
TEST_F(WineRegistryTest, AnInnerBatchCancelledDropsOnlyItsOwnChanges) {
    const std::string userDefault = prefix.read("userdef.reg");
    platform.beginBatch();
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "A", u"outer"), RegStatus::Ok);
    platform.beginBatch();
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "B", u"inner"), RegStatus::Ok);
    EXPECT_EQ(set(RootKey::Users, ".Default\\Control Panel\\Desktop", "Wallpaper", u"x"),
              RegStatus::Ok);
    platform.cancelBatch();
    EXPECT_EQ(read(RootKey::CurrentUser, "Environment", "A"), "outer");
    EXPECT_EQ(read(RootKey::CurrentUser, "Environment", "B"), "<2>");
    EXPECT_EQ(read(RootKey::Users, ".Default\\Control Panel\\Desktop", "Wallpaper"), "");
    // A change after the cancelled batch joins the outer one.
    platform.beginBatch();
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "C", u"next"), RegStatus::Ok);
    EXPECT_TRUE(platform.endBatch());
    EXPECT_EQ(prefix.read("user.reg").find("\"A\""), std::string::npos) << "written too early";
    EXPECT_TRUE(platform.endBatch());
    const std::string user = prefix.read("user.reg");
    EXPECT_NE(user.find("\"A\"=\"outer\""), std::string::npos) << user;
    EXPECT_NE(user.find("\"C\"=\"next\""), std::string::npos) << user;
    EXPECT_EQ(user.find("\"B\""), std::string::npos) << user;
    EXPECT_EQ(prefix.read("userdef.reg"), userDefault);
}

// The temporary files of killed writes go at the next change: only ours, by their
// exact name, older than the change and not locked by a write still running.
TEST_F(WineRegistryTest, ChangesRemoveStaleTemporaryFiles) {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    const auto future = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
    const std::pair<std::string, bool> files[] = {
        {".user.reg.a1B2c3", true},  {".system.reg.Zz9Yy8", true}, {".user.reg.locked", false},
        {".user.reg.future", false}, {".user.reg.a1B2c", false},   {".user.reg.a1B2c3d", false},
        {"user.reg.a1B2c3", false},  {".other.reg.a1B2c3", false}, {".user.reg.a-B2c3", false},
    };
    for (const auto& [name, gone] : files) {
        prefix.write(name, "x");
        std::filesystem::last_write_time(prefix.file(name),
                                         name.ends_with("future") ? future : old);
    }
    const int held = ::open(prefix.file(".user.reg.locked").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(set(RootKey::LocalMachine, "Software\\Classes\\.txt", "X", u"1"), RegStatus::Ok);
    ::close(held);
    for (const auto& [name, gone] : files)
        EXPECT_EQ(std::filesystem::exists(prefix.file(name)), !gone) << name;
}

TEST_F(WineRegistryTest, DebiansWineserverFileNamesTheServerFolder) {
    // Without the user's runtime folder, Debian's Wine takes the folder the prefix's
    // "wineserver" file (mode 0400) names.
    std::filesystem::remove_all(tmpRoot.dir() / "run-user");
    prefix.write("wineserver", "wine-development\n");
    std::filesystem::permissions(prefix.file("wineserver"), std::filesystem::perms::owner_read);
    const auto dir = WineServerDir(prefix.dir(), tmpRoot.dir());
    EXPECT_EQ(dir.parent_path(), tmpRoot.dir() / "wine-development");
    ServerLock lock(dir);
    ASSERT_TRUE(lock.locked());
    EXPECT_EQ(platform.regWriteState(), RegWriteState::ServerRunning);
}

// A wineserver is seen in every folder where one may hold its lock, and a Corvane
// command holding the lock is told apart from it.
TEST_F(WineRegistryTest, LockHoldersAreSeenInEveryPlace) {
    const auto leaf = WineServerDir(prefix.dir(), tmpRoot.dir()).filename();
    const std::string uid = std::to_string(::getuid());
    // A name file of another mode than 0400 is replaced by Wine, but a server started
    // before may still use it.
    prefix.write("wineserver", "wine-named\n");
    const std::filesystem::path places[] = {
        tmpRoot.dir() / "run-user" / uid / "wine" / leaf,
        tmpRoot.dir() / ("wine-named") / leaf,
        tmpRoot.dir() / (".wine-" + uid) / leaf,
    };
    for (const auto& place : places) {
        for (const bool corvane : {false, true}) {
            {
                test::FakeWineServer holder({place, corvane});
                EXPECT_EQ(platform.regWriteState(),
                          corvane ? RegWriteState::OtherWriter : RegWriteState::ServerRunning)
                    << place;
                EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"),
                          RegStatus::LockViolation)
                    << place;
                EXPECT_NE(platform.registryError().find(
                              corvane ? "another Corvane command is changing this prefix"
                                      : "Wine is running for"),
                          std::string::npos)
                    << platform.registryError();
            }
            EXPECT_EQ(platform.regWriteState(), RegWriteState::Writable) << place;
        }
    }
    EXPECT_EQ(set(RootKey::CurrentUser, "Environment", "X", u"1"), RegStatus::Ok);
}

TEST(WineRegistryMissing, AMissingPrefixIsAnEmptyMachineThatIsNeverCreated) {
    TempPrefix parent;
    const auto missing = parent.dir() / "no-prefix";
    WinePlatform platform(missing, test::Options(parent.dir()));
    RegKey key = 0;
    EXPECT_EQ(platform.regOpenKey(RootKey::LocalMachine, "Software", KeyAccess::Read, key),
              RegStatus::NotFound);
    ASSERT_EQ(platform.regOpenKey(RootKey::LocalMachine, "", KeyAccess::AllAccess, key),
              RegStatus::Ok);
    const auto bytes = Utf16ToBytes(u"x");
    EXPECT_EQ(platform.regSetValue(key, "v", RegType::Sz, bytes), RegStatus::AccessDenied);
    (void)platform.regCloseKey(key);
    EXPECT_EQ(platform.regWriteState(), RegWriteState::NoMachine);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(WineRegistryMissing, MissingOrForeignFilesAreNotWritten) {
    TempPrefix prefix;
    prefix.write("system.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n");
    WinePlatform platform(prefix.dir(), test::Options(prefix.dir()));
    const auto bytes = Utf16ToBytes(u"x");
    EXPECT_EQ(platform.regSetValue(RootKey::LocalMachine, "v", RegType::Sz, bytes),
              RegStatus::Unreadable);
    EXPECT_EQ(platform.regSetValue(RootKey::CurrentUser, "v", RegType::Sz, bytes),
              RegStatus::AccessDenied);
    EXPECT_EQ(prefix.read("system.reg"), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n");
    EXPECT_FALSE(std::filesystem::exists(prefix.file("user.reg")));
}

// HKEY_CLASSES_ROOT is the user's classes over the machine's.
class ClassesRootTest : public WineRegistryTest {
protected:
    void SetUp() override {
        prefix.writeSystem("\n[Software\\\\Classes\\\\.a] 1\n@=\"machineA\"\n\"M\"=\"m\"\n"
                           "\n[Software\\\\Classes\\\\.b] 1\n@=\"machineB\"\n"
                           "\n[Software\\\\Classes\\\\exefile\\\\shell\\\\open\\\\command] 1\n"
                           "@=\"\\\"%1\\\" %*\"\n");
        prefix.writeUser("\n[Software\\\\Classes\\\\.a] 1\n@=\"userA\"\n\"U\"=\"u\"\n"
                         "\n[Software\\\\Classes\\\\.c] 1\n@=\"userC\"\n"
                         "\n[Software\\\\Classes\\\\exefile\\\\shell\\\\open\\\\command] 1\n"
                         "@=\"evil.exe\"\n",
                         "S-1-5-21-1-2-3-1000");
    }
    std::vector<std::string> subKeys(std::string_view path) {
        RegKey key = 0;
        std::vector<std::string> out;
        if (platform.regOpenKey(RootKey::ClassesRoot, path, KeyAccess::Read, key) != RegStatus::Ok)
            return out;
        std::string name;
        for (std::uint32_t i = 0; platform.regEnumKey(key, i, name) == RegStatus::Ok; ++i)
            out.push_back(name);
        (void)platform.regCloseKey(key);
        return out;
    }
    std::vector<std::string> valueNames(std::string_view path) {
        RegKey key = 0;
        std::vector<std::string> out;
        if (platform.regOpenKey(RootKey::ClassesRoot, path, KeyAccess::Read, key) != RegStatus::Ok)
            return out;
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        for (std::uint32_t i = 0; platform.regEnumValue(key, i, name, type, data) == RegStatus::Ok;
             ++i)
            out.push_back(name);
        (void)platform.regCloseKey(key);
        return out;
    }
};

TEST_F(ClassesRootTest, ReadsTheUsersKeyFirstAndListsTheUnion) {
    struct Case {
        std::string_view path, name, expected;
    };
    const Case cases[] = {
        {".a", "", "userA"},
        {".A", "M", "m"},
        {".a", "U", "u"},
        {".b", "", "machineB"},
        {".c", "", "userC"},
        {".d", "", "<2>"},
        {"exefile\\shell\\open\\command", "", "evil.exe"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(RootKey::ClassesRoot, c.path, c.name), c.expected) << c.path << c.name;
    EXPECT_EQ(subKeys(""), (std::vector<std::string>{".a", ".b", ".c", "exefile"}));
    EXPECT_EQ(valueNames(".a"), (std::vector<std::string>{"", "U", "M"}));
    std::uint32_t count = 0, maxLen = 0;
    ASSERT_EQ(platform.regQueryInfoKey(RootKey::ClassesRoot, count, maxLen), RegStatus::Ok);
    EXPECT_EQ(count, 4u);
}

TEST_F(ClassesRootTest, ChangesGoToTheUsersKeyWhereItExists) {
    struct Case {
        std::string_view path, name;
        RegKey landsIn; // the root whose Software\Classes takes the value
    };
    const Case cases[] = {
        {".a", "new", RootKey::CurrentUser},
        {".b", "new", RootKey::LocalMachine},
        {".c", "new", RootKey::CurrentUser},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set(RootKey::ClassesRoot, c.path, c.name, u"v"), RegStatus::Ok) << c.path;
        const RegKey other =
            c.landsIn == RootKey::CurrentUser ? RootKey::LocalMachine : RootKey::CurrentUser;
        const std::string full = "Software\\Classes\\" + std::string(c.path);
        EXPECT_EQ(read(c.landsIn, full, c.name), "v") << c.path;
        EXPECT_EQ(read(other, full, c.name).front(), '<') << c.path;
    }
    // A new key is the machine's.
    RegKey made = 0;
    ASSERT_EQ(platform.regCreateKey(RootKey::ClassesRoot, ".e\\sub", made), RegStatus::Ok);
    (void)platform.regCloseKey(made);
    EXPECT_EQ(read(RootKey::LocalMachine, "Software\\Classes\\.e\\sub", "x"), "<2>");
    EXPECT_EQ(read(RootKey::CurrentUser, "Software\\Classes\\.e", "x"), "<2>");
    EXPECT_EQ(set(RootKey::ClassesRoot, ".e\\sub", "x", u"w"), RegStatus::Ok);
    EXPECT_EQ(read(RootKey::LocalMachine, "Software\\Classes\\.e\\sub", "x"), "w");

    // Deleting takes the user's value or key and uncovers the machine's.
    RegKey key = 0;
    ASSERT_EQ(platform.regOpenKey(RootKey::ClassesRoot, "exefile\\shell\\open\\command",
                                  KeyAccess::AllAccess, key),
              RegStatus::Ok);
    EXPECT_EQ(platform.regDeleteValue(key, ""), RegStatus::Ok);
    (void)platform.regCloseKey(key);
    EXPECT_EQ(read(RootKey::ClassesRoot, "exefile\\shell\\open\\command", ""), "\"%1\" %*");
    EXPECT_EQ(read(RootKey::CurrentUser, "Software\\Classes\\exefile\\shell\\open\\command", ""),
              "<2>");
    EXPECT_EQ(platform.regDeleteKey(RootKey::ClassesRoot, ".a"), RegStatus::Ok);
    EXPECT_EQ(read(RootKey::ClassesRoot, ".a", ""), "machineA");
    EXPECT_EQ(platform.regDeleteKey(RootKey::ClassesRoot, ".a"), RegStatus::Ok);
    EXPECT_EQ(read(RootKey::ClassesRoot, ".a", ""), "<2>");
}

TEST_F(WineRegistryTest, LocalFoldersGetTheWindowsPathOfTheirDrive) {
    EXPECT_EQ(platform.windowsPathOf("/usr/bin/"), ""); // no drive yet
    const auto dev = prefix.dir() / "dosdevices";
    std::filesystem::create_directories(dev);
    std::filesystem::create_directories(prefix.dir() / "drive_c" / "Tools");
    std::filesystem::create_symlink("/", dev / "z:");
    std::filesystem::create_symlink("../drive_c", dev / "c:");
    struct Case {
        std::string linux, windows;
    };
    const Case cases[] = {
        {"/usr/bin/", "Z:\\usr\\bin\\"},
        {"/usr/bin", "Z:\\usr\\bin"},
        {(prefix.dir() / "drive_c" / "Tools").string() + "/", "C:\\Tools\\"},
        {(prefix.dir() / "drive_c").string(), "C:\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform.windowsPathOf(c.linux), c.windows) << c.linux;

    // Kept while the drives stay as they were; a drive pointed elsewhere is seen.
    const timespec anHourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dev.c_str(), anHourAgo, 0), 0);
    const std::string tools = (prefix.dir() / "drive_c" / "Tools").string();
    EXPECT_EQ(platform.windowsPathOf(tools), "C:\\Tools");
    std::filesystem::remove(dev / "c:");
    std::filesystem::create_symlink("../drive_c/Tools", dev / "c:");
    EXPECT_EQ(platform.windowsPathOf(tools), "C:\\");
}

} // namespace
} // namespace corvane::wine
