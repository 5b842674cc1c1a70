#include "gui/ui/MessageBox.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QTranslator>
#include <exception>

namespace corvane::ui {

namespace {

MsgAnswer ShowQtBox(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    // Wide enough for its caption, which a title bar would otherwise cut.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(box.fontMetrics().horizontalAdvance(caption) + 160, 0,
                                      QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
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
    // As a Chinese Windows labels them, with the accelerators Y and N.
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    QPushButton* stopWine = nullptr;
    if (buttons == MsgButtons::OkStopWine)
        stopWine = box.addButton(QStringLiteral("结束 Wine 并修复"), QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return stopWine && box.clickedButton() == stopWine ? MsgAnswer::Yes : MsgAnswer::Ok;
}

QString& Title() {
    static QString title;
    return title;
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

QString ApplicationTitle() {
    return Title().isEmpty() ? QCoreApplication::applicationName() : Title();
}

void SetApplicationTitle(const QString& title) {
    Title() = title;
}

bool InstallStandardTexts() {
    static QTranslator* translator = nullptr;
    if (translator) return true;
    auto* loaded = new QTranslator(QCoreApplication::instance());
    if (!loaded->load(QStringLiteral("qtbase_zh_CN"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(loaded)) {
        delete loaded;
        return false;
    }
    translator = loaded;
    return true;
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
    MessageBox(message, ApplicationTitle(), MsgIcon::Critical, MsgButtons::Ok);
}

} // namespace corvane::ui
