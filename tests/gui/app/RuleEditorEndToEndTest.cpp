#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "core/edit/DialogExchange.h"
#include "core/edit/RuleItemEdit.h"
#include "core/engine/RuleDocument.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/Unitmain.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/DialogDriver.h"
#include "gui/editor/UnitAddEdit.h"
#include "gui/editor/UnitAddFiles.h"
#include "gui/editor/UnitAddFiles2.h"
#include "gui/editor/UnitAddReg.h"
#include "gui/editor/UnitAddReg2.h"
#include "gui/editor/UnitView.h"
#include "gui/ui/MessageBox.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;
using test::WhenShown;

QList<QStringList> Rows(const QTreeWidget* list) {
    QList<QStringList> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->topLevelItem(i)->text(c);
        rows << cells;
    }
    return rows;
}

// From an empty library to a repaired prefix: the item is made in the editor, opened
// from the main window's rule library window, with one rule of each kind; the scan finds
// the bad setting and the repair removes it.
class RuleEditorEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(prefix.dir() / "dosdevices");
        fs::create_directories(prefix.dir() / "drive_c");
        fs::create_directory_symlink("../drive_c", prefix.dir() / "dosdevices/c:");
        test::WriteFile(prefix.dir() / "drive_c/bad.txt", "bad");
        prefix.writeSystem("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n"
                           "\"CurrentBuildNumber\"=\"7601\"\n\"CurrentVersion\"=\"6.1\"\n");
        prefix.writeUser("\n[Software\\\\Test] 1\n\"Bad\"=\"1\"\n");
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                return ui::MsgAnswer::Yes;
            });
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase(Global().Library());
        DialogExchange = {};
        ItemSaved = 0;
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    TempPrefix app;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    std::vector<QString> shown;
};

TEST_F(RuleEditorEndToEndTest, AnItemMadeInTheEditorFindsAndRepairsTheBadSetting) {
    Tfrmmain window(QString::fromStdString(app.dir().string()));
    ASSERT_FALSE(window.closeRequested());

    QList<QStringList> listed;
    WhenShown<TfrmView>([&](TfrmView& view) {
        WhenShown<TfrmAddEdit>([](TfrmAddEdit& editor) {
            editor.Edit2->setText("坏设置");
            editor.ComboBox1->setCurrentIndex(2); // 风险
            editor.Memo1->setPlainText("坏文件和坏注册表值");
            WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) {
                d.ComboBox1->setEditText("C:\\bad.txt");
                d.ComboBox3->setCurrentIndex(0); // 文件
                d.ComboBox2->setCurrentIndex(0); // 文件存在触发
                d.Button2->click();
            });
            editor.N1->trigger();
            WhenShown<TfrmAddReg>([](TfrmAddReg& d) {
                d.ComboBox1->setCurrentIndex(1); // HKEY_CURRENT_USER
                d.ComboBox2->setEditText("Software\\Test");
                d.ComboBox6->setCurrentIndex(4); // 值相等
                d.ComboBox3->setEditText("Bad");
                d.ComboBox4->setCurrentIndex(0); // REG_SZ
                d.ComboBox5->setEditText("1");
                d.Button2->click();
            });
            editor.N4->trigger();
            WhenShown<TfrmAddFiles2>([](TfrmAddFiles2& d) {
                d.ComboBox2->setCurrentIndex(0); // 删除文件
                d.ComboBox1->setEditText("C:\\bad.txt");
                d.Button2->click();
            });
            editor.N11->trigger();
            WhenShown<TfrmAddReg2>([](TfrmAddReg2& d) {
                d.ComboBox1->setCurrentIndex(1);
                d.ComboBox2->setEditText("Software\\Test");
                d.ComboBox6->setCurrentIndex(1); // 设置值
                d.ComboBox3->setEditText("Bad");
                d.ComboBox4->setCurrentIndex(0);
                d.ComboBox5->setEditText("0");
                d.Button2->click();
            });
            editor.N16->trigger();
            EXPECT_EQ(editor.ListView1->topLevelItemCount(), 1);
            EXPECT_EQ(editor.ListView2->topLevelItemCount(), 1);
            EXPECT_EQ(editor.ListView3->topLevelItemCount(), 1);
            EXPECT_EQ(editor.ListView4->topLevelItemCount(), 1);
            editor.Button1->click();
        });
        view.Button1->click();
        listed = Rows(view.ListView1);
        view.close();
    });
    window.bntAdd->click();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].mid(1), (QStringList{"坏设置", "坏文件和坏注册表值", "2"}));

    // Both conditions are stored as entered: with "or" either alone would trigger.
    const auto item = LoadRuleItem(Global().Library(), listed[0][0].toStdString());
    ASSERT_TRUE(item);
    DetectionRows detection;
    ASSERT_TRUE(ReadDetectionDocument(item->OptText, detection));
    EXPECT_EQ(detection.files, (std::vector<FileConditionRow>{{"C:\\bad.txt", "0", "file"}}));
    ASSERT_EQ(detection.registry.size(), 1u);
    EXPECT_EQ(detection.registry[0].root, "HKCU");
    EXPECT_EQ(detection.registry[0].KeyPath, "Software\\Test");
    EXPECT_EQ(detection.registry[0].KeyValue, "Bad");
    EXPECT_EQ(detection.registry[0].compareValue, "1");
    EXPECT_EQ(detection.registry[0].decide, "Value=");

    window.bntScanClick();
    ASSERT_EQ(window.ListView1->topLevelItemCount(), 1);
    QTreeWidgetItem* row = window.ListView1->topLevelItem(0);
    EXPECT_EQ(row->text(0), listed[0][0]);
    EXPECT_EQ(row->text(1), "坏设置");
    EXPECT_EQ(row->text(3), "风险");
    EXPECT_EQ(row->text(4), "未修复");

    row->setCheckState(0, Qt::Checked);
    window.bntClearClick();
    EXPECT_EQ(shown, (std::vector<QString>{"是否确定要修复选定的项目？"}));
    EXPECT_EQ(window.ListView1->topLevelItem(0)->text(4), "修复成功");
    EXPECT_FALSE(fs::exists(prefix.dir() / "drive_c/bad.txt"));
    EXPECT_NE(prefix.read("user.reg").find("\"Bad\"=\"0\""), std::string::npos);

    window.bntScanClick();
    EXPECT_EQ(window.ListView1->topLevelItemCount(), 0);
}

} // namespace
} // namespace corvane
