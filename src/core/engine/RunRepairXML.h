// Repair: carries out a rule item's repair document on the machine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// What a repair could not do.
struct [[nodiscard]] RepairResult {
    // Why each file action that was tried did not go through (refused because its place
    // lies outside the machine, or failed), naming the path. An action with nothing to
    // do (nothing to delete, no source to copy) is not listed.
    std::vector<std::string> refused;
};

// Runs the file and registry actions of a repair document one after another in
// document order: deletes and copies files and folders, deletes keys and values and
// writes values. An action that fails is passed over; a read failure ends the run at
// that rule and keeps what was done before it. Never throws and shows nothing: whether
// the repair worked is for detection to say afterwards, unless an action was refused.
// Rule paths expand with "<app>" as `appDir`.
RepairResult RunRepairXML(std::string_view repairXml, std::string_view appDir);

} // namespace corvane
