// The file condition dialog: one row of the detection file list.
#pragma once

#include "gui/editor/RuleDialog.h"

class QLabel;
class QPushButton;

namespace corvane {

class TfrmAddFiles : public TRuleDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddFiles(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // location
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox3 = nullptr; // 文件 / 文件夹
    QLabel* Label3 = nullptr;
    QComboBox* ComboBox2 = nullptr; // trigger
    QPushButton* Button2 = nullptr; // OK
    QPushButton* Button1 = nullptr; // cancel

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
};

} // namespace corvane
