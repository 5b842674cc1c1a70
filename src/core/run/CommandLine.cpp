#include "core/run/CommandLine.h"

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

std::string CommandLineHelp(const std::string& appDir) {
    return "usage: corvane [--maintain]\n"
           "Finds and repairs known bad settings of a Windows machine (here: a Wine prefix)\n"
           "from its library of rule items.\n"
           "\n"
           "  --maintain  also show the buttons \"规则管理\" (the rule library window) and\n"
           "              \"操作系统管理\" (the platform groups), for those who keep the\n"
           "              library\n"
           "  --help      show this text\n"
           "\n"
           "Files, in the program's folder " +
           appDir +
           ":\n"
           "  cvdb.db      the rule library (encrypted)\n"
           "  Setting.ini  the dates of the last scan and repair; [Wine] Prefix, the prefix\n"
           "               chosen in the status bar\n"
           "  oem/oem.ini  the program's title and author\n"
           "  WinOS.dat    the platform groups when the library has none\n"
           "  downsoft/    downloaded installers\n"
           "The prefix: $WINEPREFIX, else the one chosen in the window, else ~/.wine. Click\n"
           "the prefix in the status bar to choose another one of yours.\n";
}

} // namespace corvane
