// A Wine prefix for the detection and repair tests: registry files with the keys and
// values the rules look at, a drive_c tree reached through dosdevices/c:, and the
// program's folder beside the prefix.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "core/engine/RuleDocument.h"
#include "core/platform/wine/WinePlatform.h"
#include "support/TempPrefix.h"

namespace corvane::test {

class EnginePrefix {
public:
    EnginePrefix() {
        namespace fs = std::filesystem;
        for (const char* dir : {"prefix/dosdevices", "prefix/drive_c/windows/Fonts",
                                "prefix/drive_c/data/sub/deeper", "app"})
            fs::create_directories(root.dir() / dir);
        fs::create_directory_symlink("../drive_c", root.dir() / "prefix/dosdevices/c:");
        // Each file holds its own name.
        for (const char* file : {"data/file.txt", "data/a.log", "data/b.LOG", "data/sub/x.dat",
                                 "data/sub/deeper/y.dat", "windows/Fonts/simsun.ttc"})
            WriteFile(drive() / file, file);
        WriteFile(root.dir() / "app/Setting.ini", "[Setting]\n");

        WriteFile(prefix() / "system.reg",
                  "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n"
                  "\n[Software\\\\Corvane] 1\n"
                  "\"Sz\"=\"Hello World\"\n"
                  "\"Cn\"=\"\\x4e2d\\x6587\\xff21\"\n" // 中文 and a full-width A
                  "\"Exp\"=str(2):\"%windir%\\\\x\"\n"
                  "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                  "\"Dw\"=dword:ffffffff\n"
                  "\"Bin\"=hex:01,02,03,04\n"
                  "\"App\"=\"" +
                      Escaped(appDir() + "setting.INI") +
                      "\"\n"
                      "\n[Software\\\\Corvane\\\\Child] 1\n\"v\"=\"1\"\n"
                      "\n[Software\\\\Corvane\\\\Child\\\\Grand] 1\n\"w\"=dword:00000001\n"
                      "\n[Software\\\\Corvane\\\\Other] 1\n");
        WriteFile(prefix() / "user.reg",
                  "WINE REGISTRY Version 2\n;; All keys relative to "
                  "\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n"
                  "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell "
                  "Folders] 1\n\"Fonts\"=\"C:\\\\windows\\\\Fonts\"\n"
                  "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Policies\\\\Explorer]"
                  " 1\n\"NoRun\"=dword:00000001\n");
    }
    EnginePrefix(const EnginePrefix&) = delete;
    EnginePrefix& operator=(const EnginePrefix&) = delete;

    static std::string Escaped(const std::string& text) {
        std::string out;
        for (char c : text) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out;
    }
    std::filesystem::path prefix() const { return root.dir() / "prefix"; }
    std::filesystem::path drive() const { return root.dir() / "prefix/drive_c"; }
    std::string appDir() const { return (root.dir() / "app").string() + "/"; }

    TempPrefix root;
    wine::WinePlatform platform{root.dir() / "prefix", Options(root.dir(), root.dir() / "app")};
    PlatformScope scope{platform};
};

class EnginePrefixTest : public ::testing::Test, public EnginePrefix {};

// The document declaration for hand-written documents.
inline constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"GB2312\"?>";

} // namespace corvane::test
