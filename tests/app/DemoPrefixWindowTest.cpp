// What a newcomer sees: the main window on a copy of the demo prefix with the starter
// library. The scan lists the planted items in their level colours; repairing all of
// them marks each one repaired, and a second scan lists nothing.
#include <QTabWidget>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/Unitmain.h"
#include "app/unitGlobal.h"
#include "store/RuleLibrary.h"
#include "store/RulePack.h"
#include "support/TempPrefix.h"
#include "ui/MessageBox.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
const fs::path kSource = CORVANE_SOURCE_DIR;

class DemoPrefixWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(kSource / "data/demo-prefix", prefix(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::create_directory(appDir());
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                return ui::MsgAnswer::Yes;
            });
        InitGlobalContext(appDir().string() + "/");
        CreateRuleDatabase();
        ImportRuleLibrary(ReadRulePack(test::ReadFile(kSource / "rules/starter.xml")));
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
    const std::vector<Row> found = {
        {"任务管理器被禁用", "风险", "未修复", red},
        {"驱动器在“计算机”中被隐藏", "风险", "未修复", red},
        {"右键菜单被禁用", "普通", "未修复", black},
        {"任务管理器被映像劫持", "危险", "未修复", red},
        {"粘滞键后门（sethc.exe 被映像劫持）", "危险", "未修复", red},
        {"登录初始化程序被篡改（Winlogon Userinit）", "危险", "未修复", red},
        {"文本文件（txtfile）打开命令被篡改", "高风险", "未修复", red},
        {"隐藏文件无法显示", "高风险", "未修复", red},
        {"已知文件类型的扩展名被隐藏", "安全", "未修复", blue},
        {"Windows 防火墙被策略关闭", "高风险", "未修复", red},
        {"C 盘根目录的 autorun.inf", "高风险", "未修复", red},
        {"熊猫烧香病毒（spo0lsv.exe）", "危险", "未修复", red},
    };
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
