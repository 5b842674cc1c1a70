#include "gui/editor/UnitAddReg2.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QPushButton>

#include "gui/ui/MessageBox.h"

namespace corvane {

TfrmAddReg2::TfrmAddReg2(QWidget* parent) : TRegDialog("frmAddReg2", "执行方式", parent) {
    AddItems(ComboBox4, kActionTypeChoices);
    AddItems(ComboBox6, kRegActions);
    CheckBox2 = new QCheckBox(ToQ(kCreateKeysCaption), this);
    CheckBox2->setObjectName("CheckBox2");
    rows()->addWidget(CheckBox2, 7, 1);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddReg2::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddReg2::Button1Click);
    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TfrmAddReg2::ComboBox6Click);
    FormCreate();
}

void TfrmAddReg2::FormCreate() {
    const RegForm form = RegActionStart(DialogExchange);
    load(form);
    CheckBox2->setChecked(form.create);
    ComboBox6Click();
}

void TfrmAddReg2::Button2Click() {
    // Setting a REG_BINARY value is refused; the dialog stays open for another choice.
    RegShown boxes = shown();
    boxes.create = CheckBox2->isChecked();
    if (!RegActionAccept(DialogExchange, boxes)) {
        ui::Prompt(ToQ(kBinaryRefusal));
        return;
    }
    accept();
}

void TfrmAddReg2::Button1Click() {
    reject();
}

void TfrmAddReg2::ComboBox6Click() {
    const RegLayout layout = RegActionLayoutFor(ComboBox6->currentIndex());
    applyLayout(layout);
    CheckBox2->setEnabled(layout.createEnabled);
}

} // namespace corvane
