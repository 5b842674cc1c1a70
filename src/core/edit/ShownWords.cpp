#include "core/edit/ShownWords.h"

#include <array>
#include <regex>

#include "core/edit/RuleChoices.h"

namespace corvane {

namespace {

template <std::size_t N>
const Choice* Stored(const std::array<Choice, N>& list, std::string_view stored) {
    for (const Choice& choice : list)
        if (choice.stored == stored) return &choice;
    return nullptr;
}

} // namespace

std::string ShownCondition(std::string_view condition) {
    // A comparison carries its value after the word: "Value=1", "Value!=1".
    for (const std::string_view word : {RuleWords::kValueDiffers, RuleWords::kValueEquals})
        if (condition.starts_with(word)) {
            const std::string_view value = condition.substr(word.size());
            const std::string shown(Stored(kRegTriggers, word)->shown);
            return value.empty() ? shown : shown + " " + std::string(value);
        }
    if (const Choice* choice = Stored(kRegTriggers, condition)) return std::string(choice->shown);
    if (const Choice* choice = Stored(kFileTriggers, condition)) return std::string(choice->shown);
    return std::string(condition);
}

std::string ShownAction(std::string_view action) {
    if (action == "SetValue") return std::string(kRegActions[1].shown);
    if (action == "DeleteValue" || action == RuleWords::kDelValue)
        return std::string(kRegActions[2].shown);
    if (action == "DeleteKey" || action == RuleWords::kDelKey)
        return std::string(kRegActions[0].shown);
    if (action == "DeleteFiles" || action == RuleWords::kDelete)
        return std::string(kFileActions[0].shown);
    if (action == "CopyFiles" || action == RuleWords::kCopy)
        return std::string(kFileActions[1].shown);
    return std::string(action);
}

std::string ShownState(std::string_view state) {
    std::string text(state);
    // A text value is shown as it is stored, whatever it holds.
    if (text.starts_with("REG_SZ ") || text.starts_with("REG_EXPAND_SZ ")) return text;
    static const std::regex copy(R"(^\(copy of (.*)\)$)");
    std::smatch m;
    if (std::regex_match(text, m, copy)) return "（" + m[1].str() + " 的副本）";
    static const std::array<std::pair<const char*, const char*>, 6> words{{
        {"(absent)", "（不存在）"},
        {"(deleted)", "（已删除）"},
        {"(key)", "（键）"},
        {"(folder)", "（文件夹）"},
        {"(link)", "（链接）"},
        {"(a value of another type)", "（其他类型的值）"},
    }};
    for (const auto& [word, shown] : words)
        for (std::size_t at = text.find(word); at != std::string::npos;
             at = text.find(word, at + std::string_view(shown).size()))
            text.replace(at, std::string_view(word).size(), shown);
    static const std::regex bytes(R"(\(([0-9][0-9,]*) bytes\))");
    return std::regex_replace(text, bytes, "（$1 字节）");
}

} // namespace corvane
