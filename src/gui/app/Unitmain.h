// The main window.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QSet>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/engine/RuleTriggered.h"
#include "core/platform/Platform.h"
#include "core/run/ProgramFolders.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

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
    // Shows the buttons of the rule library and platform group windows (--maintain).
    void setMaintenance(bool on);

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
    QLabel* Image2 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* lblUrl1 = nullptr;
    QLabel* Label12 = nullptr;
    // The promotional links of the lower frame.
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label13 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    // The tab "自动修复".
    QLabel* Label2 = nullptr;
    QPushButton* bntScan = nullptr;
    QTreeWidget* ListView1 = nullptr;
    // "未发现问题" over the middle of the list after a scan that listed nothing.
    QLabel* lblNothingFound = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* bntClear = nullptr;
    QPushButton* bntAdd = nullptr;
    QPushButton* Button1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* menuAlls = nullptr;
    QAction* menuAlln = nullptr;
    QAction* menuAllf = nullptr;
    QAction* menuUndo = nullptr;    // "撤销修复"
    QAction* menuHistory = nullptr; // "修复历史"
    QAction* menuDetails = nullptr; // "查看详情"
    // The prefixes of the user, opened by a click on the third status panel.
    QMenu* PrefixMenu = nullptr;
    // The icon in the notification area, shown where the desktop has one.
    QSystemTrayIcon* TrayIcon = nullptr;
    QMenu* TrayMenu = nullptr;
    QAction* trayShow = nullptr; // "显示主窗口"
    QAction* trayScan = nullptr; // "开始扫描"
    QAction* trayQuit = nullptr; // "退出"

    // The colour a row of ListView1 is drawn in, decided from its texts.
    static QColor ListView1CustomDrawItem(const QTreeWidgetItem& item);

public slots:
    void FormCreate();
    void LoadOemInfo();
    void ShowLastDates();
    void bntScanClick();
    void bntClearClick();
    void Image2Click();
    void menuAllsClick();
    void menuAllnClick();
    void menuAllfClick();
    // Undoes the selected rows that this window repaired, after asking.
    void menuUndoClick();
    void menuHistoryClick();
    // Opens the details of the current row.
    void menuDetailsClick();
    void bntAddClick();
    void Button1Click();
    void Image3Click();
    void lblUrl1Click();
    void Label12Click();
    void Label9Click();
    void Label10Click();
    void Label13Click();
    void Label7Click();
    void Label8Click();
    void StatusBar1Panel2Click();
    void TrayIconClick();
    void trayScanClick();
    // Makes the prefix at `path` the one the window looks at and remembers it; a
    // prefix that is gone is skipped with a message.
    void choosePrefix(const QString& path);
    // Downloads `fileName` from `url` into downsoft/ (Global().DownloadDir) in a download
    // window and starts it; returns when the transfer has ended. Nothing is reported
    // when the window cannot be prepared.
    void StartDownLoadSetup(const QString& url, const QString& fileName);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The Wine state is looked at again whenever the window becomes the active one.
    void changeEvent(QEvent* event) override;

private:
    void buildWindow();
    void buildWelcomePage();
    QLabel* linkLabel(const char* element, const QColor& colour, QWidget* parent);
    void openLink(const char* element);
    void buildRepairTab();
    void repaintNow();
    void setStatusPanelText(int panel, const QString& text);
    void showMachine();
    void lookAt(const std::string& prefix);
    // The rows "撤销修复" acts on: the selected ones this window repaired and nobody
    // undid; empty when it has nothing to undo.
    std::vector<QTreeWidgetItem*> undoRows() const;
    // Says why a repair cannot run; while Wine runs, offers to end it. True when Wine
    // was ended and the repair may go on.
    bool stoppedWineAfterRefusal(const std::string& refusal);
    // Marks "已撤销" every row whose repair the journal says was undone, wherever.
    void followJournal();
    void forgetRows();

    QString appDir_;
    ProgramFolders folders_; // decided once, from appDir_
    // The prefix panel's last four: the outcome of the last repair run.
    QLabel* panels_[4] = {};
    // The labels that react to a left click, with their handlers.
    QHash<QObject*, void (Tfrmmain::*)()> clickHandlers_;
    bool closeRequested_ = false;
    // The prefix chosen in the window, active while the window lives.
    std::unique_ptr<Platform> chosenPlatform_;
    std::optional<PlatformScope> chosenScope_;
    // Why each listed item was found, by ID.
    std::map<QString, std::vector<MatchedCondition>> matched_;
    // The journal's run that last repaired each listed item, by ID.
    QHash<QString, int> repairedIn_;
};

} // namespace corvane
