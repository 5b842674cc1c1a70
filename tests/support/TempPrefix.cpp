#include "support/TempPrefix.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace corvane::test {

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

wine::WineOptions Options(const std::filesystem::path& tmpRoot, const std::filesystem::path& appDir,
                          std::vector<std::string> environment) {
    wine::WineOptions options;
    options.tmpRoot = tmpRoot;
    // The user's runtime folder is there, as in a desktop session, so that locks are
    // taken below the test's folder and never name a folder in the prefix.
    options.runUserRoot = tmpRoot / "run-user";
    std::error_code ec;
    std::filesystem::create_directories(options.runUserRoot / std::to_string(::getuid()), ec);
    options.appDir = appDir.empty() ? tmpRoot : appDir;
    options.unix.userName = "tester";
    options.unix.hostName = "TESTHOST";
    options.unix.environment = std::move(environment);
    return options;
}

TempPrefix::TempPrefix() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvane-prefix-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempPrefix::~TempPrefix() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TempPrefix::writeSystem(std::string_view body) const {
    write("system.reg", std::string("WINE REGISTRY Version 2\n;; All keys relative to "
                                    "\\\\Machine\n\n#arch=win64\n") +
                            std::string(body));
}

void TempPrefix::writeUser(std::string_view body, std::string_view sid) const {
    write("user.reg", std::string("WINE REGISTRY Version 2\n;; All keys relative to "
                                  "\\\\User\\\\") +
                          std::string(sid) + "\n\n#arch=win64\n" + std::string(body));
}

void TempPrefix::writeUserDefault(std::string_view body) const {
    write("userdef.reg", std::string("WINE REGISTRY Version 2\n;; All keys relative to "
                                     "\\\\User\\\\.Default\n\n#arch=win64\n") +
                             std::string(body));
}

} // namespace corvane::test
