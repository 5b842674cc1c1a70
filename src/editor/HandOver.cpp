#include "editor/HandOver.h"

#include "editor/UnitAddFiles.h"
#include "editor/UnitAddReg.h"
#include "editor/UnitRuleMode.h"

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

std::optional<std::string> EditMatchMode(QWidget* parent, const std::string& mode) {
    DialogExchange.DlgMatchMode = mode;
    if (!ExecHandOver<TfrmRuleMode>(parent)) return std::nullopt;
    return DialogExchange.DlgMatchMode;
}

} // namespace corvane
