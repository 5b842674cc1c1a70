// A Wine prefix folder made for one test and removed after it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "core/platform/wine/WinePlatform.h"

namespace corvane::test {

std::string ReadFile(const std::filesystem::path& file);

// The first bytes of an SQLite file that is not encrypted.
inline constexpr std::string_view kPlainSqliteHeader{"SQLite format 3\0", 16};

// The message of the exception of type E that `run` raises, or "(nothing raised)".
template <typename E> std::string MessageOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}
void WriteFile(const std::filesystem::path& file, std::string_view text);

// Options for a platform under test: wineservers' folders under `tmpRoot`, the
// program's folder `appDir`, the user "tester" on host "TESTHOST", and only the Unix
// environment given.
wine::WineOptions Options(const std::filesystem::path& tmpRoot,
                          const std::filesystem::path& appDir = {},
                          std::vector<std::string> environment = {});

class TempPrefix {
public:
    TempPrefix();
    ~TempPrefix();
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path file(std::string_view name) const { return dir_ / name; }
    void write(std::string_view name, std::string_view text) const { WriteFile(file(name), text); }
    std::string read(std::string_view name) const { return ReadFile(file(name)); }

    // A system.reg, user.reg or userdef.reg with Wine's header and `body` below it.
    void writeSystem(std::string_view body) const;
    void writeUser(std::string_view body, std::string_view sid = "S-1-5-21-0-0-0-1000") const;
    void writeUserDefault(std::string_view body) const;

private:
    std::filesystem::path dir_;
};

} // namespace corvane::test
