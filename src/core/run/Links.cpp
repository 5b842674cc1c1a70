#include "core/run/Links.h"

#include <array>
#include <stdexcept>
#include <string>

namespace corvane {

namespace {

// The pages live under a reserved name until the real site exists.
constexpr std::array kLinks{
    Link{"Image3", "", "", "https://security.corvane.example/", "", LinkAction::OpenPage},
    Link{"lblUrl1", "立即访问官网来检查更新",
         "立即访问官网来检查软件最新信息。\n\n保持软件最新，可以更加有效的修复故障",
         "https://www.corvane.example/update/", "", LinkAction::OpenPage},
    Link{"Label12", "反馈建议和问题",
         "如果您有什么建议或问题，都可以告诉我们，我们很在乎您的意见。",
         "https://www.corvane.example/feedback/", "", LinkAction::OpenPage},
    Link{"Label7", "推荐：轻快安全的网页浏览器，打开网页快人一步", "",
         "https://download.corvane.example/browser/setup.exe", "BrowserSetup.exe",
         LinkAction::DownloadInstaller},
    Link{"Label8", "推荐：高清视频播放器，常见格式一个都不少", "",
         "https://download.corvane.example/player/setup.exe", "PlayerSetup.exe",
         LinkAction::DownloadInstaller},
    Link{"Label9", "常用网址大全：好用的网站一页收齐", "把常用的好网站分门别类，一点就到。",
         "https://sites.corvane.example/", "", LinkAction::OpenPage},
    Link{"Label10", "诚邀电脑高手加入付费技术员计划，帮人修电脑也有收入",
         "加入技术员计划，为用户解决电脑问题并获得报酬。",
         "https://www.corvane.example/technician/", "", LinkAction::OpenPage},
    Link{"Label13", "推荐：小巧快速的杀毒软件，为电脑保驾护航", "极速杀毒，难以置信的轻巧快速",
         "https://www.corvane.example/antivirus/", "", LinkAction::OpenPage},
};

} // namespace

std::span<const Link> Links() {
    return kLinks;
}

const Link& LinkOf(std::string_view element) {
    for (const Link& link : kLinks)
        if (link.element == element) return link;
    throw std::out_of_range("no link for " + std::string(element));
}

} // namespace corvane
