// The rule item editor: one rule item's name, level, platform group, warning text,
// description and the rows of its detection and repair documents. The rule library
// window sets Global().EditMode (1 edit Global().EditItemId, 0 add) and opens it.
#pragma once

#include <QDialog>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace corvane {

class TfrmAddEdit : public QDialog {
    Q_OBJECT

public:
    // Creating the window runs FormCreate; a library that cannot be read is reported
    // and the window opens with its start values.
    explicit TfrmAddEdit(QWidget* parent = nullptr);

    QLineEdit* Edit2 = nullptr;      // item name
    QComboBox* ComboBox1 = nullptr;  // level
    QLineEdit* txtOS = nullptr;      // platform group's display name
    QPushButton* Button3 = nullptr;  // "…": the platform group chooser
    QPlainTextEdit* Memo2 = nullptr; // warning text shown before a repair
    QPlainTextEdit* Memo1 = nullptr; // description
    QCheckBox* CheckBox1 = nullptr;  // the groups joined by "and"
    QTabWidget* PageControl1 = nullptr;
    QTabWidget* PageControl2 = nullptr; // inside "清理时执行"
    QLineEdit* Edit3 = nullptr;         // match mode of the file conditions
    QLineEdit* Edit4 = nullptr;         // match mode of the registry conditions
    QTreeWidget* ListView1 = nullptr;   // detection file conditions
    QTreeWidget* ListView2 = nullptr;   // detection registry conditions
    QTreeWidget* ListView3 = nullptr;   // repair file actions
    QTreeWidget* ListView4 = nullptr;   // repair registry actions
    QPushButton* Button1 = nullptr;     // OK
    QPushButton* Button2 = nullptr;     // cancel

    QMenu* PopupMenu1 = nullptr;
    QAction *N1 = nullptr, *N2 = nullptr, *N3 = nullptr, *N8 = nullptr, *N21 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QAction *N4 = nullptr, *N5 = nullptr, *N6 = nullptr, *N10 = nullptr, *N22 = nullptr;
    QMenu* PopupMenu3 = nullptr;
    QAction *N11 = nullptr, *N12 = nullptr, *N13 = nullptr, *N15 = nullptr;
    QMenu* PopupMenu4 = nullptr;
    QAction *N16 = nullptr, *N17 = nullptr, *N18 = nullptr, *N20 = nullptr;

    // The item's platform group id, stored in `OSId`.
    std::string ItemOSId;
    // The detection document's match modes, "or" when the editor is created.
    std::string FilesMatchMode = "or";
    std::string RegMatchMode = "or";
    // The detection document's `join` as read ("" for a new item).
    std::string Join;

    // Appends the rows of a detection (LoadPZ) or repair (LoadPZ2) document to the
    // lists; a document that stops being readable loads up to that point.
    void LoadPZ(const std::string& text);
    void LoadPZ2(const std::string& text);
    // The detection and repair documents built from the lists. A list text that cannot
    // be written into a document raises an error.
    std::string SavePZ() const;
    std::string SavePZ2() const;

public slots:
    void FormCreate();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void N1Click();
    void N2Click();
    void N3Click();
    void N8Click();
    void N21Click();
    void N4Click();
    void N5Click();
    void N6Click();
    void N10Click();
    void N22Click();
    void N11Click();
    void N12Click();
    void N13Click();
    void N15Click();
    void N16Click();
    void N17Click();
    void N18Click();
    void N20Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showMatchModes();
    void deleteSelected(QTreeWidget* list);
};

} // namespace corvane
