// The welcome page's links: every address the program opens or downloads from, and
// the installer file names, in one table.
#pragma once

#include <span>
#include <string_view>

namespace corvane {

enum class LinkAction {
    OpenPage,         // the address opens in the user's browser
    DownloadInstaller // the installer is downloaded into downsoft/ and started
};

struct Link {
    std::string_view element;  // the control that carries the link
    std::string_view text;     // the text shown (empty for the banner)
    std::string_view hint;     // its hint, or empty for none
    std::string_view address;  // always https: a downloaded installer is started
    std::string_view fileName; // the installer's name for a download, else empty
    LinkAction action;
};

// Every link of the welcome page, in the order the page shows them.
std::span<const Link> Links();

// The link carried by `element` ("lblUrl1", "Image3" ...); throws std::out_of_range for
// a name without a link.
const Link& LinkOf(std::string_view element);

} // namespace corvane
