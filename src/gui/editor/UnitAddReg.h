// The registry condition dialog: one row of the detection registry list.
#pragma once

#include "gui/editor/RegDialog.h"

namespace corvane {

class TfrmAddReg : public TRegDialog {
    Q_OBJECT

public:
    // Creating the dialog runs FormCreate: the start values come from DialogExchange.
    explicit TfrmAddReg(QWidget* parent = nullptr);

public slots:
    void FormCreate();
    void Button2Click();
    void Button1Click();
    // The layout that depends on ComboBox6.
    void ComboBox6Click();
};

} // namespace corvane
