// The starter rule library and the demo prefix it is shown on: the pack is sound, each
// item's repair stays within what its detection looks at, and on the demo prefix a
// scan finds exactly the planted items, the repair fixes each of them and changes
// nothing else.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include "core/engine/RegCommon.h"
#include "core/engine/RuleDocument.h"
#include "core/run/Journal.h"
#include "core/run/JournalRecord.h"
#include "core/run/Preview.h"
#include "core/run/ScanRepair.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RulePack.h"
#include "support/DemoPrefix.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;

RulePack StarterPack() {
    return ReadRulePack(ReadFile(test::kStarterPack));
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// --- What a document names -------------------------------------------------------------

struct Named {
    std::set<std::string> values; // "ROOT\key path\\value name"
    std::set<std::string> keys;   // "ROOT\key path"
    std::set<std::string> files;
};

std::string KeyOf(const std::string& root, const std::string& path, const std::string& name = "") {
    std::string key = root + "\\" + path;
    if (!name.empty()) key += (path.empty() ? "" : "\\") + name;
    return Lower(key);
}

std::string ValueOf(const std::string& root, const std::string& path, const std::string& name) {
    return KeyOf(root, path) + "\\\\" + Lower(name);
}

Named DetectionNames(const std::string& text) {
    DetectionRows rows;
    EXPECT_TRUE(ReadDetectionDocument(text, rows));
    Named named;
    for (const auto& row : rows.files)
        named.files.insert(Lower(row.FilePath));
    for (const auto& row : rows.registry) {
        if (row.decide == "KeyExists" || row.decide == "!KeyExists")
            named.keys.insert(KeyOf(row.root, row.KeyPath, row.KeyValue));
        else
            named.values.insert(ValueOf(row.root, row.KeyPath, row.KeyValue));
    }
    return named;
}

Named RepairNames(const std::string& text) {
    RepairRows rows;
    EXPECT_TRUE(ReadRepairDocument(text, rows));
    Named named;
    for (const auto& row : rows.files)
        named.files.insert(Lower(row.FilePath));
    for (const auto& row : rows.registry) {
        if (row.decide == "DelKey")
            named.keys.insert(KeyOf(row.root, row.KeyPath, row.KeyValue));
        else
            named.values.insert(ValueOf(row.root, row.KeyPath, row.KeyValue));
    }
    return named;
}

TEST(StarterLibraryTest, PackIsSoundAndKeptInTheFormExportWrites) {
    const std::string text = ReadFile(test::kStarterPack);
    const RulePack pack = ReadRulePack(text);
    EXPECT_EQ(CheckRulePack(pack), std::vector<RulePackProblem>{});
    // Import and export give the file back byte for byte.
    EXPECT_EQ(WriteRulePack(pack), text);
    EXPECT_GE(pack.items.size(), 30u);
    for (const RuleItem& item : pack.items) {
        SCOPED_TRACE(item.Name);
        EXPECT_FALSE(item.Des.empty());
        // Opening an item in the rule item editor and saving it changes nothing.
        DetectionRows detection;
        RepairRows repair;
        std::string rewritten;
        ASSERT_TRUE(ReadDetectionDocument(item.OptText, detection));
        ASSERT_TRUE(WriteDetectionDocument(detection, rewritten));
        EXPECT_EQ(rewritten, item.OptText);
        ASSERT_TRUE(ReadRepairDocument(item.RepairXML, repair));
        ASSERT_TRUE(WriteRepairDocument(repair, rewritten));
        EXPECT_EQ(rewritten, item.RepairXML);
    }
}

TEST(StarterLibraryTest, EachRepairTouchesOnlyWhatItsDetectionTests) {
    for (const RuleItem& item : StarterPack().items) {
        SCOPED_TRACE(item.Name);
        const Named tested = DetectionNames(item.OptText);
        const Named touched = RepairNames(item.RepairXML);
        EXPECT_FALSE(touched.values.empty() && touched.keys.empty() && touched.files.empty());
        for (const std::string& value : touched.values)
            EXPECT_TRUE(tested.values.contains(value)) << value;
        for (const std::string& key : touched.keys)
            EXPECT_TRUE(tested.keys.contains(key)) << key;
        for (const std::string& file : touched.files)
            EXPECT_TRUE(tested.files.contains(file)) << file;
    }
}

TEST(StarterLibraryTest, GroupsCoverTheReleasesWinePrefixesReport) {
    RunningRelease running;
    const IniDocument groups = ReadPlatformGroups(*StarterPack().platforms);
    // What Wine 8's winecfg writes for each Windows version it offers on a 64-bit
    // prefix, and which groups include it.
    const struct {
        const char* tag;
        const char* version;
        bool xpUp, vistaUp;
    } releases[] = {
        {"[win7]", "6.1.7601.Service Pack 1", true, true}, // a fresh prefix
        {"", "10.0.18362.", true, true},
        {"", "6.3.9600.", true, true},
        {"[win8]", "6.2.9200.", true, true},
        {"[winvista]", "6.0.6002.Service Pack 2", true, true},
        {"[win2003]", "5.2.3790.Service Pack 2", true, false},
    };
    for (const auto& release : releases) {
        SCOPED_TRACE(release.version);
        running.osTag = release.tag;
        running.versionText = release.version;
        EXPECT_TRUE(PlatformGroupApplies("all-os", groups, running));
        EXPECT_EQ(PlatformGroupApplies("xp-up", groups, running), release.xpUp);
        EXPECT_EQ(PlatformGroupApplies("vista-up", groups, running), release.vistaUp);
    }
    running.osTag = "[win2000]";
    running.versionText = "5.0.2195.Service Pack 4";
    EXPECT_TRUE(PlatformGroupApplies("all-os", groups, running));
    EXPECT_FALSE(PlatformGroupApplies("xp-up", groups, running));
}

// --- A prefix as data ------------------------------------------------------------------

// A registry file as section -> value name -> value line(s), read with no help from
// the code under test. Timestamps are left out: a saved section gets new ones.
using RegFile = std::map<std::string, std::map<std::string, std::string>>;

RegFile ReadRegFile(const fs::path& file) {
    RegFile sections;
    std::string text = ReadFile(file), line, section, pending;
    static const std::regex kHeader(R"(^\[(.*)\]( \d+)?$)");
    std::smatch match;
    std::istringstream in(text);
    auto add = [&](const std::string& entry) {
        if (section.empty() || entry.empty()) return;
        std::string name = entry[0] == '@' ? "@" : entry.substr(0, entry.find("\"=") + 1);
        if (entry[0] == '#') name = entry;
        sections[section][Lower(name)] = entry;
    };
    while (std::getline(in, line)) {
        if (!pending.empty() || (!line.empty() && line.back() == '\\')) {
            pending += line + "\n";
            if (line.empty() || line.back() != '\\') add(pending), pending.clear();
            continue;
        }
        if (std::regex_match(line, match, kHeader)) {
            section = Lower(std::regex_replace(match[1].str(), std::regex(R"(\\\\)"), "\\"));
            sections[section];
        } else if (!line.starts_with("#time=")) {
            add(line);
        }
    }
    return sections;
}

struct PrefixState {
    std::map<std::string, RegFile> registry;   // by file name
    std::map<std::string, std::string> others; // relative path -> kind and content
};

PrefixState Snapshot(const fs::path& prefix) {
    PrefixState state;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        state.registry[name] = ReadRegFile(prefix / name);
    for (const auto& entry : fs::recursive_directory_iterator(prefix)) {
        const std::string path = fs::relative(entry.path(), prefix).string();
        if (state.registry.contains(path)) continue;
        if (entry.is_symlink())
            state.others[path] = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            state.others[path] = "folder";
        else
            state.others[path] = "file " + ReadFile(entry.path());
    }
    return state;
}

// Where a registry name lives in a prefix: its file and section.
std::pair<std::string, std::string> Place(const std::string& key) {
    const auto cut = key.find('\\');
    const std::string root = key.substr(0, cut), rest = key.substr(cut + 1);
    if (root == "hkcu") return {"user.reg", rest};
    if (root == "hkcr") return {"system.reg", "software\\classes\\" + rest};
    return {"system.reg", rest};
}

// Every value and section that differs, as "file: section \\ value".
std::set<std::string> RegistryChanges(const PrefixState& before, const PrefixState& after) {
    std::set<std::string> changes;
    for (const auto& [file, sections] : before.registry) {
        const RegFile& later = after.registry.at(file);
        for (const auto& [section, values] : sections) {
            const auto found = later.find(section);
            if (found == later.end()) {
                changes.insert(file + ": " + section);
                continue;
            }
            std::set<std::string> names;
            for (const auto& [name, line] : values)
                names.insert(name);
            for (const auto& [name, line] : found->second)
                names.insert(name);
            for (const std::string& name : names) {
                const auto a = values.find(name);
                const auto b = found->second.find(name);
                if (a == values.end() || b == found->second.end() || a->second != b->second)
                    changes.insert(file + ": " + section + " \\ " + name);
            }
        }
        for (const auto& [section, values] : later)
            if (!sections.contains(section)) changes.insert(file + ": " + section + " (new)");
    }
    return changes;
}

class DemoPrefixTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CopyDemoPrefix(prefix());
        fs::create_directory(appDir());
        inputs = InputsBeside(appDir().string() + "/");
        inputs.journalRoot = (root.dir() / "journal").string();
        CreateRuleDatabase(inputs.library);
        ImportRuleLibrary(inputs.library, StarterPack());
    }

    fs::path prefix() const { return root.dir() / "prefix"; }
    fs::path appDir() const { return root.dir() / "app"; }

    std::vector<ScanFinding> scan() {
        std::vector<ScanFinding> found;
        ScanEvents events;
        events.found = [&](const ScanFinding& finding) { found.push_back(finding); };
        RunScan(inputs, events);
        return found;
    }

    TempPrefix root;
    RunInputs inputs;
    wine::WinePlatform platform{prefix(), test::Options(root.dir(), appDir())};
    PlatformScope scope{platform};
};

TEST_F(DemoPrefixTest, FindsThePlantedItemsRepairsEachAndChangesNothingElse) {
    const PrefixState before = Snapshot(prefix());
    const std::vector<ScanFinding> found = scan();
    std::vector<std::string> names;
    for (const auto& finding : found)
        names.push_back(finding.name);
    std::vector<std::string> planted;
    for (const auto& item : test::kPlantedItems)
        planted.emplace_back(item.name);
    EXPECT_EQ(names, planted);

    std::vector<RepairRow> rows;
    for (const auto& finding : found)
        rows.push_back({rows.size(), finding.id});
    std::vector<bool> repaired(rows.size(), false);
    RepairEvents events;
    events.repaired = [&](std::size_t index, bool ok) { repaired.at(index) = ok; };
    RunRepair(inputs, rows, events);
    EXPECT_EQ(repaired, std::vector<bool>(rows.size(), true));
    EXPECT_TRUE(scan().empty());

    // The registry changed only in values and keys the found items' repairs name.
    std::set<std::string> allowedValues, allowedKeys;
    const RulePack pack = StarterPack();
    for (const auto& finding : found) {
        const auto item = std::find_if(pack.items.begin(), pack.items.end(),
                                       [&](const RuleItem& i) { return i.Name == finding.name; });
        ASSERT_NE(item, pack.items.end());
        const Named touched = RepairNames(item->RepairXML);
        for (const std::string& value : touched.values) {
            const auto cut = value.find("\\\\");
            const auto [file, section] = Place(value.substr(0, cut));
            const std::string name = value.substr(cut + 2);
            allowedValues.insert(file + ": " + section + " \\ " +
                                 (name.empty() ? "@" : "\"" + name + "\""));
        }
        for (const std::string& key : touched.keys) {
            const auto [file, section] = Place(key);
            allowedKeys.insert(file + ": " + section);
        }
    }
    const PrefixState after = Snapshot(prefix());
    const std::set<std::string> changes = RegistryChanges(before, after);
    EXPECT_FALSE(changes.empty());
    for (const std::string& change : changes)
        EXPECT_TRUE(allowedValues.contains(change) || allowedKeys.contains(change)) << change;

    // Of the files, only the two planted ones are gone; nothing else changed.
    std::map<std::string, std::string> expected = before.others;
    EXPECT_EQ(expected.erase("drive_c/autorun.inf"), 1u);
    EXPECT_EQ(expected.erase("drive_c/windows/system32/drivers/spo0lsv.exe"), 1u);
    EXPECT_EQ(after.others, expected);
}

// The run writes each registry file it changes once, for all its items together, and
// reports each item repaired only then.
TEST_F(DemoPrefixTest, TheRunWritesEachRegistryFileOnce) {
    std::vector<RepairRow> rows;
    for (const auto& finding : scan())
        rows.push_back({rows.size(), finding.id});
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, prefix().c_str(), IN_MOVED_TO), 0);
    std::map<std::string, int> written;
    const auto count = [&] {
        alignas(inotify_event) char buffer[16384];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len) ++written[event->name];
                p += sizeof(inotify_event) + event->len;
            }
    };
    std::vector<int> repaired;
    RepairEvents events;
    events.repaired = [&](std::size_t index, bool ok) {
        count();
        EXPECT_FALSE(written.empty()) << "reported before its changes were written";
        repaired.push_back(ok ? static_cast<int>(index) : -1);
    };
    RunRepair(inputs, rows, events);
    count();
    ::close(watch);
    std::vector<int> all(rows.size());
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(repaired, all);
    EXPECT_EQ(written, (std::map<std::string, int>{{"system.reg", 1}, {"user.reg", 1}}));
}

// Every file of the prefix byte for byte, the registry files included.
// Runs the repair while every write larger than 200 KB fails with EFBIG (instead of a
// signal).
void RepairWithSmallWrites(const RunInputs& inputs, const std::vector<RepairRow>& rows,
                           const RepairEvents& events) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 200000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    RunRepair(inputs, rows, events);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

std::map<std::string, std::string> Bytes(const fs::path& prefix) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(prefix))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[fs::relative(entry.path(), prefix).string()] = ReadFile(entry.path());
    return files;
}

TEST_F(DemoPrefixTest, APreviewChangesNothingAndNamesWhatTheRepairRecords) {
    const auto before = Bytes(prefix());
    const std::vector<ScanFinding> found = scan();
    std::vector<std::vector<PreviewAction>> previews;
    const RulePack pack = StarterPack();
    for (const auto& finding : found)
        for (const RuleItem& item : pack.items)
            if (item.Name == finding.name)
                previews.push_back(PreviewRepair(item.RepairXML, inputs.appDir));
    EXPECT_EQ(Bytes(prefix()), before);

    std::vector<RepairRow> rows;
    for (const auto& finding : found)
        rows.push_back({rows.size(), finding.id});
    int run = 0;
    RepairEvents events;
    events.journaled = [&](int r) { run = r; };
    RunRepair(inputs, rows, events);
    // The journal's entries hold, item by item, one change for each previewed action,
    // of the same kind and on the same target.
    const Journal journal(inputs.journalRoot, prefix());
    char runName[32];
    std::snprintf(runName, sizeof runName, "run-%06d", run);
    const fs::path runFolder = journal.folder() / runName;
    ASSERT_EQ(previews.size(), found.size());
    const auto entries = journal::RunEntries(runFolder);
    ASSERT_EQ(entries.size(), found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        ASSERT_TRUE(entries[i].entry) << entries[i].problem;
        const auto& entry = *entries[i].entry;
        ASSERT_EQ(entry["changes"].size(), previews[i].size()) << found[i].name;
        for (std::size_t c = 0; c < previews[i].size(); ++c) {
            const auto& change = entry["changes"][c];
            // A change through HKCR is recorded in its branch and names the key it was
            // made through.
            const std::string target =
                change.contains("path") ? change["path"].get<std::string>()
                : change.contains("via")
                    ? change["via"].get<std::string>()
                    : change["root"].get<std::string>() + "\\" + change["key"].get<std::string>();
            EXPECT_TRUE(previews[i][c].target.starts_with(target))
                << previews[i][c].target << " / " << target;
        }
    }
}

TEST_F(DemoPrefixTest, UndoingTheRunBringsThePrefixBack) {
    const PrefixState before = Snapshot(prefix());
    const std::vector<ScanFinding> found = scan();
    std::vector<RepairRow> rows;
    for (const auto& finding : found)
        rows.push_back({rows.size(), finding.id});
    int run = 0;
    RepairEvents events;
    events.journaled = [&](int r) { run = r; };
    RunRepair(inputs, rows, events);
    ASSERT_TRUE(scan().empty());

    Journal journal(inputs.journalRoot, prefix());
    const auto outcomes = journal.undo(run, {}, false);
    ASSERT_TRUE(outcomes);
    for (const UndoOutcome& outcome : *outcomes)
        EXPECT_TRUE(outcome.undone) << outcome.name << ": " << outcome.reason;
    const PrefixState after = Snapshot(prefix());
    EXPECT_EQ(RegistryChanges(before, after), std::set<std::string>{});
    EXPECT_EQ(after.others, before.others); // the deleted files are back, byte for byte
    std::vector<std::string> again, ids;
    for (const auto& finding : scan())
        again.push_back(finding.id);
    for (const auto& finding : found)
        ids.push_back(finding.id);
    EXPECT_EQ(again, ids);
    // Twice restores nothing twice.
    const auto twice = journal.undo(run, {}, false);
    ASSERT_TRUE(twice);
    for (const UndoOutcome& outcome : *twice)
        EXPECT_FALSE(outcome.undone) << outcome.name;
}

TEST_F(DemoPrefixTest, AnItemChangedSinceItsRepairIsUndoneOnlyWhenForced) {
    const std::vector<ScanFinding> found = scan();
    ASSERT_FALSE(found.empty());
    int run = 0;
    RepairEvents events;
    events.journaled = [&](int r) { run = r; };
    RunRepair(inputs, {{0, found[0].id}}, events); // 任务管理器被禁用: a value deleted
    ASSERT_TRUE(WriteRegValue(RootKey::CurrentUser,
                              "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                              "DisableTaskMgr", "REG_DWORD", "7"));
    Journal journal(inputs.journalRoot, prefix());
    auto outcomes = journal.undo(run, {}, false);
    ASSERT_EQ(outcomes->size(), 1u);
    EXPECT_FALSE(outcomes->front().undone);
    EXPECT_NE(outcomes->front().reason.find("修复后已被更改"), std::string::npos);
    outcomes = journal.undo(run, {found[0].id}, true);
    EXPECT_TRUE(outcomes->front().undone) << outcomes->front().reason;
    std::string value;
    ASSERT_TRUE(ReadRegValueText(RootKey::CurrentUser,
                                 "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                                 "DisableTaskMgr", "REG_DWORD", value));
    EXPECT_EQ(value, "1");
}

TEST_F(DemoPrefixTest, AJournalThatCannotBeWrittenStopsTheRepairBeforeAnyChange) {
    const auto before = Bytes(prefix());
    const std::vector<ScanFinding> found = scan();
    test::WriteFile(root.dir() / "state", "a file where the journal's folder would be");
    inputs.journalRoot = (root.dir() / "state/journal").string();
    std::vector<RepairRow> rows;
    for (const auto& finding : found)
        rows.push_back({rows.size(), finding.id});
    std::vector<std::string> reasons;
    std::size_t failed = 0;
    RepairEvents events;
    events.failed = [&](std::size_t, const std::string& reason) { reasons.push_back(reason); };
    events.repaired = [&](std::size_t, bool ok) { failed += ok ? 0 : 1; };
    RunRepair(inputs, rows, events);
    EXPECT_EQ(failed, rows.size());
    ASSERT_EQ(reasons.size(), rows.size());
    EXPECT_NE(reasons[0].find("journal"), std::string::npos) << reasons[0];
    EXPECT_EQ(Bytes(prefix()), before);
}

// The items' registry changes are written together when the run ends. A registry file
// that cannot be written then (larger than the process may write) stays as it was,
// and each item that changes the registry fails with the reason, its journal entry
// saying so.
TEST_F(DemoPrefixTest, ARegistryFileThatCannotBeWrittenFailsItsItemsAndStaysAsItWas) {
    const std::string padding =
        "\n[Software\\Padding] 1\n\"Big\"=\"" + std::string(300000, 'x') + "\"\n";
    for (const char* hive : {"system.reg", "user.reg"})
        test::WriteFile(prefix() / hive, ReadFile(prefix() / hive) + padding);
    const std::vector<ScanFinding> found = scan();
    ASSERT_EQ(found.size(), test::kPlantedItems.size());
    const auto before = Bytes(prefix());
    std::vector<RepairRow> rows;
    for (const auto& finding : found)
        rows.push_back({rows.size(), finding.id});
    std::vector<std::string> reasons(rows.size());
    std::vector<bool> repaired(rows.size(), true);
    RepairEvents events;
    events.failed = [&](std::size_t i, const std::string& reason) { reasons.at(i) = reason; };
    events.repaired = [&](std::size_t i, bool ok) { repaired.at(i) = ok; };
    RepairWithSmallWrites(inputs, rows, events);
    const auto after = Bytes(prefix());
    for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
        EXPECT_EQ(after.at(hive), before.at(hive)) << hive;
    const Journal journal(inputs.journalRoot, prefix());
    const std::vector<JournalRun> runs = journal.history();
    ASSERT_EQ(runs.size(), 1u);
    const std::vector<JournalItem>& items = runs[0].items;
    ASSERT_EQ(items.size(), rows.size());
    std::size_t registryItems = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (reasons[i].find("cannot write") == std::string::npos) continue;
        ++registryItems;
        EXPECT_FALSE(repaired[i]) << found[i].name;
        EXPECT_NE(reasons[i].find(".reg"), std::string::npos) << reasons[i];
        EXPECT_EQ(items[i].result, "修复失败") << found[i].name;
    }
    EXPECT_GE(registryItems, rows.size() - 2) << "most planted items are registry settings";
}

// An item whose records cannot be written (a value larger than the process may write)
// fails alone: the changes it made in memory are dropped, and the items before and
// after it in the run are written and repaired.
TEST_F(DemoPrefixTest, AnItemWhoseRecordsCannotBeWrittenFailsAlone) {
    const fs::path system = prefix() / "system.reg";
    test::WriteFile(system, ReadFile(system) +
                                "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Policies"
                                "\\\\System] 1\n\"DisableTaskMgr\"=\"" +
                                std::string(300000, 'x') + "\"\n");
    std::map<std::string, std::string> ids;
    for (const auto& finding : scan())
        ids[finding.name] = finding.id;
    const std::vector<std::string> names = {"驱动器在“计算机”中被隐藏", "任务管理器被禁用",
                                            "已知文件类型的扩展名被隐藏"};
    std::vector<RepairRow> rows;
    for (const std::string& name : names) {
        ASSERT_TRUE(ids.contains(name)) << name;
        rows.push_back({rows.size(), ids[name]});
    }
    const auto before = Bytes(prefix());
    std::vector<std::string> reasons(rows.size());
    std::vector<int> repaired(rows.size(), -1);
    RepairEvents events;
    events.failed = [&](std::size_t i, const std::string& reason) { reasons.at(i) = reason; };
    events.repaired = [&](std::size_t i, bool ok) { repaired.at(i) = ok; };
    RepairWithSmallWrites(inputs, rows, events);
    EXPECT_EQ(repaired, (std::vector<int>{1, 0, 1}));
    EXPECT_NE(reasons[1].find("the journal cannot be written"), std::string::npos) << reasons[1];
    const auto after = Bytes(prefix());
    EXPECT_EQ(after.at("system.reg"), before.at("system.reg"));
    const std::string& user = after.at("user.reg");
    EXPECT_EQ(user.find("\"NoDrives\""), std::string::npos) << user;
    EXPECT_NE(user.find("\"HideFileExt\"=dword:00000000"), std::string::npos) << user;
    EXPECT_NE(user.find("\"DisableTaskMgr\"=dword:00000001"), std::string::npos) << user;
    const std::vector<JournalRun> runs = Journal(inputs.journalRoot, prefix()).history();
    ASSERT_EQ(runs.size(), 1u);
    // The failed item's entry never got to disk.
    ASSERT_EQ(runs[0].items.size(), 2u);
    for (const JournalItem& item : runs[0].items)
        EXPECT_EQ(item.result, "修复成功") << item.name;
}

TEST(StarterLibraryTest, FindsNothingOnAPrefixWithoutSettings) {
    // A prefix whose registry holds no keys at all: no condition on a missing key or
    // value may count as a finding.
    TempPrefix root;
    fs::create_directories(root.dir() / "prefix/dosdevices");
    fs::create_directories(root.dir() / "prefix/drive_c/windows");
    fs::create_directory_symlink("../drive_c", root.dir() / "prefix/dosdevices/c:");
    fs::create_directory(root.dir() / "app");
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        test::WriteFile(root.dir() / "prefix" / name, "WINE REGISTRY Version 2\n\n#arch=win64\n");
    wine::WinePlatform platform{root.dir() / "prefix",
                                test::Options(root.dir(), root.dir() / "app")};
    PlatformScope scope{platform};
    RunInputs inputs = InputsBeside((root.dir() / "app").string() + "/");
    // With no version in the registry every group would be skipped; the scan must
    // look at every item.
    inputs.release.osTag = "[win7]";
    CreateRuleDatabase(inputs.library);
    ImportRuleLibrary(inputs.library, StarterPack());
    std::vector<std::string> found;
    ScanEvents events;
    events.found = [&](const ScanFinding& finding) { found.push_back(finding.name); };
    RunScan(inputs, events);
    EXPECT_EQ(found, std::vector<std::string>{});
}

} // namespace
} // namespace corvane
