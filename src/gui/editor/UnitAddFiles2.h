// The file action dialog: one row of the repair file list (delete a file, or copy a
// source file to a target).
#pragma once

#include "gui/editor/RuleDialog.h"

class QLabel;
class QPushButton;

namespace corvane {

class TfrmAddFiles2 : public TRuleDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddFiles2(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;       // "文件位置", or "目标文件" for a copy
    QComboBox* ComboBox1 = nullptr; // file to delete, or target of the copy
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox3 = nullptr; // source of the copy
    QLabel* Label3 = nullptr;
    QComboBox* ComboBox2 = nullptr; // action
    QPushButton* Button2 = nullptr; // OK
    QPushButton* Button1 = nullptr; // cancel

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
    // The action-dependent layout.
    void ComboBox2Click();
};

} // namespace corvane
