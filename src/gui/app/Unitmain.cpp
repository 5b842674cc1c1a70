#include "gui/app/Unitmain.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/platform/Platform.h"
#include "core/run/Journal.h"
#include "core/run/Links.h"
#include "core/run/Machine.h"
#include "core/run/Preview.h"
#include "core/run/ProgramFiles.h"
#include "core/run/RepairDone.h"
#include "core/run/ScanRepair.h"
#include "core/run/StopWine.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/UnitDetails.h"
#include "gui/app/UnitHistory.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/UnitOS.h"
#include "gui/editor/UnitView.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/ShellOpen.h"
#include "gui/ui/UnitDownLoad.h"
#include "gui/ui/WindowKit.h"

// The artwork is compiled into the window library; a static library registers it here.
static void LoadArtwork() {
    Q_INIT_RESOURCE(art);
}

namespace corvane {

namespace {

QLabel* NamedLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

// Draws each row of the result list in the colour its texts call for.
class RowColourDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto* tree = qobject_cast<const QTreeWidget*>(parent());
        const QTreeWidgetItem* item = tree ? tree->topLevelItem(index.row()) : nullptr;
        if (!item) return;
        const QColor colour = Tfrmmain::ListView1CustomDrawItem(*item);
        option->palette.setColor(QPalette::Text, colour);
        option->palette.setColor(QPalette::HighlightedText, colour);
    }
};

} // namespace

Tfrmmain::Tfrmmain(const QString& appDir, QWidget* parent) : QMainWindow(parent), appDir_(appDir) {
    LoadArtwork();
    if (appDir_.isEmpty()) appDir_ = QCoreApplication::applicationDirPath();
    if (!appDir_.endsWith('/')) appDir_ += '/';
    folders_ = DecideProgramFolders(appDir_.toStdString());
    buildWindow();
    ui::Guarded([this] { FormCreate(); });
    if (!closeRequested_ && QSystemTrayIcon::isSystemTrayAvailable()) TrayIcon->show();
}

void Tfrmmain::buildWindow() {
    setObjectName("frmmain");
    // Fixed size, minimise and close only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(734, 525);
    ui::UseWindowFont(this);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Image3 = NamedLabel("Image3", QString(), central);
    Image3->setFixedHeight(89);
    Image3->setPixmap(QPixmap(":/art/banner.png"));
    Image3->setCursor(Qt::PointingHandCursor);
    Image3->installEventFilter(this);
    clickHandlers_.insert(Image3, &Tfrmmain::Image3Click);
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
    buildWelcomePage();
    setCentralWidget(central);
    buildRepairTab();

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
    panels_[3] = NamedLabel("StatusBar1Panel3", QString(), StatusBar1);
    StatusBar1->addPermanentWidget(panels_[3]);
    panels_[3]->hide();
    setStatusBar(StatusBar1);
    panels_[2]->setCursor(Qt::PointingHandCursor);
    panels_[2]->setToolTip("点击选择 Wine 前缀");
    panels_[2]->installEventFilter(this);
    clickHandlers_.insert(panels_[2], &Tfrmmain::StatusBar1Panel2Click);
    PrefixMenu = new QMenu(this);
    PrefixMenu->setObjectName("PrefixMenu");

    TrayIcon = new QSystemTrayIcon(QIcon(":/art/scan.png"), this);
    TrayIcon->setObjectName("TrayIcon");
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ui::Guarded([this] { TrayIconClick(); });
            });
    TrayMenu = new QMenu(this);
    TrayMenu->setObjectName("TrayMenu");
    trayShow = TrayMenu->addAction("显示主窗口");
    trayShow->setObjectName("trayShow");
    trayScan = TrayMenu->addAction("开始扫描");
    trayScan->setObjectName("trayScan");
    TrayMenu->addSeparator();
    trayQuit = TrayMenu->addAction("退出");
    trayQuit->setObjectName("trayQuit");
    ui::Wire(trayShow, &QAction::triggered, this, &Tfrmmain::TrayIconClick);
    ui::Wire(trayScan, &QAction::triggered, this, &Tfrmmain::trayScanClick);
    connect(trayQuit, &QAction::triggered, this, [this] {
        close();
        QCoreApplication::quit();
    });
    TrayIcon->setContextMenu(TrayMenu);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tfrmmain::buildWelcomePage() {
    // Two frames: the dates, the scan icon and the maker's links above, the promotions
    // below.
    auto* welcome = new QVBoxLayout(TabSheet1);
    GroupBox1 = new QGroupBox(TabSheet1);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox2 = new QGroupBox(TabSheet1);
    GroupBox2->setObjectName("GroupBox2");
    welcome->addWidget(GroupBox1, 3);
    welcome->addWidget(GroupBox2, 2);

    auto* upper = new QVBoxLayout(GroupBox1);
    upper->setContentsMargins(16, 12, 16, 12);
    auto* dates = new QGridLayout;
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
    upper->addLayout(dates);
    upper->addStretch(1);

    // The scan icon with its text beside it; only the icon reacts to clicks.
    auto* scan = new QHBoxLayout;
    Image2 = NamedLabel("Image2", QString(), GroupBox1);
    Image2->setPixmap(QPixmap(":/art/scan.png"));
    Image2->setToolTip("立即扫描");
    Image2->setCursor(Qt::PointingHandCursor);
    Image2->installEventFilter(this);
    clickHandlers_.insert(Image2, &Tfrmmain::Image2Click);
    Label6 = NamedLabel("Label6", "立即扫描", GroupBox1);
    Label11 = NamedLabel("Label11", "帮您一键找出问题。\n\n从此找问题、解决问题都由我来完成。",
                         GroupBox1);
    QFont bold = Label11->font();
    bold.setBold(true);
    Label11->setFont(bold);
    scan->addWidget(Image2);
    scan->addWidget(Label6);
    scan->addSpacing(48);
    scan->addWidget(Label11);
    scan->addStretch(1);
    upper->addLayout(scan);
    upper->addStretch(1);

    auto* maker = new QHBoxLayout;
    lblUrl1 = linkLabel("lblUrl1", QColor(0, 128, 0), GroupBox1);
    Label12 = linkLabel("Label12", QColor(0, 128, 0), GroupBox1);
    maker->addWidget(lblUrl1);
    maker->addSpacing(32);
    maker->addWidget(Label12);
    maker->addStretch(1);
    upper->addLayout(maker);

    auto* promotions = new QVBoxLayout(GroupBox2);
    promotions->setContentsMargins(16, 10, 16, 10);
    Label7 = linkLabel("Label7", QColor(0, 0, 255), GroupBox2);
    Label8 = linkLabel("Label8", QColor(0, 0, 255), GroupBox2);
    Label9 = linkLabel("Label9", QColor(0, 0, 255), GroupBox2);
    Label10 = linkLabel("Label10", QColor(255, 0, 0), GroupBox2);
    Label13 = linkLabel("Label13", QColor(0, 0, 255), GroupBox2);
    for (QLabel* line : {Label7, Label8, Label9, Label10, Label13})
        promotions->addWidget(line, 0, Qt::AlignLeft);
    promotions->addStretch(1);

    clickHandlers_.insert(lblUrl1, &Tfrmmain::lblUrl1Click);
    clickHandlers_.insert(Label12, &Tfrmmain::Label12Click);
    clickHandlers_.insert(Label7, &Tfrmmain::Label7Click);
    clickHandlers_.insert(Label8, &Tfrmmain::Label8Click);
    clickHandlers_.insert(Label9, &Tfrmmain::Label9Click);
    clickHandlers_.insert(Label10, &Tfrmmain::Label10Click);
    clickHandlers_.insert(Label13, &Tfrmmain::Label13Click);
}

// A text link: its text and hint from the link table, in `colour`, underlined, with
// the hand cursor.
QLabel* Tfrmmain::linkLabel(const char* element, const QColor& colour, QWidget* parent) {
    const Link& link = LinkOf(element);
    QLabel* label = NamedLabel(element, ui::ToQ(std::string(link.text)), parent);
    label->setToolTip(ui::ToQ(std::string(link.hint)));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
    return label;
}

void Tfrmmain::buildRepairTab() {
    Label2 = NamedLabel("Label2", "软件会自动扫描各种设置，第一时间发现非法设置。", TabSheet2);
    Label2->move(12, 12);
    bntScan = new QPushButton("开始扫描", TabSheet2);
    bntScan->setObjectName("bntScan");
    bntScan->setGeometry(630, 6, 80, 26);
    ui::Wire(bntScan, &QPushButton::clicked, this, &Tfrmmain::bntScanClick);

    ListView1 = new QTreeWidget(TabSheet2);
    ListView1->setObjectName("ListView1");
    ListView1->setGeometry(6, 38, 714, 300);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setHeaderLabels({"编号", "项目名", "描述", "等级", "结果"});
    const int widths[] = {50, 240, 260, 50, 80};
    for (int i = 0; i < 5; ++i)
        ListView1->setColumnWidth(i, widths[i]);
    // The selection stays visible when the list loses the focus.
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    ListView1->setPalette(palette);
    ListView1->setItemDelegate(new RowColourDelegate(ListView1));

    PopupMenu1 = new QMenu(ListView1);
    PopupMenu1->setObjectName("PopupMenu1");
    menuAlls = PopupMenu1->addAction("全选");
    menuAlls->setObjectName("menuAlls");
    menuAlln = PopupMenu1->addAction("全不选");
    menuAlln->setObjectName("menuAlln");
    menuAllf = PopupMenu1->addAction("反选");
    menuAllf->setObjectName("menuAllf");
    connect(menuAlls, &QAction::triggered, this, &Tfrmmain::menuAllsClick);
    connect(menuAlln, &QAction::triggered, this, &Tfrmmain::menuAllnClick);
    connect(menuAllf, &QAction::triggered, this, &Tfrmmain::menuAllfClick);
    PopupMenu1->addSeparator();
    menuUndo = PopupMenu1->addAction("撤销修复");
    menuUndo->setObjectName("menuUndo");
    menuHistory = PopupMenu1->addAction("修复历史");
    menuHistory->setObjectName("menuHistory");
    menuDetails = PopupMenu1->addAction("查看详情");
    menuDetails->setObjectName("menuDetails");
    ui::Wire(menuUndo, &QAction::triggered, this, &Tfrmmain::menuUndoClick);
    connect(menuHistory, &QAction::triggered, this, &Tfrmmain::menuHistoryClick);
    connect(menuDetails, &QAction::triggered, this, &Tfrmmain::menuDetailsClick);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The row under the cursor becomes the current one; unless it is among the
        // selected rows it becomes the only selected one, the rows the commands mean.
        if (QTreeWidgetItem* item = ListView1->itemAt(at)) {
            if (item->isSelected())
                ListView1->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
            else
                ListView1->setCurrentItem(
                    item, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        menuUndo->setEnabled(!undoRows().empty());
        menuDetails->setEnabled(ListView1->currentItem() != nullptr);
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
    });

    lblNothingFound = NamedLabel("lblNothingFound", "未发现问题", ListView1->viewport());
    lblNothingFound->setAlignment(Qt::AlignCenter);
    lblNothingFound->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblNothingFound->hide();

    // The progress panel, over the middle of the list, shown only while a scan runs.
    Panel1 = new QFrame(TabSheet2);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setAutoFillBackground(true);
    Panel1->setGeometry(6 + (714 - 385) / 2, 38 + (300 - 105) / 2, 385, 105);
    Label1 = NamedLabel("Label1", "准备就绪", Panel1);
    Label1->setGeometry(16, 20, 353, 20);
    ProgressBar1 = new QProgressBar(Panel1);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(16, 56, 353, 20);
    ProgressBar1->setTextVisible(false);
    Panel1->hide();

    bntClear = new QPushButton("清理选定", TabSheet2);
    bntClear->setObjectName("bntClear");
    bntClear->setGeometry(630, 346, 80, 26);
    ui::Wire(bntClear, &QPushButton::clicked, this, &Tfrmmain::bntClearClick);
    // The editor's buttons are created invisible; nothing shows them.
    bntAdd = new QPushButton("规则管理", TabSheet2);
    bntAdd->setObjectName("bntAdd");
    bntAdd->setGeometry(6, 346, 80, 26);
    bntAdd->hide();
    ui::Wire(bntAdd, &QPushButton::clicked, this, &Tfrmmain::bntAddClick);
    Button1 = new QPushButton("操作系统管理", TabSheet2);
    Button1->setObjectName("Button1");
    Button1->setGeometry(92, 346, 100, 26);
    Button1->hide();
    ui::Wire(Button1, &QPushButton::clicked, this, &Tfrmmain::Button1Click);
}

QColor Tfrmmain::ListView1CustomDrawItem(const QTreeWidgetItem& item) {
    if (item.text(4) == "修复成功") return QColor(0, 0, 0);
    // The level whose word the row shows.
    const int level = item.data(3, Qt::UserRole).toInt();
    if (level == 0) return QColor(0, 0, 255);
    if (level == 1) return QColor(0, 0, 0);
    return QColor(255, 0, 0);
}

bool Tfrmmain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (const auto handler = clickHandlers_.value(watched)) {
            ui::Guarded([this, handler] { (this->*handler)(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tfrmmain::repaintNow() {
    // The window shows each row's progress but takes no input until the work ends.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Tfrmmain::bntScanClick() {
    ScanEvents events;
    events.datesChanged = [this] { ShowLastDates(); };
    events.started = [this](int rows) {
        forgetRows();
        setStatusPanelText(3, QString());
        ProgressBar1->setMinimum(0);
        ProgressBar1->setMaximum(rows);
        Label1->setText("准备扫描……");
        Panel1->show();
        Panel1->raise();
        repaintNow();
    };
    events.row = [this](int row, const std::string& name) {
        Label1->setText("正在扫描…" + ui::ToQ(name));
        ProgressBar1->setValue(row);
        repaintNow();
    };
    events.found = [this](const ScanFinding& finding) {
        auto* item = new QTreeWidgetItem(ListView1, {ui::ToQ(finding.id), ui::ToQ(finding.name),
                                                     ui::ToQ(finding.description),
                                                     ui::ToQ(finding.levelName), "未修复"});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        // The whole texts, which the columns may cut.
        item->setToolTip(1, ui::ToQ(finding.name));
        item->setToolTip(2, ui::ToQ(finding.description));
        // The ID and the level of the shown word travel with the row.
        item->setData(0, Qt::UserRole, ui::ToQ(finding.id));
        const auto word = std::find(kLevelWords.begin(), kLevelWords.end(), finding.levelName);
        item->setData(3, Qt::UserRole, static_cast<int>(word - kLevelWords.begin()));
        matched_[ui::ToQ(finding.id)] = finding.matched;
    };
    events.finished = [this] {
        Label1->setText("扫描完成！");
        Panel1->hide();
        lblNothingFound->setGeometry(ListView1->viewport()->rect());
        lblNothingFound->setVisible(ListView1->topLevelItemCount() == 0);
    };
    events.groupsRead = [](const std::string& text) { Global().WinOSText = text; };
    showMachine(); // says whether Wine holds newer registry contents than the files
    // No prefix, or a registry file that cannot be read, would look like a clean one.
    if (const std::string error = ActivePlatform().machineError(); !error.empty()) {
        ListView1->clear();
        matched_.clear();
        repairedIn_.clear();
        ui::Prompt("扫描无法进行：\n" + ui::ToQ(error));
        return;
    }
    RunScan(Global().Inputs(), events);
}

void Tfrmmain::bntClearClick() {
    showMachine();
    // Nothing is asked nor touched while the registry cannot be written, unless the
    // user has Wine ended, which is the go-ahead for the repair too.
    bool asked = false;
    if (const std::string refusal = RepairRefusal(); !refusal.empty()) {
        if (!stoppedWineAfterRefusal(refusal)) return;
        asked = true;
    }
    // No prefix, or a registry file that cannot be read: nothing could be judged.
    if (const std::string error = ActivePlatform().machineError(); !error.empty()) {
        ui::Prompt("修复无法进行：\n" + ui::ToQ(error));
        return;
    }
    if (!asked &&
        ui::Prompt("是否确定要修复选定的项目？", ui::MsgButtons::YesNo) == ui::MsgAnswer::No)
        return;
    std::vector<RepairRow> rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked)
            rows.push_back({static_cast<std::size_t>(i),
                            item->data(0, Qt::UserRole).toString().toStdString()});
    }
    RepairEvents events;
    int run = 0, repairedCount = 0, failedCount = 0;
    events.journaled = [&run](int journalRun) { run = journalRun; };
    events.warn = [](const std::string& text) { ui::Prompt(ui::ToQ(text)); };
    events.warnWaits = true;
    events.repaired = [&](std::size_t index, bool repaired) {
        QTreeWidgetItem* item = ListView1->topLevelItem(static_cast<int>(index));
        item->setText(4, repaired ? "修复成功" : "修复失败");
        repairedIn_.insert(item->data(0, Qt::UserRole).toString(), run);
        ++(repaired ? repairedCount : failedCount);
        repaintNow();
    };
    events.datesChanged = [this] { ShowLastDates(); };
    // Every reason of a failed item in one box after the run.
    QString reasons;
    events.failed = [this, &reasons](std::size_t index, const std::string& reason) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(static_cast<int>(index));
        reasons += item->text(1) + "：\n" + ui::ToQ(reason) + "\n";
    };
    RunRepair(Global().Inputs(), rows, events);
    setStatusPanelText(
        3, QString("修复成功 %1 项，修复失败 %2 项").arg(repairedCount).arg(failedCount));
    if (!reasons.isEmpty()) ui::Prompt(reasons.trimmed());
}

bool Tfrmmain::stoppedWineAfterRefusal(const std::string& refusal) {
    if (RegistryStaleNote().empty()) { // not Wine: nothing to end here
        ui::Prompt(ui::ToQ(refusal));
        return false;
    }
    if (ui::Prompt(ui::ToQ(refusal), ui::MsgButtons::OkStopWine) != ui::MsgAnswer::Yes)
        return false;
    if (ui::Prompt("结束 Wine 会关闭该前缀中运行的所有程序，其中未保存的工作将会丢失。\n"
                   "是否确定要结束 Wine 并修复选定的项目？",
                   ui::MsgButtons::YesNo) == ui::MsgAnswer::No)
        return false;
    const std::string error = StopWine(ActivePlatform().machinePlace().path);
    showMachine();
    if (const std::string still = RepairRefusal(); !still.empty()) {
        ui::Prompt((error.empty() ? QString() : ui::ToQ(error) + "\n") + ui::ToQ(still));
        return false;
    }
    return true;
}

std::vector<QTreeWidgetItem*> Tfrmmain::undoRows() const {
    std::vector<QTreeWidgetItem*> rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView1->topLevelItem(i);
        if (item->isSelected() && item->text(4) != "已撤销" &&
            repairedIn_.contains(item->data(0, Qt::UserRole).toString()))
            rows.push_back(item);
    }
    return rows;
}

void Tfrmmain::menuUndoClick() {
    const std::vector<QTreeWidgetItem*> rows = undoRows();
    if (rows.empty()) return;
    showMachine();
    if (const std::string refusal = RepairRefusal(); !refusal.empty()) {
        ui::Prompt(ui::ToQ(refusal));
        return;
    }
    if (ui::Prompt(QString("是否确定要撤销选定的 %1 个项目的修复？").arg(rows.size()),
                   ui::MsgButtons::YesNo) == ui::MsgAnswer::No)
        return;
    // The rows, by the run that repaired them, each run undone on its own.
    std::map<int, std::vector<std::string>> runs;
    for (const QTreeWidgetItem* item : rows) {
        const QString id = item->data(0, Qt::UserRole).toString();
        runs[repairedIn_.value(id)].push_back(id.toStdString());
    }
    Journal journal(Global().Inputs().journalRoot, ActivePlatform().machinePlace().path);
    QString reasons;
    for (const auto& [run, ids] : runs) {
        const auto outcomes = journal.undo(run, ids, false);
        if (!outcomes) {
            reasons += "修复历史中已没有这次修复。\n";
            continue;
        }
        for (const UndoOutcome& outcome : *outcomes)
            if (!outcome.undone)
                reasons += ui::ToQ(outcome.name) + "：\n" + ui::ToQ(outcome.reason) + "\n";
    }
    followJournal();
    if (!reasons.isEmpty()) ui::Prompt(reasons.trimmed());
}

void Tfrmmain::followJournal() {
    if (repairedIn_.isEmpty()) return;
    const Journal journal(Global().Inputs().journalRoot, ActivePlatform().machinePlace().path);
    for (const JournalRun& run : journal.history())
        for (const JournalItem& done : run.items) {
            if (!done.undone) continue;
            const QString id = ui::ToQ(done.id);
            if (repairedIn_.value(id) != run.run) continue;
            for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
                if (QTreeWidgetItem* item = ListView1->topLevelItem(i);
                    item->data(0, Qt::UserRole).toString() == id)
                    item->setText(4, "已撤销");
        }
}

void Tfrmmain::forgetRows() {
    ListView1->clear();
    matched_.clear();
    repairedIn_.clear();
    lblNothingFound->hide();
}

void Tfrmmain::menuHistoryClick() {
    {
        TfrmHistory window(this);
        window.exec();
    }
    // What was undone there shows in the list.
    followJournal();
    showMachine();
}

void Tfrmmain::menuDetailsClick() {
    const QTreeWidgetItem* row = ListView1->currentItem();
    if (!row) return;
    const QString id = row->data(0, Qt::UserRole).toString();
    // A row repaired and not undone shows what its repair did, from the journal.
    std::optional<std::vector<PreviewAction>> done;
    if (row->text(4) != "已撤销" && repairedIn_.contains(id)) {
        const Journal journal(Global().Inputs().journalRoot, ActivePlatform().machinePlace().path);
        done = RepairDone(journal, repairedIn_.value(id), id.toStdString());
    }
    std::vector<PreviewAction> preview;
    if (!done) {
        std::string repairXml;
        auto db = OpenRuleLibrary(Global().Library());
        const auto item =
            db->Query(RuleSql::SelectRuleForRepair(Global().Library().table, id.toStdString()));
        if (item->RowTotal() > 0) repairXml = RuleText(*item, "RepairXML");
        db.reset();
        preview = PreviewRepair(repairXml, Global().AppDir);
    }
    const auto found = matched_.find(id);
    TfrmDetails window(row->text(1), row->text(2),
                       found == matched_.end() ? std::vector<MatchedCondition>() : found->second,
                       done ? *done : preview, done.has_value(), this);
    window.exec();
}

void Tfrmmain::Image2Click() {
    PageControl1->setCurrentIndex(1);
    bntScanClick();
}

void Tfrmmain::bntAddClick() {
    // A fresh rule library window for each opening, gone when it closes.
    TfrmView window(this);
    window.exec();
}

void Tfrmmain::Button1Click() {
    // A fresh settings window for each opening, gone when it closes.
    TfrmOS window(this);
    window.exec();
}

void Tfrmmain::menuAllsClick() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void Tfrmmain::menuAllnClick() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
}

void Tfrmmain::menuAllfClick() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView1->topLevelItem(i);
        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void Tfrmmain::openLink(const char* element) {
    // Whether the desktop could open it is not reported.
    ui::ShellOpen(ui::ToQ(std::string(LinkOf(element).address)));
}

void Tfrmmain::Image3Click() {
    openLink("Image3");
}

void Tfrmmain::lblUrl1Click() {
    openLink("lblUrl1");
}

void Tfrmmain::Label12Click() {
    openLink("Label12");
}

void Tfrmmain::Label9Click() {
    openLink("Label9");
}

void Tfrmmain::Label10Click() {
    openLink("Label10");
}

void Tfrmmain::Label13Click() {
    openLink("Label13");
}

void Tfrmmain::Label7Click() {
    const Link& link = LinkOf("Label7");
    StartDownLoadSetup(ui::ToQ(std::string(link.address)), ui::ToQ(std::string(link.fileName)));
}

void Tfrmmain::Label8Click() {
    const Link& link = LinkOf("Label8");
    StartDownLoadSetup(ui::ToQ(std::string(link.address)), ui::ToQ(std::string(link.fileName)));
}

void Tfrmmain::StartDownLoadSetup(const QString& url, const QString& fileName) {
    try {
        QPointer<TfrmDownLoad> window = new TfrmDownLoad(this);
        const QString folder = ui::ToQ(Global().DownloadDir);
        // A folder that cannot be made shows up as a file that cannot be written.
        QDir().mkpath(folder);
        window->move(geometry().center() - window->rect().center());
        window->show();
        window->DownLoadFile(url, folder + fileName);
        if (!window) return;
        // A window left open after a failure is freed when the user closes it.
        if (window->isVisible())
            window->setAttribute(Qt::WA_DeleteOnClose);
        else
            window->deleteLater();
    } catch (...) {
        // Preparing the download has no visible effect when it fails.
    }
}

QString Tfrmmain::statusPanelText(int panel) const {
    return panel >= 0 && panel < 4 ? panels_[panel]->text() : QString();
}

void Tfrmmain::setStatusPanelText(int panel, const QString& text) {
    panels_[panel]->setText(text);
    if (panel == 3) panels_[3]->setVisible(!text.isEmpty());
}

void Tfrmmain::showMachine() {
    // Which prefix Corvane looks at, and whether it is there.
    const MachinePlace place = ActivePlatform().machinePlace();
    if (place.path.empty()) return;
    const QString folder = ui::ToQ(place.path);
    QString text = place.exists ? "Wine 前缀: " + folder : "Wine 前缀不存在: " + folder;
    QString whole = text;
    // The panel says that Wine runs; its tip says what that means.
    if (const std::string note = RegistryStaleNote(); !note.empty()) {
        text += "（Wine 正在运行）";
        whole += "（" + ui::ToQ(note) + "）";
    }
    setStatusPanelText(2, text);
    panels_[2]->setToolTip(whole + "\n点击选择 Wine 前缀");
    TrayIcon->setToolTip(windowTitle() + "\n" + whole);
}

void Tfrmmain::lookAt(const std::string& prefix) {
    chosenScope_.reset();
    chosenPlatform_ = MakePlatformFor(prefix);
    chosenScope_.emplace(*chosenPlatform_);
}

void Tfrmmain::setMaintenance(bool on) {
    bntAdd->setVisible(on);
    Button1->setVisible(on);
}

void Tfrmmain::StatusBar1Panel2Click() {
    PrefixMenu->clear();
    const QString current =
        QFileInfo(ui::ToQ(ActivePlatform().machinePlace().path)).canonicalFilePath();
    auto* group = new QActionGroup(PrefixMenu);
    for (const MachineChoice& machine : FindMachines()) {
        const QString path = ui::ToQ(machine.path);
        QAction* action = PrefixMenu->addAction(ui::ToQ(machine.label));
        action->setToolTip(path);
        action->setCheckable(true);
        action->setChecked(!current.isEmpty() && QFileInfo(path).canonicalFilePath() == current);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, path] { ui::Guarded([this, path] { choosePrefix(path); }); });
    }
    if (PrefixMenu->isEmpty()) PrefixMenu->addAction("未找到 Wine 前缀")->setEnabled(false);
    PrefixMenu->popup(panels_[2]->mapToGlobal(QPoint(0, -PrefixMenu->sizeHint().height())));
}

void Tfrmmain::choosePrefix(const QString& path) {
    const std::string prefix = path.toStdString();
    if (!MachineExists(prefix)) {
        ui::Prompt("Wine 前缀已不存在: " + path);
        return;
    }
    lookAt(prefix);
    forgetRows();
    // The release the rules are filtered by is the chosen prefix's.
    InitGlobalContext(folders_);
    showMachine();
    if (!RememberMachine(Global().Inputs().settingsFile, prefix))
        ui::Prompt("无法写入 " + ui::ToQ(Global().Inputs().settingsFile));
}

void Tfrmmain::TrayIconClick() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void Tfrmmain::trayScanClick() {
    TrayIconClick();
    PageControl1->setCurrentIndex(1);
    bntScanClick();
}

void Tfrmmain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ui::Guarded([this] { showMachine(); });
}

void Tfrmmain::FormCreate() {
    // An installed copy keeps the user's settings and library in the user's folders.
    if (const std::string error = PrepareUserFiles(folders_, true); !error.empty()) {
        ui::Prompt("无法准备用户文件: " + ui::ToQ(error));
        closeRequested_ = true;
        return;
    }
    // The prefix chosen last time, unless $WINEPREFIX names one.
    if (const std::string remembered = RememberedMachine(folders_.settingsFile);
        !remembered.empty()) {
        if (MachineExists(remembered))
            lookAt(remembered);
        else
            ui::Prompt("Wine 前缀已不存在: " + ui::ToQ(remembered));
    }
    showMachine();
    InitGlobalContext(folders_);
    LoadOemInfo();
    ShowLastDates();
    const GlobalContext& g = Global();
    if (!QFileInfo(ui::ToQ(g.DbFile)).isFile()) {
        ui::Prompt("数据库不存在,请更新数据库！");
        CreateRuleDatabase(g.Library());
        closeRequested_ = true;
        return;
    }
    if (CountRules(g.Library(), [this](const std::string& text) {
            setStatusPanelText(0, ui::ToQ(text));
        }) == 1) {
        ui::Prompt("数据库载入异常,请更新数据库!");
        closeRequested_ = true;
    }
    EnableDebugPrivilege();
}

void Tfrmmain::LoadOemInfo() {
    const OemInfo oem = ReadOemInfo(Global().AppDir);
    GlobalContext& g = Global();
    g.SoftName = oem.softName;
    g.AuthorName = oem.authorName;
    setWindowTitle(ui::ToQ(g.SoftName));
    setStatusPanelText(1, ui::ToQ(g.AuthorName));
    ui::SetApplicationTitle(ui::ToQ(g.SoftName));
    TrayIcon->setToolTip(ui::ToQ(g.SoftName));
    showMachine(); // the tray icon's tip names the prefix, too
}

void Tfrmmain::ShowLastDates() {
    const LastDates dates = ReadLastDates(Global().Inputs().settingsFile);
    Label4->setText(ui::ToQ(dates.scan));
    Label5->setText(ui::ToQ(dates.fix));
}

} // namespace corvane
