#include "editor/UnitAddReg2.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/MessageBox.h"

namespace corvane {

TfrmAddReg2::TfrmAddReg2(QWidget* parent) : TRuleDialog("frmAddReg2", parent) {
    Label1 = addLabel("Label1", "根键", 0);
    ComboBox1 = addFixedList("ComboBox1", 0);
    AddItems(ComboBox1, kRootChoices);
    Label2 = addLabel("Label2", "路径", 1);
    ComboBox2 = addFreeText("ComboBox2", 1);
    ComboBox2->addItem(ToQ(kRegPathPreset));
    Label3 = addLabel("Label3", "值", 2);
    ComboBox3 = addFreeText("ComboBox3", 2);
    Label4 = addLabel("Label4", "值类型", 3);
    ComboBox4 = addFixedList("ComboBox4", 3);
    AddItems(ComboBox4, kActionTypes);
    Label5 = addLabel("Label5", "值内容", 4);
    ComboBox5 = addFreeText("ComboBox5", 4);
    Label6 = addLabel("Label6", "执行方式", 5);
    ComboBox6 = addFixedList("ComboBox6", 5);
    AddItems(ComboBox6, kRegActions);
    CheckBox1 = new QCheckBox(ToQ("对值内容进行路径转换"), this);
    CheckBox1->setObjectName("CheckBox1");
    rows()->addWidget(CheckBox1, 6, 1);
    Button2 = makeButton("Button2", "确定");
    Button1 = makeButton("Button1", "取消");
    addButtons(Button2, Button1);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddReg2::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddReg2::Button1Click);
    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TfrmAddReg2::ComboBox6Click);
    FormCreate();
}

void TfrmAddReg2::FormCreate() {
    const RegForm form = RegActionStart(DialogExchange);
    setWindowTitle(ToQ(form.caption));
    ComboBox1->setCurrentIndex(form.root);
    ComboBox4->setCurrentIndex(form.type);
    ComboBox6->setCurrentIndex(form.decide);
    ComboBox2->setEditText(ToQ(form.KeyPath));
    ComboBox3->setEditText(ToQ(form.KeyValue));
    ComboBox5->setEditText(ToQ(form.ValueText));
    CheckBox1->setChecked(form.pathAbs);
    ComboBox6Click();
}

RegShown TfrmAddReg2::shown() const {
    return {ToStd(ComboBox1->currentText()), ToStd(ComboBox2->currentText()),
            ToStd(ComboBox3->currentText()), ToStd(ComboBox4->currentText()),
            ToStd(ComboBox5->currentText()), ToStd(ComboBox6->currentText()),
            CheckBox1->isChecked()};
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
    const RegLayout layout = RegActionLayoutFor(ComboBox6->currentIndex());
    Label3->setText(ToQ(layout.label3));
    ComboBox4->setEnabled(layout.typeEnabled);
    ComboBox5->setEnabled(layout.contentEnabled);
}

} // namespace corvane
