// The file condition, registry condition and match mode dialogs as real windows,
// opened through the hand-over protocol.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <gtest/gtest.h>

#include "gui/editor/DialogDriver.h"
#include "gui/editor/HandOver.h"
#include "gui/editor/UnitAddFiles.h"
#include "gui/editor/UnitAddReg.h"
#include "gui/editor/UnitRuleMode.h"

namespace corvane {
namespace {

using test::WhenShown;

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

template <class Dialog> void ExpectFixedDialog(Dialog& dialog) {
    EXPECT_EQ(dialog.font().family(), "宋体");
    EXPECT_EQ(dialog.font().pixelSize(), 12);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    dialog.show();
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    dialog.reject();
}

TEST(ConditionDialogsTest, FileConditionControls) {
    DialogExchange.DlgMode = DlgModeAdd;
    TfrmAddFiles dialog;
    for (const char* name : {"ComboBox1", "ComboBox2", "ComboBox3", "Button1", "Button2"})
        EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(dialog.ComboBox1->count(), 0);
    EXPECT_FALSE(dialog.ComboBox3->isEditable());
    EXPECT_EQ(Items(dialog.ComboBox3), (QStringList{"文件", "文件夹"}));
    EXPECT_FALSE(dialog.ComboBox2->isEditable());
    EXPECT_EQ(Items(dialog.ComboBox2),
              (QStringList{"文件存在触发", "文件不存在触发", "是链接触发", "不是链接触发"}));
    EXPECT_EQ(dialog.Button2->text(), "确定");
    EXPECT_EQ(dialog.Button1->text(), "取消");
    EXPECT_EQ(dialog.Label1->text(), "文件位置");
    ExpectFixedDialog(dialog);
}

TEST(ConditionDialogsTest, FileConditionOpensByMode) {
    struct Case {
        int mode;
        const char* caption;
        const char* path;
        const char* kind;
        const char* trigger;
    };
    for (const Case& c :
         {Case{DlgModeAdd, "添加文件规则", "", "文件", "文件存在触发"},
          Case{DlgModeEdit, "编辑文件规则", "%windir%\\x", "文件夹", "文件不存在触发"},
          Case{DlgModeCopy, "复制文件规则", "%windir%\\x", "文件夹", "文件不存在触发"}}) {
        SCOPED_TRACE(c.mode);
        PutFileCondition(c.mode, {"%windir%\\x", "1", "nofile"});
        TfrmAddFiles dialog;
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.ComboBox1->currentText(), c.path);
        EXPECT_EQ(dialog.ComboBox3->currentText(), c.kind);
        EXPECT_EQ(dialog.ComboBox2->currentText(), c.trigger);
    }
}

TEST(ConditionDialogsTest, FileConditionOkRewritesUnknownValuesWithDefaults) {
    struct Case {
        FileConditionRow row;
        FileConditionRow stored;
    };
    for (const Case& c : {Case{{"a", "0", "file"}, {"a", "0", "file"}},
                          Case{{"b", "1", "nofile"}, {"b", "1", "nofile"}},
                          Case{{"c", "", "gone"}, {"c", "1", "file"}},
                          Case{{"", "folder", ""}, {"", "1", "file"}}}) {
        SCOPED_TRACE(c.row.isFolder + "/" + c.row.decide);
        WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) { d.Button2->click(); });
        EXPECT_EQ(EditFileCondition(nullptr, DlgModeEdit, c.row), c.stored);
    }
}

TEST(ConditionDialogsTest, FileConditionTakesWhatTheUserChose) {
    WhenShown<TfrmAddFiles>([](TfrmAddFiles& d) {
        d.ComboBox1->setEditText("<app>\\plugins");
        d.ComboBox3->setCurrentIndex(1);
        d.ComboBox2->setCurrentIndex(1);
        d.Button2->click();
    });
    EXPECT_EQ(EditFileCondition(nullptr, DlgModeAdd),
              (FileConditionRow{"<app>\\plugins", "1", "nofile"}));
}

// Cancel and the close button leave every field as the opener wrote it.
TEST(ConditionDialogsTest, CancelAndCloseTouchNothing) {
    struct Case {
        const char* name;
        std::function<bool()> open;
    };
    const std::function<void(QWidget&)> closers[] = {
        [](QWidget& d) {
            d.findChild<QPushButton*>(d.objectName() == "frmRuleMode" ? "Button2" : "Button1")
                ->click();
        },
        [](QWidget& d) { d.close(); },
    };
    for (const auto& closeIt : closers) {
        const Case cases[] = {
            {"file",
             [&] {
                 WhenShown<TfrmAddFiles>([&](TfrmAddFiles& d) {
                     d.ComboBox1->setEditText("changed");
                     d.ComboBox3->setCurrentIndex(0);
                     closeIt(d);
                 });
                 return ExecHandOver<TfrmAddFiles>();
             }},
            {"registry",
             [&] {
                 WhenShown<TfrmAddReg>([&](TfrmAddReg& d) {
                     d.ComboBox3->setEditText("changed");
                     d.ComboBox6->setCurrentIndex(0);
                     d.CheckBox1->setChecked(false);
                     closeIt(d);
                 });
                 return ExecHandOver<TfrmAddReg>();
             }},
            {"match mode",
             [&] {
                 WhenShown<TfrmRuleMode>([&](TfrmRuleMode& d) {
                     d.ComboBox1->setCurrentIndex(1);
                     closeIt(d);
                 });
                 return ExecHandOver<TfrmRuleMode>();
             }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            PutFileCondition(DlgModeEdit, {"kept", "1", "nofile"});
            PutRegCondition(DlgModeEdit, {"HKCU", "K", "kept", "REG_SZ", "v", "Value=", "1"});
            DialogExchange.DlgMatchMode = "or";
            DialogExchange.DlgResult = 0; // as the opener sets it
            const TDialogExchange before = DialogExchange;
            EXPECT_FALSE(c.open());
            EXPECT_EQ(DialogExchange, before);
            EXPECT_EQ(DialogExchange.DlgResult, 0);
        }
    }
}

TEST(ConditionDialogsTest, RegistryConditionControls) {
    DialogExchange.DlgMode = DlgModeAdd;
    TfrmAddReg dialog;
    for (const char* name : {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5",
                             "ComboBox6", "CheckBox1", "Label3", "Button1", "Button2"})
        EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(Items(dialog.ComboBox1), (QStringList{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                    "HKEY_LOCAL_MACHINE", "HKEY_USERS"}));
    EXPECT_TRUE(dialog.ComboBox2->isEditable());
    EXPECT_EQ(Items(dialog.ComboBox2),
              (QStringList{"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer"}));
    EXPECT_TRUE(dialog.ComboBox3->isEditable());
    EXPECT_EQ(dialog.ComboBox3->count(), 0);
    EXPECT_EQ(Items(dialog.ComboBox4),
              (QStringList{"REG_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ", "REG_EXPAND_SZ"}));
    EXPECT_TRUE(dialog.ComboBox5->isEditable());
    EXPECT_EQ(dialog.ComboBox5->count(), 0);
    EXPECT_EQ(Items(dialog.ComboBox6),
              (QStringList{"键存在", "键不存在", "值存在", "值不存在", "值相等", "值不相等",
                           "列表相等", "列表不相等"}));
    for (QComboBox* fixed : {dialog.ComboBox1, dialog.ComboBox4, dialog.ComboBox6})
        EXPECT_FALSE(fixed->isEditable()) << fixed->objectName().toStdString();
    EXPECT_EQ(dialog.CheckBox1->text(), "对值内容进行路径转换");
    EXPECT_EQ(dialog.Button2->text(), "确定");
    EXPECT_EQ(dialog.Button1->text(), "取消");
    ExpectFixedDialog(dialog);
}

TEST(ConditionDialogsTest, RegistryConditionOpensByMode) {
    const RegConditionRow row{"HKCU", "Software\\A", "Name", "REG_DWORD", "5", "Value!=", "1"};
    struct Case {
        int mode;
        const char* caption;
        bool filled;
    };
    for (const Case& c :
         {Case{DlgModeAdd, "添加注册表规则", false}, Case{DlgModeEdit, "编辑注册表规则", true},
          Case{DlgModeCopy, "复制注册表规则", true}}) {
        SCOPED_TRACE(c.mode);
        PutRegCondition(c.mode, row);
        TfrmAddReg dialog;
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.ComboBox1->currentText(),
                  c.filled ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT");
        EXPECT_EQ(dialog.ComboBox2->currentText(), c.filled ? "Software\\A" : "");
        EXPECT_EQ(dialog.ComboBox3->currentText(), c.filled ? "Name" : "");
        EXPECT_EQ(dialog.ComboBox4->currentText(), c.filled ? "REG_DWORD" : "REG_SZ");
        EXPECT_EQ(dialog.ComboBox5->currentText(), c.filled ? "5" : "");
        EXPECT_EQ(dialog.ComboBox6->currentText(), c.filled ? "值不相等" : "键存在");
        EXPECT_EQ(dialog.CheckBox1->isChecked(), c.filled);
        // The trigger-dependent layout has run.
        EXPECT_EQ(dialog.Label3->text(), c.filled ? "值名称" : "键名称");
        EXPECT_EQ(dialog.ComboBox5->isEnabled(), c.filled);
    }
}

TEST(ConditionDialogsTest, RegistryConditionLayoutFollowsTheTrigger) {
    struct Case {
        int trigger;
        const char* label;
        bool type;
        bool content;
    };
    PutRegCondition(DlgModeEdit, {"HKLM", "P", "N", "REG_SZ", "left", "Value=", "0"});
    TfrmAddReg dialog;
    for (const Case& c : {Case{0, "键名称", false, false}, Case{1, "键名称", false, false},
                          Case{2, "值名称", true, false}, Case{3, "值名称", true, false},
                          Case{4, "值名称", true, true}, Case{5, "值名称", true, true},
                          Case{-1, "键名称", false, false}}) {
        SCOPED_TRACE(c.trigger);
        dialog.ComboBox6->setCurrentIndex(c.trigger);
        EXPECT_EQ(dialog.Label3->text(), c.label);
        EXPECT_EQ(dialog.ComboBox4->isEnabled(), c.type);
        EXPECT_EQ(dialog.ComboBox5->isEnabled(), c.content);
        EXPECT_TRUE(dialog.ComboBox3->isEnabled());
        EXPECT_TRUE(dialog.CheckBox1->isEnabled());
        EXPECT_EQ(dialog.ComboBox5->currentText(), "left"); // a disabled box keeps its text
    }
}

TEST(ConditionDialogsTest, RegistryConditionOk) {
    struct Case {
        const char* name;
        RegConditionRow row;
        std::function<void(TfrmAddReg&)> change;
        RegConditionRow stored;
    };
    const Case cases[] = {
        {"unchanged",
         {"HKU", "P", "N", "REG_EXPAND_SZ", "%x%", "Value=", "1"},
         {},
         {"HKU", "P", "N", "REG_EXPAND_SZ", "%x%", "Value=", "1"}},
        {"HKCC and unknown type open as defaults",
         {"HKCC", "P", "N", "REG_QWORD", "", "?", ""},
         {},
         {"HKLM", "P", "N", "REG_SZ", "", "ValueExists", "0"}},
        {"key condition empties type and compare value",
         {"HKCU", "P", "Sub", "REG_DWORD", "9", "Value=", "0"},
         [](TfrmAddReg& d) { d.ComboBox6->setCurrentIndex(0); },
         {"HKCU", "P", "Sub", "", "", "KeyExists", "0"}},
        {"value exists keeps the disabled content",
         {"HKCU", "P", "N", "REG_SZ", "rest", "Value=", "0"},
         [](TfrmAddReg& d) { d.ComboBox6->setCurrentIndex(2); },
         {"HKCU", "P", "N", "REG_SZ", "rest", "ValueExists", "0"}},
        {"typed in",
         {},
         [](TfrmAddReg& d) {
             d.ComboBox1->setCurrentIndex(3);
             d.ComboBox2->setCurrentIndex(0);
             d.ComboBox3->setEditText("NoRun");
             d.ComboBox6->setCurrentIndex(5);
             d.ComboBox4->setCurrentIndex(1);
             d.ComboBox5->setEditText("1");
             d.CheckBox1->setChecked(true);
         },
         {"HKU", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun",
          "REG_DWORD", "1", "Value!=", "1"}},
        {"a list whose entry holds a semicolon, left as it stands",
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a;b\nc", "List=", "0"},
         {},
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a;b\nc", "List=", "0"}},
        {"a list typed with semicolons reads a REG_MULTI_SZ",
         {"HKLM", "P", "N", "REG_SZ", "", "ValueExists", "0"},
         [](TfrmAddReg& d) {
             d.ComboBox6->setCurrentIndex(7);
             d.ComboBox5->setEditText("x;中文");
         },
         {"HKLM", "P", "N", "REG_MULTI_SZ", "x\n中文", "List!=", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WhenShown<TfrmAddReg>([&c](TfrmAddReg& d) {
            if (c.change) c.change(d);
            d.Button2->click();
        });
        const int mode = c.change && c.row == RegConditionRow{} ? DlgModeAdd : DlgModeEdit;
        EXPECT_EQ(EditRegCondition(nullptr, mode, c.row), c.stored);
    }
}

TEST(ConditionDialogsTest, MatchModeDialog) {
    DialogExchange.DlgMatchMode = "";
    TfrmRuleMode dialog;
    EXPECT_EQ(dialog.windowTitle(), "规则模式");
    EXPECT_EQ(dialog.Label1->text(), "请选择您的规则模式");
    EXPECT_FALSE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(Items(dialog.ComboBox1),
              (QStringList{"一个规则满足即返回(or模式)", "所有规则满足才返回(and模式)"}));
    EXPECT_EQ(dialog.Button1->text(), "确定");
    EXPECT_EQ(dialog.Button2->text(), "取消");
    ExpectFixedDialog(dialog);

    struct Case {
        const char* start;
        int pick; // -1: leave as opened
        const char* shown;
        const char* stored;
    };
    for (const Case& c : {Case{"and", -1, "所有规则满足才返回(and模式)", "and"},
                          Case{"or", -1, "一个规则满足即返回(or模式)", "or"},
                          Case{"", -1, "一个规则满足即返回(or模式)", "or"},
                          Case{"AND", -1, "一个规则满足即返回(or模式)", "or"},
                          Case{"or", 1, "一个规则满足即返回(or模式)", "and"},
                          Case{"and", 0, "所有规则满足才返回(and模式)", "or"}}) {
        SCOPED_TRACE(std::string(c.start) + " pick " + std::to_string(c.pick));
        QString shown;
        WhenShown<TfrmRuleMode>([&](TfrmRuleMode& d) {
            shown = d.ComboBox1->currentText();
            if (c.pick >= 0) d.ComboBox1->setCurrentIndex(c.pick);
            d.Button1->click();
        });
        EXPECT_EQ(EditMatchMode(nullptr, c.start), std::optional<std::string>(c.stored));
        EXPECT_EQ(shown, c.shown);
    }
}

} // namespace
} // namespace corvane
