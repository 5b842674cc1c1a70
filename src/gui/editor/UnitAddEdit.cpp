#include "gui/editor/UnitAddEdit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/edit/DialogExchange.h"
#include "core/edit/RuleItemEdit.h"
#include "core/engine/RuleDocument.h"
#include "core/store/Exception.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/unitGlobal.h"
#include "gui/editor/HandOver.h"
#include "gui/editor/RuleDialog.h"
#include "gui/editor/UnitWinOS.h"
#include "gui/ui/MessageBox.h"

namespace corvane {

namespace {

// A row's cells: the caption, then columns 1 to 6.
std::string Cell(const QTreeWidgetItem* row, int column) {
    return ToStd(row->text(column));
}

QStringList Cells(const FileConditionRow& r) {
    return {ToQ(r.FilePath), ToQ(r.isFolder), ToQ(r.decide)};
}
QStringList Cells(const FileActionRow& r) {
    return {ToQ(r.FilePath), ToQ(r.FromPath), ToQ(r.decide)};
}
QStringList Cells(const RegConditionRow& r) {
    return {ToQ(r.root),         ToQ(r.KeyPath), ToQ(r.KeyValue), ToQ(r.KeyType),
            ToQ(r.compareValue), ToQ(r.decide),  ToQ(r.PathAbs)};
}
QStringList Cells(const RegActionRow& r) {
    return {ToQ(r.root),         ToQ(r.KeyPath), ToQ(r.KeyValue), ToQ(r.KeyType),
            ToQ(r.ValueContent), ToQ(r.decide),  ToQ(r.PathAbs)};
}

FileConditionRow FileConditionAt(const QTreeWidgetItem* i) {
    return {Cell(i, 0), Cell(i, 1), Cell(i, 2)};
}
FileActionRow FileActionAt(const QTreeWidgetItem* i) {
    return {Cell(i, 0), Cell(i, 1), Cell(i, 2)};
}
RegConditionRow RegConditionAt(const QTreeWidgetItem* i) {
    return {Cell(i, 0), Cell(i, 1), Cell(i, 2), Cell(i, 3), Cell(i, 4), Cell(i, 5), Cell(i, 6)};
}
// A registry action's `create` and `list` have no column: the row keeps them.
constexpr int kCreateRole = Qt::UserRole, kListRole = Qt::UserRole + 1;

RegActionRow RegActionAt(const QTreeWidgetItem* i) {
    return {Cell(i, 0),
            Cell(i, 1),
            Cell(i, 2),
            Cell(i, 3),
            Cell(i, 4),
            Cell(i, 5),
            Cell(i, 6),
            ToStd(i->data(0, kCreateRole).toString()),
            ToStd(i->data(0, kListRole).toString())};
}

template <class Row> void KeepHidden(QTreeWidgetItem*, const Row&) {}
void KeepHidden(QTreeWidgetItem* item, const RegActionRow& row) {
    item->setData(0, kCreateRole, ToQ(row.create));
    item->setData(0, kListRole, ToQ(row.list));
}

template <class Row> void Append(QTreeWidget* list, const Row& row) {
    KeepHidden(new QTreeWidgetItem(list, Cells(row)), row);
}
template <class Row> void Overwrite(QTreeWidgetItem* item, const Row& row) {
    const QStringList cells = Cells(row);
    for (int c = 0; c < cells.size(); ++c)
        item->setText(c, cells[c]);
    KeepHidden(item, row);
}

template <class Row, class At> std::vector<Row> RowsOf(const QTreeWidget* list, At at) {
    std::vector<Row> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.push_back(at(list->topLevelItem(i)));
    return rows;
}

// The selected row of a list, if any.
QTreeWidgetItem* Selected(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> rows = list->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

QTreeWidget* MakeList(QWidget* parent, const char* name,
                      std::initializer_list<std::pair<const char*, int>> columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setAllColumnsShowFocus(true);
    // Grid lines between the cells.
    list->setStyleSheet("QTreeView::item { border-right: 1px solid #d0d0d0; "
                        "border-bottom: 1px solid #d0d0d0; }");
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QStringList captions;
    for (const auto& column : columns)
        captions << QString::fromUtf8(column.first);
    list->setHeaderLabels(captions);
    int c = 0;
    for (const auto& column : columns) {
        if (column.second > 0) list->setColumnWidth(c, column.second);
        ++c;
    }
    return list;
}

constexpr std::initializer_list<std::pair<const char*, int>> kRegColumns = {
    {"主键", 60},   {"根键", 200}, {"值/键", 90},    {"值类型", 90},
    {"值比较", 90}, {"触发", 80},  {"值内容转换", 0}};

QLineEdit* MakeModeLine(QWidget* parent, const char* name) {
    auto* line = new QLineEdit(parent);
    line->setObjectName(name);
    line->setReadOnly(true);
    line->setFrame(false);
    return line;
}

QAction* AddItem(QMenu* menu, const char* name, const char* text) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(name);
    return action;
}

} // namespace

TfrmAddEdit::TfrmAddEdit(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAddEdit");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(563, 509);
    ui::UseWindowFont(this);

    auto label = [this](const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setGeometry(x, y, 72, 22);
        return l;
    };
    label("项目名:", 12, 10);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(84, 10, 220, 22);
    label("项目等级:", 318, 10);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(390, 10, 161, 22);
    AddItems(ComboBox1, kLevelWords);

    label("触发平台:", 12, 40);
    txtOS = new QLineEdit(this);
    txtOS->setObjectName("txtOS");
    txtOS->setReadOnly(true);
    txtOS->setGeometry(84, 40, 437, 22);
    Button3 = new QPushButton("…", this);
    Button3->setObjectName("Button3");
    Button3->setGeometry(525, 40, 26, 22);

    QLabel* warningLabel = label("清理时弹出:", 12, 70);
    warningLabel->setToolTip("如果该项不为空,清理该项目时，将弹出对话框。");
    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName("Memo2");
    Memo2->setGeometry(84, 70, 467, 52);
    label("项目描述:", 12, 130);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(84, 130, 467, 60);

    label("项目规则:", 12, 198);
    CheckBox1 = new QCheckBox(ToQ(kJoinCaption), this);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(160, 198, 391, 22);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(12, 220, 539, 246);

    auto page = [](QTabWidget* tabs, const char* caption) {
        auto* w = new QWidget;
        auto* column = new QVBoxLayout(w);
        column->setContentsMargins(4, 4, 4, 4);
        column->setSpacing(2);
        tabs->addTab(w, QString::fromUtf8(caption));
        return std::pair{w, column};
    };
    {
        auto [w, column] = page(PageControl1, "文件");
        Edit3 = MakeModeLine(w, "Edit3");
        ListView1 = MakeList(w, "ListView1", {{"位置", 260}, {"文件夹", 60}, {"触发", 60}});
        column->addWidget(Edit3);
        column->addWidget(ListView1);
    }
    {
        auto [w, column] = page(PageControl1, "注册表");
        Edit4 = MakeModeLine(w, "Edit4");
        ListView2 = MakeList(w, "ListView2", kRegColumns);
        column->addWidget(Edit4);
        column->addWidget(ListView2);
    }
    {
        auto [w, column] = page(PageControl1, "清理时执行");
        PageControl2 = new QTabWidget(w);
        PageControl2->setObjectName("PageControl2");
        column->addWidget(PageControl2);
        auto [files, filesColumn] = page(PageControl2, "文件");
        ListView3 = MakeList(files, "ListView3", {{"位置", 240}, {"源文件", 120}, {"触发", 60}});
        filesColumn->addWidget(ListView3);
        auto [reg, regColumn] = page(PageControl2, "注册表");
        ListView4 = MakeList(reg, "ListView4", kRegColumns);
        regColumn->addWidget(ListView4);
    }

    Button1 = new QPushButton("确定", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(388, 476, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton("取消", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(476, 476, 75, 25);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    N1 = AddItem(PopupMenu1, "N1", "添加规则");
    N2 = AddItem(PopupMenu1, "N2", "修改规则");
    N3 = AddItem(PopupMenu1, "N3", "删除规则");
    PopupMenu1->addSeparator();
    N8 = AddItem(PopupMenu1, "N8", "复制规则");
    N21 = AddItem(PopupMenu1, "N21", "选择规则匹配模式");
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    N4 = AddItem(PopupMenu2, "N4", "添加规则");
    N5 = AddItem(PopupMenu2, "N5", "修改规则");
    N6 = AddItem(PopupMenu2, "N6", "删除规则");
    PopupMenu2->addSeparator();
    N10 = AddItem(PopupMenu2, "N10", "复制规则");
    N22 = AddItem(PopupMenu2, "N22", "选择规则匹配模式");
    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName("PopupMenu3");
    N11 = AddItem(PopupMenu3, "N11", "添加规则");
    N12 = AddItem(PopupMenu3, "N12", "编辑规则");
    N13 = AddItem(PopupMenu3, "N13", "删除规则");
    PopupMenu3->addSeparator();
    N15 = AddItem(PopupMenu3, "N15", "复制规则");
    PopupMenu4 = new QMenu(this);
    PopupMenu4->setObjectName("PopupMenu4");
    N16 = AddItem(PopupMenu4, "N16", "添加规则");
    N17 = AddItem(PopupMenu4, "N17", "编辑规则");
    N18 = AddItem(PopupMenu4, "N18", "删除规则");
    PopupMenu4->addSeparator();
    N20 = AddItem(PopupMenu4, "N20", "复制规则");

    for (auto [list, menu] : {std::pair{ListView1, PopupMenu1}, std::pair{ListView2, PopupMenu2},
                              std::pair{ListView3, PopupMenu3}, std::pair{ListView4, PopupMenu4}})
        connect(list, &QWidget::customContextMenuRequested, menu,
                [list, menu](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });

    // Every handler runs guarded: no error crosses the event loop.
    auto on = [this](auto* sender, auto signal, void (TfrmAddEdit::*handler)()) {
        ui::Wire(sender, signal, this, handler);
    };
    on(Button1, &QPushButton::clicked, &TfrmAddEdit::Button1Click);
    on(Button2, &QPushButton::clicked, &TfrmAddEdit::Button2Click);
    on(Button3, &QPushButton::clicked, &TfrmAddEdit::Button3Click);
    const std::pair<QAction*, void (TfrmAddEdit::*)()> commands[] = {
        {N1, &TfrmAddEdit::N1Click},   {N2, &TfrmAddEdit::N2Click},   {N3, &TfrmAddEdit::N3Click},
        {N8, &TfrmAddEdit::N8Click},   {N21, &TfrmAddEdit::N21Click}, {N4, &TfrmAddEdit::N4Click},
        {N5, &TfrmAddEdit::N5Click},   {N6, &TfrmAddEdit::N6Click},   {N10, &TfrmAddEdit::N10Click},
        {N22, &TfrmAddEdit::N22Click}, {N11, &TfrmAddEdit::N11Click}, {N12, &TfrmAddEdit::N12Click},
        {N13, &TfrmAddEdit::N13Click}, {N15, &TfrmAddEdit::N15Click}, {N16, &TfrmAddEdit::N16Click},
        {N17, &TfrmAddEdit::N17Click}, {N18, &TfrmAddEdit::N18Click}, {N20, &TfrmAddEdit::N20Click},
    };
    for (const auto& [action, handler] : commands)
        on(action, &QAction::triggered, handler);

    FormCreate();
}

void TfrmAddEdit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOverMainWindow(*this);
}

void TfrmAddEdit::FormCreate() {
    ComboBox1->setCurrentIndex(0);
    FilesMatchMode = "or";
    RegMatchMode = "or";
    Join.clear();
    CheckBox1->setChecked(false);
    if (Global().EditMode == 1) {
        setWindowTitle("编辑项目");
        // A library that cannot be read is reported; the fields keep their start values.
        ui::Guarded([this] {
            const std::optional<RuleItem> item =
                LoadRuleItem(Global().Library(), Global().EditItemId);
            if (!item) return;
            Edit2->setText(ToQ(item->Name));
            ComboBox1->setCurrentIndex(item->Level);
            ItemOSId = item->OSId;
            txtOS->setText(ToQ(GroupDisplayName(Global().WinOSFile, ItemOSId)));
            Memo1->setPlainText(ToQ(item->Des));
            Memo2->setPlainText(ToQ(item->MessBoxText));
            LoadPZ(item->OptText);
            LoadPZ2(item->RepairXML);
        });
    } else {
        setWindowTitle("添加项目");
        ItemOSId = std::string(kAllOsGroup);
        txtOS->setText(ToQ(GroupDisplayName(Global().WinOSFile, ItemOSId)));
    }
    showMatchModes();
}

void TfrmAddEdit::showMatchModes() {
    Edit3->setText(ToQ(MatchModeLine(FilesMatchMode)));
    Edit4->setText(ToQ(MatchModeLine(RegMatchMode)));
}

void TfrmAddEdit::LoadPZ(const std::string& text) {
    DetectionRows rows;
    rows.FilesMatchMode = FilesMatchMode;
    rows.RegMatchMode = RegMatchMode;
    (void)ReadDetectionDocument(text, rows); // a failure keeps what was read before it
    FilesMatchMode = rows.FilesMatchMode;
    RegMatchMode = rows.RegMatchMode;
    Join = rows.join;
    CheckBox1->setChecked(Join == RuleWords::kAnd);
    for (const FileConditionRow& row : rows.files)
        Append(ListView1, row);
    for (const RegConditionRow& row : rows.registry)
        Append(ListView2, row);
}

void TfrmAddEdit::LoadPZ2(const std::string& text) {
    RepairRows rows;
    (void)ReadRepairDocument(text, rows); // a failure keeps what was read before it
    for (const FileActionRow& row : rows.files)
        Append(ListView3, row);
    for (const RegActionRow& row : rows.registry)
        Append(ListView4, row);
}

std::string TfrmAddEdit::SavePZ() const {
    DetectionRows rows;
    rows.FilesMatchMode = FilesMatchMode;
    rows.RegMatchMode = RegMatchMode;
    // The join as it was read, unless the box now says otherwise.
    rows.join = CheckBox1->isChecked()    ? std::string(RuleWords::kAnd)
                : Join == RuleWords::kAnd ? std::string()
                                          : Join;
    rows.files = RowsOf<FileConditionRow>(ListView1, FileConditionAt);
    rows.registry = RowsOf<RegConditionRow>(ListView2, RegConditionAt);
    std::string text;
    if (!WriteDetectionDocument(rows, text))
        throw Exception("The detection rules cannot be written as a document.");
    return text;
}

std::string TfrmAddEdit::SavePZ2() const {
    RepairRows rows;
    rows.files = RowsOf<FileActionRow>(ListView3, FileActionAt);
    rows.registry = RowsOf<RegActionRow>(ListView4, RegActionAt);
    std::string text;
    if (!WriteRepairDocument(rows, text))
        throw Exception("The repair rules cannot be written as a document.");
    return text;
}

void TfrmAddEdit::Button1Click() {
    // A failure anywhere (opening the library, the transaction, the statement, the
    // commit) propagates to the error report: the transaction is rolled back, the
    // editor stays open with everything entered, and ItemSaved is left alone, so the
    // user can try again or cancel.
    SaveRuleItem(Global().Library(), Global().EditMode, Global().EditItemId, [this] {
        RuleItem item;
        item.Name = ToStd(Edit2->text());
        item.Level = std::max(0, ComboBox1->currentIndex());
        item.OSId = ItemOSId;
        item.Des = ToStd(Memo1->toPlainText());
        item.OptText = SavePZ();
        item.RepairXML = SavePZ2();
        item.MessBoxText = ToStd(Memo2->toPlainText());
        return item;
    });
    ItemSaved = 1;
    accept();
}

void TfrmAddEdit::Button2Click() {
    reject();
}

void TfrmAddEdit::Button3Click() {
    if (!ExecHandOver<TfrmWinOS>(this)) return;
    ItemOSId = DialogExchange.DlgOSId;
    txtOS->setText(ToQ(DialogExchange.DlgOSName));
}

void TfrmAddEdit::deleteSelected(QTreeWidget* list) {
    QTreeWidgetItem* row = Selected(list);
    if (!row) return;
    if (ui::Prompt("是否确定要删除？", ui::MsgButtons::YesNo) == ui::MsgAnswer::No) return;
    delete row;
}

// Detection file conditions.
void TfrmAddEdit::N1Click() {
    if (const auto row = EditFileCondition(this, DlgModeAdd)) Append(ListView1, *row);
}
void TfrmAddEdit::N2Click() {
    if (QTreeWidgetItem* item = Selected(ListView1))
        if (const auto row = EditFileCondition(this, DlgModeEdit, FileConditionAt(item)))
            Overwrite(item, *row);
}
void TfrmAddEdit::N3Click() {
    deleteSelected(ListView1);
}
void TfrmAddEdit::N8Click() {
    if (QTreeWidgetItem* item = Selected(ListView1))
        if (const auto row = EditFileCondition(this, DlgModeCopy, FileConditionAt(item)))
            Append(ListView1, *row);
}
void TfrmAddEdit::N21Click() {
    if (const auto mode = EditMatchMode(this, FilesMatchMode)) {
        FilesMatchMode = *mode;
        showMatchModes();
    }
}

// Detection registry conditions.
void TfrmAddEdit::N4Click() {
    if (const auto row = EditRegCondition(this, DlgModeAdd)) Append(ListView2, *row);
}
void TfrmAddEdit::N5Click() {
    if (QTreeWidgetItem* item = Selected(ListView2))
        if (const auto row = EditRegCondition(this, DlgModeEdit, RegConditionAt(item)))
            Overwrite(item, *row);
}
void TfrmAddEdit::N6Click() {
    deleteSelected(ListView2);
}
void TfrmAddEdit::N10Click() {
    if (QTreeWidgetItem* item = Selected(ListView2))
        if (const auto row = EditRegCondition(this, DlgModeCopy, RegConditionAt(item)))
            Append(ListView2, *row);
}
void TfrmAddEdit::N22Click() {
    if (const auto mode = EditMatchMode(this, RegMatchMode)) {
        RegMatchMode = *mode;
        showMatchModes();
    }
}

// Repair file actions.
void TfrmAddEdit::N11Click() {
    if (const auto row = EditFileAction(this, DlgModeAdd)) Append(ListView3, *row);
}
void TfrmAddEdit::N12Click() {
    if (QTreeWidgetItem* item = Selected(ListView3))
        if (const auto row = EditFileAction(this, DlgModeEdit, FileActionAt(item)))
            Overwrite(item, *row);
}
void TfrmAddEdit::N13Click() {
    deleteSelected(ListView3);
}
void TfrmAddEdit::N15Click() {
    if (QTreeWidgetItem* item = Selected(ListView3))
        if (const auto row = EditFileAction(this, DlgModeCopy, FileActionAt(item)))
            Append(ListView3, *row);
}

// Repair registry actions.
void TfrmAddEdit::N16Click() {
    if (const auto row = EditRegAction(this, DlgModeAdd)) Append(ListView4, *row);
}
void TfrmAddEdit::N17Click() {
    if (QTreeWidgetItem* item = Selected(ListView4))
        if (const auto row = EditRegAction(this, DlgModeEdit, RegActionAt(item)))
            Overwrite(item, *row);
}
void TfrmAddEdit::N18Click() {
    deleteSelected(ListView4);
}
void TfrmAddEdit::N20Click() {
    if (QTreeWidgetItem* item = Selected(ListView4))
        if (const auto row = EditRegAction(this, DlgModeCopy, RegActionAt(item)))
            Append(ListView4, *row);
}

} // namespace corvane
