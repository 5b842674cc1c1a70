#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/EnginePrefix.h"
#include "core/engine/RegCommon.h"
#include "core/engine/RuleTriggered.h"
#include "core/engine/RunRepairXML.h"
#include "core/run/Preview.h"
#include "support/FakeWineServer.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::EnginePrefix;
using test::kDeclaration;
using test::ReadFile;
using test::WriteFile;

std::string Repair(std::vector<FileActionRow> files, std::vector<RegActionRow> registry = {}) {
    RepairRows rows;
    rows.files = std::move(files);
    rows.registry = std::move(registry);
    std::string text;
    EXPECT_TRUE(WriteRepairDocument(rows, text));
    return text;
}

// What the prefix's registry files hold, read by a platform of its own: a value as text
// (nothing when it is missing), or whether a key exists.
std::optional<std::string> ValueInFiles(const EnginePrefix& m, std::string_view root,
                                        std::string_view keyPath, std::string_view name,
                                        std::string_view type) {
    wine::WinePlatform fresh(m.prefix(), test::Options(m.root.dir(), m.root.dir() / "app"));
    PlatformScope scope(fresh);
    if (!RegValueExists(RootKeyFromName(root), keyPath, name, "")) return std::nullopt;
    std::string text;
    (void)ReadRegValueText(RootKeyFromName(root), keyPath, name, type, text);
    return text;
}

bool KeyInFiles(const EnginePrefix& m, std::string_view root, std::string_view keyPath) {
    wine::WinePlatform fresh(m.prefix(), test::Options(m.root.dir(), m.root.dir() / "app"));
    PlatformScope scope(fresh);
    return RegKeyExists(RootKeyFromName(root), keyPath, "");
}

TEST(RunRepairXML, FileActions) {
    struct Case {
        FileActionRow row;
        std::vector<std::string_view> gone, kept; // below drive_c
        std::vector<std::pair<std::string_view, std::string_view>> contents;
    };
    const Case cases[] = {
        {{"C:\\data\\file.txt", "", "delete"}, {"data/file.txt"}, {"data/a.log"}, {}},
        {{"C:\\DATA\\SUB", "", "delete"}, {"data/sub"}, {"data/file.txt"}, {}},
        {{"C:\\data\\*.log", "", "delete"}, {"data/a.log", "data/b.LOG"}, {"data/file.txt"}, {}},
        {{"C:\\data\\none.txt", "", "delete"}, {}, {"data/file.txt", "data/sub/x.dat"}, {}},
        {{"C:\\data\\file.txt", "", "Delete"}, {}, {"data/file.txt"}, {}},
        {{"C:\\data\\file.txt", "C:\\data\\a.log", "move"}, {}, {"data/file.txt"}, {}},
        {{"C:\\backup\\copy.txt", "C:\\data\\file.txt", "copy"},
         {},
         {"data/file.txt"},
         {{"backup/copy.txt", "data/file.txt"}}},
        {{"C:\\data\\a.log", "C:\\data\\file.txt", "copy"},
         {},
         {},
         {{"data/a.log", "data/file.txt"}}},
        {{"C:\\saved\\sub", "C:\\data\\sub", "copy"},
         {},
         {"data/sub"},
         {{"saved/sub/x.dat", "data/sub/x.dat"},
          {"saved/sub/deeper/y.dat", "data/sub/deeper/y.dat"}}},
        {{"C:\\data\\a.log", "C:\\data\\none.txt", "copy"}, {}, {}, {{"data/a.log", "data/a.log"}}},
        {{"%windir%\\Fonts\\simsun.ttc", "", "delete"}, {"windows/Fonts/simsun.ttc"}, {}, {}},
        {{"<fonts>\\simsun.ttc", "", "delete"}, {"windows/Fonts/simsun.ttc"}, {}, {}},
    };
    for (const Case& c : cases) {
        EnginePrefix m;
        EXPECT_FALSE(AnyRefused(PreviewRepair(Repair({c.row}), m.appDir()))) << c.row.FilePath;
        EXPECT_EQ(RunRepairXML(Repair({c.row}), m.appDir()).refused, std::vector<std::string>{});
        const std::string what = c.row.decide + " " + c.row.FilePath + " " + c.row.FromPath;
        for (std::string_view path : c.gone)
            EXPECT_FALSE(fs::exists(m.drive() / path)) << what << ": " << path;
        for (std::string_view path : c.kept)
            EXPECT_TRUE(fs::exists(m.drive() / path)) << what << ": " << path;
        for (const auto& [path, content] : c.contents)
            EXPECT_EQ(ReadFile(m.drive() / path), content) << what << ": " << path;
    }
}

TEST(RunRepairXML, ActionsOnTheProgramsFolder) {
    EnginePrefix m;
    for (const char* nothing : {"", "\\", "C:\\", "C:", "/", "<personal>"})
        (void)RunRepairXML(Repair({{nothing, "", "delete"}}), m.appDir());
    EXPECT_TRUE(fs::exists(m.root.dir() / "app/Setting.ini"));
    EXPECT_TRUE(fs::exists(m.drive() / "data/file.txt"));
    // The program's folder lies outside the prefix: it is read, never changed.
    const std::string copied = m.appDir() + "copy.ini";
    EXPECT_EQ(RunRepairXML(Repair({{"<app>copy.ini", "<app>Setting.ini", "copy"}}), m.appDir())
                  .refused.size(),
              1u);
    EXPECT_FALSE(fs::exists(copied));
    EXPECT_EQ(RunRepairXML(Repair({{"<app>Setting.ini", "", "delete"}}), m.appDir()).refused.size(),
              1u);
    EXPECT_TRUE(fs::exists(m.root.dir() / "app/Setting.ini"));
    // Copied from there into the prefix.
    EXPECT_EQ(
        RunRepairXML(Repair({{"C:\\data\\s.ini", "<app>Setting.ini", "copy"}}), m.appDir()).refused,
        std::vector<std::string>{});
    EXPECT_EQ(ReadFile(m.drive() / "data/s.ini"), "[Setting]\n");
}

// Every file and folder below `folder` with what each file holds.
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        tree[fs::relative(entry.path(), folder).string()] =
            entry.is_regular_file() ? ReadFile(entry.path()) : "(folder)";
    return tree;
}

// Every way a path can lead out of the prefix: Wine's z: drive, a Linux path, a link in
// drive_c, a shell folder linked to the home folder, a variable the prefix sets, a
// missing folder and ".." in front of a link (as a path and as the prefix's APPDATA).
// Each change is refused with a reason naming the path, and nothing outside changes.
TEST(RunRepairXML, ChangesOutsideThePrefixAreRefused) {
    const FileActionRow cases[] = {
        {"Z:<root>\\outside\\victim.txt", "", "delete"},
        {"<root>/outside/victim.txt", "", "delete"},
        {"C:\\outlink\\victim.txt", "", "delete"},
        {"C:\\outlink\\*.txt", "", "delete"},
        {"C:\\users\\tester\\Desktop\\victim.txt", "", "delete"},
        {"%OUTSIDE%\\victim.txt", "", "delete"},
        {"C:\\outlink\\new.txt", "C:\\data\\file.txt", "copy"},
        {"C:\\users\\tester\\Desktop", "C:\\data\\sub", "copy"},
        {"Z:<root>\\outside\\made\\x.txt", "C:\\data\\file.txt", "copy"},
        {"<root>/prefix/x/../drive_c/outlink/pwned.ini", "C:\\data\\file.txt", "copy"},
        {"<root>/prefix/x/y/../../drive_c/outlink/made", "C:\\data\\sub", "copy"},
        {"<root>/prefix/x/../drive_c/outlink", "C:\\data\\*.log", "copy"},
        {"%APPDATA%\\pwned.ini", "C:\\data\\file.txt", "copy"},
    };
    for (const FileActionRow& c : cases) {
        EnginePrefix m;
        const fs::path out = m.root.dir() / "outside";
        fs::create_directories(out);
        WriteFile(out / "victim.txt", "mine");
        fs::create_directory_symlink(out, m.drive() / "outlink");
        fs::create_directories(m.drive() / "users/tester");
        fs::create_directory_symlink(out, m.drive() / "users/tester/Desktop");
        fs::create_directory_symlink("/", m.prefix() / "dosdevices/z:");
        std::string winRoot = m.root.dir().string();
        std::replace(winRoot.begin(), winRoot.end(), '/', '\\');
        WriteFile(m.prefix() / "user.reg",
                  ReadFile(m.prefix() / "user.reg") + "\n[Environment] 1\n\"OUTSIDE\"=\"Z:" +
                      EnginePrefix::Escaped(winRoot) + "\\\\outside\"\n\"APPDATA\"=\"" +
                      EnginePrefix::Escaped((m.prefix() / "x/../drive_c/outlink").string()) +
                      "\"\n");
        const auto outsideBefore = Tree(out);
        const auto prefixBefore = Tree(m.prefix());
        FileActionRow row = c;
        for (std::string* path : {&row.FilePath, &row.FromPath})
            if (const auto at = path->find("<root>"); at != std::string::npos)
                path->replace(at, 6, path->starts_with("Z:") ? winRoot : m.root.dir().string());
        const std::string what = row.decide + " " + row.FilePath;

        // The preview says so before: the same check, in the same words.
        const std::vector<PreviewAction> preview = PreviewRepair(Repair({row}), m.appDir());
        ASSERT_EQ(preview.size(), 1u) << what;
        EXPECT_TRUE(preview[0].refusal.starts_with("refused, it lies outside the prefix"))
            << what << ": " << preview[0].after;
        const RepairResult result = RunRepairXML(Repair({row}), m.appDir());
        ASSERT_EQ(result.refused.size(), 1u) << what;
        const std::string said = preview[0].refusal.substr(0, preview[0].refusal.find(" (at "));
        EXPECT_NE(result.refused[0].find(said), std::string::npos)
            << what << ": " << result.refused[0];
        EXPECT_EQ(Tree(out), outsideBefore) << what;
        EXPECT_EQ(Tree(m.prefix()), prefixBefore) << what; // no folder made on the way
    }
}

TEST(RunRepairXML, RegistryActions) {
    constexpr std::string_view kKey = "Software\\Corvane";
    struct Case {
        std::string_view what;
        std::vector<RegActionRow> rows;
        std::string_view keyPath, name, type; // the value looked at afterwards
        std::optional<std::string_view> value;
    };
    auto on = [](std::string name, std::string type, std::string content, std::string decide,
                 std::string pathAbs = "") {
        return RegActionRow{"HKLM",
                            "Software\\Corvane",
                            std::move(name),
                            std::move(type),
                            std::move(content),
                            std::move(decide),
                            std::move(pathAbs)};
    };
    const Case cases[] = {
        {"DelValue", {on("Sz", "", "", "DelValue")}, kKey, "Sz", "REG_SZ", std::nullopt},
        {"DelValue of another value",
         {on("Dw", "", "", "DelValue")},
         kKey,
         "Sz",
         "REG_SZ",
         "Hello World"},
        {"SetValue REG_SZ new",
         {on("New", "REG_SZ", "中文 text", "SetValue")},
         kKey,
         "New",
         "REG_SZ",
         "中文 text"},
        {"SetValue REG_SZ over", {on("Sz", "REG_SZ", "", "SetValue")}, kKey, "Sz", "REG_SZ", ""},
        {"SetValue REG_DWORD",
         {on("Dw", "REG_DWORD", "0x10", "SetValue")},
         kKey,
         "Dw",
         "REG_DWORD",
         "16"},
        {"SetValue REG_DWORD negative",
         {on("D2", "REG_DWORD", "-2", "SetValue")},
         kKey,
         "D2",
         "REG_DWORD",
         "-2"},
        {"SetValue REG_DWORD not a number, then the next rule",
         {on("Dw", "REG_DWORD", "ten", "SetValue"), on("Next", "REG_SZ", "ran", "SetValue")},
         kKey,
         "Dw",
         "REG_DWORD",
         "-1"},
        {"... the next rule ran",
         {on("Dw", "REG_DWORD", "ten", "SetValue"), on("Next", "REG_SZ", "ran", "SetValue")},
         kKey,
         "Next",
         "REG_SZ",
         "ran"},
        {"SetValue REG_BINARY writes nothing",
         {on("B", "REG_BINARY", "0102", "SetValue")},
         kKey,
         "B",
         "",
         std::nullopt},
        {"SetValue REG_MULTI_SZ writes nothing",
         {on("M", "REG_MULTI_SZ", "a", "SetValue")},
         kKey,
         "M",
         "",
         std::nullopt},
        {"SetValue REG_EXPAND_SZ PathAbs 1",
         {on("E", "REG_EXPAND_SZ", "%windir%\\x", "SetValue", "1")},
         kKey,
         "E",
         "REG_EXPAND_SZ",
         "C:\\windows\\x"},
        {"SetValue REG_EXPAND_SZ PathAbs empty",
         {on("E", "REG_EXPAND_SZ", "%windir%\\x", "SetValue", "")},
         kKey,
         "E",
         "REG_EXPAND_SZ",
         "%windir%\\x"},
        {"SetValue PathAbs 0",
         {on("E", "REG_SZ", "<app>x", "SetValue", "0")},
         kKey,
         "E",
         "REG_SZ",
         "<app>x"},
        {"SetValue then DelValue",
         {on("Sz", "REG_SZ", "changed", "SetValue"), on("Sz", "", "", "DelValue")},
         kKey,
         "Sz",
         "REG_SZ",
         std::nullopt},
        {"DelValue then SetValue",
         {on("Sz", "", "", "DelValue"), on("Sz", "REG_SZ", "back", "SetValue")},
         kKey,
         "Sz",
         "REG_SZ",
         "back"},
        {"setvalue in lower case",
         {on("Sz", "REG_SZ", "x", "setvalue")},
         kKey,
         "Sz",
         "REG_SZ",
         "Hello World"},
        {"SetValue into a missing key",
         {{"HKLM", "Software\\Corvane\\Missing", "V", "REG_SZ", "x", "SetValue", ""}},
         "Software\\Corvane\\Missing",
         "V",
         "REG_SZ",
         std::nullopt},
        {"DelKey",
         {on("Child", "", "", "DelKey")},
         "Software\\Corvane\\Child",
         "v",
         "REG_SZ",
         std::nullopt},
        {"DelKey of a missing key path",
         {{"HKLM", "Software\\None", "Child", "", "", "DelKey", ""}},
         "Software\\Corvane\\Child",
         "v",
         "REG_SZ",
         "1"},
        {"DelKey naming no key",
         {{"HKLM", "", "", "", "", "DelKey", ""}},
         "Software\\Corvane\\Child",
         "v",
         "REG_SZ",
         "1"},
        {"DelKey on HKCU",
         {{"HKCU", "Software\\Corvane", "Child", "", "", "DelKey", ""}},
         "Software\\Corvane\\Child",
         "v",
         "REG_SZ",
         "1"},
    };
    for (const Case& c : cases) {
        EnginePrefix m;
        (void)RunRepairXML(Repair({}, c.rows), m.appDir());
        const auto value = ValueInFiles(m, "HKLM", c.keyPath, c.name, c.type);
        EXPECT_EQ(value.has_value(), c.value.has_value()) << c.what;
        if (value && c.value) {
            EXPECT_EQ(*value, *c.value) << c.what;
        }
    }

    EnginePrefix m;
    (void)RunRepairXML(Repair({}, {{"HKLM", "Software\\Corvane", "Child", "", "", "DelKey", ""}}),
                       m.appDir());
    EXPECT_FALSE(KeyInFiles(m, "HKLM", "Software\\Corvane\\Child"));
    EXPECT_FALSE(KeyInFiles(m, "HKLM", "Software\\Corvane\\Child\\Grand"));
    EXPECT_TRUE(KeyInFiles(m, "HKLM", "Software\\Corvane\\Other"));
    (void)RunRepairXML(
        Repair({}, {{"HKLM", "Software\\Corvane", "Missing", "REG_SZ", "x", "SetValue", ""}}),
        m.appDir());
    EXPECT_FALSE(KeyInFiles(m, "HKLM", "Software\\Corvane\\Missing"));
}

TEST(RunRepairXML, DocumentOrderAndReadFailures) {
    const std::string copy = "<CHdb FilePath=\"C:\\data\\c.txt\" FromPath=\"C:\\data\\file.txt\" "
                             "decide=\"copy\"/>";
    const std::string deleteCopy = "<CHdb FilePath=\"C:\\data\\c.txt\" FromPath=\"\" "
                                   "decide=\"delete\"/>";
    const std::string deleteA = "<CHdb FilePath=\"C:\\data\\a.log\" FromPath=\"\" "
                                "decide=\"delete\"/>";
    const std::string delValue = "<CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\" "
                                 "KeyValue=\"Sz\" KeyType=\"\" ValueContent=\"\" "
                                 "decide=\"DelValue\"/>";
    auto files = [](const std::string& rules) {
        return "<type opttype=\"files\">" + rules + "</type>";
    };
    auto registry = [](const std::string& rules) {
        return "<type opttype=\"regedit\">" + rules + "</type>";
    };
    struct Case {
        std::string_view what;
        std::string body; // inside the root
        bool copyThere, aLogThere, szThere;
    };
    const Case cases[] = {
        {"nothing to do", files("") + registry(""), false, true, true},
        {"copy then delete", files(copy + deleteCopy), false, true, true},
        {"delete then copy", files(deleteCopy + copy), true, true, true},
        {"a registry group first runs first",
         registry(delValue) + files(copy + "<CHdb FilePath=\"x\" decide=\"delete\"/>" + deleteA),
         true, true, false},
        {"a file action without FromPath stops before the registry group",
         files(deleteA + "<CHdb FilePath=\"C:\\data\\file.txt\" decide=\"delete\"/>" + copy) +
             registry(delValue),
         false, false, true},
        {"a registry action without ValueContent",
         registry("<CHdb root=\"HKLM\" KeyPath=\"Software\\Corvane\" KeyValue=\"Sz\" "
                  "KeyType=\"\" decide=\"DelValue\"/>") +
             files(copy),
         false, true, true},
        {"a comment among the rules is a rule without attributes",
         files(deleteA + "<!--c-->" + copy), false, false, true},
        {"a group that is neither files nor regedit is skipped",
         "<type opttype=\"Files\">" + deleteA + "</type><type/>" + files(copy), true, true, true},
        {"no mode is needed, one is ignored",
         "<type opttype=\"files\" mode=\"and\">" + deleteA + "</type>", false, false, true},
    };
    for (const Case& c : cases) {
        EnginePrefix m;
        (void)RunRepairXML(std::string(kDeclaration) + "<rules>" + c.body + "</rules>", m.appDir());
        EXPECT_EQ(fs::exists(m.drive() / "data/c.txt"), c.copyThere) << c.what;
        EXPECT_EQ(fs::exists(m.drive() / "data/a.log"), c.aLogThere) << c.what;
        EXPECT_EQ(ValueInFiles(m, "HKLM", "Software\\Corvane", "Sz", "REG_SZ").has_value(),
                  c.szThere)
            << c.what;
    }

    // Texts that are no document, or have no declaration, change nothing at all.
    for (const std::string& text : {std::string(""), std::string("<rules>") + files(deleteA) +
                                                         registry(delValue) + "</rules>"}) {
        EnginePrefix m;
        const std::string system = ReadFile(m.prefix() / "system.reg");
        (void)RunRepairXML(text, m.appDir());
        EXPECT_TRUE(fs::exists(m.drive() / "data/a.log")) << text;
        EXPECT_EQ(ReadFile(m.prefix() / "system.reg"), system) << text;
    }
}

// A document's registry changes are written together when it ends: while it runs the
// file on disk is as it was, and each action sees what the ones before it did.
TEST(RunRepairXML, RegistryChangesAreWrittenOnceWhenTheDocumentEnds) {
    class DiskWatcher : public RepairWatcher {
    public:
        explicit DiskWatcher(fs::path file) : file_(std::move(file)) {}
        Answer before(const PlannedChange&, std::string&) override {
            seen.push_back(ReadFile(file_));
            return Answer::Go;
        }
        bool beforeSave(std::string& reason) override {
            reason = "no save";
            if (!outside.empty()) WriteFile(file_, ReadFile(file_) + outside);
            return save;
        }
        std::vector<std::string> seen;
        bool save = true;
        std::string outside; // written to the file by another program before the save

    private:
        fs::path file_;
    };
    EnginePrefix m;
    const std::string original = ReadFile(m.prefix() / "system.reg");
    auto set = [](const char* name, const char* content) {
        return RegActionRow{"HKLM", "Software\\Corvane", name, "REG_SZ", content, "SetValue", ""};
    };
    // The third action deletes the value the first one wrote.
    DiskWatcher watcher(m.prefix() / "system.reg");
    const RepairResult result =
        RunRepairXML(Repair({}, {set("A", "1"),
                                 set("B", "2"),
                                 {"HKLM", "Software\\Corvane", "A", "", "", "DelValue", ""},
                                 {"HKLM", "Software\\Corvane", "Child", "", "", "DelKey", ""}}),
                     m.appDir(), &watcher);
    EXPECT_TRUE(result.refused.empty());
    ASSERT_EQ(watcher.seen.size(), 4u);
    for (const std::string& text : watcher.seen)
        EXPECT_EQ(text, original);
    EXPECT_FALSE(ValueInFiles(m, "HKLM", "Software\\Corvane", "A", "REG_SZ"));
    EXPECT_EQ(ValueInFiles(m, "HKLM", "Software\\Corvane", "B", "REG_SZ"), "2");
    EXPECT_FALSE(KeyInFiles(m, "HKLM", "Software\\Corvane\\Child"));

    // A watcher that stops the save: nothing is written, and the changes are dropped
    // from memory too.
    const std::string saved = ReadFile(m.prefix() / "system.reg");
    watcher.save = false;
    const RepairResult stopped =
        RunRepairXML(Repair({}, {set("B", "3"), set("C", "4")}), m.appDir(), &watcher);
    EXPECT_EQ(stopped.refused, std::vector<std::string>{"no save"});
    EXPECT_EQ(ReadFile(m.prefix() / "system.reg"), saved);
    EXPECT_FALSE(RegValueExists(RootKey::LocalMachine, "Software\\Corvane", "C", ""));

    // Another program writes the file while the document runs: its write is kept and
    // the document's changes are not saved over it.
    watcher.save = true;
    watcher.outside = "\n[Software\\\\Outside] 1\n\"X\"=\"1\"\n";
    const RepairResult raced = RunRepairXML(Repair({}, {set("D", "5")}), m.appDir(), &watcher);
    ASSERT_EQ(raced.refused.size(), 1u);
    EXPECT_NE(raced.refused[0].find("another program changed it"), std::string::npos)
        << raced.refused[0];
    EXPECT_EQ(ReadFile(m.prefix() / "system.reg"), saved + watcher.outside);
    EXPECT_FALSE(RegValueExists(RootKey::LocalMachine, "Software\\Corvane", "D", ""));
    EXPECT_TRUE(RegValueExists(RootKey::LocalMachine, "Software\\Outside", "X", ""));
}

// A registry action refused because Wine or another Corvane command holds the
// registry gives its item that reason; one with nothing to do gives none.
TEST(RunRepairXML, RegistryActionsRefusedByALockSayWhy) {
    EnginePrefix m;
    const std::string document =
        Repair({}, {{"HKLM", "Software\\Corvane", "A", "REG_SZ", "1", "SetValue", ""},
                    {"HKLM", "Software\\Corvane", "None", "", "", "DelValue", ""}});
    for (const bool corvane : {false, true}) {
        test::FakeWineServer holder({wine::WineServerDir(m.prefix(), m.root.dir()), corvane});
        const RepairResult result = RunRepairXML(document, m.appDir());
        ASSERT_FALSE(result.refused.empty());
        EXPECT_NE(result.refused[0].find(corvane ? "another Corvane command" : "Wine is running"),
                  std::string::npos)
            << result.refused[0];
    }
    EXPECT_EQ(RunRepairXML(document, m.appDir()).refused, std::vector<std::string>{});
    EXPECT_EQ(ValueInFiles(m, "HKLM", "Software\\Corvane", "A", "REG_SZ"), "1");
}

// A key with keys nested more than 512 levels below it is refused whole, with the
// reason, however it is deleted: the engine's delete, a repair, its preview. The key
// beside the deep branch stays too.
TEST(RunRepairXML, AKeyNestedTooDeepIsRefusedWithItsReason) {
    const std::string reason =
        "HKLM\\Software\\Corvane\\Deep holds keys nested deeper than 512 levels; it is not "
        "deleted";
    for (const auto& [levels, refused] : {std::pair{512, false}, std::pair{513, true}}) {
        EnginePrefix m;
        std::string deep = "Software\\\\Corvane\\\\Deep";
        for (int i = 0; i < levels; ++i)
            deep += "\\\\k";
        WriteFile(m.prefix() / "system.reg",
                  ReadFile(m.prefix() / "system.reg") + "\n[" + deep +
                      "] 1\n\n[Software\\\\Corvane\\\\Deep\\\\Beside] 1\n");
        const std::string before = ReadFile(m.prefix() / "system.reg");
        const std::string doc =
            Repair({}, {{"HKLM", "Software\\Corvane", "Deep", "", "", "DelKey", ""}});

        const std::vector<PreviewAction> preview = PreviewRepair(doc, m.appDir());
        ASSERT_EQ(preview.size(), 1u) << levels;
        EXPECT_EQ(preview[0].refusal, refused ? reason : "") << levels;
        std::string why;
        if (refused) {
            EXPECT_FALSE(DeleteRegKey(RootKey::LocalMachine, "Software\\Corvane", "Deep", &why));
            EXPECT_EQ(why, reason);
        }
        const RepairResult result = RunRepairXML(doc, m.appDir());
        EXPECT_EQ(result.refused, refused ? std::vector{reason} : std::vector<std::string>{})
            << levels;
        EXPECT_EQ(KeyInFiles(m, "HKLM", "Software\\Corvane\\Deep\\Beside"), refused) << levels;
        if (refused) {
            EXPECT_EQ(ReadFile(m.prefix() / "system.reg"), before);
        }
    }
}

TEST(RunRepairXML, TheWorkedExampleRepairsWhatDetectionFound) {
    EnginePrefix m;
    constexpr std::string_view policies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies";
    DetectionRows found;
    found.files = {{"<fonts>", "1", "nofile"}};
    found.registry = {{"HKCU", std::string(policies), "Explorer", "", "", "KeyExists", "0"}};
    std::string detection;
    ASSERT_TRUE(WriteDetectionDocument(found, detection));
    ASSERT_EQ(RuleTriggered(detection, m.appDir()), 1);

    (void)RunRepairXML(
        Repair({}, {{"HKCU", std::string(policies), "Explorer", "", "", "DelKey", ""}}),
        m.appDir());
    EXPECT_EQ(RuleTriggered(detection, m.appDir()), 0);
    EXPECT_FALSE(KeyInFiles(m, "HKCU", std::string(policies) + "\\Explorer"));
    EXPECT_TRUE(KeyInFiles(m, "HKCU", policies));
    EXPECT_EQ(ReadFile(m.prefix() / "user.reg").find("NoRun"), std::string::npos);
}

} // namespace
} // namespace corvane
