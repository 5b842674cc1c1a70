#include "gui/editor/HandOver.h"

#include "gui/editor/UnitAddFiles.h"
#include "gui/editor/UnitAddFiles2.h"
#include "gui/editor/UnitAddReg.h"
#include "gui/editor/UnitAddReg2.h"
#include "gui/editor/UnitRuleMode.h"

namespace corvane {

std::optional<FileConditionRow> EditFileCondition(QWidget* parent, int mode,
                                                  const FileConditionRow& row) {
    PutFileCondition(mode, row);
    if (!ExecHandOver<TfrmAddFiles>(parent)) return std::nullopt;
    return TakeFileCondition();
}

std::optional<RegConditionRow> EditRegCondition(QWidget* parent, int mode,
                                                const RegConditionRow& row) {
    PutRegCondition(mode, row);
    if (!ExecHandOver<TfrmAddReg>(parent)) return std::nullopt;
    return TakeRegCondition();
}

std::optional<FileActionRow> EditFileAction(QWidget* parent, int mode, const FileActionRow& row) {
    PutFileAction(mode, row);
    if (!ExecHandOver<TfrmAddFiles2>(parent)) return std::nullopt;
    return TakeFileAction();
}

std::optional<RegActionRow> EditRegAction(QWidget* parent, int mode, const RegActionRow& row) {
    PutRegAction(mode, row);
    if (!ExecHandOver<TfrmAddReg2>(parent)) return std::nullopt;
    return TakeRegAction();
}

std::optional<std::string> EditMatchMode(QWidget* parent, const std::string& mode) {
    DialogExchange.DlgMatchMode = mode;
    if (!ExecHandOver<TfrmRuleMode>(parent)) return std::nullopt;
    return DialogExchange.DlgMatchMode;
}

} // namespace corvane
