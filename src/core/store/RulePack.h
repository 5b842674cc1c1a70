// Rule packs: a rule library as one UTF-8 XML text file that can be diffed and
// reviewed. A pack holds the platform groups (the WinOS INI text) and the rule items
// in rule-table order, each with its name, level, platform group id, description,
// warning and both documents exactly as stored:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <rulepack version="1">
//     <platforms>[all-os]&#xD;
//   Name=...</platforms>
//     <item>
//       <name>...</name>
//       <level>0</level>
//       <platform>all-os</platform>
//       <description>...</description>
//       <warning>...</warning>
//       <detection>&lt;?xml version="1.0" ...</detection>
//       <repair>...</repair>
//     </item>
//   </rulepack>
//
// Every value is element text. "&", "<" and ">" are written as entities, and every
// character XML would drop or change (control characters other than tab and line feed,
// carriage return among them) as a numeric reference, so each value reads back as it
// was written. `platforms` is left out when the library has no WinOS record. IDs are
// not part of a pack: a library assigns them on import, in pack order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/Exception.h"
#include "core/store/RuleLibrary.h"

namespace corvane {

// Every column equal.
bool operator==(const RuleItem& a, const RuleItem& b);

struct RulePack {
    std::optional<std::string> platforms; // the WinOS text, when there is one
    std::vector<RuleItem> items;          // in rule-table order
    bool operator==(const RulePack&) const = default;
};

// A pack that cannot be written or read: the message says where and why.
class ERulePackException : public Exception {
public:
    using Exception::Exception;
};

// The pack's text. Throws ERulePackException for a value no XML text can hold (a NUL
// character, or text that is not UTF-8), naming the item.
std::string WriteRulePack(const RulePack& pack);

// Reads a pack's text. Throws ERulePackException when the text is not a pack: not
// XML, another root element or version, an item without one of its seven fields (or
// with one twice), a level that is not a decimal integer, an unknown element.
RulePack ReadRulePack(std::string_view text);

// One problem an item (or the pack as a whole, with an empty item name) has.
struct RulePackProblem {
    std::string item; // the item's name
    std::string problem;
    bool operator==(const RulePackProblem&) const = default;
};

// Everything that keeps a pack from being a sound library, item after item in pack
// order: documents that do not read, group kinds (`opttype`) and rule values
// (`decide`, `root`, `KeyType`, `isFolder`) no reader knows, a level outside 0 to 4, a
// platform group the platforms text does not describe ("all-os" needs no
// description), a name used before. Empty when the pack is sound.
std::vector<RulePackProblem> CheckRulePack(const RulePack& pack);

// The pack of the library at `library`. Failures propagate.
[[nodiscard]] RulePack ExportRuleLibrary(const LibraryLocation& library);

// Fills the library at `library` from `pack`, which must check: its items are
// inserted in pack order and its platforms text replaces the WinOS record (a pack
// without one leaves the record as it is). All in one transaction. The rule table must
// be empty: an import never replaces or duplicates items that are there, so running it
// twice, or against the wrong file, cannot lose or double anything. Throws
// ERulePackException when the pack does not check or the table has items;
// database failures propagate. On any failure the library is left as it was.
void ImportRuleLibrary(const LibraryLocation& library, const RulePack& pack);

// Makes the missing library `library.file` from `pack`: built aside in a temporary file
// beside it ("<file>.import-XXXXXX") and renamed into place when complete, so that a
// killed import leaves no library at all rather than an empty one. Temporary files of
// earlier killed imports are removed first. Throws as ImportRuleLibrary, and
// ERulePackException when the file appeared meanwhile.
void ImportNewRuleLibrary(const LibraryLocation& library, const RulePack& pack);

} // namespace corvane
