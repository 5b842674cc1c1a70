// `rules check` on the newer words: each accepted where it belongs, each bad value or
// misplaced use named.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/engine/RuleDocument.h"
#include "core/store/RulePack.h"

namespace corvane {
namespace {

TEST(RuleWordsCheck, NewWordsAreAcceptedAndBadValuesNamed) {
    const struct {
        std::function<void(DetectionRows&, RepairRows&)> change;
        std::vector<std::string> problems;
    } cases[] = {
        {[](DetectionRows&, RepairRows&) {}, {}},
        {[](DetectionRows& d, RepairRows&) { d.join = "x"; }, {"detection: unknown join \"x\""}},
        {[](DetectionRows& d, RepairRows&) {
             d.join = "and";
             d.registry.clear();
         },
         {"detection: join \"and\" with a group that has no rules never finds the item"}},
        {[](DetectionRows& d, RepairRows&) { d.registry[0].decide = "List="; },
         {"detection registry rule 1: List= is for REG_MULTI_SZ"}},
        {[](DetectionRows& d, RepairRows&) { d.files[0].decide = "Link"; },
         {"detection file rule 1: unknown decide \"Link\""}},
        {[](DetectionRows&, RepairRows& r) { r.files[0].decide = "mkdir"; },
         {"repair file rule 1: mkdir takes no FromPath"}},
        {[](DetectionRows&, RepairRows& r) { r.registry[0].create = "2"; },
         {"repair registry rule 1: unknown create \"2\""}},
        {[](DetectionRows&, RepairRows& r) { r.registry[0].list = "yes"; },
         {"repair registry rule 1: unknown list \"yes\""}},
        {[](DetectionRows&, RepairRows& r) {
             r.registry[0].decide = "DelValue";
             r.registry[0].create = "1";
         },
         {"repair registry rule 1: create is for SetValue"}},
        {[](DetectionRows&, RepairRows& r) { r.registry[0].list = "1"; },
         {"repair registry rule 1: list is for SetValue of REG_MULTI_SZ"}},
        {[](DetectionRows&, RepairRows& r) {
             r.registry[0].KeyType = "REG_MULTI_SZ";
             r.registry[0].list = "1";
             r.registry[0].ValueContent = "a\n";
         },
         {"repair registry rule 1: the list has an empty entry"}},
        {[](DetectionRows&, RepairRows& r) { r.registry[0].KeyType = "REG_MULTI_SZ"; },
         {"repair registry rule 1: unknown KeyType \"REG_MULTI_SZ\""}},
    };
    for (const auto& c : cases) {
        // Every new word, where it belongs.
        DetectionRows detection;
        detection.join = "and";
        detection.files = {{"C:\\users\\u\\Documents", "1", "link"}, {"C:\\x", "0", "nolink"}};
        detection.registry = {{"HKLM", "K", "V", "REG_SZ", "", "!ValueExists", "0"},
                              {"HKLM", "K", "L", "REG_MULTI_SZ", "a\nb", "List!=", "0"}};
        RepairRows repair;
        repair.files = {{"C:\\users\\u\\Documents", "C:\\x", "copy"},
                        {"C:\\users\\u\\Documents", "", "mkdir"}};
        repair.registry = {
            {"HKLM", "K\\New", "V", "REG_SZ", "a", "SetValue", "", "1"},
            {"HKLM", "K", "L", "REG_MULTI_SZ", "a\nb", "SetValue", "", "0", "1"},
        };
        c.change(detection, repair);
        RuleItem item;
        item.Name = "words";
        item.OSId = "all-os";
        ASSERT_TRUE(WriteDetectionDocument(detection, item.OptText));
        ASSERT_TRUE(WriteRepairDocument(repair, item.RepairXML));
        RulePack pack;
        pack.items = {item};
        std::vector<RulePackProblem> expected;
        for (const std::string& p : c.problems)
            expected.push_back({"words", p});
        EXPECT_EQ(CheckRulePack(pack), expected) << item.OptText << item.RepairXML;
    }
}

} // namespace
} // namespace corvane
