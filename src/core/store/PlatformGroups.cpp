#include "core/store/PlatformGroups.h"

#include <cstdint>

namespace corvane {

IniDocument ReadPlatformGroups(std::string_view winOsText) {
    return IniDocument(winOsText, IniSyntax::GroupText);
}

std::string GroupValue(const IniDocument& groups, std::string_view osId, std::string_view key,
                       std::string_view fallback) {
    return groups.find(osId, key, IniLookup::Last).value_or(std::string(fallback));
}

std::string OSTagOf(const WindowsVersion& version) {
    static constexpr struct {
        std::uint32_t major, minor;
        std::string_view tag;
    } kTags[] = {
        {4, 0, "[win95]"},   {4, 1, "[win98]"},    {5, 0, "[win2000]"}, {5, 1, "[winxp]"},
        {5, 2, "[win2003]"}, {6, 0, "[winvista]"}, {6, 1, "[win7]"},    {6, 2, "[win8]"},
    };
    for (const auto& entry : kTags)
        if (entry.major == version.major && entry.minor == version.minor)
            return std::string(entry.tag);
    return {};
}

std::string OSVersionTextOf(const WindowsVersion& version) {
    std::string servicePack = version.servicePack.substr(0, version.servicePack.find('\0'));
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build) + "." + servicePack;
}

RunningRelease ReadRunningRelease() {
    const WindowsVersion version = ActivePlatform().windowsVersion();
    RunningRelease release;
    release.osTag = OSTagOf(version);
    release.versionText = OSVersionTextOf(version);
    return release;
}

bool PlatformGroupApplies(std::string_view osId, const IniDocument& groups,
                          const RunningRelease& release) {
    const std::string value = GroupValue(groups, osId, "OS", release.defaultTags);
    // Exact, case-sensitive substring searches; an empty tag never occurs.
    if (!release.osTag.empty() && value.find(release.osTag) != std::string::npos) return true;
    return value.find(";" + release.versionText) != std::string::npos;
}

std::optional<std::string> ReadWinOSRecord(TSQLiteDatabase& db) {
    const auto table = db.Query(RuleSql::SelectWinOS());
    if (table->RowTotal() == 0) return std::nullopt;
    return RuleText(*table, "Value");
}

std::optional<std::string> LoadWinOSValue(const LibraryLocation& library) {
    return ReadWinOSRecord(*OpenRuleLibrary(library));
}

void SaveWinOSValue(const LibraryLocation& library, const std::string& text) {
    const auto db = OpenRuleLibrary(library);
    const bool exists = db->Query(RuleSql::SelectWinOS())->RowTotal() > 0;
    db->Execute(exists ? RuleSql::UpdateWinOS(text) : RuleSql::InsertWinOS(text));
}

} // namespace corvane
