#include "PathCommand.h"

#include "CliCommon.h"
#include "core/engine/RulePath.h"
#include "core/platform/wine/WinePlatform.h"

namespace corvane::cli {

const char* const kPathUsage =
    "usage: corvane-cli path [--prefix DIR] expand  RULEPATH    what a rule path expands to\n"
    "       corvane-cli path [--prefix DIR] resolve RULEPATH    the Linux path it names\n"
    "       corvane-cli path [--prefix DIR] exists  RULEPATH file|folder\n"
    "A rule path is expanded first, so a plain Windows path works as well. The prefix\n"
    "is $WINEPREFIX, else ~/.wine; <app> is the folder of corvane-cli.\n";

namespace {} // namespace

int RunPathCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "path", kPathUsage, options, out, err)) return *code;
    const std::filesystem::path& prefix = options.prefix;
    const std::size_t i = options.next;
    const std::string& name = args[i];
    const std::span<const std::string> operands = args.subspan(i + 1);
    const std::size_t wanted = name == "exists" ? 2 : 1;
    if (name != "expand" && name != "resolve" && name != "exists")
        return UsageError(err, "path", "unknown operation " + name, kPathUsage);
    if (operands.size() != wanted)
        return UsageError(err, "path", name + " takes " + std::to_string(wanted) + " argument(s)",
                          kPathUsage);
    if (name == "exists" && operands[1] != "file" && operands[1] != "folder")
        return UsageError(err, "path", "exists asks for file or folder", kPathUsage);

    wine::WinePlatform platform(prefix);
    PlatformScope scope(platform);
    if (!platform.prefixExists())
        err << "corvane-cli path: note: no Wine prefix at " << prefix.string() << "\n";

    // <app> is the folder of the shipped files, as in a scan.
    const std::string app = DecideProgramFolders(platform.paths().appDir().string() + "/").dataDir;
    const std::string path = ExpandRulePath(operands[0], app);
    if (name == "expand") {
        out << path << "\n";
        return 0;
    }
    if (name == "resolve") {
        const auto resolved = platform.paths().resolve(path);
        if (!resolved) {
            err << "corvane-cli path: " << path << " names nothing in this prefix\n";
            return 1;
        }
        out << resolved->string() << "\n";
        return 0;
    }
    const bool found =
        operands[1] == "file" ? platform.fileExists(path) : platform.folderExists(path);
    out << (found ? "true" : "false") << "\n";
    return found ? 0 : 1;
}

} // namespace corvane::cli
