#include "engine/UnitString.h"

#include <algorithm>

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
