// The two rule documents of a rule item: the detection document (file and registry
// conditions, a match mode per group) and the repair document (file and registry
// actions). Their writers, and the one walk through a document that every reader
// (detection, repair, the rule item editor) goes through.
#pragma once

#include <array>
#include <optional>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The rows of the two documents, attribute by attribute in the order written. Every
// field is the attribute's text as it stands; nothing is checked or trimmed.
struct FileConditionRow {
    std::string FilePath;
    std::string isFolder; // "1" folder, else file
    std::string decide;   // "file" or "nofile"
    bool operator==(const FileConditionRow&) const = default;
};

struct RegConditionRow {
    std::string root;
    std::string KeyPath;
    std::string KeyValue;
    std::string KeyType;
    std::string compareValue;
    std::string decide;
    std::string PathAbs; // "" when the attribute is missing
    bool operator==(const RegConditionRow&) const = default;
};

struct FileActionRow {
    std::string FilePath;
    std::string FromPath;
    std::string decide; // "delete" or "copy"
    bool operator==(const FileActionRow&) const = default;
};

struct RegActionRow {
    std::string root;
    std::string KeyPath;
    std::string KeyValue;
    std::string KeyType;
    std::string ValueContent;
    std::string decide; // "DelKey", "DelValue" or "SetValue"
    std::string PathAbs;
    bool operator==(const RegActionRow&) const = default;
};

// A detection document's content as the rule item editor shows it.
struct DetectionRows {
    std::string FilesMatchMode = "or";
    std::string RegMatchMode = "or";
    std::vector<FileConditionRow> files;
    std::vector<RegConditionRow> registry;
};

// A repair document's content.
struct RepairRows {
    std::vector<FileActionRow> files;
    std::vector<RegActionRow> registry;
};

// The words of the documents: the group kinds (`opttype`) and the values the readers
// know for each rule attribute. The dialogs offer these and a pack check accepts them.
namespace RuleWords {
inline constexpr std::string_view kFilesGroup = "files";
inline constexpr std::string_view kRegistryGroup = "regedit";
inline constexpr std::string_view kOr = "or", kAnd = "and";
inline constexpr std::array<std::string_view, 2> kModes{kOr, kAnd};
inline constexpr std::array<std::string_view, 5> kRoots{"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
// Conditions test five value types, actions write four.
inline constexpr std::array<std::string_view, 5> kConditionTypes{
    "REG_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ", "REG_EXPAND_SZ"};
inline constexpr std::array<std::string_view, 4> kActionTypes{"REG_SZ", "REG_DWORD", "REG_BINARY",
                                                              "REG_EXPAND_SZ"};
inline constexpr std::array<std::string_view, 2> kFolderFlags{"0", "1"};
// `decide` of a file condition, a registry condition, a file action, a registry action.
inline constexpr std::string_view kFile = "file", kNoFile = "nofile";
inline constexpr std::array<std::string_view, 2> kFileConditions{kFile, kNoFile};
inline constexpr std::string_view kKeyExists = "KeyExists", kNoKey = "!KeyExists",
                                  kValueExists = "ValueExists", kNoValue = "!ValueExists",
                                  kValueEquals = "Value=", kValueDiffers = "Value!=";
inline constexpr std::array<std::string_view, 6> kRegConditions{
    kKeyExists, kNoKey, kValueExists, kNoValue, kValueEquals, kValueDiffers};
inline constexpr std::string_view kDelete = "delete", kCopy = "copy";
inline constexpr std::array<std::string_view, 2> kFileActions{kDelete, kCopy};
inline constexpr std::string_view kDelKey = "DelKey", kSetValue = "SetValue",
                                  kDelValue = "DelValue";
inline constexpr std::array<std::string_view, 3> kRegActions{kDelKey, kSetValue, kDelValue};
} // namespace RuleWords

// The declaration every document is written with.
inline constexpr std::string_view kRuleDocumentVersion = "1.0";
inline constexpr std::string_view kRuleDocumentEncoding = "GB2312";

// The writers: the declaration, the root `rules`, the "files" group then the "regedit"
// group (both always), each rule a `CHdb` element with every attribute in table
// order. The detection document carries `mode` on each group, the repair document
// does not. On success `text` is replaced; on failure (a text that cannot be kept
// whole, such as one holding a NUL) it is left as it was and the result is false.
[[nodiscard]] bool WriteDetectionDocument(const DetectionRows& rows, std::string& text);
[[nodiscard]] bool WriteRepairDocument(const RepairRows& rows, std::string& text);

// --- Reading ---------------------------------------------------------------------------

enum class RuleGroupKind { Files, Registry };

// What a reader does with a document as the walk meets it. Each callback answers
// whether the walk goes on; false ends it at once (not a read failure).
class DetectionVisitor {
public:
    virtual ~DetectionVisitor() = default;
    // A group, with its `mode` and the number of its child nodes (its rules).
    virtual bool beginGroup(RuleGroupKind kind, const std::string& mode, std::size_t ruleCount) = 0;
    virtual bool fileCondition(const FileConditionRow& row) = 0;
    virtual bool regCondition(const RegConditionRow& row) = 0;
    // After the group's last rule.
    virtual bool endGroup(RuleGroupKind kind) = 0;
    // A group the walk skips: its `opttype` is missing (nothing) or unknown.
    virtual bool skippedGroup(const std::optional<std::string>&) { return true; }
};

class RepairVisitor {
public:
    virtual ~RepairVisitor() = default;
    virtual bool fileAction(const FileActionRow& row) = 0;
    virtual bool regAction(const RegActionRow& row) = 0;
    // A group the walk skips: its `opttype` is missing (nothing) or unknown.
    virtual bool skippedGroup(const std::optional<std::string>&) { return true; }
};

enum class [[nodiscard]] WalkResult{
    Finished,    // every group and rule was visited
    Stopped,     // a callback ended the walk
    ReadFailure, // the text is not a document, has no declaration, or a required
                 // attribute is missing; what was visited before stays visited
};

// The one navigation of every reader: the second top-level node (the one after the
// declaration) is the root; its children are groups, "files" or "regedit" by
// `opttype` exactly, any other skipped; their children are rules, in document order.
// Element names play no part. Each rule's attributes are read as the reader's table
// says (`PathAbs` optional, every other one required) just before it is visited.
WalkResult WalkDetectionDocument(std::string_view text, DetectionVisitor& visitor);
WalkResult WalkRepairDocument(std::string_view text, RepairVisitor& visitor);

// The editor's loads: append the rows met before any read failure to `rows` and take
// each group's `mode` (the last group of a kind wins). False on a read failure.
[[nodiscard]] bool ReadDetectionDocument(std::string_view text, DetectionRows& rows);
[[nodiscard]] bool ReadRepairDocument(std::string_view text, RepairRows& rows);

} // namespace corvane
