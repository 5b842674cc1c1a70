#include "gui/ui/UnitDownLoad.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QSaveFile>
#include <QUrl>
#include <limits>

#include "gui/ui/MessageBox.h"
#include "gui/ui/ShellOpen.h"

namespace corvane {

namespace {

// Writes `body` as `path` through a temporary file beside it and a rename, so that a
// failed write never leaves a partial installer under the real name.
bool WriteWhole(const QString& path, const QByteArray& body) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(body) != body.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

TfrmDownLoad::TfrmDownLoad(QWidget* parent) : QWidget(parent) {
    setObjectName("frmDownLoad");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle("下载文件");
    setFixedSize(392, 98);

    Label1 = new QLabel("正在为您下载中，请亲稍等片刻。", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(16, 16, 360, 20);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(16, 52, 360, 20);
    ProgressBar1->setMinimum(0);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    IdHTTP1 = new QNetworkAccessManager(this);
    IdHTTP1->setObjectName("IdHTTP1");
    IdHTTP1->setProxy(QNetworkProxy::NoProxy);
    IdHTTP1->setCookieJar(new QNetworkCookieJar(IdHTTP1));
    IdHTTP1->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    IdHTTP1->setTransferTimeout(0);
}

void TfrmDownLoad::DownLoadFile(const QString& url, const QString& path) {
    QByteArray body;
    if (!get(url, body)) {
        if (!Cancelled)
            ui::MessageBox("下载失败了!\n" + failure_, ui::ApplicationTitle(), ui::MsgIcon::None,
                           ui::MsgButtons::Ok);
        return;
    }
    const bool saved = WriteWhole(path, body);
    body = QByteArray();
    // A transfer that completed after the window was closed is kept but not started.
    if (saved && !Cancelled) ui::ShellOpen(path);
    close();
}

bool TfrmDownLoad::get(const QString& url, QByteArray& body) {
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Accept", "text/html, */*");
    request.setRawHeader("Content-Type", "text/html");
    request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
    // The body comes as stored, so that its announced length is the length written.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(0);

    total_ = -1;
    received_ = 0;
    bool begun = false;
    QNetworkReply* reply = IdHTTP1->get(request);
    reply_ = reply;
    const auto begin = [this, reply, &begun] {
        if (begun) return;
        begun = true;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        IdHTTP1WorkBegin(length.isValid() ? length.toLongLong() : -1);
    };
    const auto take = [this, reply, &body, begin] {
        begin();
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty()) return;
        body += chunk;
        received_ = body.size();
        IdHTTP1Work(received_);
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, begin);
    connect(reply, &QNetworkReply::readyRead, this, take);

    // Window messages of every kind keep flowing while the transfer waits.
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    if (!reply->isFinished()) {
        // The application is ending and left every loop: the transfer is given up.
        Cancelled = true;
        reply->abort();
    }
    reply->disconnect(this);
    if (reply->error() == QNetworkReply::NoError) body += reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A redirect is not followed: it fails like any other status outside 2xx. A body
    // shorter than announced is no installer either.
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 &&
                    (total_ <= 0 || body.size() >= total_);
    // Why, in a line of its own under the box's first.
    if (status != 0 && (status < 200 || status >= 300))
        failure_ =
            QString("服务器回答 HTTP %1 %2")
                .arg(status)
                .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    else if (total_ > 0 && body.size() < total_)
        failure_ = QString("只收到 %1 字节，应有 %2 字节").arg(body.size()).arg(total_);
    else if (reply->error() != QNetworkReply::NoError)
        failure_ = reply->errorString();
    reply_ = nullptr;
    delete reply;
    if (!ok) body = QByteArray();
    return ok;
}

void TfrmDownLoad::IdHTTP1WorkBegin(qint64 total) {
    Cancelled = false;
    total_ = total;
    shift_ = 0;
    while (total > 0 && (total >> shift_) > std::numeric_limits<int>::max())
        ++shift_;
    ProgressBar1->setMaximum(total > 0 ? barValue(total) : 0);
}

void TfrmDownLoad::IdHTTP1Work(qint64 count) {
    if (Cancelled) disconnectClient();
    ProgressBar1->setValue(barValue(count));
    // Keep both windows painted and answering; a nested call leaves it to the outer one.
    if (inWork_) return;
    inWork_ = true;
    QCoreApplication::processEvents();
    inWork_ = false;
}

void TfrmDownLoad::FormClose() {
    Cancelled = true;
    disconnectClient();
}

void TfrmDownLoad::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TfrmDownLoad::disconnectClient() {
    if (!reply_ || reply_->isFinished()) return;
    if (total_ > 0 && received_ >= total_) return; // nothing left to cut
    reply_->abort();
}

int TfrmDownLoad::barValue(qint64 bytes) const {
    return static_cast<int>(std::min<qint64>(bytes >> shift_, std::numeric_limits<int>::max()));
}

} // namespace corvane
