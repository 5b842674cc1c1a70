#include "gui/editor/UnitView.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>

#include "core/edit/DialogExchange.h"
#include "core/edit/RuleList.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/UnitAddEdit.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/WindowKit.h"

namespace corvane {

namespace {} // namespace

TfrmView::TfrmView(QWidget* parent) : QDialog(parent) {
    setWindowTitle("规则库管理");
    setSizeGripEnabled(true);
    resize(640, 420);

    Button1 = new QPushButton("新记录", this);
    Button1->setObjectName("Button1");
    Button2 = new QPushButton("刷新记录", this);
    Button2->setObjectName("Button2");
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({"编号", "项目名", "描述", "等级"});
    // The name column takes whatever width the others leave.
    QHeaderView* header = ListView1->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->resizeSection(0, 60);
    header->resizeSection(2, 270);
    header->resizeSection(3, 80);
    // The selection stays visible when the list loses focus.
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(palette);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    menuAdd = PopupMenu1->addAction("添加记录");
    menuAdd->setObjectName("menuAdd");
    menuEdit = PopupMenu1->addAction("编辑记录");
    menuEdit->setObjectName("menuEdit");
    menuDel = PopupMenu1->addAction("删除记录");
    menuDel->setObjectName("menuDel");
    PopupMenu1->addSeparator();
    menuUpdate = PopupMenu1->addAction("刷新记录");
    menuUpdate->setObjectName("menuUpdate");
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(ListView1, 1);

    ui::Wire(Button1, &QPushButton::clicked, this, &TfrmView::Button1Click);
    ui::Wire(Button2, &QPushButton::clicked, this, &TfrmView::Button2Click);
    ui::Wire(menuAdd, &QAction::triggered, this, &TfrmView::menuAddClick);
    ui::Wire(menuEdit, &QAction::triggered, this, &TfrmView::menuEditClick);
    ui::Wire(menuDel, &QAction::triggered, this, &TfrmView::menuDelClick);
    ui::Wire(menuUpdate, &QAction::triggered, this, &TfrmView::menuUpdateClick);
    ui::Wire(ListView1, &QTreeWidget::itemDoubleClicked, this, &TfrmView::ListView1DblClick);

    ui::Guarded([this] { FormCreate(); });
}

void TfrmView::FormCreate() {
    std::error_code error;
    if (std::filesystem::is_regular_file(Global().DbFile, error)) Button2Click();
}

void TfrmView::Button2Click() {
    // Read first: a failed read leaves the rows that were shown.
    const std::vector<RuleListRow> rows = ReadRuleList(Global().Library());
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    for (const RuleListRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            {ui::ToQ(row.Id), ui::ToQ(row.Name), ui::ToQ(row.Des), ui::ToQ(row.Level)});
        // The ID the commands act on travels with the row, whatever the column shows.
        item->setData(0, Qt::UserRole, ui::ToQ(row.Id));
        items << item;
    }
    ListView1->addTopLevelItems(items);
}

void TfrmView::menuUpdateClick() {
    Button2Click();
}

void TfrmView::openEditor() {
    // A fresh editor for each command, gone when it closes.
    TfrmAddEdit editor(this);
    editor.exec();
}

void TfrmView::Button1Click() {
    Global().EditMode = 0;
    ItemSaved = 0;
    openEditor();
    if (ItemSaved == 1) Button2Click();
}

void TfrmView::menuAddClick() {
    Button1Click();
}

QString TfrmView::selectedId() const {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->data(0, Qt::UserRole).toString();
}

void TfrmView::menuEditClick() {
    const QString id = selectedId();
    if (id.isEmpty()) return;
    Global().EditMode = 1;
    ItemSaved = 0;
    Global().EditItemId = id.toStdString();
    openEditor();
    if (ItemSaved == 1) Button2Click();
}

void TfrmView::ListView1DblClick() {
    const QString id = selectedId();
    if (id.isEmpty()) return;
    Global().EditMode = 1;
    Global().EditItemId = id.toStdString();
    openEditor();
    Button2Click();
}

void TfrmView::menuDelClick() {
    const QString id = selectedId();
    if (id.isEmpty()) return;
    if (ui::Prompt("是否确定要删除？", ui::MsgButtons::YesNo) != ui::MsgAnswer::Yes) return;
    // The list is reloaded whether or not the delete went through; a failure is
    // reported after that.
    std::exception_ptr failure;
    try {
        DeleteRuleItem(Global().Library(), id.toStdString());
    } catch (...) {
        failure = std::current_exception();
    }
    Button2Click();
    if (failure) std::rethrow_exception(failure);
}

} // namespace corvane
