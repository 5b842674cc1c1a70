#include "gui/editor/RuleDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace corvane {

TRuleDialog::TRuleDialog(const char* objectName, QWidget* parent) : QDialog(parent) {
    setObjectName(objectName);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ui::UseWindowFont(this);

    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetFixedSize);
    rows_ = new QGridLayout;
    rows_->setHorizontalSpacing(8);
    rows_->setVerticalSpacing(8);
    column->addLayout(rows_);
}

void CentreOverMainWindow(QDialog& dialog) {
    const QWidget* over = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "frmmain" && top->isVisible()) over = top;
    if (!over && dialog.parentWidget()) over = dialog.parentWidget()->window();
    const QRect area = over ? over->frameGeometry()
                            : (dialog.screen() ? dialog.screen()->availableGeometry() : QRect());
    if (area.isValid()) {
        QRect frame = dialog.frameGeometry();
        frame.moveCenter(area.center());
        dialog.move(frame.topLeft());
    }
}

void TRuleDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOverMainWindow(*this);
}

QLabel* TRuleDialog::addLabel(const char* name, std::string_view text, int row) {
    auto* label = new QLabel(ToQ(text), this);
    label->setObjectName(name);
    rows_->addWidget(label, row, 0);
    return label;
}

QComboBox* TRuleDialog::addFixedList(const char* name, int row) {
    auto* box = new QComboBox(this);
    box->setObjectName(name);
    box->setMinimumWidth(320);
    rows_->addWidget(box, row, 1);
    return box;
}

QComboBox* TRuleDialog::addFreeText(const char* name, int row) {
    auto* box = new QComboBox(this);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumWidth(320);
    rows_->addWidget(box, row, 1);
    return box;
}

QPushButton* TRuleDialog::makeButton(const char* name, std::string_view text) {
    auto* button = new QPushButton(ToQ(text), this);
    button->setObjectName(name);
    return button;
}

void TRuleDialog::addButtons(QPushButton* ok, QPushButton* cancel) {
    auto* line = new QHBoxLayout;
    line->addStretch();
    line->addWidget(ok);
    line->addWidget(cancel);
    ok->setDefault(true);
    static_cast<QVBoxLayout*>(layout())->addLayout(line);
}

} // namespace corvane
