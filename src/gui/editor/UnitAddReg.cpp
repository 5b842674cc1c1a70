#include "gui/editor/UnitAddReg.h"

#include <QPushButton>

namespace corvane {

TfrmAddReg::TfrmAddReg(QWidget* parent) : TRegDialog("frmAddReg", "触发条件", parent) {
    AddItems(ComboBox4, kConditionTypes);
    AddItems(ComboBox6, kRegTriggers);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddReg::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddReg::Button1Click);
    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TfrmAddReg::ComboBox6Click);
    FormCreate();
}

void TfrmAddReg::FormCreate() {
    load(RegConditionStart(DialogExchange));
    ComboBox6Click();
}

void TfrmAddReg::Button2Click() {
    RegConditionAccept(DialogExchange, shown());
    accept();
}

void TfrmAddReg::Button1Click() {
    reject();
}

void TfrmAddReg::ComboBox6Click() {
    applyLayout(RegConditionLayoutFor(ComboBox6->currentIndex()));
}

} // namespace corvane
