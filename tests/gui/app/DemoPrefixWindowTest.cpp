// What a newcomer sees: the main window on a copy of the demo prefix with the starter
// library. The scan lists the planted items in their level colours; repairing all of
// them marks each one repaired, and a second scan lists nothing.
#include <QTabWidget>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "core/store/RuleLibrary.h"
#include "core/store/RulePack.h"
#include "gui/app/Unitmain.h"
#include "gui/app/unitGlobal.h"
#include "gui/ui/MessageBox.h"
#include "support/DemoPrefix.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class DemoPrefixWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CopyDemoPrefix(prefix());
        fs::create_directory(appDir());
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                return ui::MsgAnswer::Yes;
            });
        InitGlobalContext(appDir().string() + "/");
        CreateRuleDatabase(Global().Library());
        ImportRuleLibrary(Global().Library(), ReadRulePack(test::ReadFile(test::kStarterPack)));
        window = std::make_unique<Tfrmmain>(QString::fromStdString(appDir().string()));
        window->PageControl1->setCurrentIndex(1);
    }
    void TearDown() override {
        window.reset();
        ui::SetMessageBoxFunction(previous);
    }

    fs::path prefix() const { return root.dir() / "prefix"; }
    fs::path appDir() const { return root.dir() / "app"; }

    // Name, level word, state and colour of every row.
    std::vector<std::tuple<QString, QString, QString, QColor>> rows() const {
        std::vector<std::tuple<QString, QString, QString, QColor>> out;
        for (int i = 0; i < window->ListView1->topLevelItemCount(); ++i) {
            const QTreeWidgetItem& item = *window->ListView1->topLevelItem(i);
            out.emplace_back(item.text(1), item.text(3), item.text(4),
                             Tfrmmain::ListView1CustomDrawItem(item));
        }
        return out;
    }

    void screenshot(const char* name) {
        const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS");
        if (dir.isEmpty()) return;
        window->show();
        EXPECT_TRUE(window->grab().save(QString::fromUtf8(dir) + "/" + name));
    }

    test::TempPrefix root;
    wine::WinePlatform platform{prefix(), test::Options(root.dir(), appDir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    std::vector<QString> shown;
    std::unique_ptr<Tfrmmain> window;
};

TEST_F(DemoPrefixWindowTest, ScanShowsThePlantedItemsInTheirColoursAndRepairFixesThem) {
    const QColor blue(0, 0, 255), black(0, 0, 0), red(255, 0, 0);
    window->bntScanClick();
    using Row = std::tuple<QString, QString, QString, QColor>;
    // Blue for "安全", black for "普通", red for every higher level.
    std::vector<Row> found;
    for (const auto& item : test::kPlantedItems) {
        const QString level = QString::fromUtf8(item.levelName.data(), item.levelName.size());
        found.emplace_back(QString::fromUtf8(item.name.data(), item.name.size()), level, "未修复",
                           level == "安全"   ? blue
                           : level == "普通" ? black
                                             : red);
    }
    EXPECT_EQ(rows(), found);
    screenshot("demo-scan.png");

    window->menuAllsClick();
    window->bntClearClick();
    // The question, then the warnings of the items whose repair has side effects.
    EXPECT_EQ(shown.size(), 4u);
    for (const Row& row : rows())
        EXPECT_EQ(std::get<2>(row), "修复成功") << std::get<0>(row).toStdString();
    screenshot("demo-repaired.png");

    window->bntScanClick();
    EXPECT_EQ(window->ListView1->topLevelItemCount(), 0);
}

} // namespace
} // namespace corvane
