// corvane-cli: Corvane's engine on the command line, for maintainers and tests.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "HistoryCommand.h"
#include "PathCommand.h"
#include "PrefixesCommand.h"
#include "RegCommand.h"
#include "RulesCommand.h"
#include "ScanCommand.h"

int main(int argc, char** argv) {
    // A write beyond the file size limit fails with an error the command reports.
    signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout)
            << "usage: corvane-cli COMMAND ...\n"
               "commands:\n"
               "  reg   look into and change a Wine prefix's registry (corvane-cli reg --help)\n"
               "  path  what a rule path means in a Wine prefix (corvane-cli path --help)\n"
               "  prefixes  list the user's Wine prefixes (corvane-cli prefixes --help)\n"
               "  scan    scan a prefix, or all, with the rule library (corvane-cli scan --help)\n"
               "  repair  repair items of the rule library (corvane-cli repair --help)\n"
               "  history the repair runs of a prefix's journal (corvane-cli history --help)\n"
               "  undo    undo a repair run, or items of it (corvane-cli undo --help)\n"
               "  rules   import, export and check rule packs (corvane-cli rules --help)\n";
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "reg")
        return corvane::cli::RunRegCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "path")
        return corvane::cli::RunPathCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "prefixes")
        return corvane::cli::RunPrefixesCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "scan")
        return corvane::cli::RunScanCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "repair")
        return corvane::cli::RunRepairCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "history")
        return corvane::cli::RunHistoryCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "undo")
        return corvane::cli::RunUndoCommand(std::span(args).subspan(1), std::cout, std::cerr);
    if (args[0] == "rules")
        return corvane::cli::RunRulesCommand(std::span(args).subspan(1), std::cout, std::cerr);
    std::cerr << "corvane-cli: unknown command " << args[0] << "\n";
    return 2;
}
