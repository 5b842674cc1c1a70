#include "app/Unitmain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/unitGlobal.h"
#include "platform/Platform.h"
#include "platform/wine/WinePlatform.h"
#include "store/RuleLibrary.h"
#include "ui/MessageBox.h"

namespace corvane {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The banner across the top of the window.
QPixmap BannerPixmap() {
    QPixmap pixmap(737, 89);
    QPainter painter(&pixmap);
    QLinearGradient gradient(0, 0, 737, 89);
    gradient.setColorAt(0, QColor(0x1f, 0x5f, 0xa8));
    gradient.setColorAt(1, QColor(0x4f, 0xa3, 0xe0));
    painter.fillRect(pixmap.rect(), gradient);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(24, 0, 700, 89), Qt::AlignVCenter | Qt::AlignLeft, "Corvane");
    return pixmap;
}

QLabel* NamedLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

Tfrmmain::Tfrmmain(const QString& appDir, QWidget* parent) : QMainWindow(parent), appDir_(appDir) {
    if (appDir_.isEmpty()) appDir_ = QCoreApplication::applicationDirPath();
    if (!appDir_.endsWith('/')) appDir_ += '/';
    buildWindow();
    ui::Guarded([this] { FormCreate(); });
}

void Tfrmmain::buildWindow() {
    setObjectName("frmmain");
    // Fixed size, minimise and close only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(734, 525);
    QFont::insertSubstitutions(
        "宋体", {"SimSun", "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    QFont font("宋体");
    font.setPixelSize(12);
    setFont(font);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Image3 = NamedLabel("Image3", QString(), central);
    Image3->setFixedHeight(89);
    Image3->setPixmap(BannerPixmap());
    column->addWidget(Image3);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, "欢迎");
    PageControl1->addTab(TabSheet2, "自动修复");
    PageControl1->setCurrentIndex(0);
    column->addWidget(PageControl1, 1);

    // The welcome page: the upper frame holds the dates, the lower the links.
    auto* welcome = new QVBoxLayout(TabSheet1);
    GroupBox1 = new QGroupBox(TabSheet1);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox2 = new QGroupBox(TabSheet1);
    GroupBox2->setObjectName("GroupBox2");
    welcome->addWidget(GroupBox1, 3);
    welcome->addWidget(GroupBox2, 2);
    auto* dates = new QGridLayout(GroupBox1);
    lblPreScanTime = NamedLabel("lblPreScanTime", "您上次扫描的时间是:", GroupBox1);
    Label4 = NamedLabel("Label4", QString(), GroupBox1);
    Label3 = NamedLabel("Label3", "您上次修复的时间是:", GroupBox1);
    Label5 = NamedLabel("Label5", QString(), GroupBox1);
    for (QLabel* bold : {Label4, Label5}) {
        QFont f = bold->font();
        f.setBold(true);
        bold->setFont(f);
    }
    dates->addWidget(lblPreScanTime, 0, 0);
    dates->addWidget(Label4, 0, 1);
    dates->addWidget(Label3, 1, 0);
    dates->addWidget(Label5, 1, 1);
    dates->setColumnStretch(2, 1);
    dates->setRowStretch(2, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {200, 50, 0};
    const char* texts[] = {"当前加载库数量:", "作者:", ""};
    for (int i = 0; i < 3; ++i) {
        panels_[i] = NamedLabel(QString("StatusBar1Panel%1").arg(i), texts[i], StatusBar1);
        if (widths[i]) panels_[i]->setFixedWidth(widths[i]);
        StatusBar1->addWidget(panels_[i], widths[i] ? 0 : 1);
    }
    setStatusBar(StatusBar1);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString Tfrmmain::statusPanelText(int panel) const {
    return panel >= 0 && panel < 3 ? panels_[panel]->text() : QString();
}

void Tfrmmain::setStatusPanelText(int panel, const QString& text) {
    panels_[panel]->setText(text);
}

void Tfrmmain::showMachine() {
    // Which prefix Corvane looks at, and whether it is there.
    auto* wine = dynamic_cast<wine::WinePlatform*>(&ActivePlatform());
    if (!wine) return;
    const QString folder = QString::fromStdString(wine->prefix().string());
    setStatusPanelText(2, wine->prefixExists() ? "Wine 前缀: " + folder
                                               : "Wine 前缀不存在: " + folder);
}

void Tfrmmain::FormCreate() {
    showMachine();
    InitGlobalContext(appDir_.toStdString());
    LoadOemInfo();
    ShowLastDates();
    const GlobalContext& g = Global();
    if (!QFileInfo(Q(g.DbFile)).isFile()) {
        ui::Prompt("数据库不存在,请更新数据库！");
        CreateRuleDatabase();
        closeRequested_ = true;
        return;
    }
    if (CountRules([this](const std::string& text) { setStatusPanelText(0, Q(text)); }) == 1) {
        ui::Prompt("数据库载入异常,请更新数据库!");
        closeRequested_ = true;
    }
    EnableDebugPrivilege();
}

void Tfrmmain::LoadOemInfo() {
    const OemInfo oem = ReadOemInfo();
    GlobalContext& g = Global();
    g.SoftName = oem.softName;
    g.AuthorName = oem.authorName;
    setWindowTitle(Q(g.SoftName));
    setStatusPanelText(1, Q(g.AuthorName));
    QGuiApplication::setApplicationDisplayName(Q(g.SoftName));
}

void Tfrmmain::ShowLastDates() {
    const LastDates dates = ReadLastDates();
    Label4->setText(Q(dates.scan));
    Label5->setText(Q(dates.fix));
}

} // namespace corvane
