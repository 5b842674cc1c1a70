#include "gui/editor/UnitRuleMode.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace corvane {

TfrmRuleMode::TfrmRuleMode(QWidget* parent) : TRuleDialog("frmRuleMode", parent) {
    setWindowTitle(ToQ(kMatchModeCaption));
    Label1 = new QLabel(ToQ(kMatchModePrompt), this);
    Label1->setObjectName("Label1");
    rows()->addWidget(Label1, 0, 0);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setMinimumWidth(260);
    rows()->addWidget(ComboBox1, 1, 0);
    AddItems(ComboBox1, kMatchModes);
    Button1 = makeButton("Button1", "确定");
    Button2 = makeButton("Button2", "取消");
    addButtons(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this, &TfrmRuleMode::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmRuleMode::Button2Click);
    FormCreate();
}

void TfrmRuleMode::FormCreate() {
    ComboBox1->setCurrentIndex(MatchModeStart(DialogExchange));
}

void TfrmRuleMode::Button1Click() {
    MatchModeAccept(DialogExchange, ComboBox1->currentIndex());
    accept();
}

void TfrmRuleMode::Button2Click() {
    reject();
}

} // namespace corvane
