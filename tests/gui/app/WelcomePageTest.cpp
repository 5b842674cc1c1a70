#include <QCoreApplication>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "core/run/Links.h"
#include "gui/app/Unitmain.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/ShellOpen.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

using test::TempPrefix;

void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), button, button,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), button,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QCoreApplication::sendEvent(widget, &release);
}

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A started main window (its library made by a first start); what the desktop is
// asked to open and every message box are recorded.
class WelcomePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousBox = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString&, ui::MsgIcon, ui::MsgButtons) {
                boxes.push_back(text);
                return ui::MsgAnswer::Ok;
            });
        previousOpen = ui::SetShellOpenFunction([this](const QString& target) {
            opened.push_back(target);
            return false; // the desktop refusing is not reported
        });
        const QString dir = QString::fromStdString(app.dir().string());
        Tfrmmain first(dir);
        window = std::make_unique<Tfrmmain>(dir);
        boxes.clear();
    }
    void TearDown() override {
        window.reset();
        ui::SetShellOpenFunction(previousOpen);
        ui::SetMessageBoxFunction(previousBox);
    }

    TempPrefix app;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previousBox;
    ui::ShellOpenFunction previousOpen;
    std::vector<QString> boxes;
    std::vector<QString> opened;
    std::unique_ptr<Tfrmmain> window;
};

TEST_F(WelcomePageTest, PageLinksOpenTheirAddressesAndNothingElseChanges) {
    const char* pageLinks[] = {"Image3", "lblUrl1", "Label12", "Label9", "Label10", "Label13"};
    for (const char* element : pageLinks) {
        SCOPED_TRACE(element);
        auto* label = window->findChild<QLabel*>(element);
        ASSERT_NE(label, nullptr);
        opened.clear();
        Click(label, Qt::RightButton);
        EXPECT_TRUE(opened.empty()) << "only the left button follows a link";
        Click(label);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], Q(LinkOf(element).address));
        EXPECT_TRUE(opened[0].startsWith("https://"));
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(window->PageControl1->currentIndex(), 0);
}

TEST_F(WelcomePageTest, LinksLookAsTheirKindCallsFor) {
    const QColor green(0, 128, 0), blue(0, 0, 255), red(255, 0, 0);
    struct Case {
        const char* element;
        QColor colour;
        bool hint;
        QLabel* Tfrmmain::*member;
        const char* frame;
    };
    const Case cases[] = {
        {"lblUrl1", green, true, &Tfrmmain::lblUrl1, "GroupBox1"},
        {"Label12", green, true, &Tfrmmain::Label12, "GroupBox1"},
        {"Label7", blue, false, &Tfrmmain::Label7, "GroupBox2"},
        {"Label8", blue, false, &Tfrmmain::Label8, "GroupBox2"},
        {"Label9", blue, true, &Tfrmmain::Label9, "GroupBox2"},
        {"Label10", red, true, &Tfrmmain::Label10, "GroupBox2"},
        {"Label13", blue, true, &Tfrmmain::Label13, "GroupBox2"},
    };
    int previousTop = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.element);
        QLabel* label = window.get()->*c.member;
        ASSERT_NE(label, nullptr);
        const Link& link = LinkOf(c.element);
        EXPECT_EQ(label->objectName(), c.element);
        EXPECT_EQ(label->parentWidget()->objectName(), c.frame);
        EXPECT_EQ(label->text(), Q(link.text));
        EXPECT_FALSE(label->text().isEmpty());
        EXPECT_EQ(label->toolTip(), Q(link.hint));
        EXPECT_EQ(!label->toolTip().isEmpty(), c.hint);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), c.colour);
        EXPECT_TRUE(label->font().underline());
        EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
        if (std::string_view(c.frame) == "GroupBox2") {
            // One per line, in order.
            window->show();
            EXPECT_GT(label->geometry().top(), previousTop);
            previousTop = label->geometry().top();
        }
    }
    EXPECT_EQ(window->lblUrl1->toolTip(),
              "立即访问官网来检查软件最新信息。\n\n保持软件最新，可以更加有效的修复故障");
    EXPECT_EQ(window->Label12->toolTip(),
              "如果您有什么建议或问题，都可以告诉我们，我们很在乎您的意见。");
    EXPECT_EQ(window->Label13->toolTip(), "极速杀毒，难以置信的轻巧快速");
    EXPECT_EQ(window->lblUrl1->text(), "立即访问官网来检查更新");
    EXPECT_EQ(window->Label12->text(), "反馈建议和问题");
}

TEST_F(WelcomePageTest, BannerScanIconAndTexts) {
    const QPixmap banner = window->Image3->pixmap();
    EXPECT_EQ(banner.size(), QSize(737, 89));
    EXPECT_EQ(window->Image3->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(window->Image2->pixmap().isNull());
    EXPECT_EQ(window->Image2->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(window->Label6->text(), "立即扫描");
    EXPECT_EQ(window->Label11->text(), "帮您一键找出问题。\n\n从此找问题、解决问题都由我来完成。");
    EXPECT_TRUE(window->Label11->font().bold());
    // Only the icon starts a scan; its text does not react.
    Click(window->Label6);
    EXPECT_EQ(window->PageControl1->currentIndex(), 0);
    window->show();
    EXPECT_EQ(window->Image3->geometry().top(), 0);
    EXPECT_LT(window->Image3->geometry().bottom(), window->PageControl1->geometry().top());
}

} // namespace
} // namespace corvane
