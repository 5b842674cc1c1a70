#include <gtest/gtest.h>

#include "core/engine/UnitString.h"

namespace corvane {
namespace {

TEST(UnitString, MatchAt) {
    struct Case {
        std::string_view sub, text;
        int pos, subLen, textLen;
        bool expected;
    };
    const Case cases[] = {
        {"an", "banana", 2, -1, -1, true},  {"an", "banana", 4, -1, -1, true},
        {"an", "banana", 3, -1, -1, false}, {"na", "banana", 6, -1, -1, false}, // past the end
        {"", "banana", 9, -1, -1, true},    {"bananas", "banana", 1, -1, -1, false},
        {"ba", "banana", 1, 1, -1, true},  // only "b" is compared
        {"an", "banana", 2, -1, 2, false}, // the text is taken as "ba"
        {"a", "", 1, -1, -1, false},        {"a", "a", 0, -1, -1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchAt(c.sub, c.text, c.pos, c.subLen, c.textLen), c.expected)
            << c.sub << " in " << c.text << " at " << c.pos;
}

TEST(UnitString, PosFromAndNthPos) {
    EXPECT_EQ(PosFrom("an", "banana", 1), 2);
    EXPECT_EQ(PosFrom("an", "banana", 3), 4);
    EXPECT_EQ(PosFrom("an", "banana", 5), 0);
    EXPECT_EQ(PosFrom("", "banana", 1), 0);
    EXPECT_EQ(PosFrom("a", "banana", 7), 0);
    EXPECT_EQ(PosFrom("a", "ba", 3), 0);

    const std::tuple<std::string_view, std::string_view, int, int> cases[] = {
        {"<", "", 1, 0},        {"a", "banana", 1, 2}, {"a", "banana", 3, 6},
        {"a", "banana", 4, 0},  {"aa", "aaa", 2, 2}, // occurrences overlap
        {"", "abc", 1, 0},      {"x", "abc", 2, 0},    {">", "a>b<app>", 1, 2},
        {"中", "a中b中", 2, 6}, // positions count bytes of UTF-8
    };
    for (const auto& [sub, text, n, expected] : cases)
        EXPECT_EQ(NthPos(sub, text, n), expected) << sub << " #" << n << " in " << text;
}

} // namespace
} // namespace corvane
