#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "gui/ui/MessageBox.h"

namespace corvane {
namespace {

// The real box of the one message-box function, answered by clicking a button.
TEST(StandardTextsTest, BoxesShowTheButtonsOfAChineseWindows) {
    ASSERT_TRUE(ui::InstallStandardTexts());
    const ui::MessageBoxFunction previous = ui::SetMessageBoxFunction(nullptr);
    struct Case {
        ui::MsgButtons buttons;
        QStringList texts; // as the buttons are set, "&" before the accelerator
        ui::MsgAnswer answer;
    };
    const Case cases[] = {
        {ui::MsgButtons::YesNo, {"是(&Y)", "否(&N)"}, ui::MsgAnswer::No},
        {ui::MsgButtons::Ok, {"确定"}, ui::MsgAnswer::Ok},
    };
    for (const Case& c : cases) {
        QStringList texts;
        QString title;
        std::function<void()> answer = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return QTimer::singleShot(10, answer);
            title = box->windowTitle();
            for (QAbstractButton* button : box->buttons())
                texts.push_back(button->text());
            box->button(c.answer == ui::MsgAnswer::No ? QMessageBox::No : QMessageBox::Ok)->click();
        };
        QTimer::singleShot(0, answer);
        EXPECT_EQ(ui::Prompt("是否确定要修复选定的项目？", c.buttons), c.answer);
        texts.sort();
        QStringList expected = c.texts;
        expected.sort();
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(title, "提示");
    }
    ui::SetMessageBoxFunction(previous);
    // Qt's other standard texts are Chinese too.
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "取消");
}

} // namespace
} // namespace corvane
