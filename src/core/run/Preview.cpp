#include "core/run/Preview.h"

#include <algorithm>
#include <filesystem>

#include "core/engine/RegCommon.h"
#include "core/platform/Platform.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

// 1204 -> "1,204"
std::string Grouped(std::uintmax_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

std::string Described(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (!fs::exists(status)) return "(absent)";
    if (fs::is_directory(status)) return "(folder)";
    if (fs::is_regular_file(status)) return "(" + Grouped(fs::file_size(path, ec)) + " bytes)";
    return "(link)";
}

// A list's entries, each quoted: "a", "b".
std::string ListShown(const std::vector<std::string>& entries) {
    std::string shown;
    for (const std::string& entry : entries)
        shown += (shown.empty() ? "\"" : ", \"") + entry + "\"";
    return shown.empty() ? "(empty list)" : shown;
}

std::string ValueShown(RegKey root, const std::string& keyPath, const std::string& name) {
    if (!RegValueExists(root, keyPath, name, "")) return "(absent)";
    if (std::vector<std::string> entries; ReadRegList(root, keyPath, name, entries))
        return "REG_MULTI_SZ " + ListShown(entries);
    for (const char* type : {"REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY"}) {
        if (!RegValueExists(root, keyPath, name, type)) continue;
        std::string text;
        if (!ReadRegValueText(root, keyPath, name, type, text)) break;
        if (std::string_view(type) == "REG_BINARY") return "REG_BINARY (" + text + " bytes)";
        return std::string(type) + " " + text;
    }
    return "(a value of another type)";
}

// Why the repair would refuse a change at one of `targets`: the check the machine makes
// before it deletes (a link taken away itself) or copies; empty when it would not.
std::string Refusal(Platform& platform, const std::vector<std::string>& targets, bool entryItself) {
    for (const std::string& target : targets)
        if (std::string refusal = platform.refusalAt(target, entryItself); !refusal.empty())
            return refusal;
    return {};
}

// What a copy writes, entry by entry: the state of its one entry, or each entry by
// its Windows path with its state (a replaced file shows its size).
std::string CopyShown(Platform& platform, const std::vector<std::string>& targets) {
    if (targets.empty()) return "(absent)";
    if (targets.size() == 1) return Described(targets.front());
    std::string shown;
    for (const std::string& target : targets) {
        std::string name = platform.windowsPathOf(target);
        if (name.empty()) name = target;
        shown += (shown.empty() ? "" : ", ") + name + " " + Described(target);
    }
    return shown;
}

std::string RegTarget(const PlannedChange& change) {
    std::string target = change.root + "\\" + change.keyPath;
    if (!change.name.empty()) target += "\\" + change.name;
    return target;
}

class Preview : public RepairWatcher {
public:
    std::vector<PreviewAction> actions;

    Answer before(const PlannedChange& change, std::string&) override {
        Platform& platform = ActivePlatform();
        const RegKey root = RootKeyFromName(change.root);
        const std::string regTarget = RegTarget(change);
        switch (change.kind) {
        case PlannedChange::Kind::SetValue: {
            std::string after = change.typeName + " " + change.data;
            if (change.list) {
                const auto entries = SplitRegList(change.data);
                after = change.typeName + " " +
                        (entries ? ListShown(*entries) : "(not a list: an entry is empty)");
            }
            if (change.createKeys && !RegKeyExists(root, change.keyPath, ""))
                after += " (the key is made)";
            actions.push_back(
                {"SetValue", regTarget, ValueShown(root, change.keyPath, change.name), after, {}});
            break;
        }
        case PlannedChange::Kind::DeleteValue:
            actions.push_back({"DeleteValue",
                               regTarget,
                               ValueShown(root, change.keyPath, change.name),
                               "(deleted)",
                               {}});
            break;
        case PlannedChange::Kind::DeleteKey:
            actions.push_back({"DeleteKey", regTarget, "(key)", "(deleted)", {}});
            break;
        case PlannedChange::Kind::DeleteFiles: {
            const auto targets = platform.deleteTargets(change.path);
            std::string before;
            for (const std::string& target : targets)
                before += (before.empty() ? "" : ", ") + Described(target);
            const std::string refusal = Refusal(platform, targets, true);
            actions.push_back({"DeleteFiles", change.path, before.empty() ? "(absent)" : before,
                               refusal.empty() ? "(deleted)" : refusal, refusal});
            break;
        }
        case PlannedChange::Kind::CopyFiles: {
            const auto targets = platform.copyTargets(change.source, change.path);
            const std::string refusal = Refusal(platform, targets, false);
            actions.push_back({"CopyFiles", change.path, CopyShown(platform, targets),
                               refusal.empty() ? "(copy of " + change.source + ")" : refusal,
                               refusal});
            break;
        }
        case PlannedChange::Kind::MakeFolder: {
            // The entry itself changes: a link there is replaced, never followed.
            const std::string host = platform.hostPathOf(change.path);
            const std::string refusal = host.empty()
                                            ? change.path + ": names no place of the machine"
                                            : platform.refusalAt(host, true);
            const std::string before = host.empty() ? "(absent)" : Described(host);
            actions.push_back({"MakeFolder", change.path, before,
                               refusal.empty() ? "(folder)" : refusal, refusal});
            break;
        }
        }
        // Stands for the change: nothing is made.
        return Answer::Done;
    }
    void refusedByEngine(const PlannedChange& change, const std::string& reason) override {
        actions.push_back({"DeleteKey", RegTarget(change), "(key)", reason, reason});
    }
};

} // namespace

bool AnyRefused(const std::vector<PreviewAction>& actions) {
    return std::any_of(actions.begin(), actions.end(),
                       [](const PreviewAction& action) { return !action.refusal.empty(); });
}

std::vector<PreviewAction> PreviewRepair(std::string_view repairXml, std::string_view appDir) {
    Preview preview;
    (void)RunRepairXML(repairXml, appDir, &preview);
    return std::move(preview.actions);
}

} // namespace corvane
