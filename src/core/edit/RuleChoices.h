// What the condition and action dialogs of the rule editor show, and how they turn a
// row's stored attribute values into list positions and back. A stored value that a
// list does not know opens as that list's default, so OK rewrites it with the default.
// Texts are UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/engine/RuleDocument.h"

#include "core/edit/DialogExchange.h"

namespace corvane {

// One item of a fixed list: the text shown and the value stored for it.
struct Choice {
    std::string_view shown;
    std::string_view stored;
};

inline constexpr std::array<Choice, 4> kRootChoices{{
    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_USERS", "HKU"},
}};
inline constexpr int kRootFallback = 2; // HKEY_LOCAL_MACHINE

// Value types: stored as shown. Conditions test five, actions write four, and a list
// (REG_MULTI_SZ, stored with `list` "1") as the fifth.
using RuleWords::kActionTypes;
using RuleWords::kConditionTypes;
inline constexpr std::array<std::string_view, 5> kActionTypeChoices{
    kActionTypes[0], kActionTypes[1], kActionTypes[2], kActionTypes[3], RuleWords::kListType};
inline constexpr int kListTypePosition = 4;
// A list's entries are typed separated by this (its stored form separates them by
// line feeds, which a one-line box cannot hold).
inline constexpr char kListShownSeparator = ';';

// The stored values come from the documents' own words.
inline constexpr std::array<Choice, 2> kFileKinds{
    {{"文件", RuleWords::kFolderFlags[0]}, {"文件夹", RuleWords::kFolderFlags[1]}}};
inline constexpr std::array<Choice, 4> kFileTriggers{
    {{"文件存在触发", RuleWords::kFileConditions[0]},
     {"文件不存在触发", RuleWords::kFileConditions[1]},
     {"是链接触发", RuleWords::kFileConditions[2]},
     {"不是链接触发", RuleWords::kFileConditions[3]}}};
inline constexpr std::array<Choice, 8> kRegTriggers{{
    {"键存在", RuleWords::kRegConditions[0]},
    {"键不存在", RuleWords::kRegConditions[1]},
    {"值存在", RuleWords::kRegConditions[2]},
    {"值不存在", RuleWords::kRegConditions[3]},
    {"值相等", RuleWords::kRegConditions[4]},
    {"值不相等", RuleWords::kRegConditions[5]},
    {"列表相等", RuleWords::kRegConditions[6]},
    {"列表不相等", RuleWords::kRegConditions[7]},
}};
inline constexpr int kRegTriggerFallback = 2; // 值存在
inline constexpr std::array<Choice, 2> kMatchModes{
    {{"一个规则满足即返回(or模式)", RuleWords::kModes[0]},
     {"所有规则满足才返回(and模式)", RuleWords::kModes[1]}}};
inline constexpr std::array<Choice, 3> kFileActions{{{"删除文件", RuleWords::kFileActions[0]},
                                                     {"复制文件", RuleWords::kFileActions[1]},
                                                     {"新建文件夹", RuleWords::kFileActions[2]}}};
inline constexpr std::array<Choice, 3> kRegActions{{
    {"删除键", RuleWords::kRegActions[0]},
    {"设置值", RuleWords::kRegActions[1]},
    {"删除值", RuleWords::kRegActions[2]},
}};
inline constexpr int kRegActionFallback = 2; // 删除值

inline constexpr std::string_view kRegPathPreset =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr std::string_view kBinaryRefusal = "暂时不支持设置REG_BINARY类型！";
inline constexpr std::string_view kCreateKeysCaption = "创建缺少的键";
inline constexpr std::string_view kJoinCaption = "文件规则和注册表规则都满足才触发";

// The position of the item storing `stored`, or `fallback`.
template <std::size_t N>
int PositionOfStored(const std::array<Choice, N>& list, std::string_view stored, int fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (list[i].stored == stored) return static_cast<int>(i);
    return fallback;
}

// The value stored for the item shown as `shown`, or `fallback`.
template <std::size_t N>
std::string_view StoredOfShown(const std::array<Choice, N>& list, std::string_view shown,
                               std::string_view fallback) {
    for (const Choice& c : list)
        if (c.shown == shown) return c.stored;
    return fallback;
}

template <std::size_t N>
int PositionOfName(const std::array<std::string_view, N>& list, std::string_view name,
                   int fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (list[i] == name) return static_cast<int>(i);
    return fallback;
}

// Window captions by `DlgMode`; a mode other than edit or copy opens as add.
std::string_view FileRuleCaption(int mode);
std::string_view RegRuleCaption(int mode);
inline constexpr std::string_view kMatchModeCaption = "规则模式";
inline constexpr std::string_view kMatchModePrompt = "请选择您的规则模式";

// --- File condition -------------------------------------------------------------------

struct FileConditionForm {
    std::string_view caption;
    std::string FilePath;
    int kind = 0;    // in kFileKinds
    int trigger = 0; // in kFileTriggers
};
FileConditionForm FileConditionStart(const TDialogExchange& x);
void FileConditionAccept(TDialogExchange& x, std::string_view filePath, std::string_view kindShown,
                         std::string_view triggerShown);

// --- Match mode -------------------------------------------------------------------------

int MatchModeStart(const TDialogExchange& x); // position in kMatchModes
void MatchModeAccept(TDialogExchange& x, int position);

// --- File action ----------------------------------------------------------------------

struct FileActionForm {
    std::string_view caption;
    std::string FilePath;
    std::string FromPath;
    int action = 0; // in kFileActions
};
FileActionForm FileActionStart(const TDialogExchange& x);
void FileActionAccept(TDialogExchange& x, std::string_view filePath, std::string_view fromPath,
                      std::string_view actionShown);

struct FileActionLayout {
    std::string_view label1; // the location's label
    bool sourceEnabled;
};
FileActionLayout FileActionLayoutFor(int action); // -1: no selection

// --- Registry condition and action ------------------------------------------------------

struct RegForm {
    std::string_view caption;
    int root = 0;
    std::string KeyPath;
    std::string KeyValue;
    int type = 0;
    std::string ValueText;
    int decide = 0; // in kRegTriggers or kRegActions
    bool pathAbs = false;
    bool create = false; // an action's `create`
};

// What the registry dialogs show when OK is pressed (disabled boxes included).
struct RegShown {
    std::string root;
    std::string KeyPath;
    std::string KeyValue;
    std::string type;
    std::string ValueText;
    std::string decide;
    bool pathAbs = false;
    bool create = false;
};

struct RegLayout {
    std::string_view label3; // the name box's label
    bool typeEnabled;
    bool contentEnabled;
    bool createEnabled = false; // an action's "create the missing keys"
};

RegForm RegConditionStart(const TDialogExchange& x);
void RegConditionAccept(TDialogExchange& x, const RegShown& shown);
RegLayout RegConditionLayoutFor(int trigger); // -1: no selection

RegForm RegActionStart(const TDialogExchange& x);
// Setting a REG_BINARY value is not supported.
bool RegActionRefused(const RegShown& shown);
// False, with `x` untouched, when the action is refused.
bool RegActionAccept(TDialogExchange& x, const RegShown& shown);
RegLayout RegActionLayoutFor(int action); // -1: no selection

} // namespace corvane
