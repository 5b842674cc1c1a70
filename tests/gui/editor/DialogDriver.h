// Drives a rule editor dialog that an opener shows with exec(): once it is up,
// `act` fills it and clicks; a dialog `act` leaves open is closed afterwards so that a
// failing test cannot hang in the modal loop.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace corvane::test {

template <class Dialog> void WhenShown(std::function<void(Dialog&)> act) {
    QTimer::singleShot(0, [act] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<Dialog*>(top);
            if (!dialog || !dialog->isVisible()) continue;
            act(*dialog);
            if (dialog->isVisible()) dialog->reject();
            return;
        }
        ADD_FAILURE() << "the dialog was not shown";
    });
}

} // namespace corvane::test
