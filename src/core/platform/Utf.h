// Conversions between the program's UTF-8 text and the UTF-16 the registry stores,
// and the case-insensitive comparison that registry names use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// UTF-8 to UTF-16. Surrogates encoded on their own (as Utf16ToUtf8 writes lone
// surrogates) are accepted, so that every UTF-16 text survives a round trip.
// Text that is not well-formed gives nullopt.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// True when Utf8ToUtf16 takes `text`, without converting it.
bool IsUtf8(std::string_view text);

// Decodes the UTF-8 sequence at text[pos] into `cp`; returns its length, or 0 when
// it is not well-formed. Surrogates encoded on their own are accepted.
std::size_t DecodeUtf8At(std::string_view text, std::size_t pos, char32_t& cp);
// Appends a code point as one or two UTF-16 units.
void AppendUtf16(std::u16string& out, char32_t cp);

// UTF-16 to UTF-8; a lone surrogate is encoded on its own (three bytes) rather
// than dropped.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16LE bytes as the registry stores a string, with the terminating NUL.
std::vector<std::uint8_t> Utf16ToBytes(std::u16string_view text);
// The UTF-16 units of little-endian bytes; an odd last byte is ignored.
std::u16string Utf16FromBytes(std::span<const std::uint8_t> bytes);

// ASCII letters lowered; every other byte (those of UTF-8 sequences included) as it is.
char AsciiLower(char c);
std::string AsciiLower(std::string_view text);

// The little-endian 32-bit number of the first four bytes (REG_DWORD data).
std::uint32_t LittleEndian32(std::span<const std::uint8_t, 4> bytes);

// The case-insensitive form of one UTF-16 unit, as registry names compare.
char16_t FoldCase(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Orders names as Wine keeps them: unit by unit in lower case, then by length.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

} // namespace corvane
