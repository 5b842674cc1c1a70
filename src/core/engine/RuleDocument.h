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
    std::string decide;   // "file", "nofile", "link" or "nolink"
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
    std::string decide; // "delete", "copy" or "mkdir"
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
    // Optional, written only when not empty (a document without them reads and writes
    // as before): "SetValue" with `create` "1" makes the missing keys of `KeyPath`;
    // with `list` "1" and `KeyType` "REG_MULTI_SZ" it writes `ValueContent` as a list,
    // its entries separated by line feeds.
    std::string create{};
    std::string list{};
    bool operator==(const RegActionRow&) const = default;
};

// A detection document's content as the rule item editor shows it.
struct DetectionRows {
    // The root's `join`: "and" finds the item only when every group is satisfied;
    // empty (not written) or anything else, when any group is.
    std::string join;
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
// The detection document root's optional `join` of its groups: "or" (also when it is
// missing) or "and".
inline constexpr std::string_view kJoin = "join";
inline constexpr std::array<std::string_view, 5> kRoots{"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
// Conditions test five value types, actions write four.
inline constexpr std::array<std::string_view, 5> kConditionTypes{
    "REG_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ", "REG_EXPAND_SZ"};
inline constexpr std::array<std::string_view, 4> kActionTypes{"REG_SZ", "REG_DWORD", "REG_BINARY",
                                                              "REG_EXPAND_SZ"};
// "SetValue" writes a list only with `list` "1": REG_MULTI_SZ alone writes nothing, as
// it always did. The text form of a list: its entries separated by line feeds ("&#10;"
// in the document), none of them empty.
inline constexpr std::string_view kListType = "REG_MULTI_SZ";
inline constexpr char kListSeparator = '\n';
// The optional flags of a registry action, `create` and `list`: "1" on, "0" or missing
// off.
inline constexpr std::string_view kCreate = "create", kList = "list";
inline constexpr std::array<std::string_view, 2> kFlags{"0", "1"};
inline constexpr std::array<std::string_view, 2> kFolderFlags{"0", "1"};
// `decide` of a file condition, a registry condition, a file action, a registry action.
inline constexpr std::string_view kFile = "file", kNoFile = "nofile";
// "link": the path is a symbolic link (whatever it points to, if anything); "nolink":
// it is not (missing, or a real file or folder). `isFolder` plays no part in them.
inline constexpr std::string_view kLink = "link", kNoLink = "nolink";
inline constexpr std::array<std::string_view, 4> kFileConditions{kFile, kNoFile, kLink, kNoLink};
inline constexpr std::string_view kKeyExists = "KeyExists", kNoKey = "!KeyExists",
                                  kValueExists = "ValueExists", kNoValue = "!ValueExists",
                                  kValueEquals = "Value=", kValueDiffers = "Value!=";
// "List=" and "List!=": the entries of a REG_MULTI_SZ value, in the text form of a list,
// compared with `compareValue` as "Value=" compares (a missing value, or one of
// another type, is the empty list). "Value=" reads such a value as "", as it always
// did.
inline constexpr std::string_view kListEquals = "List=", kListDiffers = "List!=";
inline constexpr std::array<std::string_view, 8> kRegConditions{
    kKeyExists,   kNoKey,        kValueExists, kNoValue,
    kValueEquals, kValueDiffers, kListEquals,  kListDiffers};
inline constexpr std::string_view kDelete = "delete", kCopy = "copy";
// "mkdir": makes the folder `FilePath` with the folders missing on its way; a link
// standing where it goes is replaced by the folder (what it points to is not touched).
inline constexpr std::string_view kMakeFolder = "mkdir";
inline constexpr std::array<std::string_view, 3> kFileActions{kDelete, kCopy, kMakeFolder};
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
    // The root, before its groups, with its `join` ("" when it has none).
    virtual bool beginDocument(const std::string& /*join*/) { return true; }
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
