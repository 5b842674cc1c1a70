#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "core/edit/DialogExchange.h"
#include "core/engine/RuleDocument.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/DialogDriver.h"
#include "gui/editor/UnitAddEdit.h"
#include "gui/editor/UnitAddFiles.h"
#include "gui/editor/UnitAddFiles2.h"
#include "gui/editor/UnitAddReg.h"
#include "gui/editor/UnitAddReg2.h"
#include "gui/editor/UnitRuleMode.h"
#include "gui/editor/UnitWinOS.h"
#include "gui/ui/MessageBox.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;
using test::WhenShown;

// What the library file holds, row by row.
struct Stored {
    std::string ID;
    RuleItem item;
};

std::vector<Stored> ReadLibrary() {
    std::vector<Stored> rows;
    const auto db = OpenRuleLibrary(Global().Library());
    const auto table = db->Query("SELECT * FROM cvdb ORDER BY ID");
    for (int i = 0; i < table->RowTotal(); ++i) {
        Stored s;
        s.ID = table->TextByName("ID");
        s.item.Name = RuleText(*table, "Name");
        s.item.Level = std::stoi(table->TextByName("Level"));
        s.item.OSId = RuleText(*table, "OSId");
        s.item.Des = RuleText(*table, "Des");
        s.item.OptText = RuleText(*table, "OptText");
        s.item.RepairXML = RuleText(*table, "RepairXML");
        s.item.MessBoxText = RuleText(*table, "MessBoxText");
        rows.push_back(s);
        table->MoveNext();
    }
    return rows;
}

std::string Insert(const RuleItem& item) {
    const auto db = OpenRuleLibrary(Global().Library());
    db->Execute(RuleSql::InsertRule(Global().Library().table, item));
    return db->Query("SELECT max(ID) AS ID FROM cvdb")->TextByName("ID");
}

QStringList Row(const QTreeWidget* list, int index) {
    QStringList cells;
    const QTreeWidgetItem* item = list->topLevelItem(index);
    for (int c = 0; c < list->columnCount(); ++c)
        cells << item->text(c);
    return cells;
}

void Select(QTreeWidget* list, int index) {
    list->setCurrentItem(list->topLevelItem(index));
    list->topLevelItem(index)->setSelected(true);
}

constexpr const char* kDetection =
    R"(<?xml version="1.0" encoding="GB2312"?><rules>)"
    R"(<type opttype="files" mode="and"><CHdb FilePath="%windir%\a.dll" isFolder="0" decide="file"/>)"
    R"(<CHdb FilePath="C:\bad" isFolder="1" decide="nofile"/></type>)"
    R"(<type opttype="regedit" mode="or"><CHdb root="HKLM" KeyPath="Software\X" KeyValue="v" )"
    R"(KeyType="REG_SZ" compareValue="1" decide="valueEqual"/></type></rules>)";
constexpr const char* kRepair =
    R"(<?xml version="1.0" encoding="GB2312"?><rules>)"
    R"(<type opttype="files"><CHdb FilePath="C:\to" FromPath="C:\from" decide="copy"/></type>)"
    R"(<type opttype="regedit"><CHdb root="HKCU" KeyPath="Software\Y" KeyValue="w" KeyType="REG_DWORD" )"
    R"(ValueContent="5" decide="SetValue" PathAbs="1"/></type></rules>)";

class RuleItemEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase(Global().Library());
        Global().EditMode = 0;
        Global().EditItemId.clear();
        ItemSaved = 0;
        DialogExchange = {};
        previous = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString& caption, ui::MsgIcon, ui::MsgButtons) {
                shown.push_back(text);
                captions.push_back(caption);
                return answer;
            });
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    void editItem(const std::string& id) {
        Global().EditMode = 1;
        Global().EditItemId = id;
    }

    TempPrefix app;
    wine::WinePlatform platform{app.dir() / "no-prefix", test::Options(app.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    ui::MsgAnswer answer = ui::MsgAnswer::Yes;
    std::vector<QString> shown, captions;
};

TEST_F(RuleItemEditorTest, ControlsListsAndMenus) {
    TfrmAddEdit editor;
    EXPECT_EQ(editor.size(), QSize(563, 509));
    QStringList levels;
    for (int i = 0; i < editor.ComboBox1->count(); ++i)
        levels << editor.ComboBox1->itemText(i);
    EXPECT_EQ(levels, (QStringList{"安全", "普通", "风险", "高风险", "危险"}));
    EXPECT_TRUE(editor.txtOS->isReadOnly());
    EXPECT_EQ(editor.Button3->text(), "…");
    EXPECT_EQ(editor.Button1->text(), "确定");
    EXPECT_EQ(editor.Button2->text(), "取消");
    EXPECT_EQ(editor.PageControl1->tabText(0), "文件");
    EXPECT_EQ(editor.PageControl1->tabText(1), "注册表");
    EXPECT_EQ(editor.PageControl1->tabText(2), "清理时执行");
    EXPECT_EQ(editor.PageControl2->tabText(0), "文件");
    EXPECT_EQ(editor.PageControl2->tabText(1), "注册表");
    for (const char* name : {"Edit2", "ComboBox1", "txtOS", "Button3", "Memo1", "Memo2", "Edit3",
                             "Edit4", "ListView1", "ListView2", "ListView3", "ListView4", "Button1",
                             "Button2", "PopupMenu1", "PopupMenu4", "N21"})
        EXPECT_NE(editor.findChild<QObject*>(name), nullptr) << name;

    const QStringList reg{"主键", "根键", "值/键", "值类型", "值比较", "触发", "值内容转换"};
    struct ListCase {
        QTreeWidget* list;
        QStringList captions;
        std::vector<int> widths;
    };
    for (const ListCase& c : {
             ListCase{editor.ListView1, {"位置", "文件夹", "触发"}, {260, 60, 60}},
             ListCase{editor.ListView2, reg, {60, 200, 90, 90, 90, 80}},
             ListCase{editor.ListView3, {"位置", "源文件", "触发"}, {240, 120, 60}},
             ListCase{editor.ListView4, reg, {60, 200, 90, 90, 90, 80}},
         }) {
        SCOPED_TRACE(c.list->objectName().toStdString());
        QStringList captions;
        for (int i = 0; i < c.list->columnCount(); ++i)
            captions << c.list->headerItem()->text(i);
        EXPECT_EQ(captions, c.captions);
        for (std::size_t i = 0; i < c.widths.size(); ++i)
            EXPECT_EQ(c.list->columnWidth(static_cast<int>(i)), c.widths[i]);
        EXPECT_EQ(c.list->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_EQ(c.list->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    struct MenuCase {
        QMenu* menu;
        QStringList items; // name=text, "-" a separator
    };
    for (const MenuCase& c : {
             MenuCase{editor.PopupMenu1,
                      {"N1=添加规则", "N2=修改规则", "N3=删除规则", "-", "N8=复制规则",
                       "N21=选择规则匹配模式"}},
             MenuCase{editor.PopupMenu2,
                      {"N4=添加规则", "N5=修改规则", "N6=删除规则", "-", "N10=复制规则",
                       "N22=选择规则匹配模式"}},
             MenuCase{editor.PopupMenu3,
                      {"N11=添加规则", "N12=编辑规则", "N13=删除规则", "-", "N15=复制规则"}},
             MenuCase{editor.PopupMenu4,
                      {"N16=添加规则", "N17=编辑规则", "N18=删除规则", "-", "N20=复制规则"}},
         }) {
        QStringList items;
        for (const QAction* a : c.menu->actions())
            items << (a->isSeparator() ? "-" : a->objectName() + "=" + a->text());
        EXPECT_EQ(items, c.items) << c.menu->objectName().toStdString();
    }
}

TEST_F(RuleItemEditorTest, NewItemWithoutInputIsStoredAsItStands) {
    TfrmAddEdit editor;
    EXPECT_EQ(editor.windowTitle(), "添加项目");
    EXPECT_EQ(editor.ItemOSId, "all-os");
    EXPECT_EQ(editor.txtOS->text(), "所有Windows平台"); // no group names file
    EXPECT_EQ(editor.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(editor.Edit3->text(), "一个规则满足即返回");
    EXPECT_EQ(editor.Edit4->text(), "一个规则满足即返回");
    editor.Button1->click();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(ItemSaved, 1);
    EXPECT_TRUE(shown.empty());

    const auto rows = ReadLibrary();
    ASSERT_EQ(rows.size(), 1u);
    const RuleItem& item = rows[0].item;
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Level, 0);
    EXPECT_EQ(item.OSId, "all-os");
    EXPECT_EQ(item.Des, "");
    EXPECT_EQ(item.MessBoxText, "");
    EXPECT_EQ(item.OptText, R"(<?xml version="1.0" encoding="GB2312"?>)"
                            R"(<rules><type opttype="files" mode="or"/>)"
                            R"(<type opttype="regedit" mode="or"/></rules>)")
        << item.OptText;
    EXPECT_EQ(item.RepairXML, R"(<?xml version="1.0" encoding="GB2312"?>)"
                              R"(<rules><type opttype="files"/><type opttype="regedit"/></rules>)")
        << item.RepairXML;
}

TEST_F(RuleItemEditorTest, GroupNameComesFromTheGroupNamesFile) {
    struct Case {
        const char* file; // nullptr: no file
        const char* shown;
    };
    for (const Case& c :
         {Case{nullptr, "所有Windows平台"}, Case{"[all-os]\nName=全部平台\n", "全部平台"},
          Case{"[all-os]\nName=\n", ""}, Case{"[xp]\nName=XP\n", "所有Windows平台"}}) {
        SCOPED_TRACE(c.file ? c.file : "none");
        std::filesystem::remove(Global().WinOSFile);
        if (c.file) test::WriteFile(Global().WinOSFile, c.file);
        TfrmAddEdit editor;
        EXPECT_EQ(editor.txtOS->text(), QString::fromUtf8(c.shown));
    }
}

TEST_F(RuleItemEditorTest, EditShowsTheItemAndSavesItBack) {
    test::WriteFile(Global().WinOSFile, "[xp]\r\nName=Windows XP\r\n");
    Insert({"name", 3, "xp", "desc", "", "", "unrelated"});
    const std::string id =
        Insert({"旧名字 it's", 3, "xp", "说明\n第二行", kDetection, kRepair, "小心"});
    editItem(id);
    TfrmAddEdit editor;
    EXPECT_EQ(editor.windowTitle(), "编辑项目");
    EXPECT_EQ(editor.Edit2->text(), "旧名字 it's");
    EXPECT_EQ(editor.ComboBox1->currentText(), "高风险");
    EXPECT_EQ(editor.ItemOSId, "xp");
    EXPECT_EQ(editor.txtOS->text(), "Windows XP");
    EXPECT_EQ(editor.Memo1->toPlainText(), "说明\n第二行");
    EXPECT_EQ(editor.Memo2->toPlainText(), "小心");
    EXPECT_EQ(editor.Edit3->text(), "所有规则满足才返回");
    EXPECT_EQ(editor.Edit4->text(), "一个规则满足即返回");
    ASSERT_EQ(editor.ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(Row(editor.ListView1, 0), (QStringList{"%windir%\\a.dll", "0", "file"}));
    EXPECT_EQ(Row(editor.ListView1, 1), (QStringList{"C:\\bad", "1", "nofile"}));
    ASSERT_EQ(editor.ListView2->topLevelItemCount(), 1);
    EXPECT_EQ(Row(editor.ListView2, 0),
              (QStringList{"HKLM", "Software\\X", "v", "REG_SZ", "1", "valueEqual", ""}));
    ASSERT_EQ(editor.ListView3->topLevelItemCount(), 1);
    EXPECT_EQ(Row(editor.ListView3, 0), (QStringList{"C:\\to", "C:\\from", "copy"}));
    ASSERT_EQ(editor.ListView4->topLevelItemCount(), 1);
    EXPECT_EQ(Row(editor.ListView4, 0),
              (QStringList{"HKCU", "Software\\Y", "w", "REG_DWORD", "5", "SetValue", "1"}));

    editor.Edit2->setText("新名字");
    editor.ComboBox1->setCurrentIndex(4);
    editor.Button1->click();
    EXPECT_EQ(ItemSaved, 1);
    EXPECT_EQ(editor.result(), QDialog::Accepted);

    const auto rows = ReadLibrary();
    ASSERT_EQ(rows.size(), 2u); // updated, not inserted
    EXPECT_EQ(rows[0].item.Name, "name");
    const RuleItem& item = rows[1].item;
    EXPECT_EQ(item.Name, "新名字");
    EXPECT_EQ(item.Level, 4);
    EXPECT_EQ(item.OSId, "xp");
    EXPECT_EQ(item.Des, "说明\n第二行");
    EXPECT_EQ(item.MessBoxText, "小心");
    DetectionRows detection;
    ASSERT_TRUE(ReadDetectionDocument(item.OptText, detection));
    EXPECT_EQ(detection.FilesMatchMode, "and");
    EXPECT_EQ(detection.RegMatchMode, "or");
    EXPECT_EQ(detection.files, (std::vector<FileConditionRow>{{"%windir%\\a.dll", "0", "file"},
                                                              {"C:\\bad", "1", "nofile"}}));
    EXPECT_EQ(detection.registry,
              (std::vector<RegConditionRow>{
                  {"HKLM", "Software\\X", "v", "REG_SZ", "1", "valueEqual", ""}}));
    // A rule without PathAbs is written back with it empty.
    EXPECT_NE(item.OptText.find(R"(PathAbs="")"), std::string::npos) << item.OptText;
    RepairRows repair;
    ASSERT_TRUE(ReadRepairDocument(item.RepairXML, repair));
    EXPECT_EQ(repair.files, (std::vector<FileActionRow>{{"C:\\to", "C:\\from", "copy"}}));
    EXPECT_EQ(repair.registry, (std::vector<RegActionRow>{{"HKCU", "Software\\Y", "w", "REG_DWORD",
                                                           "5", "SetValue", "1"}}));
}

// The groups' join and a registry action's create and list have no column: they are
// kept from load to save, and the join box sets or clears the join.
TEST_F(RuleItemEditorTest, NewerWordsAreKeptAndTheJoinBoxSetsThem) {
    DetectionRows detection;
    detection.join = "and";
    detection.files = {{"C:\\users\\u\\Documents", "1", "link"}};
    detection.registry = {{"HKLM", "K", "V", "REG_SZ", "", "!ValueExists", "0"}};
    RepairRows repair;
    repair.files = {{"C:\\users\\u\\Documents", "", "mkdir"}};
    repair.registry = {{"HKLM", "K", "V", "REG_MULTI_SZ", "a\nb", "SetValue", "", "1", "1"}};
    std::string opt, fix;
    ASSERT_TRUE(WriteDetectionDocument(detection, opt));
    ASSERT_TRUE(WriteRepairDocument(repair, fix));
    for (const bool untick : {false, true}) {
        SCOPED_TRACE(untick);
        editItem(Insert({untick ? "words 2" : "words", 0, "xp", "", opt, fix, ""}));
        TfrmAddEdit editor;
        EXPECT_TRUE(editor.CheckBox1->isChecked());
        EXPECT_EQ(editor.CheckBox1->text(), "文件规则和注册表规则都满足才触发");
        if (untick) editor.CheckBox1->setChecked(false);
        const std::string saved = editor.SavePZ();
        DetectionRows detectionRead;
        ASSERT_TRUE(ReadDetectionDocument(saved, detectionRead));
        EXPECT_EQ(detectionRead.join, untick ? "" : "and");
        EXPECT_EQ(detectionRead.files, detection.files);
        RepairRows repairRead;
        ASSERT_TRUE(ReadRepairDocument(editor.SavePZ2(), repairRead));
        EXPECT_EQ(repairRead.files, repair.files);
        EXPECT_EQ(repairRead.registry, repair.registry);
    }
}

TEST_F(RuleItemEditorTest, ADocumentLoadsUpToItsFirstFault) {
    const std::string head = R"(<?xml version="1.0" encoding="GB2312"?><rules>)";
    const std::string fileRule = R"(<CHdb FilePath="a" isFolder="0" decide="file"/>)";
    const std::string regRule =
        R"(<CHdb root="HKLM" KeyPath="k" KeyValue="v" KeyType="REG_SZ" compareValue="" decide="keyExist"/>)";
    struct Case {
        const char* name;
        std::string text;
        int files, registry;
        const char* line3;
        const char* line4;
    };
    for (const Case& c : {
             Case{"empty", "", 0, 0, "一个规则满足即返回", "一个规则满足即返回"},
             Case{"not xml", "<rules", 0, 0, "一个规则满足即返回", "一个规则满足即返回"},
             Case{"files and, registry without mode",
                  head + R"(<type opttype="files" mode="and">)" + fileRule +
                      R"(</type><type opttype="regedit">)" + regRule + "</type></rules>",
                  1, 0, "所有规则满足才返回", "一个规则满足即返回"},
             Case{"rule without decide ends the load",
                  head + R"(<type opttype="files" mode="or">)" + fileRule +
                      R"(<CHdb FilePath="b" isFolder="0"/>)" + fileRule +
                      R"(</type><type opttype="regedit" mode="and">)" + regRule + "</type></rules>",
                  1, 0, "一个规则满足即返回", "一个规则满足即返回"},
             Case{"unknown and missing opttype skipped",
                  head + R"(<type opttype="other" mode="and">)" + fileRule + R"(</type><type>)" +
                      fileRule + R"(</type><type opttype="regedit" mode="and">)" + regRule +
                      "</type></rules>",
                  0, 1, "一个规则满足即返回", "所有规则满足才返回"},
         }) {
        SCOPED_TRACE(c.name);
        editItem(Insert({"x", 1, "all-os", "", c.text, "", ""}));
        TfrmAddEdit editor;
        EXPECT_EQ(editor.ListView1->topLevelItemCount(), c.files);
        EXPECT_EQ(editor.ListView2->topLevelItemCount(), c.registry);
        EXPECT_EQ(editor.Edit3->text(), QString::fromUtf8(c.line3));
        EXPECT_EQ(editor.Edit4->text(), QString::fromUtf8(c.line4));
        EXPECT_TRUE(shown.empty());
    }
}

TEST_F(RuleItemEditorTest, EditingAMissingItemChangesNoRow) {
    Insert({"kept", 2, "xp", "d", kDetection, kRepair, "m"});
    const auto before = ReadLibrary();
    editItem("999");
    TfrmAddEdit editor;
    EXPECT_EQ(editor.windowTitle(), "编辑项目");
    EXPECT_TRUE(editor.Edit2->text().isEmpty());
    EXPECT_EQ(editor.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(editor.ListView1->topLevelItemCount(), 0);
    editor.Button1->click();
    EXPECT_EQ(ItemSaved, 1);
    const auto after = ReadLibrary();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].item.Name, "kept");
    EXPECT_EQ(after[0].item.OptText, before[0].item.OptText);
}

TEST_F(RuleItemEditorTest, CancelWritesNothing) {
    ItemSaved = 7;
    TfrmAddEdit editor;
    editor.Edit2->setText("not saved");
    editor.Button2->click();
    EXPECT_EQ(editor.result(), QDialog::Rejected);
    EXPECT_EQ(ItemSaved, 7);
    EXPECT_TRUE(ReadLibrary().empty());
}

TEST_F(RuleItemEditorTest, ListCommandsGoThroughTheirDialogs) {
    editItem(Insert({"x", 0, "all-os", "", kDetection, kRepair, ""}));
    TfrmAddEdit editor;

    // Add a file condition.
    WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) {
        EXPECT_EQ(DialogExchange.DlgMode, DlgModeAdd);
        d.ComboBox1->setEditText("<app>\\plugins");
        d.ComboBox3->setCurrentIndex(1);
        d.ComboBox2->setCurrentIndex(1);
        d.Button2->click();
    });
    editor.N1->trigger();
    ASSERT_EQ(editor.ListView1->topLevelItemCount(), 3);
    EXPECT_EQ(Row(editor.ListView1, 2), (QStringList{"<app>\\plugins", "1", "nofile"}));

    // Edit a file condition: the selected row is overwritten.
    Select(editor.ListView1, 0);
    WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) {
        EXPECT_EQ(DialogExchange.DlgMode, DlgModeEdit);
        EXPECT_EQ(d.ComboBox1->currentText(), "%windir%\\a.dll");
        d.ComboBox1->setEditText("C:\\changed");
        d.Button2->click();
    });
    editor.N2->trigger();
    ASSERT_EQ(editor.ListView1->topLevelItemCount(), 3);
    EXPECT_EQ(Row(editor.ListView1, 0), (QStringList{"C:\\changed", "0", "file"}));

    // Edit of a registry row hands over PathAbs too; cancel changes nothing.
    editor.ListView2->topLevelItem(0)->setText(6, "1");
    Select(editor.ListView2, 0);
    bool ticked = false;
    WhenShown<TfrmAddReg>([&](TfrmAddReg& d) {
        ticked = d.CheckBox1->isChecked();
        d.ComboBox2->setEditText("changed");
        d.Button1->click(); // cancel
    });
    editor.N5->trigger();
    EXPECT_TRUE(ticked);
    EXPECT_EQ(Row(editor.ListView2, 0),
              (QStringList{"HKLM", "Software\\X", "v", "REG_SZ", "1", "valueEqual", "1"}));

    // Copy of a repair copy action: filled in, a second row appended, the first kept.
    Select(editor.ListView3, 0);
    QStringList opened;
    WhenShown<TfrmAddFiles2>([&](TfrmAddFiles2& d) {
        EXPECT_EQ(DialogExchange.DlgMode, DlgModeCopy);
        opened = {d.ComboBox1->currentText(), d.ComboBox3->currentText(),
                  d.ComboBox2->currentText()};
        d.Button2->click();
    });
    editor.N15->trigger();
    EXPECT_EQ(opened, (QStringList{"C:\\to", "C:\\from", "复制文件"}));
    ASSERT_EQ(editor.ListView3->topLevelItemCount(), 2);
    EXPECT_EQ(Row(editor.ListView3, 0), Row(editor.ListView3, 1));

    // Edit of a repair registry action takes every column back.
    Select(editor.ListView4, 0);
    WhenShown<TfrmAddReg2>([](TfrmAddReg2& d) {
        EXPECT_EQ(DialogExchange.DlgMode, DlgModeEdit);
        d.Button2->click();
    });
    editor.N17->trigger();
    EXPECT_EQ(Row(editor.ListView4, 0),
              (QStringList{"HKCU", "Software\\Y", "w", "REG_DWORD", "5", "SetValue", "1"}));

    // Match mode of the registry conditions.
    WhenShown<TfrmRuleMode>([](TfrmRuleMode& d) {
        d.ComboBox1->setCurrentIndex(1); // and
        d.Button1->click();
    });
    editor.N22->trigger();
    EXPECT_EQ(editor.RegMatchMode, "and");
    EXPECT_EQ(editor.Edit4->text(), "所有规则满足才返回");
    WhenShown<TfrmRuleMode>([](TfrmRuleMode& d) { d.Button2->click(); });
    editor.N21->trigger(); // cancelled
    EXPECT_EQ(editor.FilesMatchMode, "and");

    editor.Button1->click();
    const auto rows = ReadLibrary();
    ASSERT_EQ(rows.size(), 1u);
    DetectionRows detection;
    ASSERT_TRUE(ReadDetectionDocument(rows[0].item.OptText, detection));
    EXPECT_EQ(detection.FilesMatchMode, "and");
    EXPECT_EQ(detection.RegMatchMode, "and");
    ASSERT_EQ(detection.files.size(), 3u);
    EXPECT_EQ(detection.files[0], (FileConditionRow{"C:\\changed", "0", "file"}));
    EXPECT_EQ(detection.files[2], (FileConditionRow{"<app>\\plugins", "1", "nofile"}));
    EXPECT_EQ(detection.registry[0].PathAbs, "1");
    RepairRows repair;
    ASSERT_TRUE(ReadRepairDocument(rows[0].item.RepairXML, repair));
    EXPECT_EQ(repair.files, (std::vector<FileActionRow>(2, {"C:\\to", "C:\\from", "copy"})));
}

TEST_F(RuleItemEditorTest, DeleteAsksFirst) {
    editItem(Insert({"x", 0, "all-os", "", kDetection, kRepair, ""}));
    TfrmAddEdit editor;
    struct Case {
        QAction* command;
        QTreeWidget* list;
        ui::MsgAnswer answer;
        int left;
    };
    for (const Case& c : {Case{editor.N3, editor.ListView1, ui::MsgAnswer::No, 2},
                          Case{editor.N3, editor.ListView1, ui::MsgAnswer::Yes, 1},
                          Case{editor.N6, editor.ListView2, ui::MsgAnswer::Yes, 0},
                          Case{editor.N13, editor.ListView3, ui::MsgAnswer::No, 1},
                          Case{editor.N18, editor.ListView4, ui::MsgAnswer::Yes, 0}}) {
        SCOPED_TRACE(c.command->objectName().toStdString());
        shown.clear();
        captions.clear();
        answer = c.answer;
        Select(c.list, 0);
        c.command->trigger();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], "是否确定要删除？");
        EXPECT_EQ(captions[0], "提示");
        EXPECT_EQ(c.list->topLevelItemCount(), c.left);
    }
    // The row that stayed is the second one.
    EXPECT_EQ(Row(editor.ListView1, 0)[0], "C:\\bad");
}

TEST_F(RuleItemEditorTest, CommandsOnARowNeedASelectedRow) {
    editItem(Insert({"x", 0, "all-os", "", kDetection, kRepair, ""}));
    TfrmAddEdit editor;
    editor.ListView1->clearSelection();
    editor.ListView4->clearSelection();
    // A dialog that opened anyway is recorded and closed.
    int dialogs = 0;
    for (QAction* command : {editor.N2, editor.N3, editor.N8, editor.N17, editor.N18, editor.N20}) {
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QDialog*>(top); d && d != &editor && d->isVisible()) {
                    ++dialogs;
                    d->reject();
                }
        });
        command->trigger();
        QApplication::processEvents();
    }
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(editor.ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(editor.ListView4->topLevelItemCount(), 1);
}

TEST_F(RuleItemEditorTest, PlatformGroupComesFromTheChooser) {
    SaveWinOSValue(Global().Library(), "[xp]\r\nName=Windows XP\r\nOS=[winxp]");
    TfrmAddEdit editor;
    WhenShown<TfrmWinOS>([](TfrmWinOS& d) { d.Button2->click(); });
    editor.Button3->click();
    EXPECT_EQ(editor.ItemOSId, "all-os");
    WhenShown<TfrmWinOS>([](TfrmWinOS& d) {
        d.ListView1->setCurrentItem(d.ListView1->topLevelItem(1));
        d.Button1->click();
    });
    editor.Button3->click();
    EXPECT_EQ(editor.ItemOSId, "xp");
    EXPECT_EQ(editor.txtOS->text(), "Windows XP");
    editor.Button1->click();
    const auto rows = ReadLibrary();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].item.OSId, "xp");
}

// A save that fails keeps the editor open with everything entered, leaves ItemSaved
// alone and the library unchanged; once the cause is gone, OK saves.
TEST_F(RuleItemEditorTest, AFailedSaveKeepsTheEditorAndRollsBack) {
    struct Case {
        const char* name;
        std::function<std::function<void()>()> obstruct; // returns the undo
    };
    for (const Case& c : {
             Case{"statement fails inside the transaction",
                  [] {
                      OpenRuleLibrary(Global().Library())
                          ->Execute("CREATE TRIGGER full AFTER INSERT ON cvdb BEGIN "
                                    "SELECT RAISE(FAIL, 'database or disk is full'); END");
                      return
                          [] { OpenRuleLibrary(Global().Library())->Execute("DROP TRIGGER full"); };
                  }},
             Case{"library locked by another connection",
                  [] {
                      std::shared_ptr<TSQLiteDatabase> other = OpenRuleLibrary(Global().Library());
                      other->Execute("BEGIN EXCLUSIVE");
                      return [other] { other->Execute("COMMIT"); };
                  }},
             Case{"library file unreadable",
                  [] {
                      const std::string saved = test::ReadFile(Global().DbFile);
                      test::WriteFile(Global().DbFile, std::string(2048, 'x'));
                      return [saved] { test::WriteFile(Global().DbFile, saved); };
                  }},
         }) {
        SCOPED_TRACE(c.name);
        shown.clear();
        ItemSaved = 0;
        TfrmAddEdit editor;
        editor.Edit2->setText("先保存");
        editor.Memo1->setPlainText("描述");
        editor.ComboBox1->setCurrentIndex(2);
        WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) {
            d.ComboBox1->setEditText("C:\\x");
            d.Button2->click();
        });
        editor.N1->trigger();
        const std::function<void()> undo = c.obstruct();
        editor.Button1->click();
        EXPECT_EQ(shown.size(), 1u);
        EXPECT_EQ(ItemSaved, 0);
        EXPECT_NE(editor.result(), QDialog::Accepted);
        EXPECT_EQ(editor.Edit2->text(), "先保存");
        EXPECT_EQ(editor.Memo1->toPlainText(), "描述");
        EXPECT_EQ(editor.ComboBox1->currentIndex(), 2);
        EXPECT_EQ(editor.ListView1->topLevelItemCount(), 1);
        undo();
        EXPECT_TRUE(ReadLibrary().empty()); // rolled back

        editor.Button1->click(); // try again
        EXPECT_EQ(shown.size(), 1u);
        EXPECT_EQ(ItemSaved, 1);
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        auto rows = ReadLibrary();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].item.Name, "先保存");
        EXPECT_EQ(rows[0].item.Level, 2);
        OpenRuleLibrary(Global().Library())->Execute("DELETE FROM cvdb");
    }
}

TEST_F(RuleItemEditorTest, AStoredLevelOutsideTheBoxShowsAndSavesAsSafe) {
    struct Case {
        const char* stored;
        int shown;
    };
    for (const Case& c : {Case{"0", 0}, Case{"4", 4}, Case{"5", 0}, Case{"-1", 0}, Case{"'高'", 0},
                          Case{"2.5", 2} /* read as the integer column it is */}) {
        SCOPED_TRACE(c.stored);
        OpenRuleLibrary(Global().Library())
            ->Execute(std::string("INSERT INTO cvdb (Name,Level) VALUES ('x',") + c.stored + ")");
        const std::string id = OpenRuleLibrary(Global().Library())
                                   ->Query("SELECT max(ID) AS ID FROM cvdb")
                                   ->TextByName("ID");
        editItem(id);
        TfrmAddEdit editor;
        EXPECT_EQ(editor.ComboBox1->currentIndex(), c.shown);
        editor.Button1->click();
        const auto rows = ReadLibrary();
        EXPECT_EQ(rows.back().item.Level, c.shown);
    }
}

TEST_F(RuleItemEditorTest, Screenshot) {
    test::WriteFile(Global().WinOSFile, "[xp]\r\nName=Windows XP\r\n");
    editItem(Insert(
        {"IE 主页被篡改", 2, "xp", "主页被改为未知网址", kDetection, kRepair, "将重置主页"}));
    TfrmAddEdit editor;
    editor.show();
    QApplication::processEvents();
    EXPECT_TRUE(editor.grab().save(QString::fromStdString((app.dir() / "editor.png").string())));
    if (const char* keep = std::getenv("CORVANE_SCREENSHOT")) {
        editor.grab().save(keep);
        editor.PageControl1->setCurrentIndex(1);
        editor.grab().save(QString(keep).replace(".png", "-reg.png"));
    }
}

} // namespace
} // namespace corvane
