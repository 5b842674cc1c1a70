// Substring search on text, with 1-based positions that count bytes of the UTF-8
// text. A length argument of -1 means the whole text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The items of a delimited text: blanks and control characters before an item are
// skipped; an item in double quotes runs to the closing quote (two quotes inside
// stand for one), any other item up to the next delimiter or blank; a delimiter at
// the very end adds an empty last item. Blanks thus separate items as the delimiter
// does.
std::vector<std::string> SplitText(std::string_view text, char delimiter);

// Whether `text` is a valid date written year-month-day with "-", read through the
// user's short date format as the locale would parse it.
bool IsValidDateText(std::string_view text);

// The same with a given short date format.
bool IsValidDateText(std::string_view text, std::string_view shortDateFormat);

} // namespace corvane
