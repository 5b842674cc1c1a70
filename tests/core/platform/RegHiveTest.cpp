#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "core/platform/Platform.h"
#include "core/platform/Utf.h"
#include "core/platform/wine/RegHive.h"
#include "support/TempPrefix.h"

namespace corvane::wine {
namespace {

using test::TempPrefix;

constexpr std::string_view kHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";

std::string System(std::string_view body) {
    return std::string(kHeader) + std::string(body);
}

RegNode* Find(RegHive& hive, std::initializer_list<std::u16string_view> path) {
    RegNode* node = &hive.root();
    for (auto name : path) {
        node = node->findChild(name);
        if (!node) return nullptr;
    }
    return node;
}

RegValue Text(std::u16string name, std::u16string_view text, std::uint32_t type = RegType::Sz) {
    return RegValue{std::move(name), type, Utf16ToBytes(text)};
}

// Each file must come back byte for byte when nothing changed, whatever it holds.
TEST(RegHive, UnchangedFilesComeBackByteForByte) {
    const std::string files[] = {
        System("\n[Software\\\\Wine] 1700000000\n#time=1d9f1b2c3d4e5f6\n\"A\"=\"b\"\n"),
        System("\n[A] 1\n\"x\"=dword:00000001\n\n\n[B] 2\n@=\"\"\n\n"), // extra blank lines
        System("\r\n[A] 1\r\n\"x\"=\"y\"\r\n"),                         // CRLF
        System("\n[A] 1\n\"x\"=\"no newline at the end\""),
        System("\n[A] 1\n;; a comment\ngarbage line\n\"bad\"=dword:zz\n#class=\"c\"\n"),
        System("\n[Broken\\\\Key 1\n\"v\"=\"hidden\"\n\n[Good] 1\n\"v\"=\"w\"\n"),
        System("\n[A] 1\n\"v\"=\"1\"\n\n[a] 2\n\"v\"=\"2\"\n"), // one key twice
        System("\n[A] 1\n\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,\\\n"
               "  13,14\n"),
        std::string(kHeader),
        std::string("WINE REGISTRY Version 2"),
    };
    TempPrefix prefix;
    for (const std::string& text : files) {
        prefix.write("system.reg", text);
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        ASSERT_EQ(hive.state(), RegHive::State::Loaded);
        EXPECT_EQ(hive.toText(), text);
        ASSERT_TRUE(hive.save());
        EXPECT_EQ(prefix.read("system.reg"), text);
    }
}

TEST(RegHive, ReadsKeysValuesAndImpliedKeys) {
    TempPrefix prefix;
    prefix.writeSystem(
        "\n[Software\\\\Wine\\\\Deep] 1\n\"V\"=\"x\"\n\n[Broken\\\\Key 1\n"
        "\"Hidden\"=\"h\"\n\n[Software\\\\Other] 2\n\"bad\"=dword:zz\n\"ok\"=\"1\"\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    RegNode* wine = Find(hive, {u"SOFTWARE", u"wine"});
    ASSERT_NE(wine, nullptr);
    EXPECT_EQ(wine->name, u"Wine");    // names keep their case
    EXPECT_EQ(wine->section, nullptr); // implied by its subkey only
    RegNode* deep = Find(hive, {u"software", u"WINE", u"deep"});
    ASSERT_NE(deep, nullptr);
    ASSERT_TRUE(hive.findValue(*deep, u"v").has_value());
    EXPECT_EQ(hive.findValue(*deep, u"v")->data, Utf16ToBytes(u"x"));
    // The values of a key line that cannot be read belong to no key.
    EXPECT_EQ(Find(hive, {u"Broken"}), nullptr);
    RegNode* other = Find(hive, {u"Software", u"Other"});
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(hive.findValue(*other, u"bad").has_value());
    EXPECT_TRUE(hive.findValue(*other, u"ok").has_value());
    ASSERT_EQ(hive.root().children.size(), 1u);
}

TEST(RegHive, ChangingAValueRewritesOnlyItsSection) {
    TempPrefix prefix;
    const std::string before = "\n[A] 1700000000\n#time=1d9f1b2c3d4e5f6\n\"keep\"=hex:01 , 02\n"
                               ";; kept as it stands\n\"Set\"=\"old\"\n\n[B] 1700000000\n"
                               "#time=1d9f1b2c3d4e5f6\n\"x\"=\"y\"\n";
    prefix.writeSystem(before);
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    RegNode* a = Find(hive, {u"a"});
    hive.setValue(*a, Text(u"SET", u"new \u4e2d"));
    hive.setValue(*a, Text(u"Added", u"1"));
    ASSERT_TRUE(hive.save());
    const std::string after = prefix.read("system.reg");
    // Section B and the header are untouched; section A is in Wine's format with a
    // new time stamp, its unchanged lines as they stood, and the name's case kept.
    EXPECT_TRUE(after.starts_with(std::string(kHeader) + "\n[A] 17")) << after;
    EXPECT_TRUE(after.ends_with("\n[B] 1700000000\n#time=1d9f1b2c3d4e5f6\n\"x\"=\"y\"\n"));
    EXPECT_EQ(after.find("[A] 1700000000"), std::string::npos);
    EXPECT_EQ(after.find("#time=1d9f1b2c3d4e5f6\n\"keep\""), std::string::npos);
    EXPECT_NE(after.find("\n\"Added\"=\"1\"\n\"keep\"=hex:01 , 02\n;; kept as it stands\n"
                         "\"Set\"=\"new \\x4e2d\"\n"),
              std::string::npos)
        << after;
    // Read again from disk, the change is there.
    RegHive again(prefix.file("system.reg"));
    again.refresh();
    EXPECT_EQ(again.findValue(*Find(again, {u"A"}), u"set")->data, Utf16ToBytes(u"new \u4e2d"));
}

// Hex data continued onto a blank line ends there for Wine; a value written into its
// section must not become more of that data.
TEST(RegHive, AValueAfterContinuedHexDataStaysAValue) {
    const std::string bodies[] = {
        "\n[A] 1\n\"a\"=hex:01,02,\\\n\n[B] 1\n\"b\"=\"x\"\n",
        "\n[A] 1\n\"a\"=hex:01,02,\\\r\n\r\n[B] 1\n\"b\"=\"x\"\n",
        "\n[B] 1\n\"b\"=\"x\"\n\n[A] 1\n\"a\"=hex:01,02,\\\n", // the end of the file
    };
    TempPrefix prefix;
    for (const std::string& body : bodies) {
        prefix.writeSystem(body);
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        hive.setValue(*Find(hive, {u"A"}), Text(u"z", u"new"));
        ASSERT_TRUE(hive.save());
        RegHive again(prefix.file("system.reg"));
        again.refresh();
        RegNode* a = Find(again, {u"A"});
        ASSERT_NE(a, nullptr);
        ASSERT_EQ(again.values(*a).size(), 2u) << prefix.read("system.reg");
        EXPECT_EQ(again.findValue(*a, u"a")->data, (std::vector<std::uint8_t>{1, 2}));
        EXPECT_EQ(again.findValue(*a, u"z")->data, Utf16ToBytes(u"new"));
        EXPECT_EQ(again.values(*Find(again, {u"B"})).size(), 1u);
    }
    // Damaged data with a backslash that is not last: Wine still goes on at it.
    prefix.writeSystem("\n[A] 1\n\"a\"=hex:01,\\ x\n\n[B] 1\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    hive.setValue(*Find(hive, {u"A"}), Text(u"z", u"new"));
    ASSERT_TRUE(hive.save());
    EXPECT_NE(prefix.read("system.reg").find("\"z\"=\"new\"\n\"a\"=hex:01,\\ x\n"),
              std::string::npos);
}

// Wine reads two sections of one key as one key, the later entry of a name winning;
// a change reaches the entry Wine reads and leaves one entry of the name.
TEST(RegHive, SectionsOfOneKeyAreReadAndWrittenAsOne) {
    TempPrefix prefix;
    prefix.writeSystem("\n[K] 1\n\"a\"=\"1\"\n\"b\"=\"2\"\n\n[K\\\\Sub] 1\n"
                       "\n[k] 2\n#link\n\"A\"=\"3\"\n\"c\"=\"4\"\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    RegNode* k = Find(hive, {u"K"});
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(hive.isLink(*k));
    EXPECT_EQ(hive.findValue(*k, u"a")->data, Utf16ToBytes(u"3"));
    const auto values = hive.values(*k);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, u"a");
    EXPECT_EQ(values[0].data, Utf16ToBytes(u"3"));
    EXPECT_EQ(values[2].data, Utf16ToBytes(u"4"));

    hive.setValue(*k, Text(u"A", u"5"));
    hive.setValue(*k, Text(u"c", u"6"));
    EXPECT_TRUE(hive.deleteValue(*k, u"b"));
    ASSERT_TRUE(hive.save());
    RegHive again(prefix.file("system.reg"));
    again.refresh();
    RegNode* k2 = Find(again, {u"K"});
    EXPECT_EQ(again.findValue(*k2, u"a")->data, Utf16ToBytes(u"5"));
    EXPECT_EQ(again.findValue(*k2, u"c")->data, Utf16ToBytes(u"6"));
    EXPECT_FALSE(again.findValue(*k2, u"b").has_value());
    const std::string text = prefix.read("system.reg");
    EXPECT_EQ(text.find("\"A\"="), std::string::npos) << text;
    EXPECT_NE(text.find("\n[K\\\\Sub] 1\n"), std::string::npos) << text;
}

// Key lines are read against the line before them; a name written otherwise (in
// another case, or with escapes) is still the same key, and a backslash however
// written parts two names.
TEST(RegHive, KeyLinesNameTheSameKeyHoweverWritten) {
    TempPrefix prefix;
    prefix.writeSystem("\n[Soft\\\\Wine\\\\Sub] 1\n\"a\"=\"1\"\n"
                       "\n[Soft\\\\Wine\\\\Sub\\\\Deep] 1\n\"b\"=\"2\"\n"
                       "\n[SOFT\\\\wine\\\\Sub2] 1\n\"c\"=\"3\"\n"
                       "\n[So\\x66t\\x5cWine\\134\\\\\\\\Sub3] 1\n\"d\"=\"4\"\n"
                       "\n[Soft\\\\Wine\\\\sUB\\\\Deep] 1\n\"e\"=\"5\"\n"
                       "\n[Soft\\\\Wine\\\\Sub\\x31] 1\n\"f\"=\"6\"\n"
                       "\n[Soft\\\\Wine\\\\Sub\\x5c1] 1\n\"g\"=\"7\"\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    ASSERT_EQ(hive.root().children.size(), 1u);
    RegNode* wine = Find(hive, {u"soft", u"wine"});
    ASSERT_NE(wine, nullptr);
    std::vector<std::u16string> names;
    for (const auto& child : wine->children)
        names.push_back(child->name);
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"Sub", u"Sub1", u"Sub2", u"Sub3", u"Sub\u05c1"}));
    const std::pair<std::u16string, std::u16string_view> cases[] = {
        {u"Sub", u"a"},       {u"Sub\\Deep", u"b"}, {u"Sub2", u"c"},      {u"Sub3", u"d"},
        {u"sub\\deep", u"e"}, {u"Sub1", u"f"},      {u"Sub\u05c1", u"g"},
    };
    for (const auto& [path, value] : cases) {
        RegNode* node = wine;
        for (std::size_t start = 0; node && start <= path.size();) {
            const std::size_t end = std::min(path.find(u'\\', start), path.size());
            node = node->findChild(std::u16string_view(path).substr(start, end - start));
            start = end + 1;
        }
        ASSERT_NE(node, nullptr) << Utf16ToUtf8(path);
        EXPECT_TRUE(hive.findValue(*node, value).has_value()) << Utf16ToUtf8(path);
    }
}

TEST(RegHive, ImpliedKeyGetsASectionBeforeItsSubkeys) {
    TempPrefix prefix;
    prefix.writeSystem("\n[A\\\\B\\\\C] 1\n\"x\"=\"y\"\n\n[Z] 1\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    hive.setValue(*Find(hive, {u"a", u"b"}), Text(u"v", u"w"));
    ASSERT_TRUE(hive.save());
    const std::string text = prefix.read("system.reg");
    const auto b = text.find("\n[A\\\\B] ");
    const auto c = text.find("\n[A\\\\B\\\\C] 1\n");
    ASSERT_NE(b, std::string::npos) << text;
    ASSERT_NE(c, std::string::npos) << text;
    EXPECT_LT(b, c);
    EXPECT_NE(text.find("#time=", b), std::string::npos);
    EXPECT_NE(text.find("\"v\"=\"w\"\n\n[A\\\\B\\\\C]"), std::string::npos) << text;
}

TEST(RegHive, DeletedKeyTakesItsSubtreeAndKeepsItsParent) {
    TempPrefix prefix;
    prefix.writeSystem("\n[P\\\\K] 1\n\"a\"=\"1\"\n\n[P\\\\K\\\\S1] 1\n\n[P\\\\K\\\\S1\\\\T] 1\n"
                       "\n[P\\\\K\\\\S2] 1\n\n[P\\\\Kx] 1\n\n[Q\\\\K] 1\n");
    {
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        hive.deleteKey(*Find(hive, {u"P", u"K"}));
        ASSERT_TRUE(hive.save());
    }
    std::string text = prefix.read("system.reg");
    EXPECT_EQ(text, System("\n[P\\\\Kx] 1\n\n[Q\\\\K] 1\n"));
    {
        // Q was implied by Q\K alone: it gets a section so that it stays.
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        hive.deleteKey(*Find(hive, {u"Q", u"K"}));
        ASSERT_TRUE(hive.save());
    }
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    ASSERT_NE(Find(hive, {u"Q"}), nullptr);
    EXPECT_EQ(Find(hive, {u"Q", u"K"}), nullptr);
    EXPECT_NE(Find(hive, {u"P", u"Kx"}), nullptr);
    EXPECT_TRUE(prefix.read("system.reg").starts_with(System("\n[P\\\\Kx] 1\n\n[Q] ")));
}

TEST(RegHive, ReadsTheFileAgainWhenItChangesOnDisk) {
    TempPrefix prefix;
    prefix.writeSystem("\n[A] 1\n\"v\"=\"1\"\n");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    ASSERT_TRUE(hive.findValue(*Find(hive, {u"A"}), u"v").has_value());
    prefix.writeSystem("\n[B] 1\n\"v\"=\"22\"\n"); // another size: seen even within one tick
    hive.refresh();
    EXPECT_EQ(Find(hive, {u"A"}), nullptr);
    ASSERT_NE(Find(hive, {u"B"}), nullptr);
    std::filesystem::remove(prefix.file("system.reg"));
    hive.refresh();
    EXPECT_EQ(hive.state(), RegHive::State::Missing);
    EXPECT_TRUE(hive.root().children.empty());
}

TEST(RegHive, FailedWriteLeavesTheOriginalAndForgetsTheChange) {
    TempPrefix prefix;
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += "\n[Key" + std::to_string(i) + "] 1\n\"v\"=\"value\"\n";
    prefix.writeSystem(body);
    const std::string original = prefix.read("system.reg");
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    hive.setValue(*Find(hive, {u"Key7"}), Text(u"new", u"x"));

    // Let the process write no file larger than a few bytes: the write fails halfway.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = hive.save();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(prefix.read("system.reg"), original);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(prefix.dir()))
        ++files;
    EXPECT_EQ(files, 1) << "the temporary file is removed";
    EXPECT_FALSE(hive.findValue(*Find(hive, {u"Key7"}), u"new").has_value());
}

TEST(RegHive, FilesThatAreNotWineRegistriesAreNeitherReadNorWritten) {
    const std::string files[] = {
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"a\"=\"b\"\n",
        "WINE REGISTRY Version 3\n\n[A] 1\n",
        std::string("\x7f"
                    "ELF\x02\x01\x01\0\0\0\0\0[A]\n",
                    17),
        "",
    };
    TempPrefix prefix;
    for (const std::string& text : files) {
        prefix.write("system.reg", text);
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        EXPECT_EQ(hive.state(), RegHive::State::Unreadable);
        EXPECT_TRUE(hive.root().children.empty());
        EXPECT_FALSE(hive.save());
        EXPECT_EQ(prefix.read("system.reg"), text);
    }
}

TEST(RegHive, TruncatedAndDamagedLinesDoNotStopTheRest) {
    TempPrefix prefix;
    const std::string text =
        System("\n[A] 1\n\"s\"=\"unterminated\n\"h\"=hex:01,\\\n\n[B\\\\\\x] 1\n\"ok\"=dword:1\n"
               "\n[C] 1\n\"e\"=\"bad escape \\x\"\n\"t\"=str(2):\"tr");
    prefix.write("system.reg", text);
    RegHive hive(prefix.file("system.reg"));
    hive.refresh();
    RegNode* a = Find(hive, {u"A"});
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(hive.findValue(*a, u"s").has_value());
    // Hex data whose continuation line is blank ends there, as Wine reads it.
    ASSERT_TRUE(hive.findValue(*a, u"h").has_value());
    EXPECT_EQ(hive.findValue(*a, u"h")->data, std::vector<std::uint8_t>{1});
    RegNode* b = Find(hive, {u"B", u"x"});
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(hive.findValue(*b, u"ok").has_value());
    RegNode* c = Find(hive, {u"C"});
    ASSERT_TRUE(hive.findValue(*c, u"e").has_value());
    EXPECT_EQ(hive.findValue(*c, u"e")->data, Utf16ToBytes(u"bad escape x"));
    EXPECT_FALSE(hive.findValue(*c, u"t").has_value());
    // A change elsewhere keeps the damaged lines as they stood; the new value goes
    // ahead of the continued hex data, which would take it in.
    hive.setValue(*a, Text(u"new", u"1"));
    ASSERT_TRUE(hive.save());
    const std::string after = prefix.read("system.reg");
    EXPECT_NE(after.find("\"s\"=\"unterminated\n\"new\"=\"1\"\n\"h\"=hex:01,\\\n\n[B"),
              std::string::npos)
        << after;
    EXPECT_TRUE(after.ends_with("\"t\"=str(2):\"tr"));
}

} // namespace
} // namespace corvane::wine

namespace corvane::wine {
namespace {

void VisitValues(RegHive& hive, RegNode& node, int& values) {
    for (const char16_t* name : {u"", u"a", u"SymbolicLinkValue"})
        if (hive.findValue(node, name)) ++values;
    for (auto& child : node.children)
        VisitValues(hive, *child, values);
}

// Damaged files of every shape load without a crash, come back unchanged, and take a
// change without losing the rest of their text.
TEST(RegHive, MangledFilesSurviveReadingAndWriting) {
    const std::string sample = System(
        "\n[Software\\\\A] 1700000000\n#time=1d9f1b2c3d4e5f6\n@=\"x\\\"y\"\n\"a\"=dword:00000001\n"
        "\"b\"=hex:01,02,03,\\\n  04,05\n\"c\"=str(7):\"m\\0n\\0\"\n\"\\x4e2d\"=str(2):\"%a%\"\n"
        "\n[Software\\\\A\\\\B\\\\\\[x\\]] "
        "1\n#class=\"k\"\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00\n");
    const std::string_view alphabet = "[]\\\"@=:,\n\r#x0fz()\xe4\xff";
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    TempPrefix prefix;
    for (int round = 0; round < 300; ++round) {
        std::string text = sample;
        for (int edits = 1 + next() % 4; edits > 0; --edits) {
            const std::size_t at = 24 + next() % (text.size() - 24); // keep the header
            switch (next() % 3) {
            case 0:
                text[at] = alphabet[next() % alphabet.size()];
                break;
            case 1:
                text.insert(at, 1, alphabet[next() % alphabet.size()]);
                break;
            default:
                text.erase(at, 1 + next() % 8);
                break;
            }
        }
        prefix.write("system.reg", text);
        RegHive hive(prefix.file("system.reg"));
        hive.refresh();
        ASSERT_EQ(hive.toText(), text) << "round " << round;
        int values = 0;
        VisitValues(hive, hive.root(), values);
        if (hive.root().children.empty()) continue;
        RegNode& node = *hive.root().children.front();
        const bool implied = node.section == nullptr;
        const std::u16string name = node.name;
        hive.setValue(node, Text(u"fresh", u"v"));
        ASSERT_TRUE(hive.save());
        RegHive again(prefix.file("system.reg"));
        again.refresh();
        RegNode* same = again.root().findChild(name);
        ASSERT_NE(same, nullptr) << "round " << round;
        EXPECT_TRUE(again.findValue(*same, u"fresh").has_value()) << "round " << round;
        if (implied) {
            // The key got a section of its own; every other byte is as it was.
            std::string after = prefix.read("system.reg");
            std::string keyLine;
            FormatKeyLine({name}, 0, keyLine);
            const std::size_t start = after.find("\n" + keyLine.substr(0, keyLine.size() - 2));
            const std::string value = "\"fresh\"=\"v\"\n";
            const std::size_t end = after.find(value, start);
            ASSERT_NE(end, std::string::npos) << "round " << round;
            after.erase(start, end + value.size() - start);
            EXPECT_EQ(after, text) << "round " << round;
        }
    }
}

} // namespace
} // namespace corvane::wine
