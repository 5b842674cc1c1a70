#include "core/engine/RuleDocument.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

#include "core/engine/XmlDocument.h"

namespace corvane {

namespace {

// --- Writing -------------------------------------------------------------------------

using Attributes = std::initializer_list<std::pair<std::string_view, const std::string*>>;

// The rule added, or no node when it could not be written whole.
XmlNode AddRule(XmlNode group, Attributes attributes) {
    XmlNode rule = group.appendElement("CHdb");
    if (!rule) return {};
    for (const auto& [name, value] : attributes)
        if (!rule.setAttribute(name, *value)) return {};
    return rule;
}

// An optional attribute is written only when it holds something: a document that does
// not use it is written as before.
bool AddOptional(XmlNode rule, std::string_view name, const std::string& value) {
    return value.empty() || rule.setAttribute(name, value);
}

// A group element with `opttype` and, in the detection document, `mode`.
XmlNode AddGroup(XmlNode root, std::string_view opttype, const std::string* mode) {
    XmlNode group = root.appendElement("type");
    if (!group || !group.setAttribute("opttype", opttype)) return {};
    if (mode && !group.setAttribute("mode", *mode)) return {};
    return group;
}

template <typename FileRows, typename RegRows, typename AddFile, typename AddReg>
bool WriteDocument(const FileRows& fileRows, const std::string* filesMode, const RegRows& regRows,
                   const std::string* regMode, AddFile addFile, AddReg addReg, std::string& text,
                   const std::string& join = {}) {
    XmlDocument doc;
    doc.setDeclaration(kRuleDocumentVersion, kRuleDocumentEncoding);
    XmlNode root = doc.appendElement("rules");
    if (!root || !AddOptional(root, RuleWords::kJoin, join)) return false;
    XmlNode files = AddGroup(root, RuleWords::kFilesGroup, filesMode);
    if (!files) return false;
    for (const auto& row : fileRows)
        if (!addFile(files, row)) return false;
    XmlNode registry = AddGroup(root, RuleWords::kRegistryGroup, regMode);
    if (!registry) return false;
    for (const auto& row : regRows)
        if (!addReg(registry, row)) return false;
    text = doc.save();
    return true;
}

// --- Reading -------------------------------------------------------------------------

enum class Step { Go, Stop, Fail };

// A required attribute; false when it is missing.
bool Required(XmlNode rule, std::string_view name, std::string& out) {
    return rule.attributeInto(name, out);
}

// An optional attribute (`PathAbs`, `create`, `list`, `join`): missing reads as "".
void Optional(XmlNode rule, std::string_view name, std::string& out) {
    if (!rule.attributeInto(name, out)) out.clear();
}

// Reads a rule's attributes in one pass: the first `required` of `names` must be
// there; the others (`PathAbs`, `create`, `list`) read as "" when missing.
template <std::size_t N>
bool ReadAttributes(XmlNode n, const std::array<std::string_view, N>& names,
                    const std::array<std::string*, N>& out, std::size_t required) {
    std::array<bool, N> found{};
    n.attributesInto(names, out, found);
    for (std::size_t i = 0; i < N; ++i) {
        if (found[i]) continue;
        if (i < required) return false;
        out[i]->clear();
    }
    return true;
}

bool ReadRow(XmlNode n, FileConditionRow& row) {
    static constexpr std::array<std::string_view, 3> kNames{"FilePath", "isFolder", "decide"};
    return ReadAttributes(n, kNames, {&row.FilePath, &row.isFolder, &row.decide}, 3);
}

bool ReadRow(XmlNode n, FileActionRow& row) {
    static constexpr std::array<std::string_view, 3> kNames{"FilePath", "FromPath", "decide"};
    return ReadAttributes(n, kNames, {&row.FilePath, &row.FromPath, &row.decide}, 3);
}

bool ReadRow(XmlNode n, RegConditionRow& row) {
    static constexpr std::array<std::string_view, 7> kNames{
        "root", "KeyPath", "KeyValue", "KeyType", "compareValue", "decide", "PathAbs"};
    return ReadAttributes(n, kNames,
                          {&row.root, &row.KeyPath, &row.KeyValue, &row.KeyType, &row.compareValue,
                           &row.decide, &row.PathAbs},
                          6);
}

bool ReadRow(XmlNode n, RegActionRow& row) {
    static constexpr std::array<std::string_view, 9> kNames{
        "root",   "KeyPath", "KeyValue",         "KeyType",       "ValueContent",
        "decide", "PathAbs", RuleWords::kCreate, RuleWords::kList};
    return ReadAttributes(n, kNames,
                          {&row.root, &row.KeyPath, &row.KeyValue, &row.KeyType, &row.ValueContent,
                           &row.decide, &row.PathAbs, &row.create, &row.list},
                          6);
}

// The navigation every reader shares. `readMode`: the detection readers read each
// group's `mode` (required) before its rules. `onGroup(kind, mode, ruleCount)` and
// `onEnd(kind)` answer whether to go on; `onRule(kind, node)` answers with a Step.
template <typename OnGroup, typename OnRule, typename OnEnd, typename OnSkipped, typename OnRoot>
WalkResult Navigate(std::string_view text, bool readMode, OnGroup onGroup, OnRule onRule,
                    OnEnd onEnd, OnSkipped onSkipped, OnRoot onRoot) {
    XmlDocument doc;
    if (!doc.load(text)) return WalkResult::ReadFailure;
    // The root is the node after the declaration; a text without a declaration has
    // none.
    const XmlNode declaration = doc.firstTop();
    if (!declaration.isDeclaration()) return WalkResult::ReadFailure;
    const XmlNode root = doc.top(1);
    if (!root) return WalkResult::ReadFailure;
    if (!onRoot(root)) return WalkResult::Stopped;

    for (XmlNode group = root.firstChild(); group; group = group.nextSibling()) {
        const std::optional<std::string> opttype = group.attribute("opttype");
        RuleGroupKind kind;
        if (opttype == RuleWords::kFilesGroup) {
            kind = RuleGroupKind::Files;
        } else if (opttype == RuleWords::kRegistryGroup) {
            kind = RuleGroupKind::Registry;
        } else {
            if (!onSkipped(opttype)) return WalkResult::Stopped;
            continue;
        }

        std::string mode;
        if (readMode && !Required(group, "mode", mode)) return WalkResult::ReadFailure;
        if (!onGroup(kind, mode, group.childCount())) return WalkResult::Stopped;
        for (XmlNode rule = group.firstChild(); rule; rule = rule.nextSibling()) {
            switch (onRule(kind, rule)) {
            case Step::Go:
                break;
            case Step::Stop:
                return WalkResult::Stopped;
            case Step::Fail:
                return WalkResult::ReadFailure;
            }
        }
        if (!onEnd(kind)) return WalkResult::Stopped;
    }
    return WalkResult::Finished;
}

// Reads a rule's row into `row` (one the walk reuses, so that its texts keep their
// room) and hands it to `visit`.
template <typename Row, typename Visit> Step VisitRow(XmlNode node, Row& row, Visit visit) {
    if (!ReadRow(node, row)) return Step::Fail;
    return visit(row) ? Step::Go : Step::Stop;
}

} // namespace

bool WriteDetectionDocument(const DetectionRows& rows, std::string& text) {
    return WriteDocument(
        rows.files, &rows.FilesMatchMode, rows.registry, &rows.RegMatchMode,
        [](XmlNode group, const FileConditionRow& r) {
            return AddRule(
                group,
                {{"FilePath", &r.FilePath}, {"isFolder", &r.isFolder}, {"decide", &r.decide}});
        },
        [](XmlNode group, const RegConditionRow& r) {
            return AddRule(group, {{"root", &r.root},
                                   {"KeyPath", &r.KeyPath},
                                   {"KeyValue", &r.KeyValue},
                                   {"KeyType", &r.KeyType},
                                   {"compareValue", &r.compareValue},
                                   {"decide", &r.decide},
                                   {"PathAbs", &r.PathAbs}});
        },
        text, rows.join);
}

bool WriteRepairDocument(const RepairRows& rows, std::string& text) {
    return WriteDocument(
        rows.files, nullptr, rows.registry, nullptr,
        [](XmlNode group, const FileActionRow& r) {
            return AddRule(
                group,
                {{"FilePath", &r.FilePath}, {"FromPath", &r.FromPath}, {"decide", &r.decide}});
        },
        [](XmlNode group, const RegActionRow& r) {
            const XmlNode rule = AddRule(group, {{"root", &r.root},
                                                 {"KeyPath", &r.KeyPath},
                                                 {"KeyValue", &r.KeyValue},
                                                 {"KeyType", &r.KeyType},
                                                 {"ValueContent", &r.ValueContent},
                                                 {"decide", &r.decide},
                                                 {"PathAbs", &r.PathAbs}});
            return rule && AddOptional(rule, RuleWords::kCreate, r.create) &&
                   AddOptional(rule, RuleWords::kList, r.list);
        },
        text);
}

WalkResult WalkDetectionDocument(std::string_view text, DetectionVisitor& visitor) {
    FileConditionRow fileRow;
    RegConditionRow regRow;
    return Navigate(
        text, true,
        [&](RuleGroupKind kind, const std::string& mode, std::size_t count) {
            return visitor.beginGroup(kind, mode, count);
        },
        [&](RuleGroupKind kind, XmlNode node) {
            if (kind == RuleGroupKind::Files)
                return VisitRow(node, fileRow, [&](const FileConditionRow& row) {
                    return visitor.fileCondition(row);
                });
            return VisitRow(node, regRow,
                            [&](const RegConditionRow& row) { return visitor.regCondition(row); });
        },
        [&](RuleGroupKind kind) { return visitor.endGroup(kind); },
        [&](const std::optional<std::string>& opttype) { return visitor.skippedGroup(opttype); },
        [&](XmlNode root) {
            std::string join;
            Optional(root, RuleWords::kJoin, join);
            return visitor.beginDocument(join);
        });
}

WalkResult WalkRepairDocument(std::string_view text, RepairVisitor& visitor) {
    FileActionRow fileRow;
    RegActionRow regRow;
    return Navigate(
        text, false, [](RuleGroupKind, const std::string&, std::size_t) { return true; },
        [&](RuleGroupKind kind, XmlNode node) {
            if (kind == RuleGroupKind::Files)
                return VisitRow(node, fileRow,
                                [&](const FileActionRow& row) { return visitor.fileAction(row); });
            return VisitRow(node, regRow,
                            [&](const RegActionRow& row) { return visitor.regAction(row); });
        },
        [](RuleGroupKind) { return true; },
        [&](const std::optional<std::string>& opttype) { return visitor.skippedGroup(opttype); },
        [](XmlNode) { return true; });
}

bool ReadDetectionDocument(std::string_view text, DetectionRows& rows) {
    class Loader : public DetectionVisitor {
    public:
        explicit Loader(DetectionRows& rows) : rows_(rows) {}
        bool beginDocument(const std::string& join) override {
            rows_.join = join;
            return true;
        }
        bool beginGroup(RuleGroupKind kind, const std::string& mode, std::size_t) override {
            (kind == RuleGroupKind::Files ? rows_.FilesMatchMode : rows_.RegMatchMode) = mode;
            return true;
        }
        bool fileCondition(const FileConditionRow& row) override {
            rows_.files.push_back(row);
            return true;
        }
        bool regCondition(const RegConditionRow& row) override {
            rows_.registry.push_back(row);
            return true;
        }
        bool endGroup(RuleGroupKind) override { return true; }

    private:
        DetectionRows& rows_;
    } loader(rows);
    return WalkDetectionDocument(text, loader) == WalkResult::Finished;
}

bool ReadRepairDocument(std::string_view text, RepairRows& rows) {
    class Loader : public RepairVisitor {
    public:
        explicit Loader(RepairRows& rows) : rows_(rows) {}
        bool fileAction(const FileActionRow& row) override {
            rows_.files.push_back(row);
            return true;
        }
        bool regAction(const RegActionRow& row) override {
            rows_.registry.push_back(row);
            return true;
        }

    private:
        RepairRows& rows_;
    } loader(rows);
    return WalkRepairDocument(text, loader) == WalkResult::Finished;
}

} // namespace corvane
