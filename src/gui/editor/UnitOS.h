// The platform group settings window: the WinOS record edited as plain text.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace corvane {

class TfrmOS : public QDialog {
    Q_OBJECT

public:
    // Creating the window loads the record (FormCreate).
    explicit TfrmOS(QWidget* owner = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

public slots:
    void FormCreate();
    void Button1Click();
};

} // namespace corvane
