#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "core/edit/DialogExchange.h"
#include "core/edit/RuleList.h"
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

std::string Insert(const RuleItem& item) {
    const auto db = OpenRuleLibrary(Global().Library());
    db->Execute(RuleSql::InsertRule(Global().Library().table, item));
    return db->Query("SELECT max(ID) AS ID FROM cvdb")->TextByName("ID");
}

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

void Select(QTreeWidget* list, int index) {
    list->setCurrentItem(list->topLevelItem(index));
    list->topLevelItem(index)->setSelected(true);
}

struct Shown {
    QString text, caption;
    ui::MsgIcon icon;
    ui::MsgButtons buttons;
};

class RuleLibraryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGlobalContext(app.dir().string() + "/");
        CreateRuleDatabase(Global().Library());
        Global().EditMode = 0;
        Global().EditItemId.clear();
        ItemSaved = 0;
        DialogExchange = {};
        previous = ui::SetMessageBoxFunction([this](const QString& text, const QString& caption,
                                                    ui::MsgIcon icon, ui::MsgButtons buttons) {
            shown.push_back({text, caption, icon, buttons});
            return answer;
        });
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    TempPrefix app;
    wine::WinePlatform platform{app.dir() / "no-prefix", test::Options(app.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previous;
    ui::MsgAnswer answer = ui::MsgAnswer::Yes;
    std::vector<Shown> shown;
};

TEST_F(RuleLibraryWindowTest, ControlsAndPopupMenu) {
    TfrmView view;
    EXPECT_EQ(view.windowTitle(), "规则库管理");
    EXPECT_EQ(view.Button1->text(), "新记录");
    EXPECT_EQ(view.Button2->text(), "刷新记录");
    for (const char* name : {"Button1", "Button2", "ListView1", "PopupMenu1"})
        EXPECT_NE(view.findChild<QObject*>(name), nullptr) << name;
    QStringList captions;
    for (int c = 0; c < view.ListView1->columnCount(); ++c)
        captions << view.ListView1->headerItem()->text(c);
    EXPECT_EQ(captions, (QStringList{"编号", "项目名", "描述", "等级"}));
    EXPECT_EQ(view.ListView1->columnWidth(2), 270);
    EXPECT_EQ(view.ListView1->columnWidth(3), 80);
    EXPECT_EQ(view.ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(view.ListView1->contextMenuPolicy(), Qt::CustomContextMenu);

    QStringList menu;
    for (QAction* action : view.PopupMenu1->actions())
        menu << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(menu, (QStringList{"添加记录", "编辑记录", "删除记录", "-", "刷新记录"}));
    EXPECT_EQ(view.PopupMenu1->actions()[0], view.menuAdd);
    EXPECT_EQ(view.PopupMenu1->actions()[1], view.menuEdit);
    EXPECT_EQ(view.PopupMenu1->actions()[2], view.menuDel);
    EXPECT_EQ(view.PopupMenu1->actions()[4], view.menuUpdate);

    // Resizable: the list grows with the window.
    view.show();
    const int before = view.ListView1->width();
    view.resize(view.width() + 200, view.height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(view.ListView1->width(), before + 200);
    EXPECT_TRUE(shown.empty());
}

TEST_F(RuleLibraryWindowTest, CreationListsTheLibraryAsStored) {
    {
        TfrmView view;
        EXPECT_EQ(view.ListView1->topLevelItemCount(), 0); // an empty rule table
    }
    const std::string a = Insert({"甲项", 3, "all-os", "第一项", "", "", ""});
    const std::string b = Insert({"it's", 0, "all-os", "", "", "", ""});
    TfrmView view;
    EXPECT_EQ(Rows(view.ListView1),
              (QList<QStringList>{{QString::fromStdString(a), "甲项", "第一项", "3"},
                                  {QString::fromStdString(b), "it's", "", "0"}}));
    EXPECT_EQ(ReadRuleList(Global().Library()),
              (std::vector<RuleListRow>{{a, "甲项", "第一项", "3"}, {b, "it's", "", "0"}}));

    // Reloading, by button and by menu, shows what the library holds now.
    const std::string c = Insert({"乙项", 4, "all-os", "", "", "", ""});
    view.Button2->click();
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 3);
    DeleteRuleItem(Global().Library(), c);
    view.menuUpdate->trigger();
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 2);
    EXPECT_TRUE(shown.empty());
}

TEST_F(RuleLibraryWindowTest, AMissingLibraryFileLeavesTheListEmptyAndSilent) {
    Insert({"x", 0, "all-os", "", "", "", ""});
    fs::remove(Global().DbFile);
    TfrmView view;
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 0);
    EXPECT_TRUE(shown.empty());
}

// How a command ends: the editor cancelled or saved.
enum class Close { Cancel, Save };

TEST_F(RuleLibraryWindowTest, NewAndEditReloadAsTheirVariantDecides) {
    struct Case {
        const char* name;
        std::function<void(TfrmView&)> command;
        bool edits; // the editor opens the selected item
        Close close;
        int itemSavedBefore;
        bool reloads;
        int itemSavedAfter;
    };
    const Case cases[] = {
        {"new, cancelled", [](TfrmView& v) { v.Button1->click(); }, false, Close::Cancel, 1, false,
         0},
        {"new, saved", [](TfrmView& v) { v.Button1->click(); }, false, Close::Save, 0, true, 1},
        {"popup add, saved", [](TfrmView& v) { v.menuAdd->trigger(); }, false, Close::Save, 0, true,
         1},
        {"popup edit, cancelled", [](TfrmView& v) { v.menuEdit->trigger(); }, true, Close::Cancel,
         1, false, 0},
        {"popup edit, saved", [](TfrmView& v) { v.menuEdit->trigger(); }, true, Close::Save, 0,
         true, 1},
        // The double-click leaves ItemSaved alone and reloads in every case.
        {"double-click, cancelled",
         [](TfrmView& v) { emit v.ListView1->itemDoubleClicked(v.ListView1->currentItem(), 0); },
         true, Close::Cancel, 1, true, 1},
        {"double-click, cancelled, nothing saved before",
         [](TfrmView& v) { emit v.ListView1->itemDoubleClicked(v.ListView1->currentItem(), 0); },
         true, Close::Cancel, 0, true, 0},
        {"double-click, saved", [](TfrmView& v) { v.ListView1DblClick(); }, true, Close::Save, 0,
         true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CreateRuleDatabase(Global().Library());
        Insert({"first", 1, "all-os", "", "", "", ""});
        const std::string second = Insert({"second", 2, "all-os", "d", "", "", ""});
        TfrmView view;
        Select(view.ListView1, 1);
        // A row another program adds meanwhile shows only when the list is reloaded.
        Insert({"elsewhere", 0, "all-os", "", "", "", ""});
        ItemSaved = c.itemSavedBefore;
        Global().EditItemId = "999";

        QString opened;
        WhenShown<TfrmAddEdit>([&](TfrmAddEdit& editor) {
            opened = editor.Edit2->text();
            if (c.close == Close::Save) {
                if (!c.edits) editor.Edit2->setText("added");
                editor.Button1->click();
            } else {
                editor.Button2->click();
            }
        });
        c.command(view);

        EXPECT_EQ(Global().EditMode, c.edits ? 1 : 0);
        if (c.edits) {
            EXPECT_EQ(Global().EditItemId, second);
            EXPECT_EQ(opened, "second");
        } else {
            EXPECT_EQ(opened, "");
        }
        EXPECT_EQ(ItemSaved, c.itemSavedAfter);
        const int stored = static_cast<int>(ReadRuleList(Global().Library()).size());
        EXPECT_EQ(view.ListView1->topLevelItemCount(), c.reloads ? stored : 2);
        if (c.reloads) {
            EXPECT_TRUE(view.ListView1->selectedItems().isEmpty()); // the selection is lost
        }
        if (!c.edits && c.close == Close::Save) {
            // The new item is listed with the id the library gave it.
            const std::vector<RuleListRow> rows = ReadRuleList(Global().Library());
            ASSERT_EQ(rows.size(), 4u);
            EXPECT_EQ(rows.back().Name, "added");
            EXPECT_EQ(Rows(view.ListView1).back(),
                      (QStringList{QString::fromStdString(rows.back().Id), "added", "", "0"}));
        }
    }
    EXPECT_TRUE(shown.empty());
}

TEST_F(RuleLibraryWindowTest, CommandsOnARowDoNothingWithoutOne) {
    Insert({"only", 0, "all-os", "", "", "", ""});
    TfrmView view;
    view.ListView1->clearSelection();
    bool editorShown = false;
    const std::function<void()> commands[] = {
        [&] { view.menuEdit->trigger(); },
        [&] { view.ListView1DblClick(); },
        [&] { view.menuDel->trigger(); },
    };
    for (const auto& command : commands) {
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* editor = qobject_cast<TfrmAddEdit*>(top); editor && editor->isVisible()) {
                    editorShown = true;
                    editor->reject();
                }
        });
        command();
        QApplication::processEvents();
    }
    EXPECT_FALSE(editorShown);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(ReadRuleList(Global().Library()).size(), 1u);
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 1);
}

TEST_F(RuleLibraryWindowTest, DeleteAsksFirst) {
    const std::string a = Insert({"keep", 0, "all-os", "", "", "", ""});
    const std::string b = Insert({"drop", 1, "all-os", "", "", "", ""});
    TfrmView view;

    Select(view.ListView1, 1);
    answer = ui::MsgAnswer::No;
    view.menuDel->trigger();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "是否确定要删除？");
    EXPECT_EQ(shown[0].caption, "提示");
    EXPECT_EQ(shown[0].icon, ui::MsgIcon::Warning);
    EXPECT_EQ(shown[0].buttons, ui::MsgButtons::YesNo);
    EXPECT_EQ(ReadRuleList(Global().Library()).size(), 2u);
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(view.ListView1->selectedItems().size(), 1); // the list was not reloaded

    answer = ui::MsgAnswer::Yes;
    view.menuDel->trigger();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(ReadRuleList(Global().Library()), (std::vector<RuleListRow>{{a, "keep", "", "0"}}));
    EXPECT_EQ(Rows(view.ListView1),
              (QList<QStringList>{{QString::fromStdString(a), "keep", "", "0"}}));
}

TEST_F(RuleLibraryWindowTest, AFailingLibraryIsReportedAndTheWindowStays) {
    Insert({"x", 0, "all-os", "", "", "", ""});
    TfrmView view;
    view.show();
    Select(view.ListView1, 0);
    // A library that cannot be read: the reload after the delete meets it too.
    Global().DbKey = "wrong key";
    view.menuDel->trigger();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "是否确定要删除？");
    EXPECT_NE(shown[1].caption, "提示"); // the default error report
    EXPECT_FALSE(shown[1].text.isEmpty());
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.ListView1->topLevelItemCount(), 1); // what was shown stays

    view.Button2->click();
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_TRUE(view.isVisible());
}

TEST_F(RuleLibraryWindowTest, TheMainWindowsHiddenButtonOpensIt) {
    Insert({"listed", 2, "all-os", "", "", "", ""});
    Tfrmmain window(QString::fromStdString(app.dir().string()));
    ASSERT_FALSE(window.closeRequested());
    EXPECT_TRUE(window.bntAdd->isHidden());
    int rows = -1;
    WhenShown<TfrmView>([&](TfrmView& view) {
        rows = view.ListView1->topLevelItemCount();
        EXPECT_EQ(view.parentWidget(), &window);
        view.close();
    });
    window.bntAdd->click();
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(window.bntAdd->isHidden());
}

TEST_F(RuleLibraryWindowTest, Screenshot) {
    const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS");
    if (dir.isEmpty()) GTEST_SKIP() << "CORVANE_SCREENSHOTS not set";
    Insert({"IE 主页被篡改", 3, "all-os", "主页被改为陌生网址", "", "", ""});
    Insert({"残留的临时文件", 0, "all-os", "临时文件夹中的残留", "", "", ""});
    TfrmView view;
    Select(view.ListView1, 0);
    view.show();
    EXPECT_TRUE(view.grab().save(QString::fromUtf8(dir) + "/rule-library.png"));
}

} // namespace
} // namespace corvane
