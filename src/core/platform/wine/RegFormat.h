// The text format of Wine's registry files ("WINE REGISTRY Version 2"): escaping of
// names and strings, key lines and value lines, read and written as Wine does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wine {

inline constexpr std::string_view kRegHeader = "WINE REGISTRY Version 2";

struct RegValue {
    std::u16string name; // empty for the default value ("@")
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data; // as Windows stores it: strings UTF-16LE with NUL
};

// Reads escaped text up to `endChar` (not included). Returns the number of bytes
// read, `endChar` not counted, or -1 when the text ends before `endChar`. Bytes of
// 0x80 and above are read as UTF-8 (a byte that is not part of a valid sequence
// stands for itself).
long UnescapeText(std::string_view src, char endChar, std::u16string& out);

// Appends `text` escaped as Wine writes it; `quote` holds the two characters that
// must be escaped besides the backslash ("[]" for key names, "\"\"" for the rest).
void EscapeText(std::u16string_view text, const char quote[2], std::string& out);

// A key line "[Path\\Sub] 1700000000" (the time is optional). Gives the path's
// names; false when the line is not a key line Wine would read.
bool ParseKeyLine(std::string_view line, std::vector<std::u16string>& names);
// The same, each name as its escaped text in `line` (read by UnescapeName): two
// lines name the same key where these are equal, without reading the names.
bool SplitKeyLine(std::string_view line, std::vector<std::string_view>& parts);
void UnescapeName(std::string_view part, std::u16string& name);

// Appends the key line of `names` (relative to the file's root) stamped `unixTime`.
void FormatKeyLine(const std::vector<std::u16string_view>& names, std::uint32_t unixTime,
                   std::string& out);

// Length of the value entry that starts at `text` (its first line and, for hex
// data, the continuation lines), line ends included.
std::size_t ValueEntryLength(std::string_view text);

// Whether Wine may read the line after the value entry `entry` as more of its hex
// data: its last line holds a backslash after the data's start (Wine goes on at a
// backslash after the hex bytes whatever follows it on the line).
bool EndsContinued(std::string_view entry);

// Reads the name of a value entry; false when the entry does not start with one.
bool ParseValueName(std::string_view entry, std::u16string& name);

// Reads one value entry ('"name"=...' or '@=...'); false when it is not one Wine
// would read.
bool ParseValue(std::string_view entry, RegValue& out);

// Appends the value entry Wine writes for `value`, with its line end.
void FormatValue(const RegValue& value, std::string& out);

// "#time=1d9f..." as Wine writes it for a FILETIME.
void FormatTimeLine(std::uint64_t fileTime, std::string& out);

// The FILETIME (100 ns ticks since 1601) of a Unix time in nanoseconds.
std::uint64_t FileTimeFromUnixNanos(std::int64_t nanos);

} // namespace corvane::wine
