// The file actions of a repair: delete and copy, silently, as the shell does, and
// making a folder.
#pragma once

#include <string_view>

namespace corvane {

// Deletes a file, a folder with everything in it, or every match of a wildcard in
// the last component. True if the shell reports success.
[[nodiscard]] bool DeletePath(std::string_view path);

// Creates the destination's parent folder (one level; a failure is ignored), then
// copies as the shell does. True if the shell reports success.
[[nodiscard]] bool CopyPath(std::string_view source, std::string_view destination);

// Makes the folder with the folders missing on its way; a link where it goes is
// replaced by it (Platform::makeFolders). True when a real folder is there afterwards.
[[nodiscard]] bool MakeFolders(std::string_view path);

} // namespace corvane
