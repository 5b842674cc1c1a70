#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "core/run/Journal.h"
#include "core/run/Machine.h"
#include "core/run/ScanRepair.h"
#include "core/store/IniFile.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/UnitDetails.h"
#include "gui/app/UnitHistory.h"
#include "gui/app/Unitmain.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/DialogDriver.h"
#include "gui/ui/MessageBox.h"
#include "support/FakeWineServer.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

std::string Detection(std::string_view files, std::string_view registry,
                      std::string_view mode = "or") {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\" mode=\"" +
           std::string(mode) + "\">" + std::string(files) +
           "</type><type opttype=\"regedit\" mode=\"or\">" + std::string(registry) +
           "</type></rules>";
}

std::string Repair(std::string_view files, std::string_view registry) {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules><type opttype=\"files\">" +
           std::string(files) + "</type><type opttype=\"regedit\">" + std::string(registry) +
           "</type></rules>";
}

const std::string kBadFile = R"(<CHdb FilePath="C:\bad.txt" isFolder="0" decide="file"/>)";
const std::string kBadValue =
    R"(<CHdb root="HKCU" KeyPath="Software\Test" KeyValue="Bad" KeyType="REG_SZ" compareValue="1" decide="Value=" PathAbs="0"/>)";

struct Shown {
    QString text, caption;
};

// A Win7-like prefix with a bad file, a bad registry value and a junk folder, and a
// library of five items: three trigger, one is for another release, one is absent.
class RepairTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(prefix.dir() / "dosdevices");
        fs::create_directories(prefix.dir() / "drive_c/junk");
        fs::create_directory_symlink("../drive_c", prefix.dir() / "dosdevices/c:");
        WriteFile(prefix.dir() / "drive_c/bad.txt", "bad");
        prefix.writeSystem("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n"
                           "\"CurrentBuildNumber\"=\"7601\"\n\"CurrentVersion\"=\"6.1\"\n");
        prefix.writeUser("\n[Software\\\\Test] 1\n\"Bad\"=\"1\"\n");
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString& caption, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back({text, caption});
                return answer;
            });
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase(Global().Library());
        auto db = OpenRuleLibrary(Global().Library());
        db->Execute(RuleSql::InsertWinOS("[xp-only]\nOS=[winxp]\n"));
        const RuleItem items[] = {
            {"坏文件", 0, "all-os", "删除坏文件", Detection(kBadFile, ""),
             Repair(R"(<CHdb FilePath="C:\bad.txt" FromPath="" decide="delete"/>)", ""), ""},
            {"注册表值", 1, "all-os", "改回注册表值", Detection("", kBadValue),
             Repair(
                 "",
                 R"(<CHdb root="HKCU" KeyPath="Software\Test" KeyValue="Bad" KeyType="REG_SZ" ValueContent="0" decide="SetValue" PathAbs=""/>)"),
             ""},
            {"另一个平台", 2, "xp-only", "只在 XP 上", Detection(kBadFile, ""), Repair("", ""), ""},
            {"不存在", 3, "all-os", "没有这个文件",
             Detection(R"(<CHdb FilePath="C:\absent.txt" isFolder="0" decide="file"/>)", ""),
             Repair("", ""), ""},
            {"危险项", 4, "all-os", "修不好的目录",
             Detection(R"(<CHdb FilePath="C:\junk" isFolder="1" decide="file"/>)", ""),
             Repair(R"(<CHdb FilePath="C:\other" FromPath="" decide="delete"/>)", ""), "请注意"},
        };
        for (const RuleItem& item : items)
            db->Execute(RuleSql::InsertRule(Global().Library().table, item));
        db.reset();
        window = std::make_unique<Tfrmmain>(QString::fromStdString(app.dir().string()));
        EXPECT_TRUE(shown.empty());
        EXPECT_FALSE(window->closeRequested());
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    std::vector<std::vector<QString>> rows() const {
        std::vector<std::vector<QString>> out;
        for (int i = 0; i < window->ListView1->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = window->ListView1->topLevelItem(i);
            out.push_back(
                {item->text(0), item->text(1), item->text(2), item->text(3), item->text(4)});
        }
        return out;
    }
    QColor colour(int row) const {
        return Tfrmmain::ListView1CustomDrawItem(*window->ListView1->topLevelItem(row));
    }
    void check(std::initializer_list<int> checked) {
        window->menuAllnClick();
        for (int row : checked)
            window->ListView1->topLevelItem(row)->setCheckState(0, Qt::Checked);
    }
    std::string setting(const char* key) const {
        return IniDocument(ReadFile(app.dir() / "Setting.ini")).read("Setting", key);
    }

    TempPrefix app; // the program's folder, holding the library
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    ui::MsgAnswer answer = ui::MsgAnswer::Yes;
    std::vector<Shown> shown;
    std::unique_ptr<Tfrmmain> window;
};

TEST_F(RepairTabTest, AScanListsWhatTriggersInLibraryOrder) {
    window->bntScanClick();
    EXPECT_EQ(rows(), (std::vector<std::vector<QString>>{
                          {"1", "坏文件", "删除坏文件", "安全", "未修复"},
                          {"2", "注册表值", "改回注册表值", "普通", "未修复"},
                          {"5", "危险项", "修不好的目录", "危险", "未修复"},
                      }));
    EXPECT_EQ(colour(0), QColor(0, 0, 255));
    EXPECT_EQ(colour(1), QColor(0, 0, 0));
    EXPECT_EQ(colour(2), QColor(255, 0, 0));
    EXPECT_EQ(window->ListView1->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(window->Label1->text(), "扫描完成！");
    EXPECT_TRUE(window->Panel1->isHidden());
    EXPECT_EQ(window->ProgressBar1->maximum(), 5);
    EXPECT_EQ(setting("ScanTime"), TodayText());
    EXPECT_EQ(window->Label4->text().toStdString(), TodayText());
    EXPECT_TRUE(shown.empty());
    if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty()) {
        window->PageControl1->setCurrentIndex(1);
        window->ListView1->topLevelItem(1)->setCheckState(0, Qt::Checked);
        window->show();
        EXPECT_TRUE(window->grab().save(QString::fromUtf8(dir) + "/repair-tab.png"));
    }
}

TEST_F(RepairTabTest, RepairWarnsRepairsAndChecksAgain) {
    window->bntScanClick();
    window->menuAllsClick();
    window->bntClearClick();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "是否确定要修复选定的项目？");
    EXPECT_EQ(shown[1].text, "请注意");
    EXPECT_EQ(shown[1].caption, "提示");
    EXPECT_EQ(rows()[0][4], "修复成功");
    EXPECT_EQ(rows()[1][4], "修复成功");
    EXPECT_EQ(rows()[2][4], "修复失败");
    EXPECT_EQ(window->statusPanelText(3), "修复成功 2 项，修复失败 1 项");
    EXPECT_EQ(colour(0), QColor(0, 0, 0)); // repaired: black whatever the level
    EXPECT_EQ(colour(2), QColor(255, 0, 0));
    EXPECT_FALSE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"0\""), std::string::npos);
    EXPECT_EQ(setting("FixTime"), TodayText());
    EXPECT_EQ(window->Label5->text().toStdString(), TodayText());

    // A second scan lists only what is still there, unrepaired.
    window->bntScanClick();
    EXPECT_EQ(window->statusPanelText(3), "");
    EXPECT_TRUE(window->lblNothingFound->isHidden());
    EXPECT_EQ(rows(), (std::vector<std::vector<QString>>{
                          {"5", "危险项", "修不好的目录", "危险", "未修复"}}));
}

TEST_F(RepairTabTest, WhileWineRunsARepairIsRefusedAndAScanSaysSo) {
    window->bntScanClick();
    EXPECT_EQ(window->statusPanelText(2), "Wine 前缀: " + QString::fromStdString(prefix.dir()));
    const std::string before = prefix.read("user.reg");
    {
        const test::FakeWineServer wine(prefix.dir(), prefix.dir());
        window->bntScanClick();
        EXPECT_EQ(window->statusPanelText(2),
                  "Wine 前缀: " + QString::fromStdString(prefix.dir()) + "（Wine 正在运行）");
        answer = ui::MsgAnswer::Ok; // "确定", not "结束 Wine 并修复"
        EXPECT_TRUE(window->findChild<QLabel*>("StatusBar1Panel2")
                        ->toolTip()
                        .startsWith("Wine 前缀: " + QString::fromStdString(prefix.dir()) +
                                    "（Wine 正在运行，注册表文件可能还没有 Wine 最新的更改）"));
        window->menuAllsClick();
        window->bntClearClick();
    }
    ASSERT_EQ(shown.size(), 1u) << "no question, one reason";
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].text.toStdString(),
              "Wine 正在前缀 " + prefix.dir().string() +
                  " 中运行，注册表由它掌管，修复无法进行。\n请先关闭该前缀中的程序，或结束 "
                  "Wine:\nWINEPREFIX='" +
                  prefix.dir().string() + "' wineserver -k");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows()[i][4], "未修复");
        EXPECT_EQ(window->ListView1->topLevelItem(i)->checkState(0), Qt::Checked);
    }
    EXPECT_TRUE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_EQ(prefix.read("user.reg"), before);
    EXPECT_EQ(setting("FixTime"), "");
    // Wine has ended: the repair looks again before it asks.
    answer = ui::MsgAnswer::No;
    window->bntClearClick();
    EXPECT_EQ(window->statusPanelText(2), "Wine 前缀: " + QString::fromStdString(prefix.dir()));
    EXPECT_EQ(shown.back().text, "是否确定要修复选定的项目？");
}

// A repair refused outside the prefix fails, and the reasons come in one box after the
// run.
TEST_F(RepairTabTest, RefusedRepairsSayWhyInOneBox) {
    TempPrefix outside;
    outside.write("victim.txt", "mine");
    fs::create_directory_symlink("/", prefix.dir() / "dosdevices/z:");
    std::string victim = "Z:" + (outside.dir() / "victim.txt").string();
    std::replace(victim.begin(), victim.end(), '/', '\\');
    OpenRuleLibrary(Global().Library())
        ->Execute("UPDATE cvdb SET RepairXML = '" +
                  Repair("<CHdb FilePath=\"" + victim + "\" FromPath=\"\" decide=\"delete\"/>" +
                             "<CHdb FilePath=\"C:\\bad.txt\" FromPath=\"\" decide=\"delete\"/>",
                         "") +
                  "' WHERE Id = 1");
    window->bntScanClick();
    check({0, 1});
    window->bntClearClick();
    EXPECT_EQ(rows()[0][4], "修复失败"); // though bad.txt is gone
    EXPECT_EQ(rows()[1][4], "修复成功");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].caption, "提示");
    EXPECT_TRUE(shown[1].text.startsWith("坏文件：\n" + QString::fromStdString(victim) +
                                         ": refused, it lies outside the prefix"))
        << shown[1].text.toStdString();
    EXPECT_FALSE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_EQ(outside.read("victim.txt"), "mine");
}

TEST_F(RepairTabTest, NoChangesNothing) {
    window->bntScanClick();
    window->menuAllsClick();
    answer = ui::MsgAnswer::No;
    window->bntClearClick();
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(rows()[0][4], "未修复");
    EXPECT_TRUE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_EQ(setting("FixTime"), "");
    // Yes with nothing checked still records the date.
    answer = ui::MsgAnswer::Yes;
    window->menuAllnClick();
    window->bntClearClick();
    EXPECT_EQ(setting("FixTime"), TodayText());
    EXPECT_TRUE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
}

TEST_F(RepairTabTest, CheckMarkCommands) {
    window->bntScanClick();
    check({0, 2});
    window->menuAllfClick();
    EXPECT_EQ(window->ListView1->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(window->ListView1->topLevelItem(1)->checkState(0), Qt::Checked);
    EXPECT_EQ(window->ListView1->topLevelItem(2)->checkState(0), Qt::Unchecked);
    window->menuAllsClick();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(window->ListView1->topLevelItem(i)->checkState(0), Qt::Checked);
    window->menuAllnClick();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(window->ListView1->topLevelItem(i)->checkState(0), Qt::Unchecked);
}

TEST_F(RepairTabTest, TheScanIconScansOnTheRepairTab) {
    EXPECT_EQ(window->PageControl1->currentIndex(), 0);
    window->Image2Click();
    EXPECT_EQ(window->PageControl1->currentIndex(), 1);
    EXPECT_EQ(rows().size(), 3u);
}

TEST_F(RepairTabTest, AnItemGoneFromTheLibraryEndsTheRun) {
    window->bntScanClick();
    check({0, 1});
    OpenRuleLibrary(Global().Library())
        ->Execute(RuleSql::DeleteRule(Global().Library().table, "1"));
    // The handler's error reaches the error report, as a click would.
    ui::Guarded([this] { window->bntClearClick(); });
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, "Field RepairXML Not found. Empty dataset");
    EXPECT_EQ(rows()[0][4], "未修复");
    EXPECT_EQ(rows()[1][4], "未修复"); // the rows after it are not repaired
    EXPECT_EQ(setting("FixTime"), TodayText());
}

// A registry file that cannot be read, or a folder without system.reg, would look like
// a clean prefix: the scan says why in a box and lists nothing; a repair asks nothing,
// says why and changes nothing.
TEST_F(RepairTabTest, AnUnreadableRegistryOrNoPrefixIsSaidAndNothingListed) {
    const std::string user = prefix.read("user.reg");
    window->bntScanClick();
    ASSERT_EQ(rows().size(), 3u);
    window->menuAllsClick();
    prefix.write("user.reg", "\xEF\xBB\xBF" + user);
    const QString error = QString::fromStdString(platform.registryError());
    ASSERT_TRUE(error.contains("byte-order mark")) << error.toStdString();
    window->bntClearClick();
    ASSERT_EQ(shown.size(), 1u) << "no question, one reason";
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].text, "修复无法进行：\n" + error);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rows()[i][4], "未修复");
    EXPECT_TRUE(fs::exists(prefix.dir() / "drive_c/bad.txt"));

    shown.clear();
    window->bntScanClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].text, "扫描无法进行：\n" + error);
    EXPECT_TRUE(rows().empty());
    if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty()) {
        const ui::MessageBoxFunction recording = ui::SetMessageBoxFunction(nullptr);
        test::WhenShown<QMessageBox>([&](QMessageBox& box) {
            EXPECT_TRUE(box.grab().save(QString::fromUtf8(dir) + "/scan-refused.png"));
        });
        window->bntScanClick();
        ui::SetMessageBoxFunction(recording);
    }

    prefix.write("user.reg", user);
    fs::remove(prefix.file("system.reg"));
    shown.clear();
    window->bntScanClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].text.toStdString(), "扫描无法进行：\nno Wine prefix at " +
                                               prefix.dir().string() + ": " +
                                               prefix.file("system.reg").string() + " is missing");
    EXPECT_TRUE(rows().empty());
}

TEST_F(RepairTabTest, AnEmptyLibraryListsNothing) {
    window->bntScanClick();
    OpenRuleLibrary(Global().Library())->Execute("DELETE FROM cvdb");
    window->bntScanClick();
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(window->Label1->text(), "扫描完成！");
    EXPECT_TRUE(window->Panel1->isHidden());
    // Said in the middle of the list, which holds no row.
    EXPECT_FALSE(window->lblNothingFound->isHidden());
    EXPECT_EQ(window->lblNothingFound->text(), "未发现问题");
    EXPECT_EQ(window->lblNothingFound->geometry(), window->ListView1->viewport()->rect());
    EXPECT_EQ(window->lblNothingFound->alignment(), Qt::AlignCenter);
}

} // namespace
} // namespace corvane

namespace corvane {
namespace {

struct ToolResult {
    int code = -1;
    std::string out;
};

// Runs corvane-cli with `args`, standard error dropped unless `withErrors`, which
// brings it in place of the standard output.
ToolResult RunTool(const std::vector<std::string>& args, bool withErrors = false) {
    std::string command = "'" CORVANE_CLI "'";
    for (const auto& arg : args)
        command += " '" + arg + "'";
    command += withErrors ? " 2>&1 >/dev/null" : " 2>/dev/null";
    ToolResult result;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
            result.out.append(buf, n);
        const int status = ::pclose(pipe);
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

// A `wineserver` in `bin` that stands for Wine's: it writes its WINEPREFIX and options
// to the file it returns; -k ends the process holding the lock named by $FAKE_LOCK (as
// the real one ends the prefix's server), -w waits until none holds it.
fs::path StandInWineServer(const TempPrefix& bin) {
    bin.write("wineserver",
              "#!/bin/sh\n"
              "echo \"$WINEPREFIX $*\" >> \"$FAKE_CALLS\"\n"
              "case \"$1\" in\n"
              "-k) fuser -k -TERM \"$FAKE_LOCK\" >/dev/null 2>&1 ;;\n"
              "-w) while fuser \"$FAKE_LOCK\" >/dev/null 2>&1; do sleep 0.1; done ;;\n"
              "esac\n");
    fs::permissions(bin.dir() / "wineserver", fs::perms::owner_all);
    return bin.dir() / "calls";
}

// Runs `f` with `bin` first on PATH and the stand-in's variables set.
template <typename F> void WithStandIn(const TempPrefix& bin, const fs::path& lock, F f) {
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin.dir().string() + ":" + path).c_str(), 1);
    ::setenv("FAKE_CALLS", (bin.dir() / "calls").c_str(), 1);
    ::setenv("FAKE_LOCK", lock.c_str(), 1);
    f();
    ::setenv("PATH", path.c_str(), 1);
}

TEST_F(RepairTabTest, TheToolFindsAndRepairsWhatTheWindowDoes) {
    const std::string prefixDir = prefix.dir().string();
    const std::string library = (app.dir() / "cvdb.db").string();
    window->bntScanClick();
    std::string listed;
    for (const auto& row : rows())
        listed +=
            row[0].toStdString() + "\t" + row[1].toStdString() + "\t" + row[3].toStdString() + "\n";
    const ToolResult scan = RunTool({"scan", "--prefix", prefixDir, "--library", library});
    EXPECT_EQ(scan.code, 1);
    EXPECT_EQ(scan.out, listed);

    const ToolResult json =
        RunTool({"scan", "--prefix", prefixDir, "--library", library, "--json"});
    const auto found = nlohmann::json::parse(json.out).at("items");
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2]["id"], 5);
    EXPECT_EQ(found[2]["name"], "危险项");
    EXPECT_EQ(found[2]["description"], "修不好的目录");
    EXPECT_EQ(found[2]["level"], 4);
    EXPECT_EQ(found[2]["levelName"], "危险");

    const ToolResult repair =
        RunTool({"repair", "--prefix", prefixDir, "--library", library, "1", "2", "5"});
    EXPECT_EQ(repair.code, 1);
    EXPECT_EQ(repair.out,
              "1\t坏文件\t修复成功\n2\t注册表值\t修复成功\n请注意\n5\t危险项\t修复失败\n");
    // The window sees what the tool repaired.
    window->bntScanClick();
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_EQ(rows()[0][0], "5");
    EXPECT_EQ(RunTool({"repair", "--prefix", prefixDir, "--library", library, "99"}).code, 2);
    EXPECT_EQ(RunTool({"scan", "--prefix", prefixDir, "--library", library + ".none"}).code, 2);
}

TEST_F(RepairTabTest, TheToolRefusesToRepairWhileWineRuns) {
    const std::string library = (app.dir() / "cvdb.db").string();
    const std::string before = prefix.read("user.reg");
    ToolResult refused;
    {
        const test::FakeWineServer wine(prefix.dir());
        refused =
            RunTool({"repair", "--prefix", prefix.dir(), "--library", library, "1", "2"}, true);
    }
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.out, "corvane-cli repair: Wine 正在前缀 " + prefix.dir().string() +
                               " 中运行，注册表由它掌管，修复无法进行。\n请先关闭该前缀中的程"
                               "序，或结束 Wine:\nWINEPREFIX='" +
                               prefix.dir().string() + "' wineserver -k\n");
    EXPECT_TRUE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_EQ(prefix.read("user.reg"), before);
    EXPECT_EQ(setting("FixTime"), "");
}

// --stop-wine ends Wine for the prefix as `wineserver -k` does, waits for it
// (`wineserver -w`), then repairs. The wineserver found first on PATH here ends the
// process that holds the prefix's lock, as the real one ends the prefix's server.
TEST_F(RepairTabTest, TheToolEndsWineFirstWhenAsked) {
    TempPrefix bin;
    const fs::path calls = StandInWineServer(bin);
    const std::string library = (app.dir() / "cvdb.db").string();
    const test::FakeWineServer wine(prefix.dir());
    ToolResult repaired;
    WithStandIn(bin, wine::WineServerDir(prefix.dir(), {}) / "lock", [&] {
        repaired =
            RunTool({"repair", "--stop-wine", "--prefix", prefix.dir(), "--library", library, "2"});
    });
    EXPECT_EQ(repaired.code, 0);
    EXPECT_EQ(repaired.out, "2\t注册表值\t修复成功\n");
    EXPECT_EQ(ReadFile(calls), prefix.dir().string() + " -k\n" + prefix.dir().string() + " -w\n");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"0\""), std::string::npos);
}

// The refusal box offers to end Wine; after saying what is lost it does, as
// `wineserver -k` does, and repairs.
TEST_F(RepairTabTest, TheRefusalBoxEndsWineAndRepairs) {
    window->bntScanClick();
    check({1});
    TempPrefix bin;
    const fs::path calls = StandInWineServer(bin);
    const test::FakeWineServer wine(prefix.dir(), prefix.dir());
    WithStandIn(bin, wine::WineServerDir(prefix.dir(), prefix.dir()) / "lock", [&] {
        answer = ui::MsgAnswer::Ok; // "确定"
        window->bntClearClick();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text.toStdString(), RepairRefusal());
        EXPECT_FALSE(fs::exists(calls));
        // "结束 Wine 并修复", then No to what it costs.
        std::vector<ui::MsgButtons> offered;
        ui::SetMessageBoxFunction([&](const QString& text, const QString& caption, ui::MsgIcon,
                                      ui::MsgButtons buttons) {
            shown.push_back({text, caption});
            offered.push_back(buttons);
            return buttons == ui::MsgButtons::OkStopWine ? ui::MsgAnswer::Yes : ui::MsgAnswer::No;
        });
        window->bntClearClick();
        EXPECT_EQ(offered, (std::vector{ui::MsgButtons::OkStopWine, ui::MsgButtons::YesNo}));
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_EQ(shown[2].text,
                  "结束 Wine 会关闭该前缀中运行的所有程序，其中未保存的工作将会丢失。\n"
                  "是否确定要结束 Wine 并修复选定的项目？");
        EXPECT_FALSE(fs::exists(calls));
        shown.clear();
        ui::SetMessageBoxFunction(
            [&](const QString& text, const QString& caption, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back({text, caption});
                return ui::MsgAnswer::Yes;
            });
        window->bntClearClick();
    });
    ASSERT_EQ(shown.size(), 2u) << "the refusal and what ending Wine costs, no other question";
    EXPECT_EQ(ReadFile(calls), prefix.dir().string() + " -k\n" + prefix.dir().string() + " -w\n");
    EXPECT_EQ(rows()[1][4], "修复成功");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"0\""), std::string::npos);
    EXPECT_EQ(window->statusPanelText(2), "Wine 前缀: " + QString::fromStdString(prefix.dir()));
}

TEST_F(RepairTabTest, UndoRepairRestoresTheRowsOfThisRun) {
    window->bntScanClick();
    check({1});
    window->bntClearClick();
    window->ListView1->setCurrentItem(window->ListView1->topLevelItem(1));
    ASSERT_EQ(rows()[1][4], "修复成功");
    // The window's repairs are journaled where the tool keeps them.
    EXPECT_TRUE(Journal(DefaultJournalRoot(), prefix.dir()).lastRun().has_value());
    const std::string repaired = prefix.read("user.reg");
    shown.clear();
    {
        // Refused like a repair while Wine owns the registry.
        const test::FakeWineServer wine(prefix.dir(), prefix.dir());
        const std::string refusal = RepairRefusal();
        ASSERT_FALSE(refusal.empty());
        window->menuUndoClick();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text.toStdString(), refusal);
    }
    EXPECT_EQ(rows()[1][4], "修复成功");
    EXPECT_EQ(prefix.read("user.reg"), repaired);
    window->menuUndoClick();
    EXPECT_EQ(rows()[1][4], "已撤销");
    EXPECT_EQ(rows()[0][4], "未修复");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"1\""), std::string::npos);
    EXPECT_EQ(shown.size(), 2u);
    // Undone rows are not undone again.
    window->menuUndoClick();
    EXPECT_EQ(shown.size(), 2u);
}

// The right-click selects the row under the pointer unless it is among the selected
// rows; undo acts on the selected rows, whatever is checked, after asking.
TEST_F(RepairTabTest, UndoActsOnTheSelectedRowsAfterAsking) {
    window->bntScanClick();
    check({0, 1});
    window->bntClearClick();
    ASSERT_EQ(rows()[0][4], "修复成功");
    ASSERT_EQ(rows()[1][4], "修复成功");
    const std::string repaired = prefix.read("user.reg");
    QTreeWidget* list = window->ListView1;
    const auto rightClick = [&](int row) {
        emit list->customContextMenuRequested(
            list->visualItemRect(list->topLevelItem(row)).center());
        window->PopupMenu1->hide();
    };
    check({0});
    rightClick(1);
    EXPECT_FALSE(list->topLevelItem(0)->isSelected());
    EXPECT_TRUE(list->topLevelItem(1)->isSelected());
    EXPECT_TRUE(window->menuUndo->isEnabled());
    shown.clear();
    answer = ui::MsgAnswer::No;
    window->menuUndoClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "是否确定要撤销选定的 1 个项目的修复？");
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(prefix.read("user.reg"), repaired);
    EXPECT_EQ(rows()[1][4], "修复成功");
    answer = ui::MsgAnswer::Yes;
    window->menuUndoClick();
    EXPECT_EQ(rows()[1][4], "已撤销");
    EXPECT_EQ(rows()[0][4], "修复成功");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"1\""), std::string::npos);
    EXPECT_FALSE(fs::exists(prefix.dir() / "drive_c/bad.txt"));

    // Two rows selected, repaired in two runs: the right-click on one of them keeps
    // both, and each is undone from its run.
    check({1});
    window->bntClearClick();
    ASSERT_EQ(rows()[1][4], "修复成功");
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);
    rightClick(0);
    EXPECT_TRUE(list->topLevelItem(1)->isSelected());
    shown.clear();
    window->menuUndoClick();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].text, "是否确定要撤销选定的 2 个项目的修复？");
    EXPECT_EQ(rows()[0][4], "已撤销");
    EXPECT_EQ(rows()[1][4], "已撤销");
    EXPECT_EQ(ReadFile(prefix.dir() / "drive_c/bad.txt"), "bad");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"1\""), std::string::npos);
}

TEST_F(RepairTabTest, TheHistoryListsTheRunAndUndoesOneItem) {
    window->bntScanClick();
    check({0, 1});
    window->bntClearClick();
    test::WhenShown<TfrmHistory>([&](TfrmHistory& history) {
        ASSERT_EQ(history.tvRuns->topLevelItemCount(), 1);
        QTreeWidgetItem* run = history.tvRuns->topLevelItem(0);
        ASSERT_EQ(run->childCount(), 2);
        EXPECT_EQ(run->child(0)->text(2), "1");
        EXPECT_EQ(run->child(0)->text(3), "坏文件");
        EXPECT_EQ(run->child(0)->text(4), "修复成功");
        EXPECT_EQ(run->child(1)->text(5), "否");
        history.tvRuns->setCurrentItem(run->child(0));
        history.bntUndoClick();
        run = history.tvRuns->topLevelItem(0);
        EXPECT_EQ(run->child(0)->text(5), "是");
        EXPECT_EQ(run->child(1)->text(5), "否");
        if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty()) {
            EXPECT_TRUE(history.grab().save(QString::fromUtf8(dir) + "/history.png"));
        }
    });
    window->menuHistoryClick();
    // The list follows what was undone there.
    EXPECT_EQ(rows()[0][4], "已撤销");
    EXPECT_EQ(rows()[1][4], "修复成功");
    EXPECT_EQ(ReadFile(prefix.dir() / "drive_c/bad.txt"), "bad");
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"0\""), std::string::npos);
}

TEST_F(RepairTabTest, TheDetailsShowWhyAndWhatTheRepairWouldDo) {
    window->bntScanClick();
    window->ListView1->setCurrentItem(window->ListView1->topLevelItem(1));
    test::WhenShown<TfrmDetails>([&](TfrmDetails& details) {
        EXPECT_EQ(details.lblDescription->text(), "改回注册表值");
        ASSERT_EQ(details.tvMatched->topLevelItemCount(), 1);
        EXPECT_TRUE(details.tvMatched->topLevelItem(0)->text(1).endsWith("Software\\Test\\Bad"));
        EXPECT_EQ(details.tvMatched->topLevelItem(0)->text(0), "值相等 1");
        EXPECT_EQ(details.tvMatched->topLevelItem(0)->text(2), "REG_SZ 1");
        EXPECT_EQ(details.lblPreview->text(), "修复将做的更改：");
        ASSERT_EQ(details.tvPreview->topLevelItemCount(), 1);
        EXPECT_EQ(details.tvPreview->topLevelItem(0)->text(0), "设置值");
        EXPECT_EQ(details.tvPreview->topLevelItem(0)->text(2), "REG_SZ 1");
        EXPECT_EQ(details.tvPreview->topLevelItem(0)->text(3), "REG_SZ 0");
        if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty()) {
            EXPECT_TRUE(details.grab().save(QString::fromUtf8(dir) + "/details.png"));
        }
    });
    window->menuDetailsClick();
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"1\""), std::string::npos);
}

// Once repaired, the details show what the repair did, as the journal recorded it;
// undone, what a repair would do again.
TEST_F(RepairTabTest, TheDetailsOfARepairedItemShowWhatItDid) {
    window->bntScanClick();
    check({0, 1});
    window->bntClearClick();
    using Row = std::vector<QString>;
    const auto detailsOf = [&](int row, const QString& heading, const Row& expected) {
        window->ListView1->setCurrentItem(window->ListView1->topLevelItem(row));
        test::WhenShown<TfrmDetails>([&](TfrmDetails& details) {
            EXPECT_EQ(details.lblPreview->text(), heading);
            ASSERT_EQ(details.tvPreview->topLevelItemCount(), 1);
            const QTreeWidgetItem* change = details.tvPreview->topLevelItem(0);
            EXPECT_EQ(change->text(0), expected[0]);
            EXPECT_TRUE(change->text(1).endsWith(expected[1])) << change->text(1).toStdString();
            EXPECT_EQ(change->text(2), expected[2]);
            EXPECT_EQ(change->text(3), expected[3]);
            if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty() && row == 0) {
                EXPECT_TRUE(details.grab().save(QString::fromUtf8(dir) + "/details-done.png"));
            }
        });
        window->menuDetailsClick();
    };
    detailsOf(0, "修复所做的更改：", Row{"删除文件", "bad.txt", "（3 字节）", "（已删除）"});
    detailsOf(1, "修复所做的更改：", Row{"设置值", "Software\\Test\\Bad", "REG_SZ 1", "REG_SZ 0"});
    window->ListView1->setCurrentItem(window->ListView1->topLevelItem(1));
    window->menuUndoClick();
    ASSERT_EQ(rows()[1][4], "已撤销");
    detailsOf(1, "修复将做的更改：", Row{"设置值", "Software\\Test\\Bad", "REG_SZ 1", "REG_SZ 0"});
}

} // namespace
} // namespace corvane
