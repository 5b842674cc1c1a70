// Substring search on text, with 1-based positions that count bytes of the UTF-8
// text. A length argument of -1 means the whole text.
#pragma once

#include <string_view>

namespace corvane {

// Whether `sub` stands in `text` at `pos`.
bool MatchAt(std::string_view sub, std::string_view text, int pos, int subLen = -1,
             int textLen = -1);

// The position of the first `sub` at or after `start`, 0 if there is none.
int PosFrom(std::string_view sub, std::string_view text, int start, int subLen = -1,
            int textLen = -1);

// The position of the n-th `sub` in `text` (occurrences may overlap), 0 if there are
// fewer.
int NthPos(std::string_view sub, std::string_view text, int n);

} // namespace corvane
