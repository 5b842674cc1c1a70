// The main window.
#pragma once

#include <QMainWindow>
#include <QString>

class QGroupBox;
class QLabel;
class QStatusBar;
class QTabWidget;

namespace corvane {

class Tfrmmain : public QMainWindow {
    Q_OBJECT

public:
    // `appDir` stands in for the program's folder (tests); empty means the folder of
    // the running executable. Creating the window runs FormCreate.
    explicit Tfrmmain(const QString& appDir = QString(), QWidget* parent = nullptr);

    // Whether start-up asked the program to end before the window is used.
    bool closeRequested() const { return closeRequested_; }
    QString statusPanelText(int panel) const;

    QLabel* Image3 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* lblPreScanTime = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

public slots:
    void FormCreate();
    void LoadOemInfo();
    void ShowLastDates();

private:
    void buildWindow();
    void setStatusPanelText(int panel, const QString& text);
    void showMachine();

    QString appDir_;
    QLabel* panels_[3] = {};
    bool closeRequested_ = false;
};

} // namespace corvane
