#include "gui/app/UnitDetails.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/edit/ShownWords.h"
#include "gui/ui/WindowKit.h"

namespace corvane {

namespace {

QLabel* Named(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QTreeWidget* Table(const char* name, const QStringList& headers, QWidget* parent) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(name);
    tree->setRootIsDecorated(false);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setHeaderLabels(headers);
    return tree;
}

} // namespace

TfrmDetails::TfrmDetails(const QString& name, const QString& description,
                         const std::vector<MatchedCondition>& matched,
                         const std::vector<PreviewAction>& changes, bool done, QWidget* owner)
    : QDialog(owner) {
    setObjectName("frmDetails");
    setWindowTitle("查看详情");
    resize(720, 460);
    lblName = Named("lblName", name, this);
    QFont bold = lblName->font();
    bold.setBold(true);
    lblName->setFont(bold);
    lblDescription = Named("lblDescription", description, this);
    lblDescription->setWordWrap(true);
    lblMatched = Named("lblMatched", "发现原因：", this);
    tvMatched = Table("tvMatched", {"条件", "对象", "观察到"}, this);
    for (const MatchedCondition& condition : matched)
        new QTreeWidgetItem(tvMatched, {ui::ToQ(ShownCondition(condition.condition)),
                                        ui::ToQ(condition.target), ui::ToQ(condition.observed)});
    tvMatched->setColumnWidth(0, 110);
    tvMatched->setColumnWidth(1, 420);
    lblPreview = Named("lblPreview", done ? "修复所做的更改：" : "修复将做的更改：", this);
    tvPreview = Table("tvPreview", {"操作", "对象", done ? "之前" : "现在", "之后"}, this);
    for (const PreviewAction& action : changes)
        new QTreeWidgetItem(tvPreview, {ui::ToQ(ShownAction(action.action)), ui::ToQ(action.target),
                                        ui::ToQ(ShownState(action.before)),
                                        ui::ToQ(ShownState(action.after))});
    tvPreview->setColumnWidth(0, 90);
    tvPreview->setColumnWidth(1, 340);
    tvPreview->setColumnWidth(2, 120);
    bntClose = new QPushButton("关闭", this);
    bntClose->setObjectName("bntClose");
    connect(bntClose, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bntClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblName);
    layout->addWidget(lblDescription);
    layout->addWidget(lblMatched);
    layout->addWidget(tvMatched);
    layout->addWidget(lblPreview);
    layout->addWidget(tvPreview);
    layout->addLayout(buttons);
}

} // namespace corvane
