#include "gui/editor/UnitAddReg2.h"

#include <QPushButton>

#include "gui/ui/MessageBox.h"

namespace corvane {

TfrmAddReg2::TfrmAddReg2(QWidget* parent) : TRegDialog("frmAddReg2", "执行方式", parent) {
    AddItems(ComboBox4, kActionTypes);
    AddItems(ComboBox6, kRegActions);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddReg2::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddReg2::Button1Click);
    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TfrmAddReg2::ComboBox6Click);
    FormCreate();
}

void TfrmAddReg2::FormCreate() {
    load(RegActionStart(DialogExchange));
    ComboBox6Click();
}

void TfrmAddReg2::Button2Click() {
    // Setting a REG_BINARY value is refused; the dialog stays open for another choice.
    if (!RegActionAccept(DialogExchange, shown())) {
        ui::Prompt(ToQ(kBinaryRefusal));
        return;
    }
    accept();
}

void TfrmAddReg2::Button1Click() {
    reject();
}

void TfrmAddReg2::ComboBox6Click() {
    applyLayout(RegActionLayoutFor(ComboBox6->currentIndex()));
}

} // namespace corvane
