// The registry action dialog: one row of the repair registry list (delete a key, set a
// value, with the missing keys made when asked, or delete a value).
#pragma once

#include "gui/editor/RegDialog.h"

namespace corvane {

class TfrmAddReg2 : public TRegDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddReg2(QWidget* parent = nullptr);

    QCheckBox* CheckBox2 = nullptr; // set value: create the missing keys

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
    // The layout that depends on ComboBox6.
    void ComboBox6Click();
};

} // namespace corvane
