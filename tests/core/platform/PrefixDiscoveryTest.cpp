#include <gtest/gtest.h>

#include "core/platform/wine/PrefixDiscovery.h"
#include "support/FakeHome.h"

namespace corvane::wine {
namespace {

namespace fs = std::filesystem;

std::vector<test::ExpectedPrefix> Found(const Discovery& discovery) {
    std::vector<test::ExpectedPrefix> found;
    for (const FoundPrefix& p : discovery.prefixes)
        found.push_back({p.label, p.path, std::string(SourceName(p.source))});
    return found;
}

TEST(PrefixDiscovery, FindsThePrefixesOfEveryProgramOnceAndNotesDamagedFiles) {
    test::TempPrefix root;
    const fs::path home = root.dir();
    const test::FakeHome made = test::MakeFakeHome(home);

    const Discovery discovery = DiscoverPrefixes({home, "", ""});
    EXPECT_EQ(Found(discovery), made.prefixes);
    ASSERT_EQ(discovery.notes.size(), made.damaged.size());
    for (std::size_t i = 0; i < made.damaged.size(); ++i)
        EXPECT_TRUE(discovery.notes[i].starts_with("skipped " + made.damaged[i].string() + ": "))
            << discovery.notes[i];

    // $WINEPREFIX comes first; reached through ~/.steam/steam it is still the Steam game.
    const fs::path viaLink = home / ".steam/steam/steamapps/compatdata/1245620/pfx";
    std::vector<test::ExpectedPrefix> expected = made.prefixes;
    const auto elden = std::find_if(expected.begin(), expected.end(), [](const auto& p) {
        return p.label.starts_with("Steam: ELDEN");
    });
    ASSERT_NE(elden, expected.end());
    test::ExpectedPrefix first = *elden;
    first.path = viaLink;
    expected.erase(elden);
    expected.insert(expected.begin(), first);
    EXPECT_EQ(Found(DiscoverPrefixes({home, viaLink.string(), ""})), expected);

    // Any other $WINEPREFIX is named by its path, the home written as ~.
    const fs::path own = home / "Projects/app prefix";
    fs::create_directories(own.parent_path());
    test::CopyDemoPrefix(own);
    const Discovery withOwn = DiscoverPrefixes({home, own.string(), ""});
    ASSERT_FALSE(withOwn.prefixes.empty());
    EXPECT_EQ(Found(withOwn)[0],
              (test::ExpectedPrefix{"Wine: ~/Projects/app prefix", own, "wine"}));
}

// A deepin-wine prefix is named by the launcher whose run.sh names it: its Chinese name,
// else its name; a launcher that names no prefix or a damaged entry changes nothing.
TEST(PrefixDiscovery, DeepinPrefixesAreNamedByTheirLaunchers) {
    test::TempPrefix root;
    const fs::path home = root.dir() / "home", apps = root.dir() / "apps";
    fs::create_directories(home / ".deepinwine");
    for (const char* bottle : {"Deepin-WeChat", "Spark-TIM", "Deepin-QQ"})
        test::CopyDemoPrefix(home / ".deepinwine" / bottle);
    auto launcher = [&](const std::string& id, const std::string& script,
                        const std::string& desktop) {
        fs::create_directories(apps / id / "files");
        fs::create_directories(apps / id / "entries/applications");
        test::WriteFile(apps / id / "files/run.sh", script);
        test::WriteFile(apps / id / "entries/applications" / (id + ".desktop"), desktop);
    };
    launcher("com.qq.weixin.deepin", "#!/bin/sh\n  BOTTLENAME=\"Deepin-WeChat\"\nAPPVER=\"3.9\"\n",
             "[Desktop Entry]\nName=WeChat\nName[zh_CN]=微信\nExec=x\n");
    launcher("com.qq.tim.spark", "export BOTTLENAME='Spark-TIM'\r\n",
             "[Desktop Entry]\nName=TIM\r\n");
    launcher("com.example.none", "APPVER=1\n", "[Desktop Entry]\nName=None\n");
    const Discovery discovery = DiscoverPrefixes({home, "", "", apps});
    EXPECT_EQ(Found(discovery),
              (std::vector<test::ExpectedPrefix>{
                  {"deepin-wine: Deepin-QQ", home / ".deepinwine/Deepin-QQ", "deepin-wine"},
                  {"deepin-wine: 微信 (Deepin-WeChat)", home / ".deepinwine/Deepin-WeChat",
                   "deepin-wine"},
                  {"deepin-wine: TIM (Spark-TIM)", home / ".deepinwine/Spark-TIM", "deepin-wine"},
              }));
}

} // namespace
} // namespace corvane::wine
