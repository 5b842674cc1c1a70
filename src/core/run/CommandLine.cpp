#include "core/run/CommandLine.h"

#include "core/run/ProgramFolders.h"
#include "core/run/Version.h"

namespace corvane {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (const std::string& arg : args) {
        if (arg == "--maintain")
            line.maintain = true;
        else if (arg == "--help" || arg == "-h")
            line.help = true;
        else if (!arg.empty() && arg[0] == '-')
            line.error = "unknown option " + arg;
        else
            line.error = "unexpected argument " + arg;
        if (!line.error.empty()) break;
    }
    return line;
}

std::string CommandLineHelp(const ProgramFolders& f) {
    std::string text =
        "usage: corvane [--maintain]\n"
        "Corvane " CORVANE_VERSION "\n"
        "Finds and repairs known bad settings of a Windows machine (here: a Wine prefix)\n"
        "from its library of rule items.\n"
        "\n"
        "  --maintain  also show the buttons \"规则管理\" (the rule library window) and\n"
        "              \"操作系统管理\" (the platform groups), for those who keep the\n"
        "              library\n"
        "  --help      show this text\n"
        "\n";
    if (!f.installed) {
        text += "Files, in the program's folder " + f.programDir +
                ":\n"
                "  cvdb.db      the rule library (encrypted)\n"
                "  Setting.ini  the dates of the last scan and repair; [Wine] Prefix, the prefix\n"
                "               chosen in the status bar\n"
                "  oem/oem.ini  the program's title and author\n"
                "  WinOS.dat    the platform groups when the library has none\n"
                "  downsoft/    downloaded installers\n"
                "<app> in rules is this folder.\n";
    } else {
        text += "The program's folder " + f.programDir +
                " is not written to (installed).\n"
                "Shipped files, read only, in " +
                f.dataDir +
                " (<app> in rules):\n"
                "  cvdb.db      the rule library as shipped\n"
                "  oem/oem.ini  the program's title and author\n"
                "  WinOS.dat    the platform groups when the library has none\n";
        if (!f.error.empty()) {
            text += "The user's files: none, " + f.error + "\n";
        } else {
            text += "The user's files:\n"
                    "  " +
                    f.libraryFile +
                    "\n"
                    "      the rule library the program reads and the rule editor changes\n"
                    "      (a copy of the shipped one, made on first use)\n"
                    "  " +
                    f.settingsFile +
                    "\n"
                    "      the dates of the last scan and repair; [Wine] Prefix, the prefix\n"
                    "      chosen in the status bar\n"
                    "  " +
                    f.downloadDir + "\n      downloaded installers\n";
        }
    }
    return text +
           "The repair journal: $XDG_STATE_HOME/corvane/journal/ "
           "(~/.local/state/corvane/journal/).\n"
           "The prefix: $WINEPREFIX, else the one chosen in the window, else ~/.wine. Click\n"
           "the prefix in the status bar to choose another one of yours.\n";
}

std::string CommandLineHelp(const std::string& appDir) {
    return CommandLineHelp(DecideProgramFolders(appDir));
}

} // namespace corvane
