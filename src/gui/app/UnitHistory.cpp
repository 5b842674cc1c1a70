#include "gui/app/UnitHistory.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/platform/Platform.h"
#include "core/run/Journal.h"
#include "core/run/Machine.h"
#include "gui/app/unitGlobal.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/WindowKit.h"

namespace corvane {

namespace {

Journal MachineJournal() {
    return Journal(Global().Inputs().journalRoot, ActivePlatform().machinePlace().path);
}

} // namespace

TfrmHistory::TfrmHistory(QWidget* owner) : QDialog(owner) {
    setObjectName("frmHistory");
    setWindowTitle("修复历史");
    resize(720, 420);
    tvRuns = new QTreeWidget(this);
    tvRuns->setObjectName("tvRuns");
    tvRuns->setHeaderLabels({"运行", "时间", "编号", "项目名", "结果", "已撤销"});
    tvRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const int widths[] = {70, 150, 60, 200, 90, 60};
    for (int i = 0; i < 6; ++i)
        tvRuns->setColumnWidth(i, widths[i]);
    bntUndo = new QPushButton("撤销", this);
    bntUndo->setObjectName("bntUndo");
    bntClose = new QPushButton("关闭", this);
    bntClose->setObjectName("bntClose");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bntUndo);
    buttons->addWidget(bntClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tvRuns);
    layout->addLayout(buttons);
    ui::Wire(bntUndo, &QPushButton::clicked, this, &TfrmHistory::bntUndoClick);
    connect(bntClose, &QPushButton::clicked, this, &QDialog::accept);
    reload();
}

void TfrmHistory::reload() {
    tvRuns->clear();
    for (const JournalRun& run : MachineJournal().history()) {
        auto* parent = new QTreeWidgetItem(tvRuns, {QString::number(run.run), ui::ToQ(run.time)});
        parent->setData(0, Qt::UserRole, run.run);
        for (const JournalItem& item : run.items) {
            auto* child = new QTreeWidgetItem(
                parent, {QString(), ui::ToQ(item.time), ui::ToQ(item.id), ui::ToQ(item.name),
                         ui::ToQ(item.problem.empty() ? item.result : "记录已损坏"),
                         item.undone ? "是" : "否"});
            if (!item.problem.empty()) child->setToolTip(4, ui::ToQ(item.problem));
            child->setData(0, Qt::UserRole, run.run);
            child->setData(2, Qt::UserRole, ui::ToQ(item.id));
        }
        parent->setExpanded(true);
    }
}

void TfrmHistory::bntUndoClick() {
    const QTreeWidgetItem* chosen = tvRuns->currentItem();
    if (!chosen) {
        ui::Prompt("请先选择要撤销的运行或项目。");
        return;
    }
    if (const std::string refusal = RepairRefusal(); !refusal.empty()) {
        ui::Prompt(ui::ToQ(refusal));
        return;
    }
    const int run = chosen->data(0, Qt::UserRole).toInt();
    std::vector<std::string> ids;
    if (chosen->parent()) ids.push_back(chosen->data(2, Qt::UserRole).toString().toStdString());
    const auto outcomes = MachineJournal().undo(run, ids, false);
    QString reasons;
    if (!outcomes)
        reasons = "第 " + QString::number(run) + " 次运行已不在修复历史中。";
    else
        for (const UndoOutcome& outcome : *outcomes)
            if (!outcome.undone)
                reasons += ui::ToQ(outcome.name) + "：\n" + ui::ToQ(outcome.reason) + "\n";
    reload();
    if (!reasons.isEmpty()) ui::Prompt(reasons.trimmed());
}

} // namespace corvane
