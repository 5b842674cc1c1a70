// The file action and registry action dialogs as real windows, opened through the
// hand-over protocol.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <gtest/gtest.h>
#include <vector>

#include "gui/editor/DialogDriver.h"
#include "gui/editor/HandOver.h"
#include "gui/editor/UnitAddFiles2.h"
#include "gui/editor/UnitAddReg2.h"
#include "gui/ui/MessageBox.h"

namespace corvane {
namespace {

using test::WhenShown;

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

struct Shown {
    QString text;
    QString caption;
    ui::MsgIcon icon;
    ui::MsgButtons buttons;
};

// Every message box is recorded and answered with OK.
class ActionDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = ui::SetMessageBoxFunction([this](const QString& text, const QString& caption,
                                                    ui::MsgIcon icon, ui::MsgButtons buttons) {
            boxes.push_back({text, caption, icon, buttons});
            return ui::MsgAnswer::Ok;
        });
    }
    void TearDown() override { ui::SetMessageBoxFunction(previous); }

    ui::MessageBoxFunction previous;
    std::vector<Shown> boxes;
};

TEST_F(ActionDialogsTest, FileActionControls) {
    DialogExchange.DlgMode = DlgModeAdd;
    TfrmAddFiles2 dialog;
    for (const char* name : {"Label1", "ComboBox1", "ComboBox2", "ComboBox3", "Button1", "Button2"})
        EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(dialog.ComboBox1->count(), 0);
    EXPECT_TRUE(dialog.ComboBox3->isEditable());
    EXPECT_EQ(dialog.ComboBox3->count(), 0);
    EXPECT_FALSE(dialog.ComboBox2->isEditable());
    EXPECT_EQ(Items(dialog.ComboBox2), (QStringList{"删除文件", "复制文件", "新建文件夹"}));
    EXPECT_EQ(dialog.Label2->text(), "源文件");
    EXPECT_EQ(dialog.Label3->text(), "执行方式");
    EXPECT_EQ(dialog.Button2->text(), "确定");
    EXPECT_EQ(dialog.Button1->text(), "取消");
    EXPECT_EQ(dialog.font().family(), "宋体");
    EXPECT_EQ(dialog.font().pixelSize(), 12);
    dialog.show();
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(ActionDialogsTest, FileActionOpensByMode) {
    struct Case {
        int mode;
        FileActionRow row;
        const char* caption;
        const char* location;
        const char* source;
        const char* action;
        const char* label1;
        bool sourceEnabled;
    };
    const FileActionRow copy{"C:\\to", "C:\\from", "copy"};
    const FileActionRow odd{"C:\\x", "C:\\y", "move"};
    for (const Case& c : {
             Case{DlgModeAdd, copy, "添加文件规则", "", "", "删除文件", "文件位置", false},
             Case{DlgModeEdit, copy, "编辑文件规则", "C:\\to", "C:\\from", "复制文件", "目标文件",
                  true},
             Case{DlgModeCopy, copy, "复制文件规则", "C:\\to", "C:\\from", "复制文件", "目标文件",
                  true},
             Case{DlgModeEdit, odd, "编辑文件规则", "C:\\x", "C:\\y", "删除文件", "文件位置",
                  false},
             Case{DlgModeEdit,
                  {"C:\\d", "", "mkdir"},
                  "编辑文件规则",
                  "C:\\d",
                  "",
                  "新建文件夹",
                  "文件夹位置",
                  false},
         }) {
        SCOPED_TRACE(std::to_string(c.mode) + c.row.decide);
        PutFileAction(c.mode, c.row);
        TfrmAddFiles2 dialog;
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.ComboBox1->currentText(), c.location);
        EXPECT_EQ(dialog.ComboBox3->currentText(), c.source);
        EXPECT_EQ(dialog.ComboBox2->currentText(), c.action);
        EXPECT_EQ(dialog.Label1->text(), c.label1);
        EXPECT_EQ(dialog.ComboBox3->isEnabled(), c.sourceEnabled);
    }
}

TEST_F(ActionDialogsTest, FileActionLayoutFollowsTheAction) {
    PutFileAction(DlgModeEdit, {"C:\\to", "C:\\from", "copy"});
    TfrmAddFiles2 dialog;
    struct Case {
        int action;
        const char* label1;
        bool sourceEnabled;
    };
    for (const Case& c :
         {Case{0, "文件位置", false}, Case{1, "目标文件", true}, Case{-1, "文件位置", false}}) {
        SCOPED_TRACE(c.action);
        dialog.ComboBox2->setCurrentIndex(c.action);
        EXPECT_EQ(dialog.Label1->text(), c.label1);
        EXPECT_EQ(dialog.ComboBox3->isEnabled(), c.sourceEnabled);
        EXPECT_TRUE(dialog.ComboBox1->isEnabled());
        EXPECT_EQ(dialog.ComboBox3->currentText(), "C:\\from");
    }
}

TEST_F(ActionDialogsTest, FileActionOk) {
    struct Case {
        const char* name;
        int mode;
        FileActionRow row;
        int pick; // -1: leave as opened
        FileActionRow stored;
    };
    for (const Case& c : {
             Case{"copy kept",
                  DlgModeEdit,
                  {"C:\\to", "C:\\from", "copy"},
                  -1,
                  {"C:\\to", "C:\\from", "copy"}},
             Case{"copy switched to delete empties the source",
                  DlgModeEdit,
                  {"C:\\to", "C:\\from", "copy"},
                  0,
                  {"C:\\to", "", "delete"}},
             Case{"unknown action stores delete",
                  DlgModeEdit,
                  {"C:\\x", "C:\\y", "move"},
                  -1,
                  {"C:\\x", "", "delete"}},
             Case{"delete switched to copy",
                  DlgModeCopy,
                  {"C:\\x", "C:\\y", "delete"},
                  1,
                  {"C:\\x", "C:\\y", "copy"}},
         }) {
        SCOPED_TRACE(c.name);
        WhenShown<TfrmAddFiles2>([&c](TfrmAddFiles2& d) {
            if (c.pick >= 0) d.ComboBox2->setCurrentIndex(c.pick);
            d.Button2->click();
        });
        EXPECT_EQ(EditFileAction(nullptr, c.mode, c.row), c.stored);
    }
    WhenShown<TfrmAddFiles2>([](TfrmAddFiles2& d) {
        d.ComboBox1->setEditText("<app>\\new.ini");
        d.ComboBox2->setCurrentIndex(1);
        d.ComboBox3->setEditText("<app>\\backup\\new.ini");
        d.Button2->click();
    });
    EXPECT_EQ(EditFileAction(nullptr, DlgModeAdd),
              (FileActionRow{"<app>\\new.ini", "<app>\\backup\\new.ini", "copy"}));
}

TEST_F(ActionDialogsTest, RegistryActionControls) {
    DialogExchange.DlgMode = DlgModeAdd;
    TfrmAddReg2 dialog;
    for (const char* name : {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5",
                             "ComboBox6", "CheckBox1", "Label3", "Button1", "Button2"})
        EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(Items(dialog.ComboBox1), (QStringList{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                    "HKEY_LOCAL_MACHINE", "HKEY_USERS"}));
    EXPECT_EQ(Items(dialog.ComboBox2),
              (QStringList{"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer"}));
    EXPECT_EQ(Items(dialog.ComboBox4),
              (QStringList{"REG_SZ", "REG_DWORD", "REG_BINARY", "REG_EXPAND_SZ", "REG_MULTI_SZ"}));
    EXPECT_EQ(Items(dialog.ComboBox6), (QStringList{"删除键", "设置值", "删除值"}));
    for (QComboBox* fixed : {dialog.ComboBox1, dialog.ComboBox4, dialog.ComboBox6})
        EXPECT_FALSE(fixed->isEditable()) << fixed->objectName().toStdString();
    for (QComboBox* free : {dialog.ComboBox2, dialog.ComboBox3, dialog.ComboBox5})
        EXPECT_TRUE(free->isEditable()) << free->objectName().toStdString();
    EXPECT_EQ(dialog.ComboBox3->count(), 0);
    EXPECT_EQ(dialog.ComboBox5->count(), 0);
    EXPECT_EQ(dialog.CheckBox1->text(), "对值内容进行路径转换");
    EXPECT_EQ(dialog.Button2->text(), "确定");
    EXPECT_EQ(dialog.Button1->text(), "取消");
    dialog.show();
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(ActionDialogsTest, RegistryActionOpensByMode) {
    const RegActionRow row{"HKU", "Software\\A", "Name", "REG_EXPAND_SZ", "%x%", "SetValue", "1"};
    struct Case {
        int mode;
        const char* caption;
        bool filled;
    };
    for (const Case& c :
         {Case{DlgModeAdd, "添加注册表规则", false}, Case{DlgModeEdit, "编辑注册表规则", true},
          Case{DlgModeCopy, "复制注册表规则", true}}) {
        SCOPED_TRACE(c.mode);
        PutRegAction(c.mode, row);
        TfrmAddReg2 dialog;
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.ComboBox1->currentText(), c.filled ? "HKEY_USERS" : "HKEY_CLASSES_ROOT");
        EXPECT_EQ(dialog.ComboBox2->currentText(), c.filled ? "Software\\A" : "");
        EXPECT_EQ(dialog.ComboBox3->currentText(), c.filled ? "Name" : "");
        EXPECT_EQ(dialog.ComboBox4->currentText(), c.filled ? "REG_EXPAND_SZ" : "REG_SZ");
        EXPECT_EQ(dialog.ComboBox5->currentText(), c.filled ? "%x%" : "");
        EXPECT_EQ(dialog.ComboBox6->currentText(), c.filled ? "设置值" : "删除键");
        EXPECT_EQ(dialog.CheckBox1->isChecked(), c.filled);
        EXPECT_EQ(dialog.Label3->text(), c.filled ? "值" : "键");
        EXPECT_EQ(dialog.ComboBox4->isEnabled(), c.filled);
    }
}

TEST_F(ActionDialogsTest, RegistryActionLayoutFollowsTheAction) {
    PutRegAction(DlgModeEdit, {"HKLM", "P", "N", "REG_DWORD", "1", "SetValue", ""});
    TfrmAddReg2 dialog;
    struct Case {
        int action;
        const char* label;
        bool enabled;
    };
    for (const Case& c :
         {Case{0, "键", false}, Case{1, "值", true}, Case{2, "值", false}, Case{-1, "值", false}}) {
        SCOPED_TRACE(c.action);
        dialog.ComboBox6->setCurrentIndex(c.action);
        EXPECT_EQ(dialog.Label3->text(), c.label);
        EXPECT_EQ(dialog.ComboBox4->isEnabled(), c.enabled);
        EXPECT_EQ(dialog.ComboBox5->isEnabled(), c.enabled);
        EXPECT_TRUE(dialog.ComboBox3->isEnabled());
        EXPECT_TRUE(dialog.CheckBox1->isEnabled());
        EXPECT_EQ(dialog.ComboBox5->currentText(), "1");
    }
}

TEST_F(ActionDialogsTest, RegistryActionOk) {
    struct Case {
        const char* name;
        RegActionRow row;
        std::function<void(TfrmAddReg2&)> change;
        RegActionRow stored;
    };
    const Case cases[] = {
        {"set value kept",
         {"HKCU", "P", "N", "REG_DWORD", "0x10", "SetValue", "1"},
         {},
         {"HKCU", "P", "N", "REG_DWORD", "0x10", "SetValue", "1"}},
        {"multi-string and HKCC open as defaults",
         {"HKCC", "P", "N", "REG_MULTI_SZ", "a", "SetValue", "0"},
         {},
         {"HKLM", "P", "N", "REG_SZ", "a", "SetValue", ""}},
        {"unknown action deletes the value",
         {"HKU", "P", "N", "REG_SZ", "a", "Del", ""},
         {},
         {"HKU", "P", "N", "", "", "DelValue", ""}},
        {"binary accepted for delete value",
         {"HKCU", "P", "N", "REG_BINARY", "a", "SetValue", ""},
         [](TfrmAddReg2& d) { d.ComboBox6->setCurrentIndex(2); },
         {"HKCU", "P", "N", "", "", "DelValue", ""}},
        {"binary accepted for delete key",
         {"HKCU", "P", "Sub", "REG_BINARY", "a", "SetValue", "1"},
         [](TfrmAddReg2& d) { d.ComboBox6->setCurrentIndex(0); },
         {"HKCU", "P", "Sub", "", "", "DelKey", "1"}},
        {"typed in",
         {},
         [](TfrmAddReg2& d) {
             d.ComboBox1->setCurrentIndex(1);
             d.ComboBox2->setCurrentIndex(0);
             d.ComboBox3->setEditText("NoRun");
             d.ComboBox6->setCurrentIndex(1);
             d.ComboBox4->setCurrentIndex(1);
             d.ComboBox5->setEditText("0");
         },
         {"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun",
          "REG_DWORD", "0", "SetValue", ""}},
        {"a list that makes its key kept",
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a\n中文", "SetValue", "", "1", "1"},
         {},
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a\n中文", "SetValue", "", "1", "1"}},
        {"a list whose entry holds a semicolon, left as it stands",
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a;b\nc", "SetValue", "", "", "1"},
         {},
         {"HKLM", "P", "N", "REG_MULTI_SZ", "a;b\nc", "SetValue", "", "", "1"}},
        {"a list typed with semicolons",
         {"HKCU", "P", "N", "REG_SZ", "", "SetValue", ""},
         [](TfrmAddReg2& d) {
             d.ComboBox4->setCurrentIndex(4);
             d.ComboBox5->setEditText("x;y");
             d.CheckBox2->setChecked(true);
         },
         {"HKCU", "P", "N", "REG_MULTI_SZ", "x\ny", "SetValue", "", "1", "1"}},
        {"create and list go with delete value",
         {"HKCU", "P", "N", "REG_MULTI_SZ", "a", "SetValue", "", "1", "1"},
         [](TfrmAddReg2& d) { d.ComboBox6->setCurrentIndex(2); },
         {"HKCU", "P", "N", "", "", "DelValue", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WhenShown<TfrmAddReg2>([&c](TfrmAddReg2& d) {
            if (c.change) c.change(d);
            d.Button2->click();
        });
        const int mode = c.row == RegActionRow{} ? DlgModeAdd : DlgModeEdit;
        EXPECT_EQ(EditRegAction(nullptr, mode, c.row), c.stored);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ActionDialogsTest, SettingABinaryValueIsRefusedAndTheDialogStaysOpen) {
    const RegActionRow row{"HKCU", "P", "N", "REG_BINARY", "01 02", "SetValue", "1"};
    PutRegAction(DlgModeEdit, row);
    DialogExchange.DlgResult = 0;
    const TDialogExchange before = DialogExchange;
    bool stayedOpen = false;
    QString typeShown, actionShown;
    WhenShown<TfrmAddReg2>([&](TfrmAddReg2& d) {
        typeShown = d.ComboBox4->currentText();
        actionShown = d.ComboBox6->currentText();
        d.Button2->click();
        stayedOpen = d.isVisible();
        EXPECT_EQ(DialogExchange, before);
        d.Button1->click();
    });
    EXPECT_FALSE(ExecHandOver<TfrmAddReg2>());
    EXPECT_EQ(typeShown, "REG_BINARY");
    EXPECT_EQ(actionShown, "设置值");
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(DialogExchange, before);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "暂时不支持设置REG_BINARY类型！");
    EXPECT_EQ(boxes[0].caption, "提示");
    EXPECT_EQ(boxes[0].icon, ui::MsgIcon::Warning);
    EXPECT_EQ(boxes[0].buttons, ui::MsgButtons::Ok);

    // After the refusal the user may change the type and accept.
    boxes.clear();
    WhenShown<TfrmAddReg2>([](TfrmAddReg2& d) {
        d.Button2->click();
        d.ComboBox4->setCurrentIndex(0);
        d.Button2->click();
    });
    EXPECT_EQ(EditRegAction(nullptr, DlgModeEdit, row),
              (RegActionRow{"HKCU", "P", "N", "REG_SZ", "01 02", "SetValue", "1"}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ActionDialogsTest, CancelAndCloseTouchNothing) {
    for (bool useCloseButton : {false, true}) {
        SCOPED_TRACE(useCloseButton ? "close button" : "cancel");
        PutFileAction(DlgModeEdit, {"kept", "from", "copy"});
        PutRegAction(DlgModeEdit, {"HKCU", "K", "kept", "REG_SZ", "v", "SetValue", "1"});
        DialogExchange.DlgResult = 0;
        const TDialogExchange before = DialogExchange;
        WhenShown<TfrmAddFiles2>([&](TfrmAddFiles2& d) {
            d.ComboBox1->setEditText("changed");
            d.ComboBox2->setCurrentIndex(0);
            useCloseButton ? (void)d.close() : d.Button1->click();
        });
        EXPECT_FALSE(ExecHandOver<TfrmAddFiles2>());
        EXPECT_EQ(DialogExchange, before);
        WhenShown<TfrmAddReg2>([&](TfrmAddReg2& d) {
            d.ComboBox3->setEditText("changed");
            d.ComboBox6->setCurrentIndex(0);
            useCloseButton ? (void)d.close() : d.Button1->click();
        });
        EXPECT_FALSE(ExecHandOver<TfrmAddReg2>());
        EXPECT_EQ(DialogExchange, before);
    }
}

} // namespace
} // namespace corvane
