// The demo prefix and the starter library as the tests see them: where they are, and
// which of the starter items the demo prefix has planted, in library order.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>

namespace corvane::test {

inline const std::filesystem::path kSourceDir = CORVANE_SOURCE_DIR;
inline const std::filesystem::path kStarterPack = kSourceDir / "rules/starter.xml";
inline const std::filesystem::path kDemoPrefix = kSourceDir / "data/demo-prefix";

struct PlantedItem {
    std::string_view name;
    std::string_view levelName;
};

inline constexpr std::array<PlantedItem, 12> kPlantedItems{{
    {"任务管理器被禁用", "风险"},
    {"驱动器在“计算机”中被隐藏", "风险"},
    {"右键菜单被禁用", "普通"},
    {"任务管理器被映像劫持", "危险"},
    {"粘滞键后门（sethc.exe 被映像劫持）", "危险"},
    {"登录初始化程序被篡改（Winlogon Userinit）", "危险"},
    {"文本文件（txtfile）打开命令被篡改", "高风险"},
    {"隐藏文件无法显示", "高风险"},
    {"已知文件类型的扩展名被隐藏", "安全"},
    {"Windows 防火墙被策略关闭", "高风险"},
    {"C 盘根目录的 autorun.inf", "高风险"},
    {"熊猫烧香病毒（spo0lsv.exe）", "危险"},
}};

// A copy of the demo prefix at `to` (links copied as links).
inline void CopyDemoPrefix(const std::filesystem::path& to) {
    std::filesystem::copy(kDemoPrefix, to,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
}

} // namespace corvane::test
