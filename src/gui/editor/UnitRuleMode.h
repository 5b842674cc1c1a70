// The match mode dialog: "or" or "and" for one detection group.
#pragma once

#include "gui/editor/RuleDialog.h"

class QLabel;
class QPushButton;

namespace corvane {

class TfrmRuleMode : public TRuleDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start mode is DlgMatchMode.
    explicit TfrmRuleMode(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // cancel

public slots:
    void FormCreate();
    void Button1Click();
    void Button2Click();
};

} // namespace corvane
