// The download window: fetches one installer with a progress bar, saves it and starts
// it. Closing the window cancels the transfer.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QProgressBar;

namespace corvane {

class TfrmDownLoad : public QWidget {
    Q_OBJECT

public:
    explicit TfrmDownLoad(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QNetworkAccessManager* IdHTTP1 = nullptr;
    // Set once the user has closed the window.
    bool Cancelled = false;

    // Fetches `url` into memory while both windows keep working; when the whole body
    // has arrived it is written to `path` (a file of that name is replaced) and, unless
    // the window was closed meanwhile, started; then the window closes. A failed
    // transfer shows "下载失败了!" (unless the window was closed) and leaves the window
    // open.
    void DownLoadFile(const QString& url, const QString& path);

public slots:
    // The response body starts; `total` is its announced size, 0 or less for none.
    void IdHTTP1WorkBegin(qint64 total);
    // `count` bytes of the body have arrived.
    void IdHTTP1Work(qint64 count);
    void FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Fetches `url` into `body`; whether the whole body of a successful response came.
    bool get(const QString& url, QByteArray& body);
    // Cuts the pending transfer short unless its whole body is already here.
    void disconnectClient();
    int barValue(qint64 bytes) const;

    QNetworkReply* reply_ = nullptr;
    qint64 total_ = -1;
    qint64 received_ = 0;
    QString failure_; // why the last transfer failed, for the failure box
    int shift_ = 0;   // the bar counts bytes >> shift_, so that huge files fit an int
    bool inWork_ = false;
};

} // namespace corvane
