#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include "core/store/RuleLibrary.h"
#include "core/store/SQLiteTable3.h"
#include "gui/app/Unitmain.h"
#include "gui/app/unitGlobal.h"
#include "gui/ui/MessageBox.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

struct Shown {
    QString text, caption;
    ui::MsgIcon icon;
};

// A program folder and a Win7-like prefix; every message box is recorded.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.writeSystem("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n"
                           "\"CSDVersion\"=\"Service Pack 1\"\n\"CurrentBuildNumber\"=\"7601\"\n"
                           "\"CurrentVersion\"=\"6.1\"\n");
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString& caption, ui::MsgIcon icon, ui::MsgButtons) {
                shown.push_back({text, caption, icon});
                return ui::MsgAnswer::Ok;
            });
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    std::unique_ptr<Tfrmmain> start() {
        shown.clear();
        return std::make_unique<Tfrmmain>(QString::fromStdString(app.dir().string()));
    }
    std::string library() const { return app.dir().string() + "/cvdb.db"; }

    TempPrefix app;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    std::vector<Shown> shown;
};

TEST_F(MainWindowTest, FirstStartCreatesTheLibraryAndEndsSecondStartShowsIt) {
    auto first = start();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "数据库不存在,请更新数据库！");
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].icon, ui::MsgIcon::Warning);
    EXPECT_TRUE(first->closeRequested());
    const std::string header = ReadFile(library()).substr(0, 16);
    EXPECT_EQ(header.size(), 16u);
    EXPECT_NE(header, test::kPlainSqliteHeader) << "the library is encrypted";
    // The release was known before the library was touched.
    EXPECT_EQ(Global().CurOSTag, "[win7]");
    EXPECT_EQ(Global().OSVersionText, "6.1.7601.Service Pack 1");

    auto second = start();
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(second->closeRequested());
    EXPECT_EQ(second->statusPanelText(0), "当前加载库数量:0");
    EXPECT_EQ(second->statusPanelText(2),
              "Wine 前缀: " + QString::fromStdString(prefix.dir().string()));
    EXPECT_EQ(second->PageControl1->currentIndex(), 0);
    EXPECT_EQ(second->PageControl1->tabText(0), "欢迎");
    EXPECT_EQ(second->PageControl1->tabText(1), "自动修复");
    EXPECT_EQ(second->size(), QSize(734, 525));
}

TEST_F(MainWindowTest, ALibraryWithoutRuleTableEndsTheProgram) {
    start(); // creates the library
    {
        TSQLiteDatabase db(library(), "kplmvz", 1000);
        db.Execute("DROP TABLE cvdb");
    }
    auto window = start();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "数据库载入异常,请更新数据库!");
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_TRUE(window->closeRequested());
    EXPECT_EQ(window->statusPanelText(0), "当前加载库数量:");
}

TEST_F(MainWindowTest, AnUnreadableLibraryIsReportedAndTheWindowOpens) {
    const std::string garbage(4096, '\x5a');
    WriteFile(library(), garbage);
    auto window = start();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "CorvaneV1.0.0.0"); // the application title
    EXPECT_TRUE(shown[0].text.startsWith("File opened that is not a database file"))
        << shown[0].text.toStdString();
    EXPECT_FALSE(window->closeRequested());
    EXPECT_EQ(ReadFile(library()), garbage) << "nothing of the file is lost";
}

// An installed copy: the executable's folder holds no library, the data folder beside
// it does. The window reads the data folder and keeps the user's files in the XDG
// folders; when the user's library cannot be made, it says why and ends.
TEST_F(MainWindowTest, AnInstalledCopyKeepsTheUsersFilesInTheXdgFolders) {
    const std::filesystem::path bin = app.dir() / "usr/bin", data = app.dir() / "usr/share/corvane";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(data / "oem");
    CreateRuleDatabase(LibraryBeside(data.string() + "/"));
    WriteFile(data / "oem/oem.ini", "[Oem]\nsoftName=Installed\n");
    const std::string home = prefix.dir().string() + "/home";
    const char* names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"};
    std::vector<std::optional<std::string>> old;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        old.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    auto restore = [&] {
        for (std::size_t i = 0; i < old.size(); ++i)
            old[i] ? ::setenv(names[i], old[i]->c_str(), 1) : ::unsetenv(names[i]);
    };
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    shown.clear();
    auto window = std::make_unique<Tfrmmain>(QString::fromStdString(bin.string()));
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(window->closeRequested());
    EXPECT_EQ(window->windowTitle(), "Installed");
    EXPECT_EQ(window->statusPanelText(0), "当前加载库数量:0");
    EXPECT_EQ(Global().AppDir, data.string() + "/");
    EXPECT_EQ(Global().DbFile, home + "/data/corvane/cvdb.db");
    EXPECT_EQ(ReadFile(Global().DbFile), ReadFile(data / "cvdb.db"));
    EXPECT_EQ(Global().SettingsFile, home + "/config/corvane/Setting.ini");
    EXPECT_TRUE(std::filesystem::is_directory(home + "/config/corvane"));
    EXPECT_EQ(Global().DownloadDir, home + "/cache/corvane/downsoft/");
    EXPECT_FALSE(std::filesystem::exists(bin / "Setting.ini"));

    WriteFile(home + "/blocked", "a file where the data folder should be");
    ::setenv("XDG_DATA_HOME", (home + "/blocked").c_str(), 1);
    shown.clear();
    window = std::make_unique<Tfrmmain>(QString::fromStdString(bin.string()));
    restore();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("无法准备用户文件: ")) << shown[0].text.toStdString();
    EXPECT_TRUE(shown[0].text.contains(QString::fromStdString(home + "/blocked")));
    EXPECT_TRUE(window->closeRequested());
}

TEST_F(MainWindowTest, MissingPrefixIsNamedInTheStatusBar) {
    wine::WinePlatform none(prefix.dir() / "gone", test::Options(prefix.dir()));
    PlatformScope inner(none);
    auto window = start();
    EXPECT_EQ(window->statusPanelText(2),
              "Wine 前缀不存在: " + QString::fromStdString((prefix.dir() / "gone").string()));
    EXPECT_EQ(Global().CurOSTag, "");
    EXPECT_EQ(Global().OSVersionText, "0.0.0.");
}

TEST_F(MainWindowTest, BrandingFromOemIni) {
    struct Case {
        std::string oem; // empty: no file
        QString title, author;
    };
    const Case cases[] = {
        {"", "CorvaneV1.0.0.0", "Halvik"},
        {"[Oem]\nsoftName=修复大师\n", "修复大师", "Halvik"},
        {"[oem]\nSOFTNAME = Fixer \nauthorName=Someone\n", "Fixer", "Someone"},
        {"[Oem]\r\nsoftName=\xd6\xd0\xce\xc4\r\n", "中文", "Halvik"}, // GBK from Windows
    };
    std::filesystem::create_directories(app.dir() / "oem");
    for (const Case& c : cases) {
        std::filesystem::remove(app.dir() / "oem/oem.ini");
        if (!c.oem.empty()) WriteFile(app.dir() / "oem/oem.ini", c.oem);
        auto window = start();
        EXPECT_EQ(window->windowTitle(), c.title);
        EXPECT_EQ(window->statusPanelText(1), c.author);
        EXPECT_EQ(ui::ApplicationTitle(), c.title);
    }
}

TEST_F(MainWindowTest, StoredDatesOrUnknown) {
    struct Case {
        std::string setting; // empty: no file
        QString scan, fix;
    };
    const Case cases[] = {
        {"", "未知", "未知"},
        {"[Setting]\nScanTime=2013-05-07\nFixTime=2013-13-40\n", "2013-05-07", "未知"},
        {"[Setting]\nScanTime=2013/05/07\nFixTime= 2020-02-29 \n", "未知", "2020-02-29"},
        {"[setting]\nscantime=word\n", "未知", "未知"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(app.dir() / "Setting.ini");
        if (!c.setting.empty()) WriteFile(app.dir() / "Setting.ini", c.setting);
        auto window = start();
        EXPECT_EQ(window->Label4->text(), c.scan);
        EXPECT_EQ(window->Label5->text(), c.fix);
        EXPECT_EQ(window->lblPreScanTime->text(), "您上次扫描的时间是:");
        EXPECT_EQ(window->Label3->text(), "您上次修复的时间是:");
        EXPECT_TRUE(window->Label4->font().bold());
    }
}

TEST_F(MainWindowTest, MaintenanceShowsTheEditorButtons) {
    start();
    for (bool on : {false, true}) {
        auto window = start();
        window->setMaintenance(on);
        window->show();
        window->PageControl1->setCurrentIndex(1);
        EXPECT_EQ(window->bntAdd->isVisible(), on);
        EXPECT_EQ(window->Button1->isVisible(), on);
    }
}

TEST_F(MainWindowTest, TheTrayIconShowsTheTitleAndBringsTheWindowBack) {
    start();
    auto window = start();
    window->showMinimized();
    EXPECT_FALSE(window->TrayIcon->icon().isNull());
    // The title and the prefix looked at.
    EXPECT_TRUE(window->TrayIcon->toolTip().startsWith("CorvaneV1.0.0.0\nWine 前缀"))
        << window->TrayIcon->toolTip().toStdString();
    ASSERT_EQ(window->TrayIcon->contextMenu(), window->TrayMenu);
    QStringList texts;
    for (const QAction* action : window->TrayMenu->actions())
        if (!action->isSeparator()) texts << action->text();
    EXPECT_EQ(texts, (QStringList{"显示主窗口", "开始扫描", "退出"}));
    // Offscreen there is no notification area: nothing is shown there, nothing fails.
    EXPECT_EQ(window->TrayIcon->isVisible(), QSystemTrayIcon::isSystemTrayAvailable());
    emit window->TrayIcon->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    window->showMinimized();
    window->trayShow->trigger();
    EXPECT_FALSE(window->isMinimized());
    // "开始扫描" brings the window back on "自动修复" and scans.
    window->showMinimized();
    window->trayScan->trigger();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(window->PageControl1->currentIndex(), 1);
    EXPECT_EQ(window->Label1->text(), "扫描完成！");
}

TEST_F(MainWindowTest, Screenshot) {
    start();
    auto window = start();
    window->show();
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.size(), QSize(734, 525));
    // Saved for a person to look at when asked for.
    if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromUtf8(dir) + "/main-window.png"));
    }
}

} // namespace
} // namespace corvane
