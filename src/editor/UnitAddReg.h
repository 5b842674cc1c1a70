// The registry condition dialog: one row of the detection registry list.
#pragma once

#include "editor/RuleDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

class TfrmAddReg : public TRuleDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddReg(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // root
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr; // key path
    QLabel* Label3 = nullptr;       // "键名称" or "值名称" by the trigger
    QComboBox* ComboBox3 = nullptr; // key or value name
    QLabel* Label4 = nullptr;
    QComboBox* ComboBox4 = nullptr; // value type
    QLabel* Label5 = nullptr;
    QComboBox* ComboBox5 = nullptr; // value to compare with
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox6 = nullptr; // trigger
    QCheckBox* CheckBox1 = nullptr; // path conversion of the value content
    QPushButton* Button2 = nullptr; // OK
    QPushButton* Button1 = nullptr; // cancel

    // What the boxes show, disabled ones included.
    RegShown shown() const;

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
    // The trigger-dependent layout.
    void ComboBox6Click();
};

} // namespace corvane
