#include <gtest/gtest.h>

#include <string>

#include "core/engine/XmlDocument.h"

namespace corvane {
namespace {

TEST(XmlDocument, TopLevelNodesAndTheirChildren) {
    struct Case {
        std::string_view text;
        std::size_t topCount;
        std::size_t rootPos;      // where the element sits among the top-level nodes
        std::size_t rootChildren; // children of that element
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?><rules><a/><b/></rules>", 2, 1, 2},
        {"<?xml version=\"1.0\"?>\n<rules>\n  <a/>\n\t<b/>\n</rules>\n", 2, 1, 2},
        {"<rules><a/></rules>", 1, 0, 1},
        {"<?xml version=\"1.0\"?><!--c--><rules/>", 3, 2, 0},
        {"<?xml version=\"1.0\"?><?pi x?><rules/>", 3, 2, 0},
        {"<?xml version=\"1.0\"?><!DOCTYPE rules><rules/>", 3, 2, 0},
        {"<?xml version=\"1.0\"?><rules><!--c--><?p?><a/> text <![CDATA[x]]></rules>", 2, 1, 5},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        ASSERT_TRUE(doc.load(c.text)) << c.text;
        EXPECT_EQ(doc.topCount(), c.topCount) << c.text;
        EXPECT_TRUE(doc.top(c.rootPos).isElement()) << c.text;
        EXPECT_EQ(doc.top(c.rootPos).childCount(), c.rootChildren) << c.text;
        EXPECT_FALSE(doc.top(c.topCount)) << c.text; // beyond the count
        EXPECT_FALSE(doc.top(c.rootPos).child(c.rootChildren)) << c.text;
    }
}

TEST(XmlDocument, AttributesMissingEmptyAndOnNodesThatAreNoElements) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load("<?xml version=\"1.0\"?><r a=\"x\" e=\"\" s='&lt;&amp;&#20013;'>"
                         "<!--c-->t</r>"));
    const XmlNode root = doc.top(1);
    EXPECT_EQ(root.attribute("a"), "x");
    EXPECT_EQ(root.attribute("e"), "");
    EXPECT_TRUE(root.hasAttribute("e"));
    EXPECT_EQ(root.attribute("s"), "<&中");
    EXPECT_EQ(root.attribute("A"), std::nullopt); // names are exact
    EXPECT_FALSE(root.hasAttribute("missing"));
    EXPECT_EQ(root.child(0).attribute("a"), std::nullopt); // a comment
    EXPECT_EQ(root.child(1).attribute("a"), std::nullopt); // text
    EXPECT_EQ(XmlNode().attribute("a"), std::nullopt);
}

TEST(XmlDocument, TextsThatAreNotWellFormedFailToLoad) {
    const std::string_view cases[] = {
        "",
        "   ",
        "<?xml version=\"1.0\"?>",
        "<?xml version=\"1.0\"?><rules>",
        "<?xml version=\"1.0\"?><a/><b/>",
        "<?xml version=\"1.0\"?><a/>text",
        "text<a/>",
        "<!--c--><?xml version=\"1.0\"?><a/>",
        "<?xml version=\"1.0\"?><a x=\"1\" x=\"2\"/>",
        "<?xml version=\"1.0\"?><a><b x=\"1\" y=\"\" x=\"3\"/></a>",
        "<?xml version=\"1.0\"?><a x=1/>",
        "<?xml version=\"1.0\"?><a></b>",
    };
    for (std::string_view text : cases) {
        XmlDocument doc;
        EXPECT_FALSE(doc.load(text)) << text;
        EXPECT_EQ(doc.topCount(), 0u) << text;
    }
}

TEST(XmlDocument, ReadsUtf8WhateverTheDeclarationNames) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load("<?xml version=\"1.0\" encoding=\"GB2312\"?><r n=\"字体 é\"/>"));
    EXPECT_EQ(doc.top(1).attribute("n"), "字体 é");
}

TEST(XmlDocument, UntrustedTextExpandsNoEntitiesAndSurvivesDepth) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"boom\">"
                         "<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r a=\"&e;&x;\"/>"));
    EXPECT_EQ(doc.top(2).attribute("a"), "&e;&x;");

    const std::size_t depth = 200000;
    std::string deep = "<?xml version=\"1.0\"?>";
    for (std::size_t i = 0; i < depth; ++i)
        deep += "<d>";
    for (std::size_t i = 0; i < depth; ++i)
        deep += "</d>";
    EXPECT_TRUE(doc.load(deep));

    std::string wide = "<?xml version=\"1.0\"?><r";
    for (int i = 0; i < 100000; ++i)
        wide += " a" + std::to_string(i) + "=\"\"";
    EXPECT_TRUE(doc.load(wide + "/>"));
    EXPECT_FALSE(doc.load(wide + " a5=\"\"/>"));
}

TEST(XmlDocument, WritesDeclarationFirstAndKeepsEveryCharacter) {
    const std::string value = "a\nb\r\tc\x01<>&\"'中文\xF0\x9F\x98\x80 ";
    XmlDocument doc;
    XmlNode root = doc.appendElement("rules");
    ASSERT_TRUE(root.setAttribute("v", value));
    ASSERT_TRUE(root.setAttribute("empty", ""));
    EXPECT_FALSE(root.setAttribute("nul", std::string("a\0b", 3)));
    EXPECT_FALSE(root.hasAttribute("nul"));
    doc.setDeclaration("1.0", "GB2312");
    const std::string text = doc.save();
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"GB2312\"?><rules v=\"")) << text;

    XmlDocument back;
    ASSERT_TRUE(back.load(text)) << text;
    EXPECT_EQ(back.topCount(), 2u);
    EXPECT_EQ(back.top(1).attribute("v"), value);
    EXPECT_EQ(back.top(1).attribute("empty"), "");
}

} // namespace
} // namespace corvane
