#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/run/CommandLine.h"

namespace corvane {
namespace {

TEST(CommandLineTest, TakesMaintainAndHelpAndNothingElse) {
    struct Case {
        std::vector<std::string> args;
        bool maintain, help;
        std::string error;
    };
    const Case cases[] = {
        {{}, false, false, ""},
        {{"--maintain"}, true, false, ""},
        {{"--help"}, false, true, ""},
        {{"-h", "--maintain"}, true, true, ""},
        {{"--maintain", "-platform", "xcb"}, true, false, "unknown option -platform"},
        {{"file.txt"}, false, false, "unexpected argument file.txt"},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(line.maintain, c.maintain);
        EXPECT_EQ(line.help, c.help);
        EXPECT_EQ(line.error, c.error);
    }
    const std::string help = CommandLineHelp("/opt/corvane/");
    for (const char* part :
         {"--maintain", "/opt/corvane/", "cvdb.db", "Setting.ini", "oem/oem.ini"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
}

} // namespace
} // namespace corvane
