#include "core/engine/UnitClean.h"

#include <string>

#include "core/platform/Platform.h"

namespace corvane {

bool DeletePath(std::string_view path) {
    return ActivePlatform().shellDelete(path);
}

bool CopyPath(std::string_view source, std::string_view destination) {
    Platform& platform = ActivePlatform();
    const std::size_t cut = destination.find_last_of("\\/");
    if (cut != std::string_view::npos && cut > 0) platform.createFolder(destination.substr(0, cut));
    return platform.shellCopy(source, destination);
}

bool MakeFolders(std::string_view path) {
    return ActivePlatform().makeFolders(path);
}

} // namespace corvane
