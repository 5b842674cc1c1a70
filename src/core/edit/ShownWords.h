// The words the windows show for the rule language's document words: a condition, a
// change of a repair and the states the preview and the journal describe, in the
// names the editor's dialogs use. The command-line tool keeps the document words.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// "KeyExists" -> "键存在", "Value=1" -> "值相等 1", "file" -> "文件存在触发"; a word the
// editor does not know stays as it is.
std::string ShownCondition(std::string_view condition);

// "SetValue" -> "设置值", "DeleteValue" -> "删除值", "DeleteKey" -> "删除键",
// "DeleteFiles" -> "删除文件", "CopyFiles" -> "复制文件".
std::string ShownAction(std::string_view action);

// A state as the preview and the journal describe it: "(absent)" -> "（不存在）",
// "(deleted)" -> "（已删除）", "(1,204 bytes)" -> "（1,204 字节）", "(copy of X)" ->
// "（X 的副本）"; a value's text is kept as it stands.
std::string ShownState(std::string_view state);

} // namespace corvane
