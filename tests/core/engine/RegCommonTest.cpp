#include <cstdio>
#include <gtest/gtest.h>

#include "core/engine/RegCommon.h"
#include "core/platform/wine/WinePlatform.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;

class RegCommonTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.writeSystem("\n[Software\\\\Test] 1\n"
                           "\"Sz\"=\"hello \\x4e2d\\x6587\"\n"
                           "\"Exp\"=str(2):\"%SystemRoot%\\\\x\"\n"
                           "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                           "\"Dw\"=dword:ffffffff\n"
                           "\"Dw42\"=dword:0000002a\n"
                           "\"Long\"=hex(4):01,00,00,00,00,00,00,00\n"
                           "\"Short\"=hex(4):07,00\n"
                           "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\n"
                           "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
                           "\"None\"=hex(0):\n"
                           "\"EmptySz\"=hex(1):\n"
                           "\"Nul\"=hex(1):41,00,00,00,42,00,00,00\n"
                           "\n[Software\\\\Test\\\\Tree\\\\A\\\\B\\\\C] 1\n\"v\"=\"1\"\n"
                           "\n[Software\\\\Test\\\\Tree\\\\A\\\\B2] 1\n"
                           "\n[Software\\\\Test\\\\Tree\\\\A2] 1\n"
                           "\n[Software\\\\Test\\\\Sibling] 1\n");
    }
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
};

TEST(RootKeyFromName, ShortNamesAreExact) {
    const std::pair<std::string_view, RegKey> cases[] = {
        {"HKCR", RootKey::ClassesRoot},
        {"HKCU", RootKey::CurrentUser},
        {"HKLM", RootKey::LocalMachine},
        {"HKU", RootKey::Users},
        {"HKCC", RootKey::CurrentConfig},
        {"hklm", RootKey::LocalMachine},
        {"hkcu", RootKey::LocalMachine},
        {"", RootKey::LocalMachine},
        {"HKEY_CURRENT_USER", RootKey::LocalMachine},
        {"HKCU ", RootKey::LocalMachine},
    };
    for (const auto& [name, root] : cases)
        EXPECT_EQ(RootKeyFromName(name), root) << name;
}

TEST_F(RegCommonTest, ValueExistsByTypeName) {
    struct Case {
        std::string_view name, typeName;
        bool expected;
    };
    const Case cases[] = {
        {"Sz", "REG_SZ", true},         {"Sz", "REG_EXPAND_SZ", false},
        {"Exp", "REG_EXPAND_SZ", true}, {"Dw", "REG_DWORD", true},
        {"Q", "REG_DWORD", false},      {"Bin", "REG_BINARY", true},
        {"Multi", "REG_BINARY", false}, {"Q", "REG_MULTI_SZ", true},
        {"Dw", "REG_MULTI_SZ", true},   {"Sz", "", true},
        {"Sz", "anything", true},       {"missing", "REG_MULTI_SZ", false},
        {"SZ", "REG_SZ", true}, // names match without regard to case
    };
    for (const Case& c : cases)
        EXPECT_EQ(RegValueExists(RootKey::LocalMachine, "Software\\Test", c.name, c.typeName),
                  c.expected)
            << c.name << " " << c.typeName;
    EXPECT_FALSE(RegValueExists(RootKey::LocalMachine, "Software\\Missing", "Sz", "REG_SZ"));
}

TEST_F(RegCommonTest, ReadsValuesAsTextByTypeName) {
    struct Case {
        std::string_view keyPath, name, typeName;
        bool ok;
        std::string_view text;
    };
    const Case cases[] = {
        {"Software\\Test", "Sz", "REG_SZ", true, "hello 中文"},
        {"Software\\Test", "Exp", "REG_EXPAND_SZ", true, "%SystemRoot%\\x"}, // not expanded
        {"Software\\Test", "Exp", "REG_SZ", true, "%SystemRoot%\\x"},
        {"Software\\Test", "Sz", "REG_MULTI_SZ", true, "hello 中文"},
        {"Software\\Test", "Multi", "REG_MULTI_SZ", false, ""},
        {"Software\\Test", "Multi", "REG_SZ", false, ""},
        {"Software\\Test", "Dw", "REG_SZ", false, ""},
        {"Software\\Test", "missing", "REG_SZ", true, ""},
        {"Software\\Test", "EmptySz", "REG_SZ", true, ""},
        {"Software\\Test", "None", "REG_SZ", true, ""}, // no data reads as empty
        {"Software\\Test", "Nul", "", true, "A"},       // up to the first NUL
        {"Software\\Missing", "Sz", "REG_SZ", true, ""},
        {"Software\\Test", "Dw", "REG_DWORD", true, "-1"},
        {"Software\\Test", "Dw42", "REG_DWORD", true, "42"},
        {"Software\\Test", "Short", "REG_DWORD", true, "7"},
        {"Software\\Test", "Long", "REG_DWORD", false, ""},
        {"Software\\Test", "Q", "REG_DWORD", false, ""},
        {"Software\\Test", "Sz", "REG_DWORD", false, ""},
        {"Software\\Test", "missing", "REG_DWORD", false, ""},
        {"Software\\Missing", "Dw", "REG_DWORD", false, ""},
        {"Software\\Test", "Bin", "REG_BINARY", true, "16"},
        {"Software\\Test", "Multi", "REG_BINARY", true, "10"},
        {"Software\\Test", "Q", "REG_BINARY", true, "8"},
        {"Software\\Test", "Sz", "REG_BINARY", false, ""},
        {"Software\\Test", "Exp", "REG_BINARY", false, ""},
        {"Software\\Test", "Dw", "REG_BINARY", false, ""},
        {"Software\\Test", "missing", "REG_BINARY", true, "0"},
        {"Software\\Missing", "Bin", "REG_BINARY", true, "0"},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(ReadRegValueText(RootKey::LocalMachine, c.keyPath, c.name, c.typeName, text),
                  c.ok)
            << c.name << " " << c.typeName;
        EXPECT_EQ(text, c.text) << c.name << " " << c.typeName;
    }
}

TEST_F(RegCommonTest, KeyExistsBelowTheKeyPathOnly) {
    struct Case {
        std::string_view keyPath, name;
        bool expected;
    };
    const Case cases[] = {
        {"Software", "Test", true},
        {"software\\TEST", "tree\\a", true},
        {"Software\\Test", "", true}, // an empty name tests the key path itself
        {"Software\\Missing", "", false},
        {"Nowhere", "Software", false}, // the root has Software, the key path does not exist
        {"Software\\Test\\Tree", "\\Software\\Test", true}, // a leading backslash: from the root
        {"Software\\Test", "Sz", false},                    // a value is not a key
        {"", "Software", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RegKeyExists(RootKey::LocalMachine, c.keyPath, c.name), c.expected)
            << c.keyPath << " | " << c.name;
}

TEST_F(RegCommonTest, DeleteKeyRemovesEveryLevelBelow) {
    EXPECT_FALSE(DeleteRegKey(RootKey::LocalMachine, "Software\\Missing", "Test"));
    EXPECT_FALSE(DeleteRegKey(RootKey::LocalMachine, "Nowhere", "Software"));
    EXPECT_TRUE(RegKeyExists(RootKey::LocalMachine, "Software", "Test"));
    EXPECT_FALSE(DeleteRegKey(RootKey::LocalMachine, "Software\\Test", "NoSuchKey"));

    EXPECT_TRUE(DeleteRegKey(RootKey::LocalMachine, "Software\\Test", "Tree"));
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software\\Test", "Tree"));
    EXPECT_TRUE(RegKeyExists(RootKey::LocalMachine, "Software\\Test", "Sibling"));
    const std::string text = prefix.read("system.reg");
    EXPECT_EQ(text.find("Tree"), std::string::npos) << text;
    EXPECT_NE(text.find("Sibling"), std::string::npos);
}

// A link key inside the tree goes itself; what it points to is outside the tree.
TEST_F(RegCommonTest, DeleteKeyTakesLinksNotWhatTheyPointTo) {
    // "\Registry\Machine\Software\Outside" as Wine stores a link target.
    std::string target = "\"SymbolicLinkValue\"=hex(6):";
    for (char c : std::string_view("\\Registry\\Machine\\Software\\Outside")) {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%s%02x,00", target.back() == ':' ? "" : ",", c);
        target += unit;
    }
    prefix.writeSystem("\n[Software\\\\Outside\\\\Keep] 1\n\"v\"=\"1\"\n"
                       "\n[Software\\\\Test\\\\Tree\\\\Link] 1\n#link\n" +
                       target +
                       "\n"
                       "\n[Software\\\\Test\\\\Tree\\\\Plain] 1\n"
                       "\n[Software\\\\Test\\\\Alone] 1\n#link\n" +
                       target + "\n");
    ASSERT_TRUE(RegKeyExists(RootKey::LocalMachine, "Software\\Test\\Tree\\Link", "Keep"));
    EXPECT_TRUE(DeleteRegKey(RootKey::LocalMachine, "Software\\Test", "Tree"));
    EXPECT_TRUE(DeleteRegKey(RootKey::LocalMachine, "Software\\Test", "Alone"));
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software\\Test", "Tree"));
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software\\Test", "Alone"));
    EXPECT_TRUE(RegKeyExists(RootKey::LocalMachine, "Software\\Outside", "Keep"));
    std::string text;
    EXPECT_TRUE(
        ReadRegValueText(RootKey::LocalMachine, "Software\\Outside\\Keep", "v", "REG_SZ", text));
    EXPECT_EQ(text, "1");
}

TEST_F(RegCommonTest, DeleteKeyNeverTakesAWholeHive) {
    const std::string before = prefix.read("system.reg");
    for (const auto& [keyPath, name] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"\\", ""}, {"", "\\"}, {"Software", "\\"}, {"Software\\Test", "\\\\"}}) {
        EXPECT_FALSE(DeleteRegKey(RootKey::LocalMachine, keyPath, name)) << keyPath << "|" << name;
    }
    EXPECT_EQ(prefix.read("system.reg"), before);
    // A key path with an empty name is that key itself.
    EXPECT_TRUE(DeleteRegKey(RootKey::LocalMachine, "Software\\Test\\Tree", ""));
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software\\Test", "Tree"));
}

TEST_F(RegCommonTest, DeleteValue) {
    EXPECT_TRUE(DeleteRegValue(RootKey::LocalMachine, "Software\\Test", "sz"));
    EXPECT_FALSE(RegValueExists(RootKey::LocalMachine, "Software\\Test", "Sz", ""));
    EXPECT_FALSE(DeleteRegValue(RootKey::LocalMachine, "Software\\Test", "Sz"));
    EXPECT_FALSE(DeleteRegValue(RootKey::LocalMachine, "Software\\Missing", "Sz"));
    EXPECT_EQ(prefix.read("system.reg").find("\"Sz\""), std::string::npos);
}

TEST_F(RegCommonTest, WriteValueByTypeName) {
    struct Case {
        std::string_view name, typeName, data;
        bool ok;
        std::string_view readAs, expected; // how to read it back; empty: nothing written
    };
    const Case cases[] = {
        {"NewSz", "REG_SZ", "文本 \"q\"", true, "REG_SZ", "文本 \"q\""},
        {"NewExp", "REG_EXPAND_SZ", "%windir%\\a", true, "REG_EXPAND_SZ", "%windir%\\a"},
        {"D1", "REG_DWORD", "42", true, "REG_DWORD", "42"},
        {"D2", "REG_DWORD", "-1", true, "REG_DWORD", "-1"},
        {"D3", "REG_DWORD", "$FF", true, "REG_DWORD", "255"},
        {"D4", "REG_DWORD", "0x7fffffff", true, "REG_DWORD", "2147483647"},
        {"D5", "REG_DWORD", "abc", false, "", ""},
        {"D6", "REG_DWORD", "", false, "", ""},
        {"B", "REG_BINARY", "0102", true, "", ""},
        {"M", "REG_MULTI_SZ", "a", true, "", ""},
        {"O", "REG_QWORD", "1", true, "", ""},
        {"Sz", "REG_DWORD", "7", true, "REG_DWORD", "7"}, // replaces the string
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            WriteRegValue(RootKey::LocalMachine, "Software\\Test", c.name, c.typeName, c.data),
            c.ok)
            << c.name;
        if (c.readAs.empty()) {
            EXPECT_FALSE(RegValueExists(RootKey::LocalMachine, "Software\\Test", c.name, ""))
                << c.name;
            continue;
        }
        std::string text;
        EXPECT_TRUE(
            ReadRegValueText(RootKey::LocalMachine, "Software\\Test", c.name, c.readAs, text))
            << c.name;
        EXPECT_EQ(text, c.expected) << c.name;
    }
    // A key path that cannot be opened: nothing is written, and that is no failure.
    EXPECT_TRUE(WriteRegValue(RootKey::LocalMachine, "Software\\Missing", "v", "REG_SZ", "x"));
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software", "Missing"));
    // Written in Wine's format, where Wine reads it.
    const std::string text = prefix.read("system.reg");
    EXPECT_NE(text.find("\"NewExp\"=str(2):\"%windir%\\\\a\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"D2\"=dword:ffffffff\n"), std::string::npos);
}

TEST(ParseRegInteger, SignedDecimalOrHexadecimal) {
    const std::pair<std::string_view, std::optional<std::int32_t>> cases[] = {
        {"0", 0},
        {"+17", 17},
        {"-17", -17},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"$10", 16},
        {"$ffffffff", -1},
        {"0X1F", 31},
        {"-$1", -1},
        {"$100000000", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"12a", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"ff", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseRegInteger(text), expected) << text;
}

TEST_F(RegCommonTest, AMissingPrefixReadsAsAnEmptyRegistry) {
    wine::WinePlatform none(prefix.dir() / "missing", test::Options(prefix.dir()));
    PlatformScope inner(none);
    std::string text;
    EXPECT_FALSE(RegKeyExists(RootKey::LocalMachine, "Software", ""));
    EXPECT_TRUE(ReadRegValueText(RootKey::LocalMachine, "Software\\Test", "Sz", "REG_SZ", text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(WriteRegValue(RootKey::LocalMachine, "", "v", "REG_BINARY", "1"));
    EXPECT_FALSE(WriteRegValue(RootKey::LocalMachine, "", "v", "REG_SZ", "1"));
    EXPECT_FALSE(std::filesystem::exists(prefix.dir() / "missing"));
}

// A write to a registry file that cannot be read fails, key path and all.
TEST_F(RegCommonTest, AWriteToAnUnreadableFileFails) {
    const std::string text = "\xEF\xBB\xBF" + prefix.read("system.reg");
    prefix.write("system.reg", text);
    EXPECT_FALSE(WriteRegValue(RootKey::LocalMachine, "Software\\Test", "v", "REG_SZ", "1"));
    EXPECT_FALSE(WriteRegValue(RootKey::LocalMachine, "", "v", "REG_DWORD", "1"));
    EXPECT_EQ(prefix.read("system.reg"), text);
}

} // namespace
} // namespace corvane
