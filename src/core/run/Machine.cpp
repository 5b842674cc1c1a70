#include "core/run/Machine.h"

#include "core/platform/Platform.h"
#include "core/store/IniFile.h"

namespace corvane {

namespace {

// `text` as one word of a POSIX shell: in single quotes, each quote as '\''.
std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (char c : text) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + "'";
}

} // namespace

std::string RepairRefusal() {
    Platform& platform = ActivePlatform();
    const std::string prefix = platform.machinePlace().path;
    switch (platform.regWriteState()) {
    case RegWriteState::Writable:
        return {};
    case RegWriteState::ServerRunning:
        return "Wine 正在前缀 " + prefix +
               " 中运行，注册表由它掌管，修复无法进行。\n请先关闭该前缀中的程序，或结束 Wine:\n"
               "WINEPREFIX=" +
               ShellWord(prefix) + " wineserver -k";
    case RegWriteState::OtherWriter:
        return "另一个 Corvane 命令正在修改前缀 " + prefix + "，修复无法进行。\n请等它结束后再试。";
    case RegWriteState::NoMachine:
        break;
    }
    return "Wine 前缀不存在: " + prefix + "\n修复无法进行。";
}

std::string RegistryStaleNote() {
    if (ActivePlatform().regWriteState() != RegWriteState::ServerRunning) return {};
    return "Wine 正在运行，注册表文件可能还没有 Wine 最新的更改";
}

std::string RememberedMachine(const std::string& settingsFile) {
    if (MachineNamedByEnvironment()) return {};
    return IniDocument(ReadTextFile(settingsFile)).read("Wine", "Prefix");
}

bool RememberMachine(const std::string& settingsFile, const std::string& path) {
    return IniWriteString(settingsFile, "Wine", "Prefix", path);
}

} // namespace corvane
