#include "RegCommand.h"

#include <map>
#include <optional>
#include <sstream>

#include "CliCommon.h"
#include "core/engine/RegCommon.h"
#include "core/platform/wine/WinePlatform.h"

namespace corvane::cli {

const char* const kRegUsage =
    "usage: corvane-cli reg [--prefix DIR] key-exists   ROOT KEYPATH NAME\n"
    "       corvane-cli reg [--prefix DIR] value-exists ROOT KEYPATH NAME TYPE\n"
    "       corvane-cli reg [--prefix DIR] read         ROOT KEYPATH NAME TYPE\n"
    "       corvane-cli reg [--prefix DIR] set          ROOT KEYPATH NAME TYPE DATA\n"
    "       corvane-cli reg [--prefix DIR] delete-value ROOT KEYPATH NAME\n"
    "       corvane-cli reg [--prefix DIR] delete-key   ROOT KEYPATH NAME\n"
    "ROOT is HKCR, HKCU, HKLM, HKU or HKCC; TYPE is REG_SZ, REG_EXPAND_SZ, REG_DWORD,\n"
    "REG_BINARY or REG_MULTI_SZ. The prefix is $WINEPREFIX, else ~/.wine.\n";

namespace {

struct Operation {
    std::size_t argCount; // after the operation's name
    bool writes;
};

const std::map<std::string, Operation, std::less<>> kOperations = {
    {"key-exists", {3, false}}, {"value-exists", {4, false}}, {"read", {4, false}},
    {"set", {5, true}},         {"delete-value", {3, true}},  {"delete-key", {3, true}},
};

int Answer(std::ostream& out, bool result) {
    out << (result ? "true" : "false") << "\n";
    return result ? 0 : 1;
}

// A registry file that cannot be read, or a write that was refused or failed: the
// answer would not be the machine's.
std::optional<int> RegistryError(Platform& platform, std::ostream& err) {
    const std::string error = platform.registryError();
    if (error.empty()) return std::nullopt;
    err << "corvane-cli reg: " << error << "\n";
    return 2;
}

int Run(const std::string& name, std::span<const std::string> operands, std::ostream& out,
        std::ostream& err) {
    const RegKey root = RootKeyFromName(operands[0]);
    const std::string& keyPath = operands[1];
    const std::string& valueName = operands[2];
    if (name == "key-exists") return Answer(out, RegKeyExists(root, keyPath, valueName));
    if (name == "value-exists")
        return Answer(out, RegValueExists(root, keyPath, valueName, operands[3]));
    if (name == "read") {
        // The engine reads a missing value as the empty text (detection compares it so);
        // the command tells the two apart.
        if (!RegValueExists(root, keyPath, valueName, "")) {
            err << "corvane-cli reg: no value " << valueName << " in " << operands[0] << "\\"
                << keyPath << "\n";
            return 1;
        }
        std::string text;
        if (!ReadRegValueText(root, keyPath, valueName, operands[3], text)) {
            err << "corvane-cli reg: the value cannot be read as " << operands[3] << "\n";
            return 1;
        }
        out << text << "\n";
        return 0;
    }
    if (name == "set") {
        // The engine writes nothing to a key that does not exist and calls that done (a
        // repair relies on it); the command says so instead.
        if (ActivePlatform().regWriteState() == RegWriteState::Writable &&
            !RegKeyExists(root, keyPath, "")) {
            if (auto code = RegistryError(ActivePlatform(), err)) return *code;
            err << "corvane-cli reg: no key " << operands[0] << "\\" << keyPath
                << "; nothing was written\n";
            return Answer(out, false);
        }
        return Answer(out, WriteRegValue(root, keyPath, valueName, operands[3], operands[4]));
    }
    if (name == "delete-value") return Answer(out, DeleteRegValue(root, keyPath, valueName));
    std::string why;
    const bool deleted = DeleteRegKey(root, keyPath, valueName, &why);
    if (!why.empty()) err << "corvane-cli reg: " << why << "\n";
    return Answer(out, deleted);
}

} // namespace

int RunRegCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    CommonOptions options;
    if (auto code = ParseOptions(args, "reg", kRegUsage, options, out, err)) return *code;
    const std::filesystem::path& prefix = options.prefix;
    const std::size_t i = options.next;
    const std::string& name = args[i];
    const auto op = kOperations.find(name);
    if (op == kOperations.end())
        return UsageError(err, "reg", "unknown operation " + name, kRegUsage);
    const std::span<const std::string> operands = args.subspan(i + 1);
    if (operands.size() != op->second.argCount)
        return UsageError(err, "reg",
                          name + " takes " + std::to_string(op->second.argCount) + " arguments",
                          kRegUsage);

    wine::WinePlatform platform(prefix);
    PlatformScope scope(platform);
    if (!platform.prefixExists())
        err << "corvane-cli reg: note: no Wine prefix at " << prefix.string()
            << "; its registry is empty\n";
    if (op->second.writes && platform.regWriteState() == RegWriteState::ServerRunning) {
        err << "corvane-cli reg: Wine is running for " << prefix.string()
            << "; it owns the registry, so nothing was written (close its programs or run "
               "\"wineserver -k\" first)\n";
        return 2;
    }
    if (op->second.writes && platform.regWriteState() == RegWriteState::OtherWriter) {
        err << "corvane-cli reg: another Corvane command is changing this prefix ("
            << prefix.string() << "); nothing was written, try again when it has finished\n";
        return 2;
    }
    if (auto code = RegistryError(platform, err)) return *code;
    // The answer is printed only when it is the machine's.
    std::ostringstream answer;
    const int code = Run(name, operands, answer, err);
    if (auto refused = RegistryError(platform, err)) return *refused;
    out << answer.str();
    return code;
}

} // namespace corvane::cli
