#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "core/engine/RuleDocument.h"
#include "core/platform/wine/WineServer.h"
#include "core/run/Journal.h"
#include "core/store/RulePack.h"
#include "support/DemoPrefix.h"
#include "support/FakeHome.h"
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
// other cannot block. With `home`, HOME is that folder and WINEPREFIX is `winePrefix`
// or unset, so the tool finds only the prefixes made there. With `timeout`, the tool
// is killed by SIGALRM after that many seconds (its code is then -1).
Result RunCli(std::vector<std::string> args, const char* winePrefix = nullptr,
              const char* home = nullptr, unsigned timeout = 0) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
    args.insert(args.begin(), CORVANE_CLI);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]), ::close(err[0]), ::close(out[1]), ::close(err[1]);
        if (winePrefix) ::setenv("WINEPREFIX", winePrefix, 1);
        if (home) {
            ::setenv("HOME", home, 1);
            ::unsetenv("XDG_DATA_HOME");
            if (!winePrefix) ::unsetenv("WINEPREFIX");
        }
        if (timeout > 0) ::alarm(timeout);
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
    void TearDown() override {
        // The server folder a write made for the prefix, as wineserver leaves it, and
        // the folder holding it when nothing else is left there.
        std::error_code ec;
        if (const auto dir = wine::WineServerDir(prefix.dir()); !dir.empty()) {
            std::filesystem::remove_all(dir, ec);
            std::filesystem::remove(dir.parent_path(), ec);
        }
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
        {{"set", "HKLM", "Software\\NoSuchKey", "V", "REG_SZ", "x"}, 1, "false\n"},
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

// What a read or a delete could not do is said on standard error: a value that is
// not there (an empty one still reads), a key too deep to delete.
TEST_F(CliTest, SaysWhyNothingWasReadOrDeleted) {
    std::string deep = "Software\\\\Test\\\\Deep";
    for (int i = 0; i < 513; ++i)
        deep += "\\\\k";
    prefix.writeSystem("\n[Software\\\\Test] 1\n\"Empty\"=\"\"\n\n[" + deep + "] 1\n");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, err;
    };
    const Case cases[] = {
        {{"read", "HKLM", "Software\\Test", "Empty", "REG_SZ"}, 0, "\n", ""},
        {{"read", "HKLM", "Software\\Test", "Missing", "REG_SZ"},
         1,
         "",
         "corvane-cli reg: no value Missing in HKLM\\Software\\Test\n"},
        {{"read", "HKLM", "Software\\None", "Empty", "REG_SZ"},
         1,
         "",
         "corvane-cli reg: no value Empty in HKLM\\Software\\None\n"},
        {{"delete-key", "HKLM", "Software\\Test", "Deep"},
         1,
         "false\n",
         "corvane-cli reg: HKLM\\Software\\Test\\Deep holds keys nested deeper than 512 "
         "levels; it is not deleted\n"},
    };
    for (const Case& c : cases) {
        const Result r = reg(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[3];
        EXPECT_EQ(r.out, c.out) << c.args[0] << " " << c.args[3];
        EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.args[3];
    }
}

// The explanation of a finding shows a value with the type it is stored with, not the
// rule's: item 34 compares the demo's REG_SZ open command as REG_EXPAND_SZ.
TEST(CliScanTest, ExplainShowsTheTypeAValueIsStoredWith) {
    TempPrefix root;
    const std::filesystem::path prefix = root.dir() / "prefix";
    test::CopyDemoPrefix(prefix);
    const std::string library = root.file("cvdb.db").string();
    ASSERT_EQ(RunCli({"rules", "import", test::kStarterPack, "--library", library}).code, 0);
    const Result r =
        RunCli({"scan", "--explain", "--prefix", prefix.string(), "--library", library});
    ASSERT_EQ(r.code, 1) << r.err;
    const std::string out = "\n" + r.out;
    const std::size_t item = out.find("\n34\t");
    ASSERT_NE(item, std::string::npos) << r.out;
    std::istringstream lines(out.substr(item + 1));
    std::string line, block;
    std::getline(lines, line); // the item's own line
    while (std::getline(lines, line) && line.starts_with("    "))
        block += line + "\n";
    EXPECT_NE(block.find("→ REG_SZ C:\\users\\Public\\svch0st.exe \"%1\""), std::string::npos)
        << block;
    EXPECT_EQ(block.find("REG_EXPAND_SZ"), std::string::npos) << block;
}

// A repair whose delete would reach outside the prefix (through Wine's z: drive) fails
// with the reason, though detection no longer finds the item; the file stays. Its
// preview shows the refusal and exits 1 too.
TEST_F(CliTest, ARepairRefusedOutsideThePrefixFailsWithItsReason) {
    namespace fs = std::filesystem;
    TempPrefix outside;
    outside.write("victim.txt", "mine");
    fs::create_directories(prefix.dir() / "dosdevices");
    fs::create_directories(prefix.dir() / "drive_c");
    fs::create_directory_symlink("/", prefix.dir() / "dosdevices/z:");
    std::string victim = "Z:" + (outside.dir() / "victim.txt").string();
    std::replace(victim.begin(), victim.end(), '/', '\\');
    RuleItem item;
    item.Name = "outside";
    item.OSId = "all-os";
    DetectionRows detection;
    detection.files.push_back({"C:\\never.txt", "0", "file"});
    RepairRows repair;
    repair.files.push_back({victim, "", "delete"});
    ASSERT_TRUE(WriteDetectionDocument(detection, item.OptText));
    ASSERT_TRUE(WriteRepairDocument(repair, item.RepairXML));
    const LibraryLocation library{(prefix.dir() / "cvdb.db").string()};
    RulePack pack;
    pack.items = {item};
    ImportNewRuleLibrary(library, pack);

    for (const bool json : {false, true}) {
        std::vector<std::string> args = {"repair",    "--prefix",   prefix.dir().string(),
                                         "--library", library.file, "1"};
        if (json) args.insert(args.begin() + 1, "--json");
        const Result r = RunCli(args);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_TRUE(r.err.starts_with("corvane-cli repair: 1: " + victim +
                                      ": refused, it lies outside the prefix"))
            << r.err;
        if (json) {
            const auto list = nlohmann::json::parse(r.out).at("items");
            EXPECT_EQ(list.at(0).at("result"), "修复失败");
            EXPECT_TRUE(list.at(0).at("reason").get<std::string>().starts_with(victim)) << r.out;
        } else {
            EXPECT_EQ(r.out, "1\toutside\t修复失败\n");
        }
        // The preview shows the same refusal, and exits as the repair does.
        args.insert(args.begin() + 1, "--dry-run");
        const Result preview = RunCli(args);
        EXPECT_EQ(preview.code, 1) << preview.err;
        const std::string refusal = "refused, it lies outside the prefix";
        if (json) {
            const auto action =
                nlohmann::json::parse(preview.out).at("items").at(0).at("actions").at(0);
            EXPECT_TRUE(action.at("refusal").get<std::string>().starts_with(refusal))
                << preview.out;
        } else {
            EXPECT_NE(preview.out.find("(4 bytes) → " + refusal), std::string::npos) << preview.out;
        }
    }
    EXPECT_EQ(outside.read("victim.txt"), "mine");
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

// A registry file Wine would not read stops reg and scan with exit 2 and its name; a
// write that is refused says why and exits 2 too.
TEST_F(CliTest, UnreadableRegistryAndRefusedWritesExitTwoWithTheReason) {
    prefix.write("user.reg", "\xEF\xBB\xBFWINE REGISTRY Version 2\n\n[Environment] 1\n");
    const std::string before = prefix.read("user.reg");
    const std::string named = prefix.file("user.reg").string() + " is not a Wine registry file";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", "HKLM", "Software\\Test", "Dw", "REG_DWORD"},
          std::vector<std::string>{"set", "HKCU", "Environment", "X", "REG_SZ", "1"}}) {
        const Result r = reg(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("corvane-cli reg: " + named)) << r.err;
    }
    EXPECT_EQ(prefix.read("user.reg"), before);

    const std::string library = prefix.file("cvdb.db").string();
    ASSERT_EQ(
        RunCli({"rules", "import", CORVANE_SOURCE_DIR "/rules/starter.xml", "--library", library})
            .code,
        0);
    const Result scan = RunCli({"scan", "--prefix", prefix.dir().string(), "--library", library});
    EXPECT_EQ(scan.code, 2);
    EXPECT_EQ(scan.out, "");
    EXPECT_TRUE(scan.err.starts_with("corvane-cli scan: " + named)) << scan.err;

    const std::string missing = prefix.file("none").string();
    const Result refused =
        RunCli({"reg", "--prefix", missing, "set", "HKLM", "", "X", "REG_SZ", "1"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("no Wine prefix at " + missing + "; nothing was written"),
              std::string::npos)
        << refused.err;
}

// A folder that is no Wine prefix is an error for a scan and a repair, previewed or
// not, never a clean prefix; so is a FIFO in a registry file's place, at once.
TEST_F(CliTest, NoPrefixAndAFifoForARegistryFileExitTwoWithTheReason) {
    namespace fs = std::filesystem;
    const std::string library = prefix.file("cvdb.db").string();
    ASSERT_EQ(RunCli({"rules", "import", test::kStarterPack, "--library", library}).code, 0);
    const fs::path missing = prefix.file("missing"), empty = prefix.file("empty"),
                   userOnly = prefix.file("user-only"), file = prefix.file("file");
    fs::create_directory(empty);
    fs::create_directories(userOnly / "drive_c");
    test::WriteFile(userOnly / "user.reg", "WINE REGISTRY Version 2\n");
    test::WriteFile(file, "");
    fs::create_directory(prefix.file("fifo"));
    test::WriteFile(prefix.file("fifo/system.reg"), "WINE REGISTRY Version 2\n");
    ASSERT_EQ(::mkfifo(prefix.file("fifo/user.reg").c_str(), 0600), 0);
    const std::pair<fs::path, std::string> places[] = {
        {missing,
         "no Wine prefix at " + missing.string() + ": " + missing.string() + " does not exist"},
        {empty, "no Wine prefix at " + empty.string() + ": " + (empty / "system.reg").string() +
                    " is missing"},
        {userOnly, "no Wine prefix at " + userOnly.string() + ": " +
                       (userOnly / "system.reg").string() + " is missing"},
        {file, "no Wine prefix at " + file.string() + ": " + file.string() + " is not a folder"},
        {prefix.file("fifo"),
         "cannot read " + prefix.file("fifo/user.reg").string() + ": it is not a regular file"},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"scan"},        {"scan", "--json"},           {"scan", "--explain"},
        {"repair", "1"}, {"repair", "--dry-run", "1"},
    };
    for (const auto& [place, reason] : places)
        for (std::vector<std::string> args : commands) {
            const std::string command = args[0];
            args.insert(args.begin() + 1, {"--prefix", place.string(), "--library", library});
            // A read that waits for a FIFO's writer would wait for ever.
            const Result r = RunCli(args, nullptr, nullptr, 120);
            EXPECT_EQ(r.code, 2) << place << " " << args.back();
            EXPECT_EQ(r.out, "") << place << " " << args.back();
            EXPECT_EQ(r.err, "corvane-cli " + command + ": " + reason + "\n")
                << place << " " << args.back();
        }
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(fs::is_empty(empty));
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

// Rule packs through the tool: import into a library it creates, export, check.
TEST_F(CliTest, RulesImportExportAndCheckPacks) {
    std::string detection, repair;
    DetectionRows found;
    found.files.push_back({"%WINDIR%\\x.dll", "0", "file"});
    ASSERT_TRUE(WriteDetectionDocument(found, detection));
    RepairRows fix;
    fix.files.push_back({"%WINDIR%\\x.dll", "", "delete"});
    ASSERT_TRUE(WriteRepairDocument(fix, repair));
    RulePack pack;
    pack.platforms = "[xp]\nName=XP\nOS=[winxp]\n";
    pack.items = {{"清理 x.dll", 3, "xp", "d", detection, repair, "w"},
                  {"second", 0, "all-os", "", detection, repair, ""}};
    const std::string text = WriteRulePack(pack);
    prefix.write("pack.xml", text);
    const std::string packFile = prefix.file("pack.xml").string();
    const std::string library = prefix.file("lib/new.db").string();
    std::filesystem::create_directories(prefix.file("lib"));

    Result r = RunCli({"rules", "check", packFile});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = RunCli({"rules", "import", packFile, "--library", library});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "imported 2 rule items into " + library + "\n");
    r = RunCli({"rules", "export", "--library=" + library});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, text);
    r = RunCli({"rules", "check", "--library", library});
    EXPECT_EQ(r.code, 0) << r.err;
    // A second import would double every item: refused, nothing changed.
    r = RunCli({"rules", "import", "--library", library, packFile});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("already holds items"), std::string::npos) << r.err;
    EXPECT_EQ(RunCli({"rules", "export", "--library", library}).out, text);

    // A pack that does not check: every problem with its item, and no library made.
    pack.items[1].Name = pack.items[0].Name;
    pack.items[1].Level = 7;
    pack.items[0].OSId = "vista";
    prefix.write("bad.xml", WriteRulePack(pack));
    const std::string bad = prefix.file("bad.xml").string();
    const std::string problems = "清理 x.dll: platform group \"vista\" does not exist\n"
                                 "清理 x.dll: the name is used by an earlier item\n"
                                 "清理 x.dll: level 7 is not 0 to 4\n";
    r = RunCli({"rules", "check", bad});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, problems);
    const std::string fresh = prefix.file("lib/fresh.db").string();
    r = RunCli({"rules", "import", bad, "--library", fresh});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, problems + "corvane-cli rules import: the pack does not check; the "
                                "library is unchanged\n");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    prefix.write("broken.xml", "<rulepack version=\"1\"><item/>");
    r = RunCli({"rules", "check", prefix.file("broken.xml").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not an XML text"), std::string::npos) << r.err;

    const struct {
        std::vector<std::string> args;
        std::string firstLine;
    } usage[] = {
        {{"rules"}, "corvane-cli rules: no operation given"},
        {{"rules", "merge"}, "corvane-cli rules: unknown operation merge"},
        {{"rules", "import"}, "corvane-cli rules import: no rule pack given"},
        {{"rules", "export", packFile},
         "corvane-cli rules export: unexpected argument " + packFile},
        {{"rules", "check", packFile, "--library", library},
         "corvane-cli rules check: give a rule pack or --library, not both"},
        {{"rules", "check", "--json", packFile}, "corvane-cli rules check: unknown option --json"},
    };
    for (const auto& u : usage) {
        r = RunCli(u.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), u.firstLine);
    }
    r = RunCli({"rules", "export", "--library", prefix.file("none.db").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "corvane-cli rules export: no rule library at " +
                         prefix.file("none.db").string() + "\n");
}

// The user's prefixes through the tool: HOME is a home with a prefix of every kind.
// A library another SQLCipher client made with the passphrase opens with the key
// derived from its salt; the key is kept by the salt in $XDG_CACHE_HOME/corvane, used
// by the next run as it is, and derived again when the cache is missing, damaged or
// holds another key.
TEST_F(CliTest, TheLibraryKeyIsKeptByTheSaltOfTheFile) {
    const std::string library = prefix.file("made-before.db").string();
    prefix.write("make.sql", "PRAGMA key='kplmvz';\n"
                             "PRAGMA cipher_page_size = 1024;\n"
                             "PRAGMA kdf_iter = 64000;\n"
                             "CREATE TABLE cvdb ([ID] INTEGER PRIMARY KEY,[Name] VARCHAR (300),"
                             "[OSId] TEXT,[OptText] TEXT, [RepairXML] TEXT,[MessBoxText] TEXT, "
                             "[Des] TEXT, [Level] INTEGER);\n"
                             "CREATE TABLE Infos ([ID] INTEGER PRIMARY KEY,[Name] VARCHAR (300),"
                             "[Value] TEXT);\n"
                             "INSERT INTO cvdb (Name, Level) VALUES ('旧库的项目', 1);\n");
    const std::string make = "sqlcipher -batch '" + library + "' < '" +
                             prefix.file("make.sql").string() + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << "sqlcipher (Debian package sqlcipher)";
    std::string salt;
    for (unsigned char c : test::ReadFile(library).substr(0, 16)) {
        static const char digits[] = "0123456789abcdef";
        salt += {digits[c >> 4], digits[c & 15]};
    }

    const auto cacheDir = prefix.file("cache");
    const auto cache = cacheDir / "corvane" / "library-keys";
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string before = saved ? saved : "";
    ::setenv("XDG_CACHE_HOME", cacheDir.c_str(), 1);
    const auto exportsTheItem = [&] {
        const Result r = RunCli({"rules", "export", "--library", library});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out.find("旧库的项目") != std::string::npos;
    };
    // The line of the library's salt, or nothing.
    const auto saltLine = [&] {
        std::istringstream lines(test::ReadFile(cache));
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(salt + " ")) return line;
        return std::string();
    };

    ASSERT_TRUE(exportsTheItem());
    const std::string good = saltLine();
    ASSERT_EQ(good.size(), 32 + 1 + 16 + 1 + 64) << test::ReadFile(cache);
    struct stat kept {};
    ::stat(cache.c_str(), &kept);
    EXPECT_TRUE(exportsTheItem());
    struct stat after {};
    ::stat(cache.c_str(), &after);
    EXPECT_EQ(after.st_ino, kept.st_ino) << "a run with the key at hand writes no cache";

    const std::pair<const char*, std::string> broken[] = {
        {"missing", ""},
        {"damaged", std::string("\x00\xff garbage\n", 11) + salt + " zz\n"},
        {"another key", good.substr(0, 50) + std::string(64, '0') + "\n"},
    };
    for (const auto& [what, text] : broken) {
        std::filesystem::remove(cache);
        if (!text.empty()) test::WriteFile(cache, text);
        EXPECT_TRUE(exportsTheItem()) << what;
        EXPECT_EQ(saltLine(), good) << what;
    }
    if (saved)
        ::setenv("XDG_CACHE_HOME", before.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}

TEST(CliPrefixesTest, ListsAndScansEveryPrefixOfTheUser) {
    namespace fs = std::filesystem;
    TempPrefix root;
    const fs::path home = root.dir() / "home";
    fs::create_directory(home);
    const test::FakeHome made = test::MakeFakeHome(home);
    const std::string library = (root.dir() / "cvdb.db").string();
    ASSERT_EQ(RunCli({"rules", "import", test::kStarterPack, "--library", library}).code, 0);

    Result r = RunCli({"prefixes"}, nullptr, home.c_str());
    std::string listed;
    for (const auto& p : made.prefixes)
        listed += p.label + "\t" + p.path.string() + "\n";
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, listed);
    for (const auto& file : made.damaged)
        EXPECT_NE(r.err.find("corvane-cli prefixes: skipped " + file.string() + ": "),
                  std::string::npos)
            << r.err;
    r = RunCli({"prefixes", "--json"}, nullptr, home.c_str());
    const auto json = nlohmann::json::parse(r.out).at("prefixes");
    ASSERT_EQ(json.size(), made.prefixes.size());
    for (std::size_t i = 0; i < json.size(); ++i)
        EXPECT_EQ(json[i], nlohmann::json({{"label", made.prefixes[i].label},
                                           {"path", made.prefixes[i].path.string()},
                                           {"source", made.prefixes[i].source}}));

    // Every prefix holds the demo's items, except one whose user.reg was spoilt: that
    // one is reported and the others still scanned.
    const Result one = RunCli({"scan", "--prefix", made.prefixes[0].path, "--library", library});
    ASSERT_EQ(one.code, 1) << one.err;
    const std::size_t spoilt = 2;
    test::WriteFile(made.prefixes[spoilt].path / "user.reg", "not a registry\n");
    std::string scanned;
    for (std::size_t i = 0; i < made.prefixes.size(); ++i)
        scanned += "== " + made.prefixes[i].label + " (" + made.prefixes[i].path.string() + ")\n" +
                   (i == spoilt ? "" : one.out);
    r = RunCli({"scan", "--all", "--library", library}, nullptr, home.c_str());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, scanned);
    EXPECT_NE(r.err.find("corvane-cli scan: " + made.prefixes[spoilt].label + ": "),
              std::string::npos)
        << r.err;
    r = RunCli({"scan", "--all", "--json", "--library", library}, nullptr, home.c_str());
    const auto all = nlohmann::json::parse(r.out).at("prefixes");
    ASSERT_EQ(all.size(), made.prefixes.size());
    EXPECT_EQ(all[0]["label"], made.prefixes[0].label);
    EXPECT_EQ(
        all[0]["items"],
        nlohmann::json::parse(
            RunCli({"scan", "--json", "--prefix", made.prefixes[0].path, "--library", library}).out)
            .at("items"));
    EXPECT_FALSE(all[spoilt].contains("items"));
    EXPECT_EQ(RunCli({"scan", "--prefix", made.prefixes[spoilt].path, "--library", library}).code,
              2);
    EXPECT_NE(all[spoilt]["error"].get<std::string>().find("user.reg"), std::string::npos);

    // Nothing found anywhere is 0; an error in every prefix is 2.
    const fs::path clean = root.dir() / "clean", broken = root.dir() / "broken";
    for (const fs::path& other : {clean, broken})
        fs::create_directories(other / ".wine/drive_c");
    test::WriteFile(clean / ".wine/system.reg", "WINE REGISTRY Version 2\n");
    test::WriteFile(broken / ".wine/system.reg", "REGEDIT4\n");
    EXPECT_EQ(RunCli({"scan", "--all", "--library", library}, nullptr, clean.c_str()).code, 0);
    EXPECT_EQ(RunCli({"scan", "--all", "--library", library}, nullptr, broken.c_str()).code, 2);

    const std::vector<std::vector<std::string>> usage = {
        {"prefixes", "extra"},
        {"prefixes", "--prefix", home.string()},
        {"scan", "--all", "--prefix", home.string(), "--library", library},
        {"scan", "--all", "--library", library + ".none"},
    };
    for (const auto& args : usage) {
        r = RunCli(args, nullptr, home.c_str());
        EXPECT_EQ(r.code, 2) << args[1];
        EXPECT_TRUE(r.out.empty()) << args[1];
    }
}

// A bottle's name or folder with a tab or a newline cannot forge a line of the lists
// in text: each control character is escaped there; --json keeps the name as it is.
TEST(CliPrefixesTest, NamesCannotForgeLines) {
    namespace fs = std::filesystem;
    TempPrefix root;
    const fs::path home = root.dir() / "home";
    const fs::path bottle = home / ".local/share/bottles/bottles/a\tb\nc";
    fs::create_directories(bottle / "drive_c");
    test::WriteFile(bottle / "system.reg", "WINE REGISTRY Version 2\n");
    test::WriteFile(bottle / "bottle.yml",
                    "Name: \"Evil\\t/x\\nWine: forged\\t/tmp/forged\\r\\x01\\\\\"\n");
    const std::string library = root.file("cvdb.db").string();
    ASSERT_EQ(RunCli({"rules", "import", test::kStarterPack, "--library", library}).code, 0);
    const std::string label = "Bottles: Evil\\t/x\\nWine: forged\\t/tmp/forged\\r\\x01\\\\";
    const std::string path = (home / ".local/share/bottles/bottles").string() + "/a\\tb\\nc";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"prefixes"}, label + "\t" + path + "\n"},
        {{"scan", "--all", "--library", library}, "== " + label + " (" + path + ")\n"},
    };
    for (const auto& [args, out] : cases) {
        const Result r = RunCli(args, nullptr, home.c_str());
        EXPECT_EQ(r.code, 0) << args[0] << r.err;
        EXPECT_EQ(r.out, out) << args[0];
    }
    const auto json =
        nlohmann::json::parse(RunCli({"prefixes", "--json"}, nullptr, home.c_str()).out)
            .at("prefixes");
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["label"], "Bottles: Evil\t/x\nWine: forged\t/tmp/forged\r\x01\\");
    EXPECT_EQ(json[0]["path"], bottle.string());
}

// Undo names what it cannot find: a run number too large for any run (exit 2), an ID
// the run does not hold (exit 1); and it is refused, exit 2, while another command
// holds the prefix's journal.
TEST(CliUndoTest, SaysWhatItCannotFindAndWaitsForNobody) {
    namespace fs = std::filesystem;
    TempPrefix root;
    const fs::path prefix = root.dir() / "prefix";
    fs::copy(CORVANE_SOURCE_DIR "/data/demo-prefix", prefix,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string library = root.file("cvdb.db").string();
    ASSERT_EQ(
        RunCli({"rules", "import", CORVANE_SOURCE_DIR "/rules/starter.xml", "--library", library})
            .code,
        0);
    ASSERT_EQ(RunCli({"repair", "--prefix", prefix.string(), "--library", library, "1"}).code, 0);
    const Result huge = RunCli({"undo", "--prefix", prefix.string(), "99999999999999999999"});
    EXPECT_EQ(huge.code, 2);
    EXPECT_NE(huge.err.find("no repair run 99999999999999999999"), std::string::npos) << huge.err;
    const Result missing = RunCli({"undo", "--prefix", prefix.string(), "1", "99"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.out.find("99\t\t撤销失败"), std::string::npos) << missing.out;

    const Journal journal(DefaultJournalRoot(), prefix);
    const int lock = ::open((journal.folder() / "lock").c_str(), O_RDWR);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"undo", "--prefix", prefix.string()},
          {"repair", "--prefix", prefix.string(), "--library", library, "46"}}) {
        const Result busy = RunCli(args);
        EXPECT_EQ(busy.code, 2) << args[0];
        EXPECT_NE(busy.err.find("another Corvane command is changing this prefix"),
                  std::string::npos)
            << busy.err;
    }
    ::close(lock);
    EXPECT_TRUE(fs::exists(prefix / "drive_c/autorun.inf"));
    EXPECT_EQ(RunCli({"undo", "--prefix", prefix.string()}).code, 0);
}

// Every --json output is one object that starts with "format": 1, so that a reader can
// tell when its fields change; each command's list is under its own name.
TEST(CliJsonTest, EveryOutputStartsWithItsFormat) {
    TempPrefix root;
    const std::filesystem::path home = root.dir() / "home";
    std::filesystem::create_directories(home);
    test::CopyDemoPrefix(home / ".wine");
    const std::string library = root.file("cvdb.db").string();
    ASSERT_EQ(RunCli({"rules", "import", test::kStarterPack, "--library", library}).code, 0);
    const std::string prefix = (home / ".wine").string();
    const struct {
        std::vector<std::string> args;
        std::string list;
        std::size_t size;
    } cases[] = {
        {{"prefixes", "--json"}, "prefixes", 1},
        {{"scan", "--json", "--library", library}, "items", test::kPlantedItems.size()},
        {{"scan", "--all", "--json", "--library", library}, "prefixes", 1},
        {{"repair", "--json", "--dry-run", "--library", library, "1"}, "items", 1},
        {{"repair", "--json", "--library", library, "1"}, "items", 1},
        {{"history", "--json"}, "runs", 1},
        {{"undo", "--json"}, "items", 1},
    };
    for (const auto& [args, list, size] : cases) {
        const Result r = RunCli(args, nullptr, home.c_str());
        EXPECT_LE(r.code, 1) << args[0] << r.err;
        EXPECT_TRUE(r.out.starts_with("{\n  \"format\": 1,")) << args[0] << r.out;
        const auto json = nlohmann::json::parse(r.out);
        EXPECT_EQ(json.at(list).size(), size) << args[0] << r.out;
    }
}

} // namespace
} // namespace corvane
