#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <string>

#include "core/run/Links.h"

namespace corvane {
namespace {

// A downloaded installer is started, so every address must come over TLS: a plain
// address would let anyone on the way replace what runs.
TEST(LinksTest, EveryAddressIsHttpsOnAReservedPlaceholderHost) {
    ASSERT_EQ(Links().size(), 8u);
    for (const Link& link : Links()) {
        const std::string address(link.address);
        SCOPED_TRACE(std::string(link.element));
        ASSERT_TRUE(address.starts_with("https://")) << address;
        const std::string rest = address.substr(8);
        const std::string host = rest.substr(0, rest.find('/'));
        EXPECT_TRUE(host.ends_with(".example")) << host;
        EXPECT_EQ(address.find_first_of(" \t\r\n\\"), std::string::npos) << address;
    }
}

TEST(LinksTest, EachElementHasOneLinkAndDownloadsNameAnInstaller) {
    struct Case {
        std::string element;
        LinkAction action;
    };
    const Case cases[] = {
        {"Image3", LinkAction::OpenPage},          {"lblUrl1", LinkAction::OpenPage},
        {"Label12", LinkAction::OpenPage},         {"Label7", LinkAction::DownloadInstaller},
        {"Label8", LinkAction::DownloadInstaller}, {"Label9", LinkAction::OpenPage},
        {"Label10", LinkAction::OpenPage},         {"Label13", LinkAction::OpenPage},
    };
    std::set<std::string_view> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.element);
        const Link& link = LinkOf(c.element);
        EXPECT_EQ(link.element, c.element);
        EXPECT_EQ(link.action, c.action);
        if (c.action == LinkAction::DownloadInstaller) {
            const std::string name(link.fileName);
            EXPECT_TRUE(name.ends_with(".exe")) << name;
            EXPECT_EQ(name.find_first_of("/\\:"), std::string::npos) << "a plain file name";
            names.insert(link.fileName);
        } else {
            EXPECT_TRUE(link.fileName.empty());
        }
    }
    EXPECT_EQ(names.size(), 2u) << "the two installers do not overwrite each other";
    EXPECT_THROW(LinkOf("Label6"), std::out_of_range);
}

} // namespace
} // namespace corvane
