#include "core/run/RepairDone.h"

#include "core/platform/Utf.h"
#include "core/run/JournalRecord.h"

namespace corvane {

namespace {

using journal::json;
using journal::NumberOf;
using journal::TextOf;

std::string TypeName(long long type) {
    switch (type) {
    case 1:
        return "REG_SZ";
    case 2:
        return "REG_EXPAND_SZ";
    case 3:
        return "REG_BINARY";
    case 4:
        return "REG_DWORD";
    default:
        return "REG_TYPE_" + std::to_string(type);
    }
}

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A recorded value ({type, data in hex}) as the preview shows one; null is `gone`.
std::string ValueShown(const json& value, const char* gone) {
    if (!value.is_object()) return gone;
    const long long type = NumberOf(value, "type");
    std::vector<std::uint8_t> data;
    try {
        data = Bytes(TextOf(value, "data"));
    } catch (const std::exception&) {
        return TypeName(type);
    }
    if (type == 4 && data.size() == 4)
        return "REG_DWORD " + std::to_string(data[0] | data[1] << 8 | data[2] << 16 |
                                             static_cast<std::uint32_t>(data[3]) << 24);
    if (type == 1 || type == 2) {
        std::u16string units = Utf16FromBytes(data);
        if (const auto nul = units.find(u'\0'); nul != std::u16string::npos) units.resize(nul);
        return TypeName(type) + " " + Utf16ToUtf8(units);
    }
    return TypeName(type) + " (" + std::to_string(data.size()) + " bytes)";
}

std::string RegTarget(const json& change) {
    std::string target = TextOf(change, "root") + "\\" + TextOf(change, "key");
    if (const std::string name = TextOf(change, "name"); !name.empty()) target += "\\" + name;
    return target;
}

// The files a delete or copy moved away or replaced, with their sizes.
std::string EntriesShown(const json& change) {
    std::string shown;
    if (change.contains("entries") && change.at("entries").is_array())
        for (const json& entry : change.at("entries")) {
            const std::string state =
                TextOf(entry, "stored").empty()
                    ? "(absent)"
                    : "(" + std::to_string(NumberOf(entry, "bytes")) + " bytes)";
            shown += (shown.empty() ? "" : ", ") + state;
        }
    return shown.empty() ? "(absent)" : shown;
}

std::optional<PreviewAction> Described(const json& change) {
    if (!change.is_object() || !journal::FlagOf(change, "made")) return std::nullopt;
    const std::string kind = TextOf(change, "kind");
    if (kind == "value") {
        const json after = change.contains("after") ? change.at("after") : json(nullptr);
        const json before = change.contains("before") ? change.at("before") : json(nullptr);
        return PreviewAction{after.is_null() ? "DeleteValue" : "SetValue",
                             RegTarget(change),
                             ValueShown(before, "(absent)"),
                             ValueShown(after, "(deleted)"),
                             {}};
    }
    if (kind == "key")
        return PreviewAction{"DeleteKey",
                             RegTarget(change),
                             "(key)",
                             journal::FlagOf(change, "after") ? "(key)" : "(deleted)",
                             {}};
    if (kind == "delete") {
        // A file that could not be moved away is still there, and says why.
        std::string failed;
        if (change.contains("entries") && change.at("entries").is_array())
            for (const json& entry : change.at("entries"))
                if (const std::string why = TextOf(entry, "failed"); !why.empty())
                    failed += (failed.empty() ? "" : "; ") + why;
        return PreviewAction{"DeleteFiles", TextOf(change, "path"), EntriesShown(change),
                             failed.empty() ? "(deleted)" : failed, failed};
    }
    if (kind == "copy")
        return PreviewAction{"CopyFiles",
                             TextOf(change, "path"),
                             EntriesShown(change),
                             "(copy of " + TextOf(change, "source") + ")",
                             {}};
    return std::nullopt;
}

} // namespace

std::optional<std::vector<PreviewAction>> RepairDone(const Journal& journal, int run,
                                                     const std::string& id) {
    std::optional<json> found;
    for (auto& e : journal::RunEntries(journal.folder() / journal::RunName(run)))
        if (e.entry && journal::IdOf(*e.entry) == id) found = std::move(e.entry);
    if (!found) return std::nullopt;
    std::vector<PreviewAction> actions;
    if (found->contains("changes") && found->at("changes").is_array())
        for (const json& change : found->at("changes"))
            if (auto action = Described(change)) actions.push_back(std::move(*action));
    return actions;
}

} // namespace corvane
