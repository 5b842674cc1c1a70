#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include "core/store/IniFile.h"
#include "gui/app/Unitmain.h"
#include "gui/ui/MessageBox.h"
#include "support/FakeHome.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;

// Sets an environment variable (or unsets it for nullopt) until the end of the scope.
class EnvScope {
public:
    EnvScope(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvScope() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A user's home with a prefix in every place Corvane looks, a program folder with a
// library, and a prefix of the test's own that the window looks at first.
class PrefixMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                return ui::MsgAnswer::Ok;
            });
        Tfrmmain first(appDir()); // makes the library
        shown.clear();
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    QString appDir() const { return QString::fromStdString(app.dir().string()); }
    QString panel() const { return window->statusPanelText(2); }
    // Clicks the prefix panel; the labels of the menu it opens, the checked ones marked.
    std::vector<std::string> openMenu() {
        auto* label = window->findChild<QLabel*>("StatusBar1Panel2");
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2),
                          label->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(label, &click);
        EXPECT_TRUE(window->PrefixMenu->isVisible());
        std::vector<std::string> labels;
        for (QAction* action : window->PrefixMenu->actions())
            labels.push_back((action->isChecked() ? "* " : "") + action->text().toStdString());
        window->PrefixMenu->hide();
        return labels;
    }
    void choose(const std::string& label) {
        for (QAction* action : window->PrefixMenu->actions())
            if (action->text().toStdString() == label) return action->trigger();
        ADD_FAILURE() << "no " << label << " in the menu";
    }
    std::string remembered() const {
        return IniDocument(test::ReadFile(app.dir() / "Setting.ini")).read("Wine", "Prefix");
    }

    TempPrefix home;
    test::FakeHome made = test::MakeFakeHome(home.dir());
    EnvScope homeVar{"HOME", home.dir().string()};
    EnvScope winePrefixVar{"WINEPREFIX", std::nullopt};
    EnvScope dataVar{"XDG_DATA_HOME", std::nullopt};
    TempPrefix app;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    std::vector<QString> shown;
    std::unique_ptr<Tfrmmain> window;
};

TEST_F(PrefixMenuTest, ThePanelOffersEveryPrefixAndTheChoiceIsLookedAt) {
    window = std::make_unique<Tfrmmain>(appDir());
    std::vector<std::string> labels;
    for (const auto& p : made.prefixes)
        labels.push_back(p.label);
    EXPECT_EQ(openMenu(), labels) << "the test's own prefix is not among them";

    const fs::path office = home.dir() / ".local/share/bottles/bottles/office-2016";
    new QTreeWidgetItem(window->ListView1, {"1", "old row"});
    choose("Bottles: Office");
    EXPECT_EQ(panel(), "Wine 前缀: " + QString::fromStdString(office.string()));
    EXPECT_EQ(window->ListView1->topLevelItemCount(), 0);
    EXPECT_EQ(remembered(), office.string());
    EXPECT_EQ(ActivePlatform().machinePlace().path, office.string());
    *std::find(labels.begin(), labels.end(), "Bottles: Office") = "* Bottles: Office";
    EXPECT_EQ(openMenu(), labels);

    // A prefix removed after the menu listed it is skipped with a message.
    const fs::path notepad = home.dir() / ".PlayOnLinux/wineprefix/Notepad++";
    fs::remove_all(notepad);
    choose("PlayOnLinux: Notepad++");
    EXPECT_EQ(shown, std::vector<QString>{"Wine 前缀已不存在: " +
                                          QString::fromStdString(notepad.string())});
    EXPECT_EQ(panel(), "Wine 前缀: " + QString::fromStdString(office.string()));
    EXPECT_EQ(remembered(), office.string());
    window.reset();
    EXPECT_EQ(&ActivePlatform(), &platform) << "the window's choice ends with it";
}

TEST_F(PrefixMenuTest, TheNextStartLooksAtTheRememberedPrefixUnlessWineprefixIsSet) {
    const fs::path office = home.dir() / ".local/share/bottles/bottles/office-2016";
    ASSERT_TRUE(IniWriteString(app.dir() / "Setting.ini", "Wine", "Prefix", office.string()));
    const QString own = "Wine 前缀: " + QString::fromStdString(prefix.dir().string());

    window = std::make_unique<Tfrmmain>(appDir());
    EXPECT_EQ(panel(), "Wine 前缀: " + QString::fromStdString(office.string()));
    window.reset();
    {
        const EnvScope set("WINEPREFIX", prefix.dir().string());
        window = std::make_unique<Tfrmmain>(appDir());
        EXPECT_EQ(panel(), own);
        window.reset();
    }
    fs::remove_all(office);
    window = std::make_unique<Tfrmmain>(appDir());
    EXPECT_EQ(shown, std::vector<QString>{"Wine 前缀已不存在: " +
                                          QString::fromStdString(office.string())});
    EXPECT_EQ(panel(), own);
    EXPECT_FALSE(window->closeRequested());
}

} // namespace
} // namespace corvane
