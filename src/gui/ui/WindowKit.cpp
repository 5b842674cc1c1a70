#include "gui/ui/WindowKit.h"

#include <QFont>
#include <QWidget>

namespace corvane::ui {

void UseWindowFont(QWidget* window) {
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            "宋体", {"SimSun", "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
        return true;
    }();
    (void)substituted;
    QFont font("宋体");
    font.setPixelSize(12);
    window->setFont(font);
}

} // namespace corvane::ui
