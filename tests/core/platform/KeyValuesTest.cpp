#include <gtest/gtest.h>

#include "core/platform/wine/KeyValues.h"

namespace corvane::wine {
namespace {

// Entries as "key=value" and "key{...}", so a case shows the whole tree in one line.
std::string Flat(const KeyValue& block) {
    std::string text;
    for (const KeyValue& e : block.entries)
        text += e.block ? e.key + "{" + Flat(e) + "}" : e.key + "=" + e.value + ";";
    return text;
}

TEST(KeyValues, ReadsSteamsTextAndReportsDamage) {
    struct Case {
        const char* text;
        const char* flat;  // when it reads
        const char* error; // when it does not
    };
    const Case cases[] = {
        {"\"AppState\"\n{\n\t\"appid\"\t\t\"1245620\"\n\t\"name\"\t\t\"ELDEN RING\"\n}\n",
         "AppState{appid=1245620;name=ELDEN RING;}", nullptr},
        {"\"a\" { \"b\" { \"c\" \"1\" } \"d\" \"\" }", "a{b{c=1;}d=;}", nullptr},
        {R"("p" "D:\\Games\\Steam" "q" "say \"hi\"\tthere\n" "r" "\x")",
         "p=D:\\Games\\Steam;q=say \"hi\"\tthere\n;r=\\x;", nullptr},
        {"// made by hand\n\"k\" \"v\" // the value\n\"w\" \"x\" [$WIN32]\nbare word\n",
         "k=v;w=x;bare=word;", nullptr},
        {"\"k\" \"http://host/\"", "k=http://host/;", nullptr},
        {"", "", nullptr},
        {"\"a\"\n{\n\"b\" \"unclosed\n}\n", nullptr, "line 3: unclosed quote"},
        {"\"a\" {\n\"b\" \"c\"\n", nullptr, "line 3: block not closed at the end of the text"},
        {"\"a\" \"b\"\n}\n", nullptr, "line 2: '}' without a block"},
        {"\"a\" { \"b\" }", nullptr, "line 1: \"b\" has no value"},
        {"\"lonely\"", nullptr, "line 1: \"lonely\" has no value"},
        {"{ \"a\" \"b\" }", nullptr, "line 1: a block without a key"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto read = ReadKeyValues(c.text, error);
        if (c.flat) {
            ASSERT_TRUE(read) << c.text << ": " << error;
            EXPECT_EQ(Flat(*read), c.flat) << c.text;
        } else {
            EXPECT_FALSE(read) << c.text;
            EXPECT_EQ(error, c.error) << c.text;
        }
    }
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += "\"k\" {";
    std::string error;
    EXPECT_FALSE(ReadKeyValues(deep, error));
    EXPECT_EQ(error, "line 1: blocks nested too deeply");
}

TEST(KeyValues, FindsKeysInAnyCase) {
    std::string error;
    const auto read = ReadKeyValues("\"LibraryFolders\" { \"1\" \"/mnt/a\" \"x\" {} }", error);
    ASSERT_TRUE(read);
    const KeyValue* list = read->find("libraryfolders");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->text("1"), "/mnt/a");
    EXPECT_EQ(list->text("x"), "");
    EXPECT_EQ(list->text("2"), "");
}

} // namespace
} // namespace corvane::wine
