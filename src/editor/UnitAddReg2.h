// The registry action dialog: one row of the repair registry list (delete a key, set a
// value or delete a value).
#pragma once

#include "editor/RuleDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

class TfrmAddReg2 : public TRuleDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddReg2(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // root
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr; // key path
    QLabel* Label3 = nullptr;       // "键" or "值" by the action
    QComboBox* ComboBox3 = nullptr; // key or value name
    QLabel* Label4 = nullptr;
    QComboBox* ComboBox4 = nullptr; // value type
    QLabel* Label5 = nullptr;
    QComboBox* ComboBox5 = nullptr; // data to write
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox6 = nullptr; // action
    QCheckBox* CheckBox1 = nullptr; // path conversion of the value content
    QPushButton* Button2 = nullptr; // OK
    QPushButton* Button1 = nullptr; // cancel

    // What the boxes show, disabled ones included.
    RegShown shown() const;

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
    // The action-dependent layout.
    void ComboBox6Click();
};

} // namespace corvane
