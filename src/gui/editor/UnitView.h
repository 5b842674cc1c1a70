// The rule library window: every rule item of the library, and the entry to the rule
// item editor. It tells the editor what to open through Global().EditMode and
// Global().EditItemId and learns through ItemSaved whether the editor saved.
#pragma once

#include <QDialog>

class QAction;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace corvane {

class TfrmView : public QDialog {
    Q_OBJECT

public:
    // Creating the window runs FormCreate.
    explicit TfrmView(QWidget* parent = nullptr);

    QPushButton* Button1 = nullptr; // "新记录"
    QPushButton* Button2 = nullptr; // "刷新记录"
    QTreeWidget* ListView1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* menuAdd = nullptr;
    QAction* menuEdit = nullptr;
    QAction* menuDel = nullptr;
    QAction* menuUpdate = nullptr;

public slots:
    // Handlers raise what the library layer raises; the connections show it through
    // ui::Guarded and the window stays open.
    void FormCreate();
    void Button1Click(); // new item
    void Button2Click(); // load the list
    void menuAddClick();
    void menuEditClick();
    void menuDelClick();
    void menuUpdateClick();
    void ListView1DblClick();

private:
    // The selected row's ID, or empty when no row is selected.
    QString selectedId() const;
    void openEditor();
};

} // namespace corvane
