#include <gtest/gtest.h>

#include <string>

#include "core/engine/RuleDocument.h"

namespace corvane {
namespace {

constexpr std::string_view kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies";

// The worked examples: the fonts folder is missing, or the Explorer policies key exists;
// the repair deletes that key.
DetectionRows FontsOrPolicies() {
    DetectionRows rows;
    rows.FilesMatchMode = "or";
    rows.RegMatchMode = "or";
    rows.files.push_back({"<fonts>", "1", "nofile"});
    rows.registry.push_back({"HKCU", std::string(kPolicies), "Explorer", "", "", "KeyExists", "0"});
    return rows;
}

RepairRows DeletePolicies() {
    RepairRows rows;
    rows.registry.push_back({"HKCU", std::string(kPolicies), "Explorer", "", "", "DelKey", ""});
    return rows;
}

TEST(RuleDocument, WorkedExamplesWriteInTableOrderAndReadBack) {
    std::string detection;
    ASSERT_TRUE(WriteDetectionDocument(FontsOrPolicies(), detection));
    EXPECT_EQ(detection,
              "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules>"
              "<type opttype=\"files\" mode=\"or\">"
              "<CHdb FilePath=\"&lt;fonts>\" isFolder=\"1\" decide=\"nofile\"/></type>"
              "<type opttype=\"regedit\" mode=\"or\">"
              "<CHdb root=\"HKCU\" KeyPath=\"Software\\Microsoft\\Windows\\CurrentVersion"
              "\\Policies\" KeyValue=\"Explorer\" KeyType=\"\" compareValue=\"\" "
              "decide=\"KeyExists\" PathAbs=\"0\"/></type></rules>");
    DetectionRows detectionBack;
    detectionBack.FilesMatchMode = detectionBack.RegMatchMode = "unset";
    ASSERT_TRUE(ReadDetectionDocument(detection, detectionBack));
    EXPECT_EQ(detectionBack.FilesMatchMode, "or");
    EXPECT_EQ(detectionBack.RegMatchMode, "or");
    EXPECT_EQ(detectionBack.files, FontsOrPolicies().files);
    EXPECT_EQ(detectionBack.registry, FontsOrPolicies().registry);

    std::string repair;
    ASSERT_TRUE(WriteRepairDocument(DeletePolicies(), repair));
    EXPECT_EQ(repair, "<?xml version=\"1.0\" encoding=\"GB2312\"?><rules>"
                      "<type opttype=\"files\"/><type opttype=\"regedit\">"
                      "<CHdb root=\"HKCU\" KeyPath=\"Software\\Microsoft\\Windows\\CurrentVersion"
                      "\\Policies\" KeyValue=\"Explorer\" KeyType=\"\" ValueContent=\"\" "
                      "decide=\"DelKey\" PathAbs=\"\"/></type></rules>");
    RepairRows repairBack;
    ASSERT_TRUE(ReadRepairDocument(repair, repairBack));
    EXPECT_TRUE(repairBack.files.empty());
    EXPECT_EQ(repairBack.registry, DeletePolicies().registry);
}

TEST(RuleDocument, EveryTextSurvivesTheRoundTrip) {
    const std::string odd = " 中文 <>&\"' \t\r\n%windir%\\x ";
    DetectionRows rows;
    rows.FilesMatchMode = "and";
    rows.RegMatchMode = odd;
    rows.files = {{odd, "", odd}, {"", "0", "file"}};
    rows.registry = {{odd, odd, odd, odd, odd, odd, odd}, {"", "", "", "", "", "", ""}};
    std::string text;
    ASSERT_TRUE(WriteDetectionDocument(rows, text));
    DetectionRows back;
    ASSERT_TRUE(ReadDetectionDocument(text, back));
    EXPECT_EQ(back.FilesMatchMode, "and");
    EXPECT_EQ(back.RegMatchMode, odd);
    EXPECT_EQ(back.files, rows.files);
    EXPECT_EQ(back.registry, rows.registry);

    RepairRows repair;
    repair.files = {{odd, odd, "copy"}};
    repair.registry = {{odd, odd, odd, odd, odd, odd, odd}};
    ASSERT_TRUE(WriteRepairDocument(repair, text));
    RepairRows repairBack;
    ASSERT_TRUE(ReadRepairDocument(text, repairBack));
    EXPECT_EQ(repairBack.files, repair.files);
    EXPECT_EQ(repairBack.registry, repair.registry);
}

TEST(RuleDocument, AWriteThatCannotKeepATextLeavesTheCallersText) {
    DetectionRows rows = FontsOrPolicies();
    rows.registry[0].compareValue = std::string("a\0b", 3);
    std::string text = "before";
    EXPECT_FALSE(WriteDetectionDocument(rows, text));
    EXPECT_EQ(text, "before");
    RepairRows repair;
    repair.files = {{std::string("\0", 1), "", "delete"}};
    EXPECT_FALSE(WriteRepairDocument(repair, text));
    EXPECT_EQ(text, "before");
}

// How the readers navigate what other writers, or hands, produce.
TEST(RuleDocument, ReadersNavigateByPositionAndOpttype) {
    constexpr std::string_view decl = "<?xml version=\"1.0\" encoding=\"GB2312\"?>";
    const std::string file = "<CHdb FilePath=\"F\" isFolder=\"1\" decide=\"file\"/>";
    const std::string reg = "<x root=\"HKLM\" KeyPath=\"K\" KeyValue=\"V\" KeyType=\"REG_SZ\" "
                            "compareValue=\"c\" decide=\"Value=\"/>";
    struct Case {
        std::string text;
        bool complete;
        std::size_t files, registry;
        std::string_view filesMode, regMode;
    };
    const Case cases[] = {
        // Names play no part; groups in any order and number.
        {std::string(decl) + "<a><g opttype=\"regedit\" mode=\"and\">" + reg + reg +
             "</g><g opttype=\"files\" mode=\"x\">" + file +
             "</g><g opttype=\"files\" "
             "mode=\"AND\">" +
             file + "</g></a>",
         true, 2, 2, "AND", "and"},
        // Indentation reads the same.
        {std::string(decl) + "\n<rules>\n  <type opttype=\"files\" mode=\"or\">\n    " + file +
             "\n  </type>\n</rules>\n",
         true, 1, 0, "or", "-"},
        // Other or missing opttype, and comments or text among the groups, are skipped.
        {std::string(decl) + "<rules><type opttype=\"Files\" mode=\"or\">" + file +
             "</type><type mode=\"or\">" + file +
             "</type><!--c-->text<type opttype=\"files\" "
             "mode=\"or\"/></rules>",
         true, 0, 0, "or", "-"},
        // No declaration: no second node.
        {"<rules><type opttype=\"files\" mode=\"or\">" + file + "</type></rules>", false, 0, 0, "-",
         "-"},
        {"<!--c--><rules><type opttype=\"files\" mode=\"or\">" + file + "</type></rules>", false, 0,
         0, "-", "-"},
        // A comment after the declaration is the second node: no groups.
        {std::string(decl) + "<!--c--><rules><type opttype=\"files\" mode=\"or\">" + file +
             "</type></rules>",
         true, 0, 0, "-", "-"},
        {"", false, 0, 0, "-", "-"},
        {"not xml", false, 0, 0, "-", "-"},
        // A missing mode fails before the group's rules; rows met before stay.
        {std::string(decl) + "<rules><type opttype=\"files\" mode=\"or\">" + file +
             "</type><type opttype=\"regedit\">" + reg + "</type></rules>",
         false, 1, 0, "or", "-"},
        // A missing attribute fails at its rule; a comment in a group is such a rule.
        {std::string(decl) + "<rules><type opttype=\"files\" mode=\"or\">" + file +
             "<CHdb FilePath=\"F\" decide=\"file\"/>" + file + "</type></rules>",
         false, 1, 0, "or", "-"},
        {std::string(decl) + "<rules><type opttype=\"regedit\" mode=\"or\">" + reg + "<!--c-->" +
             reg + "</type></rules>",
         false, 0, 1, "-", "or"},
    };
    for (const Case& c : cases) {
        DetectionRows rows;
        rows.FilesMatchMode = rows.RegMatchMode = "-";
        EXPECT_EQ(ReadDetectionDocument(c.text, rows), c.complete) << c.text;
        EXPECT_EQ(rows.files.size(), c.files) << c.text;
        EXPECT_EQ(rows.registry.size(), c.registry) << c.text;
        EXPECT_EQ(rows.FilesMatchMode, c.filesMode) << c.text;
        EXPECT_EQ(rows.RegMatchMode, c.regMode) << c.text;
    }
}

TEST(RuleDocument, RequiredAndOptionalAttributesOfEachRule) {
    constexpr std::string_view head = "<?xml version=\"1.0\"?><rules>";
    struct Case {
        std::string_view group; // the group's opening tag
        std::string_view rule;
        bool detection;
        bool complete;
    };
    const Case cases[] = {
        {"<type opttype=\"regedit\" mode=\"or\">",
         "<CHdb root=\"\" KeyPath=\"\" KeyValue=\"\" KeyType=\"\" compareValue=\"\" decide=\"\"/>",
         true, true},
        {"<type opttype=\"regedit\" mode=\"or\">",
         "<CHdb root=\"\" KeyPath=\"\" KeyValue=\"\" KeyType=\"\" decide=\"KeyExists\"/>", true,
         false},
        {"<type opttype=\"files\" mode=\"or\">", "<CHdb FilePath=\"\" isFolder=\"\"/>", true,
         false},
        {"<type opttype=\"files\">", "<CHdb FilePath=\"\" FromPath=\"\" decide=\"\"/>", false,
         true},
        {"<type opttype=\"files\">", "<CHdb FilePath=\"x\" decide=\"delete\"/>", false, false},
        {"<type opttype=\"regedit\">",
         "<CHdb root=\"\" KeyPath=\"\" KeyValue=\"\" KeyType=\"\" ValueContent=\"\" "
         "decide=\"\"/>",
         false, true},
        {"<type opttype=\"regedit\">",
         "<CHdb root=\"\" KeyPath=\"\" KeyValue=\"\" KeyType=\"\" compareValue=\"\" "
         "decide=\"\"/>",
         false, false},
    };
    for (const Case& c : cases) {
        const std::string text =
            std::string(head) + std::string(c.group) + std::string(c.rule) + "</type></rules>";
        if (c.detection) {
            DetectionRows rows;
            EXPECT_EQ(ReadDetectionDocument(text, rows), c.complete) << text;
            if (c.complete) {
                EXPECT_EQ(rows.registry.at(0).PathAbs, "") << text;
            }
        } else {
            RepairRows rows;
            EXPECT_EQ(ReadRepairDocument(text, rows), c.complete) << text;
            EXPECT_EQ(rows.files.size() + rows.registry.size(), c.complete ? 1u : 0u) << text;
        }
    }
}

} // namespace
} // namespace corvane
