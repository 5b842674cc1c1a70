// The opener's side of the hand-over protocol for the rule editor's dialogs: write the
// start values, DlgResult := 0, show the dialog modally, and take its results only
// when DlgResult = 1.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "core/edit/DialogExchange.h"
#include "core/engine/RuleDocument.h"

namespace corvane {

// Shows `Dialog` (created for this one command over `parent`) modally once the caller
// has written its start values; whether its OK accepted.
template <class Dialog> bool ExecHandOver(QWidget* parent = nullptr) {
    return RunHandOver([parent] {
        Dialog dialog(parent);
        dialog.exec();
    });
}

// One row through its dialog, opened as add, edit or copy (`mode`); the edited row, or
// nothing when the dialog was cancelled. For add, `row` is handed over unread.
std::optional<FileConditionRow> EditFileCondition(QWidget* parent, int mode,
                                                  const FileConditionRow& row = {});
std::optional<RegConditionRow> EditRegCondition(QWidget* parent, int mode,
                                                const RegConditionRow& row = {});
std::optional<FileActionRow> EditFileAction(QWidget* parent, int mode,
                                            const FileActionRow& row = {});
std::optional<RegActionRow> EditRegAction(QWidget* parent, int mode, const RegActionRow& row = {});
// A detection group's match mode through the match mode dialog.
std::optional<std::string> EditMatchMode(QWidget* parent, const std::string& mode);

} // namespace corvane
