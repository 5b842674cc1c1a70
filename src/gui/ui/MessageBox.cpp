#include "gui/ui/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <exception>

namespace corvane::ui {

namespace {

MsgAnswer ShowQtBox(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

MessageBoxFunction& Current() {
    static MessageBoxFunction function = ShowQtBox;
    return function;
}

} // namespace

MsgAnswer MessageBox(const QString& text, const QString& caption, MsgIcon icon,
                     MsgButtons buttons) {
    return Current()(text, caption, icon, buttons);
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
    MessageBoxFunction previous = std::move(Current());
    Current() = function ? std::move(function) : MessageBoxFunction(ShowQtBox);
    return previous;
}

MsgAnswer Prompt(const QString& text, MsgButtons buttons) {
    return MessageBox(text, QStringLiteral("提示"), MsgIcon::Warning, buttons);
}

void Guarded(const std::function<void()>& handler) {
    QString message;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    MessageBox(message, QGuiApplication::applicationDisplayName(), MsgIcon::Critical,
               MsgButtons::Ok);
}

} // namespace corvane::ui
