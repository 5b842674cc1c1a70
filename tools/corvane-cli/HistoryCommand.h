#pragma once

#include <ostream>
#include <span>
#include <string>

namespace corvane::cli {

// "corvane-cli history ..." and "corvane-cli undo ..." with the arguments after the
// subcommand. history exits 0; undo 0 when every item was restored, 1 when some were
// not, 2 on an error (Wine running for the prefix, no such run).
int RunHistoryCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunUndoCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

} // namespace corvane::cli
