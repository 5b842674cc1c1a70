// INI text as the program's settings files use it (Setting.ini, oem/oem.ini, the
// platform groups). Section and key names compare without regard to case; values
// are read with surrounding blanks removed; anything missing reads as empty text.
// Writing a key keeps every other line and creates file, section and key as needed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

// Which of several sections (or keys) with one name a read finds.
enum class IniLookup {
    First, // as GetPrivateProfileString finds it (Setting.ini, oem/oem.ini)
    Last,  // the last one, as the platform group text is read
};

// How lines are read.
enum class IniSyntax {
    // As GetPrivateProfileString reads a file: lines end at LF (CR LF), "[name]"
    // starts a section, a value in quotes is read without them.
    Profile,
    // As the platform group text is read: lines end at CR LF, CR or LF and are trimmed
    // of blanks and control characters; a section line begins with "[" and ends with
    // "]"; values are taken as they stand.
    GroupText,
};

class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text, IniSyntax syntax = IniSyntax::Profile);

    std::string read(std::string_view section, std::string_view key,
                     IniLookup lookup = IniLookup::First) const;
    // The same, telling a missing key from an empty value.
    std::optional<std::string> find(std::string_view section, std::string_view key,
                                    IniLookup lookup = IniLookup::First) const;
    // The names of the sections, each once, in the order they first appear.
    std::vector<std::string> sections() const;
    // Every section line's name in the order of the text, repeated sections included.
    std::vector<std::string> sectionLines() const;
    // The keys of a section, each once, in the order they first appear there.
    std::vector<std::string> keys(std::string_view section,
                                  IniLookup lookup = IniLookup::First) const;
    void write(std::string_view section, std::string_view key, std::string_view value);
    std::string text() const;

    // Where write() puts a key: the line it replaces (`replace`), or the line before
    // which it goes; `newSection` when the section is missing and goes at the end.
    struct Placement {
        std::size_t line = 0;
        bool replace = false;
        bool newSection = false;
    };
    Placement placement(std::string_view section, std::string_view key) const;
    std::size_t lineCount() const { return lines_.size(); }

private:
    struct Line {
        std::string text; // without its line end
        enum class Kind { Other, Section, Key } kind = Kind::Other;
        std::string name;  // the section's or key's name, trimmed
        std::string value; // a key's value, trimmed
    };
    Line ParseLine(std::string text) const;
    // The line range of a section: [first line after its header, end).
    struct Range {
        std::size_t begin, end;
    };
    const std::vector<Range>& sectionRanges(std::string_view section) const;
    // The ranges of every section by its folded name, made again after each change.
    void index();

    IniSyntax syntax_ = IniSyntax::Profile;
    std::vector<Line> lines_;
    std::unordered_map<std::string, std::vector<Range>> sections_;
    std::string eol_ = "\n";
    bool finalEol_ = true;
};

// A file's text as UTF-8: UTF-8 as it stands (a byte-order mark dropped), UTF-16 with
// its byte-order mark, anything else read as GBK (code page 936), so files from a
// Windows installation read right. Empty when the file is missing or cannot be read.
std::string ReadTextFile(const std::filesystem::path& file);

// Writes one key through a temporary file and a rename. Only the key's line changes
// (or a line, or a section at the end, is added): every other byte stays, and the
// file keeps its encoding (UTF-8, GBK, or UTF-16 with a byte-order mark). A new file
// is UTF-8. False, the old file unchanged, when it cannot be read or written, when it
// holds NUL bytes without being UTF-16, or when a GBK file cannot hold the new text.
[[nodiscard]] bool IniWriteString(const std::filesystem::path& file, std::string_view section,
                                  std::string_view key, std::string_view value);

} // namespace corvane
