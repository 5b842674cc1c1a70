// The repair history of the machine: its journal's runs, newest first, each with its
// items, and the undo of a chosen run or item.
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace corvane {

class TfrmHistory : public QDialog {
    Q_OBJECT

public:
    // Creating the window reads the journal of the active machine.
    explicit TfrmHistory(QWidget* owner = nullptr);

    // A run is a top-level row (run, time); its items are its children
    // (ID, name, result, undone).
    QTreeWidget* tvRuns = nullptr;
    QPushButton* bntUndo = nullptr;
    QPushButton* bntClose = nullptr;

public slots:
    void reload();
    // Undoes the chosen run, or the chosen item of its run; says why for what failed.
    void bntUndoClick();
};

} // namespace corvane
