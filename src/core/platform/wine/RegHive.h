// One of Wine's registry files (system.reg, user.reg, userdef.reg) as a tree of keys.
//
// The file is kept as read: each section ("[Key] time" and the lines under it) keeps
// its text, and its values are read only when the key is first asked for them.
// Saving writes every section that did not change exactly as it was read, and the
// changed ones anew in Wine's own format, through a temporary file and a rename.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/wine/RegFormat.h"

namespace corvane::wine {

struct RegSection;

struct RegNode {
    std::u16string name;
    RegNode* parent = nullptr;
    std::vector<RegNode*> children; // ordered by CompareNoCase; the hive owns them
    RegSection* section = nullptr;  // its first section; null while only its subkeys' imply it

    RegNode* findChild(std::u16string_view childName) const;
};

// A line (or, for hex data, lines) of a section below its key line. Values are kept
// as text and read when asked for, so a file costs little more than its text.
struct RegItem {
    enum class Kind : std::uint8_t { Value, Time, Other };
    Kind kind = Kind::Other;
    std::string_view raw;            // the text as read, line ends included
    std::unique_ptr<RegValue> value; // a value set since the section was read
};

// A key may have more than one section: Wine reads them as one key, a later entry of
// a value winning over an earlier one.
struct RegSection {
    RegNode* node = nullptr;          // null when its key line could not be read
    RegSection* nextSame = nullptr;   // the key's next section in the file
    std::string_view text;            // blank lines before the key line, key line, body
    std::unique_ptr<std::string> own; // holds `text` once the section was rewritten
    std::size_t keyLineStart = 0;
    std::size_t bodyStart = 0;
    bool link = false;   // has a "#link" line
    bool parsed = false; // `items` hold the body
    bool dirty = false;  // changed since the file was read or saved
    std::vector<RegItem> items;
};

class RegHive {
public:
    enum class State { Missing, Loaded, Unreadable };
    // What tells that the file changed on disk.
    struct Signature {
        std::uint64_t dev = 0, ino = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Signature&) const = default;
    };

    explicit RegHive(std::filesystem::path file);
    RegHive(const RegHive&) = delete;
    RegHive& operator=(const RegHive&) = delete;
    ~RegHive();

    const std::filesystem::path& file() const { return file_; }
    // Reads the file when it was never read or changed on disk since.
    void refresh();
    // Reads the file again, dropping every change not saved.
    void reload();
    State state() const { return state_; }
    // Why the file is Unreadable, naming it; empty otherwise.
    const std::string& error() const { return error_; }
    RegNode& root() { return *root_; }
    // The branch the file's keys are relative to, from its header (";; All keys
    // relative to \\User\\S-1-5-21-0-0-0-1000"), without the leading backslash.
    const std::u16string& relativeTo() const { return relativeTo_; }

    // The value named `name` of `node`.
    std::optional<RegValue> findValue(RegNode& node, std::u16string_view name);
    // Every value of `node`, in the order the file holds them.
    std::vector<RegValue> values(RegNode& node);
    bool isLink(const RegNode& node) const;
    // Changes whenever the file was read or written.
    std::uint64_t generation() const { return generation_; }

    // Changes in memory, written by save(). When saving fails the file is read again,
    // so memory never holds what the file does not.
    void setValue(RegNode& node, RegValue value);
    bool deleteValue(RegNode& node, std::u16string_view name);
    void deleteKey(RegNode& node);
    // The subkey `name` of `node`, with a section of its own (as Wine writes a key that
    // exists), made when missing.
    RegNode& addKey(RegNode& node, std::u16string_view name);
    // Makes `node` a link key: its section gets a "#link" line.
    void markLink(RegNode& node);
    // Without `syncFolder` the rename is left for the caller to make durable (the
    // folder's sync): a crash before then leaves the file as it was, whole.
    bool save(bool syncFolder = true);
    // Why the last save() failed.
    const std::string& saveError() const { return saveError_; }

    // The text the file would be written with.
    std::string toText();
    // Reads `text` as if it were the file's content (benchmarks and tests).
    void loadText(std::string text);

private:
    void load();
    void clear(State state, std::string error = {});
    void parse();
    RegNode* nodeForPath(const std::vector<std::string_view>& parts);
    void parseSection(RegSection& section);
    // The stored name of a value item.
    const std::u16string& itemName(const RegItem& item);
    RegSection* addSection(RegNode& node, std::size_t index);
    std::size_t firstSectionBelow(const RegNode& node) const;
    void appendSection(const RegSection& section, std::string& out) const;

    std::filesystem::path file_;
    State state_ = State::Missing;
    std::string error_;
    std::string saveError_;
    std::string buffer_;
    std::string_view preamble_;
    std::u16string relativeTo_;
    // Keys and sections are held here, in blocks, until the file is read again.
    std::deque<RegNode> nodes_;
    std::deque<RegSection> sectionStore_;
    RegNode* root_;
    std::vector<RegSection*> sections_;        // in the file's order
    std::vector<RegNode*> chain_;              // the key path of the last section read
    std::vector<std::string_view> chainParts_; // the same, as its key line wrote it
    std::u16string scratchName_;
    Signature signature_;
    bool everRead_ = false;
    std::uint64_t generation_ = 0;
};

// Removes the temporary files a write of `file` left when it was killed: those named
// as save() names them (".<name>.XXXXXX" beside it), last changed before `before`
// and not locked by a write still running.
void RemoveStaleTemporaries(const std::filesystem::path& file, const struct timespec& before);

} // namespace corvane::wine
