// What every window of the program shares: text conversion at the boundary to the core,
// the window font, and handlers wired through the error guard.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <string_view>

#include "gui/ui/MessageBox.h"

class QWidget;

namespace corvane::ui {

// UTF-8 text of the core as Qt text, and back.
inline QString ToQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToStd(const QString& text) {
    return text.toStdString();
}

// The program's window font: 宋体 at 12 pixels, with the CJK fonts a Linux desktop has
// standing in for it.
void UseWindowFont(QWidget* window);

// Connects `signal` of `sender` to `handler` of `window` through the error guard: no
// error of the handler crosses the event loop.
template <class Window, class Sender, class Signal>
void Wire(Sender* sender, Signal signal, Window* window, void (Window::*handler)()) {
    QObject::connect(sender, signal, window,
                     [window, handler] { Guarded([window, handler] { (window->*handler)(); }); });
}

} // namespace corvane::ui
