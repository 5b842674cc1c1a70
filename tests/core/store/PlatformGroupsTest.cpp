#include <gtest/gtest.h>

#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

struct Release {
    std::string tag, version;
};

const Release kXp{"[winxp]", "5.1.2600.Service Pack 3"};
const Release kWin7{"[win7]", "6.1.7601.Service Pack 1"};
const Release kWin95{"[win95]", "4.0.950."};
const Release kWinMe{"", "4.90.3000."};
const Release kWin10{"", "10.0.19045."};

bool Applies(const Release& release, std::string_view osId, std::string_view winOsText) {
    RunningRelease running;
    running.osTag = release.tag;
    running.versionText = release.version;
    return PlatformGroupApplies(osId, ReadPlatformGroups(winOsText), running);
}

TEST(PlatformGroups, WhichReleasesAGroupIncludes) {
    const std::string xpOnly = "[xp]\nName=XP\nOS=[winxp]\n";
    struct Case {
        Release release;
        std::string_view osId;
        std::string winOs;
        bool applies;
    };
    const Case cases[] = {
        {kXp, "xp", xpOnly, true},
        {kWin7, "xp", xpOnly, false},
        {kXp, "XP", xpOnly, true}, // group ids match without regard to case
        {kXp, "all-os", xpOnly, true},
        {kWin7, "all-os", xpOnly, true},
        {kWin7, "nowhere", "", true},  // an empty text: the default list for every group
        {kWin95, "all-os", "", false}, // the default list has no [win95]
        {kWinMe, "all-os", "", false}, // no tag, and the default list holds no versions
        {kWin10, "all-os", "", false},
        {kWin10, "w10", "[w10]\nOS=[win7];10.0.19045.\n", true},
        {kWinMe, "me", "[me]\nOS=;4.90.3000.\n", true},
        {kWin7, "g", "[g]\nOS=;6.1.\n", false}, // the whole version text, led by ";"
        {kWin10, "g", "[g]\nOS=10.0.19045.\n", false},
        {kWin7, "g", "[g]\nOS=[WIN7]\n", false},                 // tags are case-sensitive
        {kWin7, "all-os", "[all-os]\nOS=[winxp]\n", false},      // a section all-os takes effect
        {kWin7, "g", "[g]\nOS=[winxp]\n[G]\nOS=[win7]\n", true}, // the later section wins
        {kXp, "g", "[g]\nOS=[winxp]\n[G]\nOS=[win7]\n", false},
        {kWin7, "g", "[g]\nOS=[winxp]\nos=[win7]\n", true}, // and the later key
        {kWin7, "g", "[g]\nOS=\n", false},                  // present but empty: no default
        {kWin7, "g", "[g]\nName=only a name\n", true},
        {kWin7, "g", "OS=[winxp]\n[g]\n", true}, // keys before a section define nothing
        {kWin7, "g", "\t[g]\r OS = [winxp] \r\n; OS=[win7]\n", false}, // CR ends lines too
        {kWin7, "g", "[g] x\nOS=[winxp]\n", true}, // not a section line: g undescribed
        {kWin7, "g", "garbage\n[[[\n=\n[g]\nOS[win7]\n", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Applies(c.release, c.osId, c.winOs), c.applies)
            << c.release.version << " " << c.osId << " in " << c.winOs;
}

TEST(PlatformGroups, NamesWithTheirDefault) {
    const IniDocument groups = ReadPlatformGroups("[xp]\nName=XP 系统\n[empty]\nName=\n");
    EXPECT_EQ(GroupValue(groups, "XP", "Name", kAllOsName), "XP 系统");
    EXPECT_EQ(GroupValue(groups, "empty", "Name", kAllOsName), "");
    EXPECT_EQ(GroupValue(groups, "other", "Name", kAllOsName), "所有Windows平台");
}

TEST(PlatformGroups, TheWinOSRecordIsReadWhenPresent) {
    test::TempPrefix dir;
    const LibraryLocation lib{(dir.dir() / "cvdb.db").string()};
    CreateRuleDatabase(lib);
    auto db = OpenRuleLibrary(lib);
    EXPECT_EQ(ReadWinOSRecord(*db), std::nullopt);
    db->Execute(RuleSql::InsertWinOS("[xp]\nName=中文\nOS=[winxp]\n"));
    EXPECT_EQ(ReadWinOSRecord(*db), "[xp]\nName=中文\nOS=[winxp]\n");
}

} // namespace
} // namespace corvane
