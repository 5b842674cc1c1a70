// The Windows environment a program in a Wine prefix sees.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/platform/wine/WineRegistry.h"

namespace corvane::wine {

// What the environment takes from the Unix side.
struct UnixSide {
    std::string userName;
    std::string hostName;
    std::vector<std::string> environment; // "NAME=value"
};

class WineEnvironment {
public:
    // Builds the environment as Wine does: the Unix environment underneath (but for
    // PATH, PWD, HOME, TEMP and TMP), then the machine's own values from the prefix.
    // A prefix without registry gets the defaults rooted at C:\windows and C:\users.
    static WineEnvironment Build(WineRegistry& registry, const UnixSide& unix);

    std::optional<std::string> get(std::string_view name) const;
    void set(std::string_view name, std::string value);
    // ExpandEnvironmentStrings: %NAME% of a defined NAME (without regard to case) is
    // replaced; undefined references and a lone % stay as written.
    std::string expand(std::string_view text) const;

private:
    std::vector<std::pair<std::string, std::string>> vars_;
    std::unordered_map<std::string, std::size_t> index_; // by folded name
};

} // namespace corvane::wine
