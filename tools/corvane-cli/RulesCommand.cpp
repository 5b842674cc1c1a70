#include "RulesCommand.h"

#include <fstream>
#include <sstream>

#include "CliCommon.h"
#include "core/platform/wine/WinePlatform.h"
#include "core/store/RulePack.h"

namespace corvane::cli {

const char* const kRulesUsage =
    "usage: corvane-cli rules import PACK... [--library FILE]\n"
    "       corvane-cli rules export [--library FILE]\n"
    "       corvane-cli rules check PACK... | --library FILE\n"
    "The rule library is the window's (cvdb.db beside corvane-cli, or\n"
    "$XDG_DATA_HOME/corvane/cvdb.db for an installed copy) unless --library names one.\n"
    "import  fills an empty rule library (created when missing) from rule packs, their\n"
    "        items in the order given, all or nothing; a library that already holds\n"
    "        items is refused\n"
    "export  writes the library's rule pack to standard output\n"
    "check   prints each problem of a pack or library as NAME: PROBLEM, changes nothing\n"
    "Exit codes: 0 done, 1 the pack or library does not check, 2 an error.\n";

namespace {

namespace fs = std::filesystem;

bool ReadPackFile(const fs::path& file, std::string& text) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

// Prints the problems; the exit code of a check.
int Report(const std::vector<RulePackProblem>& problems, std::ostream& out) {
    for (const RulePackProblem& p : problems)
        out << (p.item.empty() ? std::string("(pack)") : p.item) << ": " << p.problem << "\n";
    return problems.empty() ? 0 : 1;
}

} // namespace

int RunRulesCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return UsageError(err, "rules", "no operation given", kRulesUsage);
    if (args[0] == "--help") {
        out << kRulesUsage;
        return 0;
    }
    const std::string operation = args[0];
    const std::string command = "rules " + operation;
    if (operation != "import" && operation != "export" && operation != "check")
        return UsageError(err, "rules", "unknown operation " + operation, kRulesUsage);
    // Options may stand before or after the pack.
    std::vector<std::string> optionArgs, operands;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i].starts_with("--")) {
            optionArgs.push_back(args[i]);
            if ((args[i] == "--library" || args[i] == "--prefix") && i + 1 < args.size())
                optionArgs.push_back(args[++i]);
        } else {
            operands.push_back(args[i]);
        }
    }
    CommonOptions options;
    if (auto code =
            ParseOptions(optionArgs, command, kRulesUsage, options, out, err, {"--library"}, false))
        return *code;
    // "check --library FILE" checks the library, as export reads it.
    const bool fromLibrary = operation == "export" ||
                             (operation == "check" && operands.empty() && !options.library.empty());
    if (fromLibrary && !operands.empty())
        return UsageError(err, command, "unexpected argument " + operands[0], kRulesUsage);
    if (!fromLibrary && operands.empty())
        return UsageError(err, command, "no rule pack given", kRulesUsage);
    if (operation == "check" && !fromLibrary && !options.library.empty()) {
        return UsageError(err, command, "give a rule pack or --library, not both", kRulesUsage);
    }
    try {
        Session session(options);
        const LibraryLocation& location = session.inputs.library;
        const fs::path library = location.file;
        RulePack pack;
        if (!fromLibrary) {
            // Several packs make one: their items in order, the platform groups of the
            // packs that describe them, which must agree.
            for (const std::string& file : operands) {
                std::string text;
                if (!ReadPackFile(file, text)) {
                    err << "corvane-cli " << command << ": cannot read " << file << "\n";
                    return 2;
                }
                RulePack part;
                try {
                    part = ReadRulePack(text);
                } catch (const ERulePackException& e) {
                    err << "corvane-cli " << command << ": " << file << ": " << e.what() << "\n";
                    return 1;
                }
                if (part.platforms && pack.platforms && *part.platforms != *pack.platforms) {
                    err << "corvane-cli " << command << ": " << file
                        << ": its platform groups differ from those of the packs before it\n";
                    return 1;
                }
                if (part.platforms) pack.platforms = std::move(part.platforms);
                for (RuleItem& item : part.items)
                    pack.items.push_back(std::move(item));
            }
        } else {
            if (!fs::is_regular_file(library)) {
                err << "corvane-cli " << command << ": no rule library at " << library.string()
                    << "\n";
                return 2;
            }
            pack = ExportRuleLibrary(location);
        }
        if (operation == "check") return Report(CheckRulePack(pack), out);
        if (operation == "export") {
            out << WriteRulePack(pack);
            out.flush();
            return out ? 0 : 2;
        }
        // import: the pack must check before the library is touched.
        if (Report(CheckRulePack(pack), err) != 0) {
            err << "corvane-cli rules import: the pack does not check; the library is "
                   "unchanged\n";
            return 1;
        }
        // A missing library is made aside and appears only once complete.
        if (fs::exists(library))
            ImportRuleLibrary(location, pack);
        else
            ImportNewRuleLibrary(location, pack);
        out << "imported " << pack.items.size() << " rule items into " << library.string() << "\n";
        return 0;
    } catch (const std::exception& e) {
        return Failed(err, command, e);
    }
}

} // namespace corvane::cli
