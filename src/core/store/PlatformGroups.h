// Platform groups: which Windows releases a rule item applies to. The groups are INI
// text kept in the library's WinOS record: one section per group id, with the keys
// "Name" (shown in the chooser) and "OS" (the OS tags and ";"-led OS version texts
// the group includes).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/Platform.h"
#include "core/store/IniFile.h"
#include "core/store/RuleLibrary.h"
#include "core/store/SQLiteTable3.h"

namespace corvane {

// The name of the group every rule item starts in.
inline constexpr std::string_view kAllOsGroup = "all-os";
// The display name of a group that has none.
inline constexpr std::string_view kAllOsName = "所有Windows平台";

// Reads the WinOS text into groups: sections and keys are found at their last
// occurrence.
IniDocument ReadPlatformGroups(std::string_view winOsText);

// A key of a group, or `fallback` when the section or the key is missing (a key
// present with an empty value gives the empty text).
std::string GroupValue(const IniDocument& groups, std::string_view osId, std::string_view key,
                       std::string_view fallback);

// The Windows release the machine runs, as platform groups name releases.
struct RunningRelease {
    std::string osTag;       // "[win7]" ..., or empty for a release without one
    std::string versionText; // "major.minor.build.service pack", e.g. "6.1.7601.Service Pack 1"
    // The OS value of a group that the library does not describe.
    std::string defaultTags = "[win98][win2000][win2003][winxp][winvista][win7][win8]";
};

// The OS tag of a Windows version ("[win7]" ...), or empty for a release without one.
std::string OSTagOf(const WindowsVersion& version);
// "major.minor.build.service pack", e.g. "6.1.7601.Service Pack 1" or "6.1.7600.".
std::string OSVersionTextOf(const WindowsVersion& version);
// The release of the active platform's machine.
RunningRelease ReadRunningRelease();

// Whether an item of group `osId` applies to `release`: the group's OS value (the
// release's default tag list for an undescribed group) holds the OS tag, or ";"
// followed by the OS version text.
[[nodiscard]] bool PlatformGroupApplies(std::string_view osId, const IniDocument& groups,
                                        const RunningRelease& release);

// Sends the WinOS query on `db`: the record's Value, or nothing when the library has
// none.
[[nodiscard]] std::optional<std::string> ReadWinOSRecord(TSQLiteDatabase& db);

// The Value of the library's WinOS record, or nothing when it has none.
[[nodiscard]] std::optional<std::string> LoadWinOSValue(const LibraryLocation& library);

// Stores `text` as the WinOS record's Value, as typed: updates the record when there
// is one, inserts it otherwise.
void SaveWinOSValue(const LibraryLocation& library, const std::string& text);

} // namespace corvane
