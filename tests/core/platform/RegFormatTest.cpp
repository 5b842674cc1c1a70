#include <gtest/gtest.h>

#include "core/platform/Platform.h"
#include "core/platform/Utf.h"
#include "core/platform/wine/RegFormat.h"

namespace corvane::wine {
namespace {

std::vector<std::uint8_t> Sz(std::u16string_view text) {
    return Utf16ToBytes(text);
}

TEST(RegFormat, UnescapesAsWineReads) {
    struct Case {
        std::string_view src;
        std::u16string expected;
    };
    const Case cases[] = {
        {R"(plain")", u"plain"},
        {R"(a\\b\"c")", u"a\\b\"c"},
        {R"(\[\]")", u"[]"},
        {R"(\a\b\t\n\v\f\r\e")", u"\a\b\t\n\v\f\r\x1b"},
        {R"(\0")", std::u16string(1, u'\0')},
        {R"(\101\1012")", u"AA2"}, // octal: at most three digits
        {R"(\377")", u"\u00ff"},
        {R"(\x4e2d\x41")", u"\u4e2dA"},
        {R"(\x4e2d5")", u"\u4e2d5"},         // at most four hex digits
        {R"(\xd83d\xde00")", u"\U0001F600"}, // a surrogate pair is two escapes
        {R"(\xg")", u"xg"},                  // \x without digits is an x
        {R"(\q")", u"q"},                    // any other escaped character stands for itself
        {"\xe4\xb8\xad\xe6\x96\x87\"", u"\u4e2d\u6587"}, // raw UTF-8
        {"\xff\"", u"\u00ff"}, // a byte that is not UTF-8 stands for itself
    };
    for (const Case& c : cases) {
        std::u16string out;
        EXPECT_EQ(UnescapeText(c.src, '"', out), static_cast<long>(c.src.size() - 1)) << c.src;
        EXPECT_EQ(out, c.expected) << c.src;
    }
}

TEST(RegFormat, UnterminatedTextIsRejected) {
    using namespace std::string_view_literals;
    for (std::string_view src : {"abc"sv, "abc\\"sv, "ab\\\""sv, "a\0b\""sv}) {
        std::u16string out;
        EXPECT_EQ(UnescapeText(src, '"', out), -1) << src;
    }
}

TEST(RegFormat, EscapesAsWineWrites) {
    struct Case {
        std::u16string text;
        std::string expected;
    };
    const Case cases[] = {
        {u"a\\b\"c", R"(a\\b\"c)"},
        {u"\a\b\t\n\v\f\r\x1b", R"(\a\b\t\n\v\f\r\e)"},
        {std::u16string(u"\x01x", 2), R"(\1x)"},
        {std::u16string(u"\x01"
                        u"7",
                        2),
         R"(\0017)"}, // octal padded before a digit
        {u"\u4e2d", R"(\x4e2d)"},
        {u"\u00e9t", R"(\xe9t)"},
        {u"\u00e9a", R"(\x00e9a)"}, // padded when a hex digit follows
    };
    for (const Case& c : cases) {
        std::string out;
        EscapeText(c.text, "\"\"", out);
        EXPECT_EQ(out, c.expected);
        std::u16string back;
        out.push_back('"');
        EXPECT_GE(UnescapeText(out, '"', back), 0);
        EXPECT_EQ(back, c.text) << "round trip of " << out;
    }
    std::string key;
    EscapeText(u"a[b]\"", "[]", key);
    EXPECT_EQ(key, R"(a\[b\]")");
}

TEST(RegFormat, KeyLines) {
    std::vector<std::u16string> names;
    ASSERT_TRUE(ParseKeyLine("[Software\\\\Wine\\\\A\\]b] 1700000000\n", names));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Software", u"Wine", u"A]b"}));
    ASSERT_TRUE(ParseKeyLine("[Control Panel\\\\Desktop]", names));
    EXPECT_EQ(names.size(), 2u);
    ASSERT_TRUE(ParseKeyLine("[] 1700000000", names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(ParseKeyLine("[Software\\\\Wine 1700000000\n", names));
    EXPECT_FALSE(ParseKeyLine("Software]\n", names));

    std::string line;
    FormatKeyLine({u"Software", u"A]b", u"\u4e2d"}, 1700000000, line);
    EXPECT_EQ(line, "[Software\\\\A\\]b\\\\\\x4e2d] 1700000000\n");
}

TEST(RegFormat, ValuesOfEveryTypeReadAndWriteBack) {
    struct Case {
        std::string_view entry;
        std::u16string name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {"@=\"default\"\n", u"", RegType::Sz, Sz(u"default")},
        {"\"Name\"=\"a \\\"b\\\"\"\n", u"Name", RegType::Sz, Sz(u"a \"b\"")},
        {"\"E\"=str(2):\"%SystemRoot%\\\\x\"\n", u"E", RegType::ExpandSz, Sz(u"%SystemRoot%\\x")},
        {"\"M\"=str(7):\"a\\0b\\0\"\n", u"M", RegType::MultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {"\"D\"=dword:0000002a\n", u"D", RegType::Dword, {0x2a, 0, 0, 0}},
        {"\"D2\"=dword:ffffffff\n", u"D2", RegType::Dword, {0xff, 0xff, 0xff, 0xff}},
        {"\"B\"=hex:01,02,ff\n", u"B", RegType::Binary, {1, 2, 0xff}},
        {"\"Empty\"=hex:\n", u"Empty", RegType::Binary, {}},
        {"\"Q\"=hex(b):01,00,00,00,00,00,00,00\n", u"Q", RegType::Qword, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"\"N\"=hex(0):\n", u"N", RegType::None, {}},
        {"\"L\"=hex(6):5c,00\n", u"L", RegType::Link, {0x5c, 0}},
        {"\"Odd\"=hex(1):41,00,42\n", u"Odd", RegType::Sz, {0x41, 0, 0x42}},
        {"\"\\x4e2d\"=\"\\x6587\"\n", u"\u4e2d", RegType::Sz, Sz(u"\u6587")},
    };
    for (const Case& c : cases) {
        RegValue value;
        ASSERT_TRUE(ParseValue(c.entry, value)) << c.entry;
        EXPECT_EQ(value.name, c.name) << c.entry;
        EXPECT_EQ(value.type, c.type) << c.entry;
        EXPECT_EQ(value.data, c.data) << c.entry;
        std::string written;
        FormatValue(value, written);
        EXPECT_EQ(written, c.entry);
        EXPECT_EQ(ValueEntryLength(c.entry), c.entry.size());
    }
}

TEST(RegFormat, HexDataContinuesOverLines) {
    RegValue value;
    value.name = u"Long";
    value.type = RegType::Binary;
    for (int i = 0; i < 60; ++i)
        value.data.push_back(static_cast<std::uint8_t>(i));
    std::string entry;
    FormatValue(value, entry);
    // Wine breaks after 76 columns and indents the next line by two.
    EXPECT_EQ(
        entry.substr(0, 79),
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n");
    EXPECT_EQ(entry.substr(79, 5), "  16,");
    const std::string file = entry + "\"Next\"=\"x\"\n";
    EXPECT_EQ(ValueEntryLength(file), entry.size());
    RegValue back;
    ASSERT_TRUE(ParseValue(entry, back));
    EXPECT_EQ(back.data, value.data);

    RegValue crlf;
    ASSERT_TRUE(ParseValue("\"C\"=hex:01,\\\r\n  02\r\n", crlf));
    EXPECT_EQ(crlf.data, (std::vector<std::uint8_t>{1, 2}));
}

TEST(RegFormat, MalformedValuesAreRejected) {
    for (std::string_view entry : {
             "\"Name\"\n",     // no data
             "\"Name=\"x\"\n", // the name never ends
             "\"N\"=dword:\n",
             "\"N\"=dword:123456789\n", // more than 32 bits
             "\"N\"=dword:12zz\n",
             "\"N\"=hex:1,2,zz\n",
             "\"N\"=hex:123\n",
             "\"N\"=hex(:01\n",
             "\"N\"=str(2):x\n",
             "\"N\"=\"unterminated\n",
             "\"N\"=qword:1\n",
             "@\n",
         }) {
        RegValue value;
        EXPECT_FALSE(ParseValue(entry, value)) << entry;
    }
}

TEST(RegFormat, TimeLine) {
    // 2023-11-14 22:13:20 UTC.
    const std::uint64_t ft = FileTimeFromUnixNanos(1700000000LL * 1000000000);
    EXPECT_EQ(ft, 133444736000000000ULL);
    std::string line;
    FormatTimeLine(ft, line);
    EXPECT_EQ(line, "#time=1da1747c66d0000\n");
}

} // namespace
} // namespace corvane::wine
