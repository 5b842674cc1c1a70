// What the windows and the command-line tool say about the machine they look at: why a
// repair cannot run there, that its registry files may be behind, and which machine the
// user chose to look at last time.
#pragma once

#include <string>

namespace corvane {

// Why a repair cannot run on the active machine, naming it and what to do; empty when
// registry writes go through.
std::string RepairRefusal();

// While a program of the machine owns the registry (Wine runs), the note that the
// files read may not hold its latest changes; empty otherwise.
std::string RegistryStaleNote();

// The machine chosen in the window and remembered in `settingsFile` ([Wine] Prefix);
// empty when none is remembered or the environment names the machine ($WINEPREFIX).
std::string RememberedMachine(const std::string& settingsFile);
[[nodiscard]] bool RememberMachine(const std::string& settingsFile, const std::string& path);

} // namespace corvane
