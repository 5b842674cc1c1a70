#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/UnitOS.h"
#include "gui/ui/MessageBox.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;

class PlatformWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase(Global().Library());
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                return ui::MsgAnswer::Ok;
            });
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    TempPrefix app;
    wine::WinePlatform platform{app.dir() / "no-prefix", test::Options(app.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    std::vector<QString> shown;
};

TEST_F(PlatformWindowsTest, SettingsWindowInsertsThenUpdatesTheRecord) {
    {
        TfrmOS window;
        EXPECT_EQ(window.windowTitle(), "操作系统设置");
        EXPECT_TRUE(window.Memo1->toPlainText().isEmpty());
        window.Memo1->setPlainText("[xp]\nName=XP\nOS=[winxp]");
        window.Button1->click();
        EXPECT_EQ(window.result(), QDialog::Accepted);
    }
    EXPECT_EQ(LoadWinOSValue(Global().Library()),
              std::optional<std::string>("[xp]\r\nName=XP\r\nOS=[winxp]"));
    {
        TfrmOS window;
        EXPECT_EQ(window.Memo1->toPlainText(), "[xp]\nName=XP\nOS=[winxp]");
        window.Memo1->clear(); // an empty text is stored as it is
        window.Button1->click();
    }
    EXPECT_EQ(LoadWinOSValue(Global().Library()), std::optional<std::string>(""));
    auto db = OpenRuleLibrary(Global().Library());
    EXPECT_EQ(db->Query("SELECT * FROM Infos where Name='WinOS'")->RowTotal(), 1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(PlatformWindowsTest, ClosingSavesNothing) {
    TfrmOS window;
    window.Memo1->setPlainText("[g]\nOS=[win7]");
    window.reject();
    EXPECT_EQ(LoadWinOSValue(Global().Library()), std::nullopt);
}

TEST_F(PlatformWindowsTest, AFailedSaveKeepsTheWindowAndTheText) {
    TfrmOS window;
    window.Memo1->setPlainText("[g]\nOS=[win7]");
    test::WriteFile(Global().DbFile, std::string(2048, 'x')); // the library became unreadable
    window.Button1->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith("File opened that is not a database file"))
        << shown[0].toStdString();
    EXPECT_NE(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.Memo1->toPlainText(), "[g]\nOS=[win7]");
    // And a window that cannot load opens empty, after the error box.
    TfrmOS second;
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_TRUE(second.Memo1->toPlainText().isEmpty());
}

} // namespace
} // namespace corvane

#include <QTreeWidget>

#include "core/edit/DialogExchange.h"
#include "gui/editor/UnitWinOS.h"

namespace corvane {
namespace {

std::vector<std::pair<QString, QString>> ListRows(const QTreeWidget& list) {
    std::vector<std::pair<QString, QString>> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        rows.emplace_back(list.topLevelItem(i)->text(0), list.topLevelItem(i)->text(1));
    return rows;
}

TEST_F(PlatformWindowsTest, TheChooserListsEveryGroupLine) {
    SaveWinOSValue(Global().Library(),
                   "[xp]\r\nName=XP\r\n[all-os]\r\nOS=[win7]\r\n[g]\r\nName=first\r\n"
                   "[G]\r\nName=second\r\n[noname]\r\nOS=[win8]");
    TfrmWinOS chooser;
    EXPECT_EQ(chooser.windowTitle(), "选择相应平台");
    EXPECT_EQ(ListRows(*chooser.ListView1),
              (std::vector<std::pair<QString, QString>>{{"all-os", "所有Windows平台"},
                                                        {"xp", "XP"},
                                                        {"all-os", "所有Windows平台"},
                                                        {"g", "second"},
                                                        {"G", "second"},
                                                        {"noname", "所有Windows平台"}}));
    EXPECT_EQ(Global().WinOSText.substr(0, 4), "[xp]");
}

TEST_F(PlatformWindowsTest, TheChooserHandsBackOnlyAConfirmedChoice) {
    SaveWinOSValue(Global().Library(), "[xp]\nName=XP\n");
    const TDialogExchange before = DialogExchange;
    {
        TfrmWinOS chooser;
        chooser.Button1->click(); // nothing selected: nothing happens
        EXPECT_EQ(DialogExchange, before);
        EXPECT_NE(chooser.result(), QDialog::Accepted);
        chooser.ListView1->setCurrentItem(chooser.ListView1->topLevelItem(1));
        chooser.Button2->click(); // cancel leaves the values alone
        EXPECT_EQ(DialogExchange, before);
    }
    TfrmWinOS chooser;
    DialogExchange.DlgResult = 0;
    chooser.ListView1->setCurrentItem(chooser.ListView1->topLevelItem(1));
    chooser.Button1->click();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(DialogExchange.DlgResult, 1);
    EXPECT_EQ(DialogExchange.DlgOSId, "xp");
    EXPECT_EQ(DialogExchange.DlgOSName, "XP");
}

} // namespace
} // namespace corvane

#include <QTimer>

#include "gui/app/Unitmain.h"

namespace corvane {
namespace {

TEST_F(PlatformWindowsTest, TheMainWindowsHiddenButtonOpensTheSettings) {
    Tfrmmain window(QString::fromStdString(app.dir().string()));
    EXPECT_TRUE(window.Button1->isHidden());
    EXPECT_TRUE(window.bntAdd->isHidden());
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto* settings = window.findChild<TfrmOS*>();
        opened = settings && settings->isVisible();
        if (settings) {
            settings->Memo1->setPlainText("[g]\nOS=[win7]");
            settings->Button1->click();
        }
    });
    window.Button1->click();
    EXPECT_TRUE(opened);
    EXPECT_EQ(LoadWinOSValue(Global().Library()), std::optional<std::string>("[g]\r\nOS=[win7]"));
    EXPECT_EQ(window.findChild<TfrmOS*>(), nullptr); // freed when it closed
}

} // namespace
} // namespace corvane
