// Platform groups: which Windows releases a rule item applies to. The groups are INI
// text kept in the library's WinOS record: one section per group id, with the keys
// "Name" (shown in the chooser) and "OS" (the OS tags and ";"-led OS version texts
// the group includes).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/IniFile.h"
#include "store/SQLiteTable3.h"

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

// Whether an item of group `osId` applies to the running release: its OS value (the
// default OS tag list for an undescribed group) holds the current OS tag, or ";"
// followed by the OS version text.
bool PlatformGroupApplies(std::string_view osId, const IniDocument& groups);

// Sends the WinOS query on `db`; when a row comes back, WinOSText becomes its value.
// A library without the record leaves WinOSText as it was.
void ReadWinOSRecord(TSQLiteDatabase& db);

// The Value of the library's WinOS record, or nothing when it has none. WinOSText is
// not changed.
std::optional<std::string> LoadWinOSValue();

// Stores `text` as the WinOS record's Value, as typed: updates the record when there
// is one, inserts it otherwise.
void SaveWinOSValue(const std::string& text);

} // namespace corvane
