// Ending Wine for one prefix, as its own tool does, so that a repair or an undo can
// write the registry: every program of the prefix ends and unsaved work in them is lost.
#pragma once

#include <string>

namespace corvane {

// Runs `wineserver -k` with WINEPREFIX set to `prefix`, then `wineserver -w`, which
// returns once the prefix's wineserver has ended (and saved the registry). Empty when
// `wineserver -w` ended well, else why not. Whether Wine still runs is the caller's
// to look at again.
std::string StopWine(const std::string& prefix);

} // namespace corvane
