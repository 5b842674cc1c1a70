#include <gtest/gtest.h>

#include "core/edit/DialogExchange.h"

namespace corvane {
namespace {

TEST(DialogExchangeTest, ARecordStartsWithEmptyTextsAndZeroes) {
    const TDialogExchange fresh;
    EXPECT_EQ(fresh.DlgResult, 0);
    EXPECT_EQ(fresh.DlgMode, 0);
    TDialogExchange empty;
    empty.DlgFilePath = empty.DlgIsFolder = empty.DlgFromPath = empty.DlgFileDecide = "";
    empty.DlgRoot = empty.DlgKeyPath = empty.DlgKeyValue = empty.DlgKeyType = "";
    empty.DlgValueText = empty.DlgRegDecide = empty.DlgPathAbs = empty.DlgMatchMode = "";
    empty.DlgOSId = empty.DlgOSName = "";
    EXPECT_EQ(fresh, empty);
}

TEST(DialogExchangeTest, RunHandOverClearsTheResultAndAnswersWhetherTheDialogAccepted) {
    struct Case {
        const char* name;
        int resultBefore;
        bool dialogAccepts;
        bool expected;
    };
    for (const Case& c : {Case{"accepted", 0, true, true}, Case{"cancelled", 0, false, false},
                          Case{"stale 1 from a previous dialog, cancelled", 1, false, false}}) {
        SCOPED_TRACE(c.name);
        DialogExchange.DlgResult = c.resultBefore;
        DialogExchange.DlgFilePath = "C:\\start";
        int seenOnShow = -1;
        const bool accepted = RunHandOver([&] {
            seenOnShow = DialogExchange.DlgResult;
            if (c.dialogAccepts) DialogExchange.DlgResult = 1;
        });
        EXPECT_EQ(seenOnShow, 0);
        EXPECT_EQ(accepted, c.expected);
        EXPECT_EQ(DialogExchange.DlgFilePath, "C:\\start");
    }
}

TEST(DialogExchangeTest, RowsGoInAndComeOutFieldByField) {
    const FileConditionRow fileCondition{"%windir%\\a.txt", "1", "nofile"};
    PutFileCondition(DlgModeCopy, fileCondition);
    EXPECT_EQ(DialogExchange.DlgMode, DlgModeCopy);
    EXPECT_EQ(DialogExchange.DlgIsFolder, "1");
    EXPECT_EQ(TakeFileCondition(), fileCondition);

    const RegConditionRow regCondition{"HKCU", "Software\\A", "V", "REG_SZ", "x", "Value=", "1"};
    PutRegCondition(DlgModeEdit, regCondition);
    EXPECT_EQ(DialogExchange.DlgMode, DlgModeEdit);
    EXPECT_EQ(DialogExchange.DlgValueText, "x");
    EXPECT_EQ(TakeRegCondition(), regCondition);

    const FileActionRow fileAction{"C:\\to", "C:\\from", "copy"};
    PutFileAction(DlgModeAdd, fileAction);
    EXPECT_EQ(DialogExchange.DlgFromPath, "C:\\from");
    EXPECT_EQ(TakeFileAction(), fileAction);

    const RegActionRow regAction{"HKLM", "Software\\B", "W", "REG_DWORD", "7", "SetValue", ""};
    PutRegAction(DlgModeEdit, regAction);
    EXPECT_EQ(DialogExchange.DlgValueText, "7");
    EXPECT_EQ(TakeRegAction(), regAction);
}

} // namespace
} // namespace corvane
