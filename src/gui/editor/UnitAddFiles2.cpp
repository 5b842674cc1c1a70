#include "gui/editor/UnitAddFiles2.h"

#include <QLabel>
#include <QPushButton>

namespace corvane {

TfrmAddFiles2::TfrmAddFiles2(QWidget* parent) : TRuleDialog("frmAddFiles2", parent) {
    Label1 = addLabel("Label1", "文件位置", 0);
    ComboBox1 = addFreeText("ComboBox1", 0);
    Label2 = addLabel("Label2", "源文件", 1);
    ComboBox3 = addFreeText("ComboBox3", 1);
    Label3 = addLabel("Label3", "执行方式", 2);
    ComboBox2 = addFixedList("ComboBox2", 2);
    AddItems(ComboBox2, kFileActions);
    Button2 = makeButton("Button2", "确定");
    Button1 = makeButton("Button1", "取消");
    addButtons(Button2, Button1);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddFiles2::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddFiles2::Button1Click);
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &TfrmAddFiles2::ComboBox2Click);
    FormCreate();
}

void TfrmAddFiles2::FormCreate() {
    const FileActionForm form = FileActionStart(DialogExchange);
    setWindowTitle(ToQ(form.caption));
    ComboBox1->setEditText(ToQ(form.FilePath));
    ComboBox3->setEditText(ToQ(form.FromPath));
    ComboBox2->setCurrentIndex(form.action);
    ComboBox2Click();
}

void TfrmAddFiles2::Button2Click() {
    FileActionAccept(DialogExchange, ToStd(ComboBox1->currentText()),
                     ToStd(ComboBox3->currentText()), ToStd(ComboBox2->currentText()));
    accept();
}

void TfrmAddFiles2::Button1Click() {
    reject();
}

void TfrmAddFiles2::ComboBox2Click() {
    const FileActionLayout layout = FileActionLayoutFor(ComboBox2->currentIndex());
    Label1->setText(ToQ(layout.label1));
    ComboBox3->setEnabled(layout.sourceEnabled);
}

} // namespace corvane
