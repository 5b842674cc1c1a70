// Corvane: finds and repairs known bad settings of a Windows machine (on Linux, a
// Wine prefix) from its library of rule items.
#include <QApplication>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/run/CommandLine.h"
#include "gui/app/Unitmain.h"
#include "gui/ui/MessageBox.h"

int main(int argc, char** argv) {
    // A write beyond the file size limit fails with an error the window reports, rather
    // than ending the program.
    signal(SIGXFSZ, SIG_IGN);
    // Read before Qt starts, so that --help works without a display.
    const corvane::CommandLine line =
        corvane::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help || !line.error.empty()) {
        std::error_code ec;
        std::string appDir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
        if (ec) appDir = ".";
        if (!line.error.empty()) std::cerr << "corvane: " << line.error << "\n";
        (line.help ? std::cout : std::cerr) << corvane::CommandLineHelp(appDir + "/");
        return line.help ? 0 : 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName("Corvane");
    // No application display name: the window system would add it to every title.
    corvane::ui::InstallStandardTexts();
    corvane::Tfrmmain window;
    // Start-up may have asked to end before the window is ever used.
    if (window.closeRequested()) return 0;
    window.setMaintenance(line.maintain);
    window.show();
    return app.exec();
}
