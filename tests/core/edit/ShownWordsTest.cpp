#include <gtest/gtest.h>

#include "core/edit/ShownWords.h"

namespace corvane {
namespace {

struct Case {
    std::string_view word, shown;
};

TEST(ShownWordsTest, ConditionsInTheEditorsWords) {
    const Case cases[] = {
        {"KeyExists", "键存在"},      {"!KeyExists", "键不存在"}, {"ValueExists", "值存在"},
        {"!ValueExists", "值不存在"}, {"Value=1", "值相等 1"},    {"Value!=a b", "值不相等 a b"},
        {"Value=", "值相等"},         {"file", "文件存在触发"},   {"nofile", "文件不存在触发"},
        {"Unknown", "Unknown"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShownCondition(c.word), c.shown) << c.word;
}

TEST(ShownWordsTest, ActionsInTheEditorsWords) {
    const Case cases[] = {
        {"SetValue", "设置值"},      {"DeleteValue", "删除值"}, {"DeleteKey", "删除键"},
        {"DeleteFiles", "删除文件"}, {"CopyFiles", "复制文件"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShownAction(c.word), c.shown) << c.word;
}

TEST(ShownWordsTest, StatesInChineseValuesAsStored) {
    const Case cases[] = {
        {"(absent)", "（不存在）"},
        {"(deleted)", "（已删除）"},
        {"(key)", "（键）"},
        {"(1,204 bytes)", "（1,204 字节）"},
        {"(1,204 bytes), (absent)", "（1,204 字节）, （不存在）"},
        {"C:\\a.txt (3 bytes), C:\\b (folder)", "C:\\a.txt （3 字节）, C:\\b （文件夹）"},
        {"REG_BINARY (8 bytes)", "REG_BINARY （8 字节）"},
        {"(copy of <app>x.ini)", "（<app>x.ini 的副本）"},
        {"REG_DWORD 0", "REG_DWORD 0"},
        // A text value holds what it holds.
        {"REG_SZ (absent)", "REG_SZ (absent)"},
        {"refused, it lies outside the prefix", "refused, it lies outside the prefix"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShownState(c.word), c.shown) << c.word;
}

} // namespace
} // namespace corvane
