// The mapping of stored attribute values to the dialogs' choices and back.
#include <gtest/gtest.h>

#include "core/edit/RuleChoices.h"

namespace corvane {
namespace {

TDialogExchange Editing(int mode) {
    TDialogExchange x;
    x.DlgMode = mode;
    return x;
}

TEST(RuleChoicesTest, CaptionsFollowTheMode) {
    struct Case {
        int mode;
        const char* file;
        const char* reg;
    };
    for (const Case& c : {Case{DlgModeAdd, "添加文件规则", "添加注册表规则"},
                          Case{DlgModeEdit, "编辑文件规则", "编辑注册表规则"},
                          Case{DlgModeCopy, "复制文件规则", "复制注册表规则"},
                          Case{7, "添加文件规则", "添加注册表规则"}}) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(FileRuleCaption(c.mode), c.file);
        EXPECT_EQ(RegRuleCaption(c.mode), c.reg);
    }
}

TEST(RuleChoicesTest, StoredFileConditionValuesOpenAsTheirChoicesOrTheDefault) {
    struct Case {
        const char* isFolder;
        const char* decide;
        int kind;
        int trigger;
    };
    for (const Case& c : {Case{"0", "file", 0, 0}, Case{"1", "nofile", 1, 1}, Case{"", "", 1, 0},
                          Case{"yes", "NOFILE", 1, 0}}) {
        SCOPED_TRACE(std::string(c.isFolder) + "/" + c.decide);
        TDialogExchange x = Editing(DlgModeEdit);
        x.DlgFilePath = "<app>\\a.dll";
        x.DlgIsFolder = c.isFolder;
        x.DlgFileDecide = c.decide;
        const FileConditionForm form = FileConditionStart(x);
        EXPECT_EQ(form.FilePath, "<app>\\a.dll");
        EXPECT_EQ(form.kind, c.kind);
        EXPECT_EQ(form.trigger, c.trigger);
    }
    TDialogExchange add = Editing(DlgModeAdd);
    add.DlgFilePath = "left over";
    add.DlgIsFolder = "1";
    add.DlgFileDecide = "nofile";
    const FileConditionForm fresh = FileConditionStart(add);
    EXPECT_EQ(fresh.FilePath, "");
    EXPECT_EQ(fresh.kind, 0);
    EXPECT_EQ(fresh.trigger, 0);
}

TEST(RuleChoicesTest, RegistryConditionStartMapsUnknownValuesToDefaults) {
    struct Case {
        const char* root;
        const char* type;
        const char* decide;
        int rootPos;
        int typePos;
        int decidePos;
    };
    for (const Case& c : {
             Case{"HKCR", "REG_SZ", "KeyExists", 0, 0, 0},
             Case{"HKCU", "REG_DWORD", "!KeyExists", 1, 1, 1},
             Case{"HKLM", "REG_BINARY", "ValueExists", 2, 2, 2},
             Case{"HKU", "REG_MULTI_SZ", "!ValueExists", 3, 3, 3},
             Case{"HKLM", "REG_EXPAND_SZ", "Value=", 2, 4, 4},
             Case{"HKLM", "REG_SZ", "Value!=", 2, 0, 5},
             Case{"HKCC", "REG_QWORD", "value=", 2, 0, 2},
             Case{"", "", "", 2, 0, 2},
         }) {
        SCOPED_TRACE(std::string(c.root) + "/" + c.type + "/" + c.decide);
        TDialogExchange x = Editing(DlgModeCopy);
        x.DlgRoot = c.root;
        x.DlgKeyType = c.type;
        x.DlgRegDecide = c.decide;
        const RegForm form = RegConditionStart(x);
        EXPECT_EQ(form.root, c.rootPos);
        EXPECT_EQ(form.type, c.typePos);
        EXPECT_EQ(form.decide, c.decidePos);
    }
}

TEST(RuleChoicesTest, RegistryConditionAcceptStoresShortNamesAndEmptiesKeyConditions) {
    struct Case {
        RegShown shown;
        RegConditionRow stored;
    };
    const Case cases[] = {
        {{"HKEY_CURRENT_USER", "P", "N", "REG_DWORD", "1", "值相等", true},
         {"HKCU", "P", "N", "REG_DWORD", "1", "Value=", "1"}},
        {{"HKEY_USERS", "P", "N", "REG_SZ", "left", "值存在", false},
         {"HKU", "P", "N", "REG_SZ", "left", "ValueExists", "0"}},
        {{"HKEY_CLASSES_ROOT", "P", "Sub", "REG_SZ", "x", "键存在", false},
         {"HKCR", "P", "Sub", "", "", "KeyExists", "0"}},
        {{"HKEY_LOCAL_MACHINE", "P", "Sub", "REG_BINARY", "x", "键不存在", true},
         {"HKLM", "P", "Sub", "", "", "!KeyExists", "1"}},
        {{"", "P", "N", "REG_SZ", "x", "", false},
         {"HKLM", "P", "N", "REG_SZ", "x", "ValueExists", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.decide);
        TDialogExchange x;
        RegConditionAccept(x, c.shown);
        EXPECT_EQ(x.DlgResult, 1);
        EXPECT_EQ((RegConditionRow{x.DlgRoot, x.DlgKeyPath, x.DlgKeyValue, x.DlgKeyType,
                                   x.DlgValueText, x.DlgRegDecide, x.DlgPathAbs}),
                  c.stored);
    }
}

TEST(RuleChoicesTest, LayoutsFollowTheTriggerOrAction) {
    struct Case {
        int position;
        const char* label;
        bool type;
        bool content;
    };
    for (const Case& c : {Case{0, "键名称", false, false}, Case{1, "键名称", false, false},
                          Case{2, "值名称", true, false}, Case{3, "值名称", true, false},
                          Case{4, "值名称", true, true}, Case{5, "值名称", true, true},
                          Case{-1, "键名称", false, false}}) {
        SCOPED_TRACE(c.position);
        const RegLayout layout = RegConditionLayoutFor(c.position);
        EXPECT_EQ(layout.label3, c.label);
        EXPECT_EQ(layout.typeEnabled, c.type);
        EXPECT_EQ(layout.contentEnabled, c.content);
    }
    for (const Case& c : {Case{0, "键", false, false}, Case{1, "值", true, true},
                          Case{2, "值", false, false}, Case{-1, "值", false, false}}) {
        SCOPED_TRACE(c.position);
        const RegLayout layout = RegActionLayoutFor(c.position);
        EXPECT_EQ(layout.label3, c.label);
        EXPECT_EQ(layout.typeEnabled, c.type);
        EXPECT_EQ(layout.contentEnabled, c.content);
    }
    EXPECT_EQ(FileActionLayoutFor(1).label1, "目标文件");
    EXPECT_TRUE(FileActionLayoutFor(1).sourceEnabled);
    for (int position : {0, -1}) {
        EXPECT_EQ(FileActionLayoutFor(position).label1, "文件位置");
        EXPECT_FALSE(FileActionLayoutFor(position).sourceEnabled);
    }
}

TEST(RuleChoicesTest, MatchModeIsAndOnlyForAnd) {
    for (const auto& [stored, position] :
         {std::pair{"and", 1}, std::pair{"or", 0}, std::pair{"", 0}, std::pair{"AND", 0}}) {
        TDialogExchange x;
        x.DlgMatchMode = stored;
        EXPECT_EQ(MatchModeStart(x), position) << stored;
        MatchModeAccept(x, position);
        EXPECT_EQ(x.DlgMatchMode, position == 1 ? "and" : "or");
        EXPECT_EQ(x.DlgResult, 1);
    }
}

TEST(RuleChoicesTest, FileActionsStoreTheSourceOnlyForACopy) {
    for (const auto& [decide, position] :
         {std::pair{"copy", 1}, std::pair{"delete", 0}, std::pair{"move", 0}, std::pair{"", 0}}) {
        TDialogExchange x = Editing(DlgModeEdit);
        x.DlgFileDecide = decide;
        EXPECT_EQ(FileActionStart(x).action, position) << decide;
    }
    TDialogExchange x;
    FileActionAccept(x, "C:\\to", "C:\\from", "复制文件");
    EXPECT_EQ((FileActionRow{x.DlgFilePath, x.DlgFromPath, x.DlgFileDecide}),
              (FileActionRow{"C:\\to", "C:\\from", "copy"}));
    FileActionAccept(x, "C:\\gone", "C:\\from", "删除文件");
    EXPECT_EQ((FileActionRow{x.DlgFilePath, x.DlgFromPath, x.DlgFileDecide}),
              (FileActionRow{"C:\\gone", "", "delete"}));
}

TEST(RuleChoicesTest, RegistryActions) {
    struct StartCase {
        const char* type;
        const char* decide;
        int typePos;
        int decidePos;
    };
    for (const StartCase& c :
         {StartCase{"REG_SZ", "DelKey", 0, 0}, StartCase{"REG_DWORD", "SetValue", 1, 1},
          StartCase{"REG_BINARY", "DelValue", 2, 2}, StartCase{"REG_EXPAND_SZ", "SetValue", 3, 1},
          StartCase{"REG_MULTI_SZ", "delkey", 0, 2}, StartCase{"", "", 0, 2}}) {
        SCOPED_TRACE(std::string(c.type) + "/" + c.decide);
        TDialogExchange x = Editing(DlgModeEdit);
        x.DlgKeyType = c.type;
        x.DlgRegDecide = c.decide;
        x.DlgRoot = "HKCC";
        const RegForm form = RegActionStart(x);
        EXPECT_EQ(form.type, c.typePos);
        EXPECT_EQ(form.decide, c.decidePos);
        EXPECT_EQ(form.root, 2);
    }

    struct AcceptCase {
        RegShown shown;
        bool accepted;
        RegActionRow stored;
    };
    const AcceptCase cases[] = {
        {{"HKEY_CURRENT_USER", "P", "N", "REG_SZ", "d", "设置值", true},
         true,
         {"HKCU", "P", "N", "REG_SZ", "d", "SetValue", "1"}},
        {{"HKEY_USERS", "P", "N", "REG_BINARY", "d", "删除值", false},
         true,
         {"HKU", "P", "N", "", "", "DelValue", ""}},
        {{"HKEY_CLASSES_ROOT", "P", "Sub", "REG_BINARY", "d", "删除键", false},
         true,
         {"HKCR", "P", "Sub", "", "", "DelKey", ""}},
        {{"", "P", "N", "REG_SZ", "d", "", false},
         true,
         {"HKLM", "P", "N", "", "", "DelValue", ""}},
        {{"HKEY_CURRENT_USER", "P", "N", "REG_BINARY", "d", "设置值", true}, false, {}},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.shown.type + "/" + c.shown.decide);
        TDialogExchange x;
        x.DlgRoot = "untouched";
        EXPECT_EQ(RegActionAccept(x, c.shown), c.accepted);
        if (!c.accepted) {
            TDialogExchange untouched;
            untouched.DlgRoot = "untouched";
            EXPECT_EQ(x, untouched);
            continue;
        }
        EXPECT_EQ(x.DlgResult, 1);
        EXPECT_EQ((RegActionRow{x.DlgRoot, x.DlgKeyPath, x.DlgKeyValue, x.DlgKeyType,
                                x.DlgValueText, x.DlgRegDecide, x.DlgPathAbs}),
                  c.stored);
    }
}

} // namespace
} // namespace corvane
