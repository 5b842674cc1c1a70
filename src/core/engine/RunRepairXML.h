// Repair: carries out a rule item's repair document on the machine.
#pragma once

#include <string_view>

namespace corvane {

// Runs the file and registry actions of a repair document one after another in
// document order: deletes and copies files and folders, deletes keys and values and
// writes values. An action that fails is passed over; a read failure ends the run at
// that rule and keeps what was done before it. Reports nothing, never throws and
// shows nothing: whether the repair worked is for detection to say afterwards.
// Rule paths expand with "<app>" as `appDir`.
void RunRepairXML(std::string_view repairXml, std::string_view appDir);

} // namespace corvane
