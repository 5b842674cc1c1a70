// Corvane: finds and repairs known bad settings of a Windows machine (on Linux, a
// Wine prefix) from its library of rule items.
#include <QApplication>

#include "gui/app/Unitmain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    QApplication::setApplicationDisplayName("Corvane");
    corvane::Tfrmmain window;
    // Start-up may have asked to end before the window is ever used.
    if (window.closeRequested()) return 0;
    window.show();
    return app.exec();
}
