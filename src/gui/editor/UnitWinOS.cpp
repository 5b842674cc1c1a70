#include "gui/editor/UnitWinOS.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include "core/edit/DialogExchange.h"
#include "core/store/PlatformGroups.h"
#include "core/store/RuleLibrary.h"
#include "gui/app/unitGlobal.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/WindowKit.h"

namespace corvane {

TfrmWinOS::TfrmWinOS(QWidget* parent) : QDialog(parent) {
    setObjectName("frmWinOS");
    setWindowTitle("选择相应平台");
    // A fixed frame with the system menu only, centred on the screen.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(330, 300);
    ui::UseWindowFont(this);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setGeometry(8, 8, 314, 246);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setHeaderLabels({"平台组id", "平台组名称"});
    ListView1->setColumnWidth(0, 90);
    ListView1->setColumnWidth(1, 200);
    Button1 = new QPushButton("确定", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(150, 264, 80, 26);
    Button2 = new QPushButton("取消", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(242, 264, 80, 26);
    connect(Button1, &QPushButton::clicked, this, &TfrmWinOS::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmWinOS::Button2Click);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // A failure to read the library is reported; the window opens all the same.
    ui::Guarded([this] { FormCreate(); });
}

void TfrmWinOS::FormCreate() {
    if (auto stored = LoadWinOSValue(Global().Library())) Global().WinOSText = std::move(*stored);
    new QTreeWidgetItem(ListView1, {QString::fromUtf8(kAllOsGroup.data(), kAllOsGroup.size()),
                                    QString::fromUtf8(kAllOsName.data(), kAllOsName.size())});
    const IniDocument groups = ReadPlatformGroups(Global().WinOSText);
    // Every section line, repeats included; a repeated one shows its last name.
    for (const std::string& id : groups.sectionLines())
        new QTreeWidgetItem(ListView1,
                            {QString::fromStdString(id),
                             QString::fromStdString(GroupValue(groups, id, "Name", kAllOsName))});
}

void TfrmWinOS::Button1Click() {
    const QTreeWidgetItem* row = ListView1->currentItem();
    if (!row || !row->isSelected() || row->text(0).isEmpty()) return;
    DialogExchange.DlgOSId = row->text(0).toStdString();
    DialogExchange.DlgOSName = row->text(1).toStdString();
    DialogExchange.DlgResult = 1;
    accept();
}

void TfrmWinOS::Button2Click() {
    reject();
}

} // namespace corvane
