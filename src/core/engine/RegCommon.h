// Registry operations of the rule engine: each opens its key from a root, does one
// thing and closes it again. None keeps state, throws or shows anything; failure is
// the result. Names, paths and texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Platform.h"

namespace corvane {

// "HKCR", "HKCU", "HKLM", "HKU", "HKCC" (exactly so); anything else is HKLM.
RegKey RootKeyFromName(std::string_view name);

// Whether `keyPath` has the subkey `name` (an empty name tests the key path itself).
[[nodiscard]] bool RegKeyExists(RegKey root, std::string_view keyPath, std::string_view name);

// Whether `keyPath` has the value `name`; for the type names "REG_SZ", "REG_DWORD",
// "REG_EXPAND_SZ" and "REG_BINARY" it must also be stored with that type.
[[nodiscard]] bool RegValueExists(RegKey root, std::string_view keyPath, std::string_view name,
                                  std::string_view typeName);

// Reads a value as text by type name: "REG_DWORD" as a signed decimal, "REG_BINARY"
// as its size in bytes, anything else as a string. False (and empty text) when the
// value cannot be read so.
[[nodiscard]] bool ReadRegValueText(RegKey root, std::string_view keyPath, std::string_view name,
                                    std::string_view typeName, std::string& text);

// The Windows name of the type the value `name` of `keyPath` is stored with ("REG_SZ",
// "REG_EXPAND_SZ", "REG_DWORD", "REG_QWORD", ...), for a type without one "REG_TYPE_"
// and its number. Empty when there is no such value.
[[nodiscard]] std::string RegValueTypeName(RegKey root, std::string_view keyPath,
                                           std::string_view name);

// Why DeleteRegKey would refuse the subkey `name` of `keyPath`, naming the key: one that
// comes to the root itself, or one with keys nested more than 512 levels below it (the
// deepest Windows allows; a cycle of links ends there too). Empty when it would not.
[[nodiscard]] std::string RegKeyDeleteRefusal(RegKey root, std::string_view keyPath,
                                              std::string_view name);

// Deletes the subkey `name` of `keyPath` with everything below it. What
// RegKeyDeleteRefusal names is refused whole, and `why` (when given) says why.
[[nodiscard]] bool DeleteRegKey(RegKey root, std::string_view keyPath, std::string_view name,
                                std::string* why = nullptr);

[[nodiscard]] bool DeleteRegValue(RegKey root, std::string_view keyPath, std::string_view name);

// Writes "REG_SZ", "REG_EXPAND_SZ" or "REG_DWORD" data (for the last a signed decimal
// or "$"/"0x" hexadecimal number); other type names write nothing. True unless the
// conversion or the write failed; also true when the key path does not exist (but
// false when its registry file cannot be read).
[[nodiscard]] bool WriteRegValue(RegKey root, std::string_view keyPath, std::string_view name,
                                 std::string_view typeName, std::string_view data);

// Makes `keyPath` with every key of it that is missing (a key that exists is kept).
[[nodiscard]] bool CreateRegKey(RegKey root, std::string_view keyPath);

// The entries of a list in its text form: separated by line feeds; the empty text is
// the empty list. Nothing when an entry is empty (a REG_MULTI_SZ cannot hold one).
[[nodiscard]] std::optional<std::vector<std::string>> SplitRegList(std::string_view text);

// Writes the list `text` (its text form, SplitRegList) as a REG_MULTI_SZ value into an
// existing key. As WriteRegValue: true also when the key path does not exist, false
// when the text is no list or the write failed.
[[nodiscard]] bool WriteRegList(RegKey root, std::string_view keyPath, std::string_view name,
                                std::string_view text);

// The entries of a REG_MULTI_SZ value; false when there is no such value of that type.
[[nodiscard]] bool ReadRegList(RegKey root, std::string_view keyPath, std::string_view name,
                               std::vector<std::string>& entries);

// The number a REG_DWORD text stands for: optional sign, then decimal digits, or
// hexadecimal digits after "$" or "0x".
[[nodiscard]] std::optional<std::int32_t> ParseRegInteger(std::string_view text);

} // namespace corvane
