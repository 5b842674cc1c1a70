#include "core/store/RulePack.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <pugixml.hpp>
#include <unordered_set>

#include "core/engine/RegCommon.h"
#include "core/engine/RuleDocument.h"
#include "core/platform/Utf.h"
#include "core/store/PlatformGroups.h"
#include "core/store/TempFiles.h"

namespace corvane {

namespace {

constexpr std::string_view kRoot = "rulepack";
constexpr std::string_view kVersion = "1";

// The item's fields in the order they are written.
enum Field { kName, kLevel, kPlatform, kDescription, kWarning, kDetection, kRepair, kFieldCount };
constexpr std::array<std::string_view, kFieldCount> kFieldNames = {
    "name", "level", "platform", "description", "warning", "detection", "repair"};

std::string Label(std::string_view name) {
    return "item \"" + std::string(name) + "\"";
}

// `text` as element content that reads back unchanged.
void AppendEscaped(std::string& out, std::string_view text, std::string_view owner) {
    if (!Utf8ToUtf16(text)) throw ERulePackException(std::string(owner) + ": a text is not UTF-8");
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (u == 0) {
            throw ERulePackException(std::string(owner) + ": a text holds a NUL character");
        } else if (u < 0x20 && c != '\t' && c != '\n') {
            // Carriage returns would become line feeds, other controls are not XML text.
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "&#x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            out += ';';
        } else {
            out += c;
        }
    }
}

void AppendField(std::string& out, std::string_view element, std::string_view text,
                 std::string_view owner, std::string_view indent) {
    out += indent;
    out += '<';
    out += element;
    out += '>';
    AppendEscaped(out, text, owner);
    out += "</";
    out += element;
    out += ">\n";
}

// An element's text: its one text child, or nothing. Any child element is an error.
std::string TextOf(const pugi::xml_node& node, const std::string& where) {
    std::string text;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_pcdata)
            throw ERulePackException(where + ": <" + node.name() + "> may hold text only");
        text += child.value();
    }
    return text;
}

std::optional<int> Decimal(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

RuleItem ReadItem(const pugi::xml_node& node, std::size_t index) {
    std::string where = "item " + std::to_string(index + 1);
    std::array<std::optional<std::string>, kFieldCount> fields;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element)
            throw ERulePackException(where + ": text outside a field");
        std::size_t f = 0;
        while (f < kFieldCount && kFieldNames[f] != child.name())
            ++f;
        if (f == kFieldCount)
            throw ERulePackException(where + ": unknown field <" + child.name() + ">");
        if (fields[f]) throw ERulePackException(where + ": field <" + child.name() + "> twice");
        fields[f] = TextOf(child, where);
        if (f == kName) where = Label(*fields[f]);
    }
    for (std::size_t f = 0; f < kFieldCount; ++f)
        if (!fields[f])
            throw ERulePackException(where + ": no <" + std::string(kFieldNames[f]) + ">");
    RuleItem item;
    item.Name = *fields[kName];
    const auto level = Decimal(*fields[kLevel]);
    if (!level)
        throw ERulePackException(where + ": level \"" + *fields[kLevel] + "\" is no number");
    item.Level = *level;
    item.OSId = *fields[kPlatform];
    item.Des = *fields[kDescription];
    item.MessBoxText = *fields[kWarning];
    item.OptText = *fields[kDetection];
    item.RepairXML = *fields[kRepair];
    return item;
}

// --- Checking ----------------------------------------------------------------------------

template <std::size_t N>
bool OneOf(std::string_view value, const std::array<std::string_view, N>& known) {
    return std::find(known.begin(), known.end(), value) != known.end();
}

class ItemChecker {
public:
    ItemChecker(const RuleItem& item, std::vector<RulePackProblem>& problems)
        : item_(item), problems_(problems) {}

    void problem(std::string text) { problems_.push_back({item_.Name, std::move(text)}); }

    template <std::size_t N>
    void value(std::string_view document, std::size_t rule, std::string_view attribute,
               std::string_view value, const std::array<std::string_view, N>& known,
               bool emptyToo = false) {
        if ((emptyToo && value.empty()) || OneOf(value, known)) return;
        problem(std::string(document) + " rule " + std::to_string(rule) + ": unknown " +
                std::string(attribute) + " \"" + std::string(value) + "\"");
    }

    void rule(std::string_view document, std::size_t rule, std::string_view text) {
        problem(std::string(document) + " rule " + std::to_string(rule) + ": " + std::string(text));
    }

    // Every group of the document must be one the readers know: the walk every reader
    // goes through skips the others.
    void skipped(std::string_view document, const std::optional<std::string>& opttype) {
        if (!opttype)
            problem(std::string(document) + ": a group without opttype");
        else
            problem(std::string(document) + ": unknown opttype \"" + *opttype + "\"");
    }

    void detection() {
        class Walk : public DetectionVisitor {
        public:
            explicit Walk(ItemChecker& check) : check_(check) {}
            ~Walk() override {
                // Joined by "and", a group without rules is never satisfied.
                if (joinAnd_ && emptyGroup_)
                    check_.problem("detection: join \"and\" with a group that has no rules "
                                   "never finds the item");
            }
            bool beginDocument(const std::string& join) override {
                if (!join.empty() && !OneOf(join, RuleWords::kModes))
                    check_.problem("detection: unknown join \"" + join + "\"");
                joinAnd_ = join == RuleWords::kAnd;
                return true;
            }
            bool beginGroup(RuleGroupKind, const std::string&, std::size_t count) override {
                emptyGroup_ = emptyGroup_ || count == 0;
                return true;
            }
            bool fileCondition(const FileConditionRow& row) override {
                ++files_;
                check_.value("detection file", files_, "isFolder", row.isFolder,
                             RuleWords::kFolderFlags);
                check_.value("detection file", files_, "decide", row.decide,
                             RuleWords::kFileConditions);
                return true;
            }
            bool regCondition(const RegConditionRow& row) override {
                ++registry_;
                check_.value("detection registry", registry_, "root", row.root, RuleWords::kRoots);
                check_.value("detection registry", registry_, "KeyType", row.KeyType,
                             RuleWords::kConditionTypes, true);
                check_.value("detection registry", registry_, "decide", row.decide,
                             RuleWords::kRegConditions);
                if ((row.decide == RuleWords::kListEquals ||
                     row.decide == RuleWords::kListDiffers) &&
                    row.KeyType != RuleWords::kListType)
                    check_.rule("detection registry", registry_,
                                row.decide + " is for REG_MULTI_SZ");
                return true;
            }
            bool endGroup(RuleGroupKind) override { return true; }
            bool skippedGroup(const std::optional<std::string>& opttype) override {
                check_.skipped("detection", opttype);
                return true;
            }

        private:
            ItemChecker& check_;
            std::size_t files_ = 0, registry_ = 0;
            bool joinAnd_ = false, emptyGroup_ = false;
        };
        // A document that does not read reports that alone.
        const std::size_t before = problems_.size();
        bool read;
        {
            Walk walk(*this);
            read = WalkDetectionDocument(item_.OptText, walk) == WalkResult::Finished;
        }
        if (!read) {
            problems_.resize(before);
            problem("the detection document does not read");
        }
    }

    void repair() {
        class Walk : public RepairVisitor {
        public:
            explicit Walk(ItemChecker& check) : check_(check) {}
            bool fileAction(const FileActionRow& row) override {
                ++files_;
                check_.value("repair file", files_, "decide", row.decide, RuleWords::kFileActions);
                if (row.decide == RuleWords::kMakeFolder && !row.FromPath.empty())
                    check_.rule("repair file", files_, "mkdir takes no FromPath");
                return true;
            }
            bool regAction(const RegActionRow& row) override {
                ++registry_;
                const char* doc = "repair registry";
                check_.value(doc, registry_, "root", row.root, RuleWords::kRoots);
                const bool list = row.list == "1";
                if (!(list && row.KeyType == RuleWords::kListType))
                    check_.value(doc, registry_, "KeyType", row.KeyType, RuleWords::kActionTypes,
                                 true);
                check_.value(doc, registry_, "decide", row.decide, RuleWords::kRegActions);
                check_.value(doc, registry_, "create", row.create, RuleWords::kFlags, true);
                check_.value(doc, registry_, "list", row.list, RuleWords::kFlags, true);
                const bool set = row.decide == RuleWords::kSetValue;
                if (row.create == "1" && !set)
                    check_.rule(doc, registry_, "create is for SetValue");
                if (list && !(set && row.KeyType == RuleWords::kListType))
                    check_.rule(doc, registry_, "list is for SetValue of REG_MULTI_SZ");
                else if (list && !SplitRegList(row.ValueContent))
                    check_.rule(doc, registry_, "the list has an empty entry");
                return true;
            }
            bool skippedGroup(const std::optional<std::string>& opttype) override {
                check_.skipped("repair", opttype);
                return true;
            }

        private:
            ItemChecker& check_;
            std::size_t files_ = 0, registry_ = 0;
        };
        const std::size_t before = problems_.size();
        Walk walk(*this);
        if (WalkRepairDocument(item_.RepairXML, walk) != WalkResult::Finished) {
            problems_.resize(before);
            problem("the repair document does not read");
        }
    }

private:
    const RuleItem& item_;
    std::vector<RulePackProblem>& problems_;
};

// The group ids, found without regard to ASCII case, as in every INI lookup.
std::unordered_set<std::string> GroupIds(const IniDocument& groups) {
    std::unordered_set<std::string> ids;
    for (const std::string& section : groups.sectionLines())
        ids.insert(AsciiLower(section));
    return ids;
}

} // namespace

bool operator==(const RuleItem& a, const RuleItem& b) {
    return a.Name == b.Name && a.Level == b.Level && a.OSId == b.OSId && a.Des == b.Des &&
           a.OptText == b.OptText && a.RepairXML == b.RepairXML && a.MessBoxText == b.MessBoxText;
}

std::string WriteRulePack(const RulePack& pack) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rulepack version=\"1\">\n";
    if (pack.platforms) AppendField(out, "platforms", *pack.platforms, "the platforms", "  ");
    for (const RuleItem& item : pack.items) {
        const std::string owner = Label(item.Name);
        out += "  <item>\n";
        AppendField(out, "name", item.Name, owner, "    ");
        AppendField(out, "level", std::to_string(item.Level), owner, "    ");
        AppendField(out, "platform", item.OSId, owner, "    ");
        AppendField(out, "description", item.Des, owner, "    ");
        AppendField(out, "warning", item.MessBoxText, owner, "    ");
        AppendField(out, "detection", item.OptText, owner, "    ");
        AppendField(out, "repair", item.RepairXML, owner, "    ");
        out += "  </item>\n";
    }
    out += "</rulepack>\n";
    return out;
}

RulePack ReadRulePack(std::string_view text) {
    // The parser would end a text at a NUL character, written or referred to: the
    // rest of the field would be lost without a word.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        throw ERulePackException("a NUL character at byte " + std::to_string(nul));
    for (std::size_t at = text.find("&#"); at != std::string_view::npos;
         at = text.find("&#", at + 2)) {
        std::size_t digits = at + 2;
        const bool hex = digits < text.size() && (text[digits] == 'x' || text[digits] == 'X');
        if (hex) ++digits;
        std::size_t end = digits;
        while (end < text.size() && text[end] == '0')
            ++end;
        if (end > digits && end < text.size() && text[end] == ';')
            throw ERulePackException("a NUL character (" +
                                     std::string(text.substr(at, end + 1 - at)) + ") at byte " +
                                     std::to_string(at));
    }
    pugi::xml_document doc;
    // A field of spaces alone is its only child and is kept; the indentation between
    // elements is not.
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(),
                        pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_utf8);
    if (!parsed)
        throw ERulePackException("not an XML text: " + std::string(parsed.description()) +
                                 " at byte " + std::to_string(parsed.offset));
    const pugi::xml_node root = doc.document_element();
    if (root.name() != kRoot) throw ERulePackException("the root element is not <rulepack>");
    if (root.attribute("version").value() != kVersion)
        throw ERulePackException("rule pack version \"" +
                                 std::string(root.attribute("version").value()) +
                                 "\" is not known");
    RulePack pack;
    for (const pugi::xml_node& child : root.children()) {
        if (child.type() != pugi::node_element) throw ERulePackException("text outside an item");
        if (std::string_view(child.name()) == "platforms") {
            if (pack.platforms || !pack.items.empty())
                throw ERulePackException("<platforms> must come once, before the items");
            pack.platforms = TextOf(child, "the platforms");
        } else if (std::string_view(child.name()) == "item") {
            pack.items.push_back(ReadItem(child, pack.items.size()));
        } else {
            throw ERulePackException("unknown element <" + std::string(child.name()) + ">");
        }
    }
    return pack;
}

std::vector<RulePackProblem> CheckRulePack(const RulePack& pack) {
    std::vector<RulePackProblem> problems;
    const auto groups = GroupIds(ReadPlatformGroups(pack.platforms.value_or("")));
    std::unordered_set<std::string> names;
    for (const RuleItem& item : pack.items) {
        ItemChecker check(item, problems);
        const std::pair<std::string_view, const std::string*> texts[] = {
            {"name", &item.Name},
            {"platform group id", &item.OSId},
            {"description", &item.Des},
            {"warning", &item.MessBoxText},
            {"detection document", &item.OptText},
            {"repair document", &item.RepairXML}};
        for (const auto& [field, text] : texts)
            if (!Utf8ToUtf16(*text)) check.problem("the " + std::string(field) + " is not UTF-8");
        if (!names.insert(item.Name).second) check.problem("the name is used by an earlier item");
        if (item.Level < 0 || item.Level > 4)
            check.problem("level " + std::to_string(item.Level) + " is not 0 to 4");
        if (item.OSId != kAllOsGroup && !groups.contains(AsciiLower(item.OSId)))
            check.problem("platform group \"" + item.OSId + "\" does not exist");
        check.detection();
        check.repair();
    }
    return problems;
}

RulePack ExportRuleLibrary(const LibraryLocation& library) {
    RulePack pack;
    pack.platforms = LoadWinOSValue(library);
    const auto table = OpenRuleLibrary(library)->Query(RuleSql::SelectAllRules(library.table));
    for (int r = 0; r < table->RowTotal(); ++r, table->MoveNext())
        // The values as stored: one that is not UTF-8 is refused by the writer and
        // reported by a check, rather than exported as the empty text.
        pack.items.push_back(ReadRuleRow(*table).item);
    return pack;
}

void ImportRuleLibrary(const LibraryLocation& library, const RulePack& pack) {
    const auto problems = CheckRulePack(pack);
    if (!problems.empty())
        throw ERulePackException(
            "the pack does not check: " +
            (problems.front().item.empty() ? std::string() : Label(problems.front().item) + ": ") +
            problems.front().problem);
    const auto db = OpenRuleLibrary(library);
    // Released uncommitted, the connection rolls everything back.
    db->OpenTransaction();
    if (db->Query(RuleSql::SelectAllRules(library.table))->RowTotal() != 0)
        throw ERulePackException("the rule library already holds items; import needs an empty one");
    for (const RuleItem& item : pack.items)
        db->Execute(RuleSql::InsertRule(library.table, item));
    if (pack.platforms) {
        const bool exists = db->Query(RuleSql::SelectWinOS())->RowTotal() > 0;
        db->Execute(exists ? RuleSql::UpdateWinOS(*pack.platforms)
                           : RuleSql::InsertWinOS(*pack.platforms));
    }
    db->CommitTransaction();
}

void ImportNewRuleLibrary(const LibraryLocation& library, const RulePack& pack) {
    const std::string stem = library.file + ".import-";
    // What killed imports and conversions of this library left goes first.
    (void)RemoveStaleTemporaries(stem);
    (void)RemoveStaleTemporaries(library.file + ".encrypt-");
    LockedTemporary aside(stem);
    if (!aside.ok())
        throw ERulePackException("cannot make a file beside " + library.file + ": " +
                                 std::error_code(errno, std::generic_category()).message());
    LibraryLocation building = library;
    building.file = aside.path();
    CreateRuleDatabase(building);
    ImportRuleLibrary(building, pack);
    if (::fsync(aside.fd()) != 0 || ::renameat2(AT_FDCWD, aside.path().c_str(), AT_FDCWD,
                                                library.file.c_str(), RENAME_NOREPLACE) != 0)
        throw ERulePackException("cannot put the new library in place at " + library.file + ": " +
                                 std::error_code(errno, std::generic_category()).message());
    aside.keep();
}

} // namespace corvane
