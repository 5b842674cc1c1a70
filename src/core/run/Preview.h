// What a repair would do, shown before it is done: every change of an item's repair
// document, in order, with the state now and the state after. Nothing is changed.
#pragma once

#include <string>
#include <vector>

#include "core/engine/RunRepairXML.h"

namespace corvane {

struct PreviewAction {
    // "SetValue", "DeleteValue", "DeleteKey", "DeleteFiles", "CopyFiles", "MakeFolder"
    std::string action;
    std::string target; // ROOT\key path\name, or the expanded path
    std::string before; // e.g. "REG_DWORD 1", "(absent)", "(1,204 bytes)"
    std::string after;  // e.g. "REG_DWORD 0", "(deleted)", or the refusal
    // Why the repair would refuse this change (it would reach outside the machine), in
    // the words a repair gives; empty when it would make it. `after` says it too.
    std::string refusal;
};

// Whether the repair would refuse any of these changes.
[[nodiscard]] bool AnyRefused(const std::vector<PreviewAction>& actions);

// Walks a repair document as the repair would, describing each change instead of
// making it.
[[nodiscard]] std::vector<PreviewAction> PreviewRepair(std::string_view repairXml,
                                                       std::string_view appDir);

} // namespace corvane
