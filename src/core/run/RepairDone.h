// What a repair did to one item, read back from the machine's journal: each change it
// made, in order, with the state before and after, described as the preview describes
// a change it would make.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/run/Journal.h"
#include "core/run/Preview.h"

namespace corvane {

// The changes the repair of item `id` in run `run` made; nothing when the journal has
// no readable entry for it.
[[nodiscard]] std::optional<std::vector<PreviewAction>> RepairDone(const Journal& journal, int run,
                                                                   const std::string& id);

} // namespace corvane
