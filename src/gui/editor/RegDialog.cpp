#include "gui/editor/RegDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace corvane {

TRegDialog::TRegDialog(const char* objectName, std::string_view label6, QWidget* parent)
    : TRuleDialog(objectName, parent) {
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
    Label5 = addLabel("Label5", "值内容", 4);
    ComboBox5 = addFreeText("ComboBox5", 4);
    Label6 = addLabel("Label6", label6, 5);
    ComboBox6 = addFixedList("ComboBox6", 5);
    CheckBox1 = new QCheckBox(ToQ("对值内容进行路径转换"), this);
    CheckBox1->setObjectName("CheckBox1");
    rows()->addWidget(CheckBox1, 6, 1);
    Button2 = makeButton("Button2", "确定");
    Button1 = makeButton("Button1", "取消");
    addButtons(Button2, Button1);
}

void TRegDialog::load(const RegForm& form) {
    setWindowTitle(ToQ(form.caption));
    ComboBox1->setCurrentIndex(form.root);
    ComboBox4->setCurrentIndex(form.type);
    ComboBox6->setCurrentIndex(form.decide);
    ComboBox2->setEditText(ToQ(form.KeyPath));
    ComboBox3->setEditText(ToQ(form.KeyValue));
    ComboBox5->setEditText(ToQ(form.ValueText));
    CheckBox1->setChecked(form.pathAbs);
}

RegShown TRegDialog::shown() const {
    return {ToStd(ComboBox1->currentText()), ToStd(ComboBox2->currentText()),
            ToStd(ComboBox3->currentText()), ToStd(ComboBox4->currentText()),
            ToStd(ComboBox5->currentText()), ToStd(ComboBox6->currentText()),
            CheckBox1->isChecked()};
}

void TRegDialog::applyLayout(const RegLayout& layout) {
    Label3->setText(ToQ(layout.label3));
    ComboBox4->setEnabled(layout.typeEnabled);
    ComboBox5->setEnabled(layout.contentEnabled);
}

} // namespace corvane
