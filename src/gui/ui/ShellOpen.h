// Every page and file the program hands to the desktop goes through one function, so
// that tests can see what would have been opened.
#pragma once

#include <QString>
#include <functional>

namespace corvane::ui {

// Opens `target` with the desktop's handler: an address ("https://...") in the
// browser, a local file path with the program registered for it. Returns whether the
// desktop accepted it; callers may ignore the result.
using ShellOpenFunction = std::function<bool(const QString& target)>;

bool ShellOpen(const QString& target);

// Puts `function` in place of the desktop; returns the one it replaces.
ShellOpenFunction SetShellOpenFunction(ShellOpenFunction function);

} // namespace corvane::ui
