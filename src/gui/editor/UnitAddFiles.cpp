#include "gui/editor/UnitAddFiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace corvane {

TfrmAddFiles::TfrmAddFiles(QWidget* parent) : TRuleDialog("frmAddFiles", parent) {
    Label1 = addLabel("Label1", "文件位置", 0);
    ComboBox1 = addFreeText("ComboBox1", 0);
    Label2 = addLabel("Label2", "类型", 1);
    ComboBox3 = addFixedList("ComboBox3", 1);
    AddItems(ComboBox3, kFileKinds);
    Label3 = addLabel("Label3", "触发条件", 2);
    ComboBox2 = addFixedList("ComboBox2", 2);
    AddItems(ComboBox2, kFileTriggers);
    Button2 = makeButton("Button2", "确定");
    Button1 = makeButton("Button1", "取消");
    addButtons(Button2, Button1);
    connect(Button2, &QPushButton::clicked, this, &TfrmAddFiles::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmAddFiles::Button1Click);
    FormCreate();
}

void TfrmAddFiles::FormCreate() {
    const FileConditionForm form = FileConditionStart(DialogExchange);
    setWindowTitle(ToQ(form.caption));
    ComboBox1->setEditText(ToQ(form.FilePath));
    ComboBox3->setCurrentIndex(form.kind);
    ComboBox2->setCurrentIndex(form.trigger);
}

void TfrmAddFiles::Button2Click() {
    FileConditionAccept(DialogExchange, ToStd(ComboBox1->currentText()),
                        ToStd(ComboBox3->currentText()), ToStd(ComboBox2->currentText()));
    accept();
}

void TfrmAddFiles::Button1Click() {
    reject();
}

} // namespace corvane
