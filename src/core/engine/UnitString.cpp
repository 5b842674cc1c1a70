#include "core/engine/UnitString.h"

#include <algorithm>

#include "core/platform/Platform.h"
#include "core/platform/Utf.h"

namespace corvane {

namespace {

int Length(std::string_view text, int given) {
    const int whole = static_cast<int>(std::min<std::size_t>(text.size(), 0x7fffffff));
    return given < 0 ? whole : std::min(given, whole);
}

} // namespace

bool MatchAt(std::string_view sub, std::string_view text, int pos, int subLen, int textLen) {
    const int sl = Length(sub, subLen);
    const int tl = Length(text, textLen);
    if (sl > tl) return false;
    if (sl == 0) return true;
    if (pos < 1) return false;
    for (int i = 0; i < sl; ++i) {
        const int at = pos - 1 + i;
        // A position past the end never matches.
        if (at >= tl || sub[static_cast<std::size_t>(i)] != text[static_cast<std::size_t>(at)])
            return false;
    }
    return true;
}

int PosFrom(std::string_view sub, std::string_view text, int start, int subLen, int textLen) {
    const int sl = Length(sub, subLen);
    const int tl = Length(text, textLen);
    if (sl == 0 || tl < start) return 0;
    for (int p = std::max(start, 1); p <= tl; ++p)
        if (text[static_cast<std::size_t>(p - 1)] == sub[0] && MatchAt(sub, text, p, sl, tl))
            return p;
    return 0;
}

int NthPos(std::string_view sub, std::string_view text, int n) {
    int p = PosFrom(sub, text, 1);
    if (n == 1 || p == 0) return p;
    for (int i = 1; i < n; ++i) {
        p = PosFrom(sub, text, p + 1, -1, -1);
        if (p == 0) return 0;
    }
    return p;
}

} // namespace corvane

namespace corvane {

namespace {

bool IsBlank(char c) {
    return c >= 1 && c <= 32;
}

// Replaces every occurrence of `what`, found without regard to case, by `with`.
std::string ReplaceAllNoCase(const std::string& text, std::string_view what,
                             std::string_view with) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        bool match = i + what.size() <= text.size();
        for (std::size_t k = 0; match && k < what.size(); ++k)
            match = AsciiLower(text[i + k]) == AsciiLower(what[k]);
        if (match) {
            out += with;
            i += what.size();
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

std::vector<std::string> SplitText(std::string_view text, char delimiter) {
    std::vector<std::string> items;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item.push_back(text[i++]);
            }
        } else {
            while (i < n && text[i] != delimiter && !IsBlank(text[i]))
                item.push_back(text[i++]);
        }
        items.push_back(std::move(item));
        while (i < n && IsBlank(text[i]))
            ++i;
        if (i < n && text[i] == delimiter) {
            const bool last = i + 1 == n;
            ++i;
            while (i < n && IsBlank(text[i]))
                ++i;
            if (last) items.emplace_back();
        }
    }
    return items;
}

bool IsValidDateText(std::string_view text, std::string_view shortDateFormat) {
    const std::vector<std::string> items = SplitText(text, '-');
    if (items.size() != 3) return false;
    std::string format(shortDateFormat.substr(0, 19));
    // The order of year, month and day, and the separator, come from the format.
    std::string order;
    char separator = 0;
    for (char c : format) {
        const char l = AsciiLower(c);
        if ((l == 'y' || l == 'm' || l == 'd') && order.find(l) == std::string::npos) {
            order.push_back(l);
        } else if (!separator && l != 'y' && l != 'm' && l != 'd' && l != 'g' && l != ' ' &&
                   l != '\'') {
            separator = c;
        }
    }
    if (order.size() != 3) order = "ymd";
    if (!separator) separator = '-';
    for (const auto& [what, with] :
         {std::pair<std::string_view, const std::string&>{"yyyy", items[0]},
          {"yy", items[0]},
          {"mm", items[1]},
          {"dd", items[2]},
          {"m", items[1]},
          {"d", items[2]}})
        format = ReplaceAllNoCase(format, what, with);

    // Parse the text as the locale would: three numbers between the separators, in the
    // format's order, then nothing but an optional time.
    std::size_t i = 0;
    while (i < format.size() && format[i] == ' ')
        ++i;
    int values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    for (int part = 0; part < 3; ++part) {
        if (part > 0) {
            if (i >= format.size() || format[i] != separator) return false;
            ++i;
        }
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            if (++digits[part] > 4) return false;
            values[part] = values[part] * 10 + (format[i++] - '0');
        }
        if (digits[part] == 0) return false;
    }
    // A separator after the last number is allowed; so is a time after a blank.
    if (i < format.size() && format[i] == separator) ++i;
    if (i < format.size() && format[i] != ' ') return false;
    int year = 0, month = 0, day = 0, yearDigits = 0;
    for (int part = 0; part < 3; ++part) {
        if (order[part] == 'y') year = values[part], yearDigits = digits[part];
        if (order[part] == 'm') month = values[part];
        if (order[part] == 'd') day = values[part];
    }
    if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsValidDateText(std::string_view text) {
    return IsValidDateText(text, ActivePlatform().shortDateFormat());
}

} // namespace corvane
