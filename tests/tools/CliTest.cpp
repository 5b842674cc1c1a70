#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/wine/WineServer.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// Runs corvane-cli with `args`; its output is small, so reading one pipe after the
// other cannot block.
Result RunCli(std::vector<std::string> args, const char* winePrefix = nullptr) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
    args.insert(args.begin(), CORVANE_CLI);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]), ::close(err[0]), ::close(out[1]), ::close(err[1]);
        if (winePrefix) ::setenv("WINEPREFIX", winePrefix, 1);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]), ::close(err[1]);
    Result r;
    r.out = Drain(out[0]);
    r.err = Drain(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.writeSystem("\n[Software\\\\Test] 1\n\"Name\"=\"\\x4e2d\\x6587\"\n"
                           "\"Dw\"=dword:ffffffff\n\n[Software\\\\Test\\\\Sub\\\\Deeper] 1\n");
    }
    Result reg(std::vector<std::string> args) {
        args.insert(args.begin(), {"reg", "--prefix", prefix.dir().string()});
        return RunCli(args);
    }
    TempPrefix prefix;
};

TEST_F(CliTest, PrintsResultsAndExitsByThem) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
    };
    const Case cases[] = {
        {{"key-exists", "HKLM", "Software", "test"}, 0, "true\n"},
        {{"key-exists", "HKLM", "Software", "Nothing"}, 1, "false\n"},
        {{"value-exists", "HKLM", "Software\\Test", "Dw", "REG_DWORD"}, 0, "true\n"},
        {{"value-exists", "HKLM", "Software\\Test", "Dw", "REG_SZ"}, 1, "false\n"},
        {{"read", "HKLM", "Software\\Test", "Name", "REG_SZ"}, 0, "中文\n"},
        {{"read", "HKLM", "Software\\Test", "Dw", "REG_DWORD"}, 0, "-1\n"},
        {{"read", "HKLM", "Software\\Test", "Missing", "REG_DWORD"}, 1, ""},
        {{"set", "HKLM", "Software\\Test", "New", "REG_DWORD", "$10"}, 0, "true\n"},
        {{"read", "HKLM", "Software\\Test", "New", "REG_DWORD"}, 0, "16\n"},
        {{"set", "HKLM", "Software\\Test", "Bad", "REG_DWORD", "x"}, 1, "false\n"},
        {{"delete-value", "HKLM", "Software\\Test", "New"}, 0, "true\n"},
        {{"delete-value", "HKLM", "Software\\Test", "New"}, 1, "false\n"},
        {{"delete-key", "HKLM", "Software\\Test", "Sub"}, 0, "true\n"},
        {{"key-exists", "HKLM", "Software\\Test", "Sub"}, 1, "false\n"},
    };
    for (const Case& c : cases) {
        const Result r = reg(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[2] << " " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0] << " " << c.args[2];
    }
}

TEST_F(CliTest, UsageErrorsExitTwoWithOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"reg"},
        {"reg", "--prefix"},
        {"reg", "frobnicate", "HKLM", "a", "b"},
        {"reg", "read", "HKLM", "a", "b"},
        {"reg", "--bogus", "read", "HKLM", "a", "b", "REG_SZ"},
        {"nosuchcommand"},
    };
    for (const auto& args : cases) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.code, 2) << args.back();
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(r.err.empty());
    }
}

TEST_F(CliTest, UsesWineprefixAndRefusesWritesWhileWineRuns) {
    const Result viaEnv =
        RunCli({"reg", "read", "HKLM", "Software\\Test", "Dw", "REG_DWORD"}, prefix.dir().c_str());
    EXPECT_EQ(viaEnv.code, 0);
    EXPECT_EQ(viaEnv.out, "-1\n");

    // This process holds the server's lock as a running wineserver would.
    const auto dir = wine::WineServerDir(prefix.dir());
    std::filesystem::create_directories(dir);
    const int fd = ::open((dir / "lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
    const std::string before = prefix.read("system.reg");
    const Result refused = reg({"set", "HKLM", "Software\\Test", "Dw", "REG_DWORD", "1"});
    const Result read = reg({"read", "HKLM", "Software\\Test", "Dw", "REG_DWORD"});
    ::close(fd);
    std::filesystem::remove_all(dir);

    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("Wine is running"), std::string::npos) << refused.err;
    EXPECT_EQ(prefix.read("system.reg"), before);
    EXPECT_EQ(read.code, 0);
    EXPECT_EQ(read.out, "-1\n");
}

TEST_F(CliTest, PathShowsWhatARulePathMeans) {
    prefix.writeUser("\n[Environment] 1\n\"TOOLS\"=\"C:\\\\Tools\"\n");
    std::filesystem::create_directories(prefix.dir() / "drive_c/Tools");
    std::filesystem::create_directories(prefix.dir() / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix.dir() / "dosdevices/c:");
    test::WriteFile(prefix.dir() / "drive_c/Tools/App.exe", "");
    const std::string dir = prefix.dir().string();
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
    };
    const Case cases[] = {
        {{"expand", "%tools%\\app.exe"}, 0, "C:\\Tools\\app.exe\n"},
        {{"resolve", "c:\\tools\\APP.EXE"}, 0, dir + "/dosdevices/c:/Tools/App.exe\n"},
        {{"resolve", "\\\\server\\share"}, 1, ""},
        {{"exists", "C:\\Tools\\*.exe", "file"}, 0, "true\n"},
        {{"exists", "C:\\Tools", "file"}, 1, "false\n"},
        {{"exists", "C:\\Tools", "folder"}, 0, "true\n"},
        {{"exists", "C:\\Tools", "link"}, 2, ""},
        {{"expand"}, 2, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"path", "--prefix", dir};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunCli(args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
    // <app> is the folder corvane-cli runs from.
    const Result app = RunCli({"path", "--prefix", dir, "expand", "<app>Setting.ini"});
    EXPECT_EQ(app.out,
              std::filesystem::path(CORVANE_CLI).parent_path().string() + "/Setting.ini\n");
}

} // namespace
} // namespace corvane
