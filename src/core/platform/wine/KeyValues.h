// Valve's KeyValues text, as Steam writes libraryfolders.vdf and appmanifest_*.acf:
//
//     "AppState"
//     {
//         "appid"     "1245620"
//         "name"      "ELDEN RING"
//     }
//
// Keys and values are quoted (with \" \\ \n \t escapes) or bare words, a block is
// enclosed in braces, "//" starts a comment, and a "[$CONDITION]" after an entry is
// ignored. Keys match without regard to case, as in Steam.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wine {

struct KeyValue {
    std::string key;
    std::string value;             // a text entry's value; empty for a block
    std::vector<KeyValue> entries; // a block's entries, in file order
    bool block = false;

    // The first entry named `name` (any case), or null.
    const KeyValue* find(std::string_view name) const;
    // The text of the entry `name`; empty when there is none or it is a block.
    std::string text(std::string_view name) const;
};

// The entries of `text` as the entries of a block without a key. Damaged text (an
// unclosed quote or brace, a key without a value, a stray brace, nesting deeper than
// 100 blocks) gives nothing and `error` says where: "line 3: unclosed quote".
std::optional<KeyValue> ReadKeyValues(std::string_view text, std::string& error);

} // namespace corvane::wine
