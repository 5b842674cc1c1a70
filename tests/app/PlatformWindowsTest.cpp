#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "app/unitGlobal.h"
#include "store/PlatformGroups.h"
#include "store/RuleLibrary.h"
#include "store/UnitOS.h"
#include "support/TempPrefix.h"
#include "ui/MessageBox.h"

namespace corvane {
namespace {

using test::TempPrefix;

class PlatformWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase();
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
    EXPECT_EQ(LoadWinOSValue(), std::optional<std::string>("[xp]\r\nName=XP\r\nOS=[winxp]"));
    {
        TfrmOS window;
        EXPECT_EQ(window.Memo1->toPlainText(), "[xp]\nName=XP\nOS=[winxp]");
        window.Memo1->clear(); // an empty text is stored as it is
        window.Button1->click();
    }
    EXPECT_EQ(LoadWinOSValue(), std::optional<std::string>(""));
    auto db = OpenRuleLibrary();
    EXPECT_EQ(db->Query("SELECT * FROM Infos where Name='WinOS'")->RowTotal(), 1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(PlatformWindowsTest, ClosingSavesNothing) {
    TfrmOS window;
    window.Memo1->setPlainText("[g]\nOS=[win7]");
    window.reject();
    EXPECT_EQ(LoadWinOSValue(), std::nullopt);
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
