// The platform group chooser: the rule item editor picks an item's group here.
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace corvane {

class TfrmWinOS : public QDialog {
    Q_OBJECT

public:
    // Creating the window loads the groups (FormCreate).
    explicit TfrmWinOS(QWidget* parent = nullptr);

    QTreeWidget* ListView1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FormCreate();
    void Button1Click();
    void Button2Click();
};

} // namespace corvane
