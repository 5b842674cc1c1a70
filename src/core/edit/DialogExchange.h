// The hand-over values of the rule editor. Its windows never call each other with
// arguments: an opener writes what the next window needs into `DialogExchange`, sets
// `DlgResult` to 0 and shows the window modally; the window reads its start values
// when it is created and, only when its OK command accepts, writes its results and
// sets `DlgResult` to 1. `ItemSaved` tells the rule library window that the rule item
// editor saved. Both live for the whole run and are touched on the UI thread only.
#pragma once

#include <functional>
#include <string>

#include "core/engine/RuleDocument.h"

namespace corvane {

// How a condition or action dialog was opened (`DlgMode`).
enum : int { DlgModeAdd = 0, DlgModeEdit = 1, DlgModeCopy = 2 };

struct TDialogExchange {
    int DlgResult = 0;         // 1 when the dialog's OK accepted the input
    int DlgMode = 0;           // DlgModeAdd, DlgModeEdit or DlgModeCopy
    std::string DlgFilePath;   // `FilePath` of a file row
    std::string DlgIsFolder;   // `isFolder` of a detection file row
    std::string DlgFromPath;   // `FromPath` of a repair file row
    std::string DlgFileDecide; // `decide` of a file row
    std::string DlgRoot;       // `root` of a registry row
    std::string DlgKeyPath;
    std::string DlgKeyValue;
    std::string DlgKeyType;
    std::string DlgValueText; // `compareValue` (condition) or `ValueContent` (action)
    std::string DlgRegDecide; // `decide` of a registry row
    std::string DlgPathAbs;
    std::string DlgCreate;    // `create` of a registry action ("1" or "")
    std::string DlgList;      // `list` of a registry action ("1" or "")
    std::string DlgMatchMode; // "and" or "or"
    std::string DlgOSId;      // the group chosen in the platform group chooser
    std::string DlgOSName;    // its display name
    bool operator==(const TDialogExchange&) const = default;
};

// The one exchange record of the process.
extern TDialogExchange DialogExchange;

// Set to 1 by the rule item editor when its OK command has run.
extern int ItemSaved;

// The opener's side of the protocol once the start values are written: `DlgResult` :=
// 0, `showModal` shows the dialog and returns when it has closed; the answer is whether
// the dialog accepted (`DlgResult` = 1). Only then may the opener read the results.
bool RunHandOver(const std::function<void()>& showModal);

// Writing a row's start values and reading a dialog's results, field by field as the
// dialogs read and write them.
void PutFileCondition(int mode, const FileConditionRow& row);
FileConditionRow TakeFileCondition();
void PutRegCondition(int mode, const RegConditionRow& row);
RegConditionRow TakeRegCondition();
void PutFileAction(int mode, const FileActionRow& row);
FileActionRow TakeFileAction();
void PutRegAction(int mode, const RegActionRow& row);
RegActionRow TakeRegAction();

} // namespace corvane
