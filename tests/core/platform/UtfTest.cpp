#include <gtest/gtest.h>

#include "core/platform/Utf.h"

namespace corvane {
namespace {

TEST(Utf, Utf8AndUtf16RoundTrip) {
    const std::u16string texts[] = {
        u"",
        u"plain",
        u"中文 \u00e9",
        u"\U0001F600",
        std::u16string(1, char16_t(0xD800)),    // a lone high surrogate
        std::u16string{char16_t(0xDC00), u'x'}, // a lone low surrogate
    };
    for (const auto& text : texts) {
        const auto back = Utf8ToUtf16(Utf16ToUtf8(text));
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(IsUtf8(Utf16ToUtf8(text)));
        EXPECT_EQ(*back, text);
    }
    EXPECT_EQ(Utf16ToUtf8(u"中"), "\xe4\xb8\xad");
}

TEST(Utf, MalformedUtf8IsRejected) {
    for (std::string_view bad :
         {"\xff", "\xc0\x80", "\xe4\xb8", "\xe4\x41\x41", "a\x80", "\xf4\x90\x80\x80"}) {
        EXPECT_FALSE(Utf8ToUtf16(bad).has_value()) << bad;
        EXPECT_FALSE(IsUtf8(bad)) << bad;
    }
}

TEST(Utf, NamesCompareWithoutRegardToCase) {
    const std::tuple<std::u16string_view, std::u16string_view, int> cases[] = {
        {u"Software", u"SOFTWARE", 0},
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", 0},
        {u"\u0434\u043e\u043c", u"\u0414\u041e\u041c", 0},
        {u"\u0105", u"\u0104", 0},
        {u"\u013a", u"\u0139", 0},
        {u"a", u"B", -1},
        {u"ab", u"A", 1},
        {u"_", u"a", -1}, // letters compare in lower case, so '_' comes first
        {u"Z", u"_", 1},
        {u"中文", u"中文", 0},
    };
    for (const auto& [a, b, order] : cases) {
        EXPECT_EQ(CompareNoCase(a, b), order);
        EXPECT_EQ(EqualsNoCase(a, b), order == 0);
    }
}

} // namespace
} // namespace corvane
