#include "gui/ui/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace corvane::ui {

namespace {

bool OpenWithDesktop(const QString& target) {
    // An address has a scheme; anything else is a path on this machine.
    const QUrl url(target, QUrl::StrictMode);
    const bool isAddress = url.isValid() && url.scheme().size() > 1 && !url.host().isEmpty();
    return QDesktopServices::openUrl(isAddress ? url
                                               : QUrl::fromLocalFile(QDir::cleanPath(target)));
}

ShellOpenFunction& Current() {
    static ShellOpenFunction function = OpenWithDesktop;
    return function;
}

} // namespace

bool ShellOpen(const QString& target) {
    return Current()(target);
}

ShellOpenFunction SetShellOpenFunction(ShellOpenFunction function) {
    ShellOpenFunction previous = std::move(Current());
    Current() = function ? std::move(function) : ShellOpenFunction(OpenWithDesktop);
    return previous;
}

} // namespace corvane::ui
