// Every message box of the program goes through one function, so that tests can
// script the answers and see what was shown; and every window handler runs inside
// one guard, so that no error crosses the Qt event loop.
#pragma once

#include <QString>
#include <functional>

namespace corvane::ui {

enum class MsgIcon { None, Information, Warning, Critical, Question };
// OkStopWine: "确定" and "结束 Wine 并修复", which answers Yes.
enum class MsgButtons { Ok, YesNo, OkStopWine };
enum class MsgAnswer { Ok, Yes, No };

using MessageBoxFunction =
    std::function<MsgAnswer(const QString& text, const QString& caption, MsgIcon, MsgButtons)>;

// Shows a box without owner window and returns the answer.
MsgAnswer MessageBox(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons);

// Puts `function` in place of the real boxes; returns the one it replaces.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

// The program's own box: caption "提示", warning icon.
MsgAnswer Prompt(const QString& text, MsgButtons buttons = MsgButtons::Ok);

// The program's title (oem/oem.ini's softName once start-up read it): the caption of
// the default error report. The window system is never asked to add it to titles.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Loads Qt's own Chinese translation of its standard texts (buttons, dialogs, the
// editing menus), whatever the user's locale, since the whole interface is Chinese.
// False when the translation is not installed; the texts then stay English.
bool InstallStandardTexts();

// Runs `handler`; an error that escapes it is shown as the default error report (its
// message in a box captioned with the application title) and the program goes on.
void Guarded(const std::function<void()>& handler);

} // namespace corvane::ui
