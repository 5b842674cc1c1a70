// What the registry condition dialog and the registry action dialog share: the same
// rows of boxes (root, key path, key or value name, value type, value text, trigger or
// action, path conversion), filled from a form and read back as shown.
#pragma once

#include "gui/editor/RuleDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

class TRegDialog : public TRuleDialog {
    Q_OBJECT

public:
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // root
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr; // key path
    QLabel* Label3 = nullptr;       // names the key or the value, by the trigger or action
    QComboBox* ComboBox3 = nullptr; // key or value name
    QLabel* Label4 = nullptr;
    QComboBox* ComboBox4 = nullptr; // value type
    QLabel* Label5 = nullptr;
    QComboBox* ComboBox5 = nullptr; // value text
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox6 = nullptr; // trigger or action
    QCheckBox* CheckBox1 = nullptr; // path conversion of the value text
    QPushButton* Button2 = nullptr; // OK
    QPushButton* Button1 = nullptr; // cancel

    // What the boxes show, disabled ones included.
    RegShown shown() const;

protected:
    // Builds the rows; the dialog fills the type and trigger lists itself.
    TRegDialog(const char* objectName, std::string_view label6, QWidget* parent);
    void load(const RegForm& form);
    void applyLayout(const RegLayout& layout);
};

} // namespace corvane
