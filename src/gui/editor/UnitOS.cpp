#include "gui/editor/UnitOS.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "core/store/PlatformGroups.h"
#include "gui/app/unitGlobal.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/WindowKit.h"

namespace corvane {

TfrmOS::TfrmOS(QWidget* owner) : QDialog(owner) {
    setObjectName("frmOS");
    setWindowTitle("操作系统设置");
    // A fixed frame with system menu and minimise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(420, 320);
    ui::UseWindowFont(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(8, 8, 404, 266);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Button1 = new QPushButton("确定", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(332, 284, 80, 26);
    connect(Button1, &QPushButton::clicked, this, &TfrmOS::Button1Click);
    // The window opens with what it has when loading fails.
    ui::Guarded([this] { FormCreate(); });
}

void TfrmOS::FormCreate() {
    if (const auto value = LoadWinOSValue(Global().Library()))
        Memo1->setPlainText(QString::fromStdString(*value));
}

void TfrmOS::Button1Click() {
    // Stored as typed, lines joined by CR LF; a failure keeps the window and the text.
    ui::Guarded([this] {
        const QString text = Memo1->toPlainText().split('\n').join("\r\n");
        SaveWinOSValue(Global().Library(), text.toStdString());
        accept();
    });
}

} // namespace corvane
