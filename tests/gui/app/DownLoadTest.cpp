#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>

#include "gui/app/Unitmain.h"
#include "gui/ui/MessageBox.h"
#include "gui/ui/ShellOpen.h"
#include "gui/ui/UnitDownLoad.h"
#include "support/TempPrefix.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempPrefix;
using test::WriteFile;

// A small HTTP/1.1 server on 127.0.0.1 inside the test process. Each path has one
// canned response; a response may stop after part of its body and hold the rest back
// for half a minute, so that a transfer that was not cut short ends complete rather
// than in a test that never stops. A complete body without an announced length comes
// in chunks: ended by closing the connection instead, it makes Qt's HTTP client now
// and then send the request again on a new connection after the reply has finished
// (about once in a hundred transfers under the sanitizers), which a later transfer of
// the test would count as its own.
class HttpServer : public QObject {
public:
    struct Response {
        QByteArray status = "200 OK";
        QByteArray headers; // extra header lines, each ending in \r\n
        QByteArray body;
        bool announceLength = true;
        qsizetype stallAfter = -1; // bytes of the body sent before stalling, -1: all
        bool chunked = false;      // all of the body in chunks, no length announced
    };

    HttpServer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QString url(const QString& path) const {
        return QString("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }

    std::map<QByteArray, Response> routes;
    std::vector<QByteArray> requests; // each request's head, as received
    std::function<void()> onRequest;  // runs before the response is sent

private:
    void serve(QTcpSocket* socket) {
        QByteArray& head = heads_[socket];
        if (head.contains("\r\n\r\n")) return; // answered already
        head += socket->readAll();
        if (!head.contains("\r\n\r\n")) return;
        requests.push_back(head);
        const QByteArray path = head.split(' ').value(1);
        Response response;
        if (const auto found = routes.find(path); found != routes.end())
            response = found->second;
        else
            response = {"404 Not Found", {}, "no such file", true, -1};
        QByteArray out = "HTTP/1.1 " + response.status + "\r\n" + response.headers;
        if (response.chunked) {
            out += "Transfer-Encoding: chunked\r\n";
            QByteArray chunks;
            for (qsizetype at = 0; at < response.body.size(); at += 65536) {
                const QByteArray part = response.body.mid(at, 65536);
                chunks += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
            }
            response.body = chunks + "0\r\n\r\n";
        } else if (response.announceLength)
            out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        if (onRequest) onRequest();
        out += response.stallAfter < 0 ? response.body : response.body.left(response.stallAfter);
        socket->write(out);
        if (response.stallAfter < 0)
            socket->disconnectFromHost();
        else
            QTimer::singleShot(30000, socket,
                               [socket, rest = response.body.mid(response.stallAfter)] {
                                   socket->write(rest);
                                   socket->disconnectFromHost();
                               });
    }

    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> heads_;
};

QByteArray Installer(qsizetype size) {
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('A' + i * 7 % 26);
    return bytes;
}

struct Shown {
    QString text, caption;
    ui::MsgIcon icon;
};

// A started main window over a program folder; message boxes and what the desktop is
// asked to open are recorded.
class DownLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousBox = ui::SetMessageBoxFunction(
            [this](const QString& text, const QString& caption, ui::MsgIcon icon, ui::MsgButtons) {
                shown.push_back({text, caption, icon});
                return ui::MsgAnswer::Ok;
            });
        previousOpen = ui::SetShellOpenFunction([this](const QString& target) {
            opened.push_back(target);
            return true;
        });
        const QString dir = QString::fromStdString(app.dir().string());
        Tfrmmain first(dir); // makes the library
        window = std::make_unique<Tfrmmain>(dir);
        window->show();
        shown.clear();
        // Every download window the test meets, to look at it after the download.
        server.onRequest = [this] {
            for (TfrmDownLoad* w : window->findChildren<TfrmDownLoad*>())
                if (w->isVisible()) current = w;
            if (whileSending) whileSending();
        };
    }
    void TearDown() override {
        window.reset();
        ui::SetShellOpenFunction(previousOpen);
        ui::SetMessageBoxFunction(previousBox);
    }

    fs::path installer(const char* name) const { return app.dir() / "downsoft" / name; }
    QString installerText(const char* name) const {
        return QString::fromStdString(installer(name).string());
    }
    std::vector<std::string> downsoft() const {
        std::vector<std::string> names;
        if (fs::is_directory(app.dir() / "downsoft"))
            for (const auto& entry : fs::directory_iterator(app.dir() / "downsoft"))
                names.push_back(entry.path().filename().string());
        return names;
    }
    // Runs the deferred deletions, then counts the download windows still there.
    int downloadWindows() const {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return static_cast<int>(window->findChildren<TfrmDownLoad*>().size());
    }

    TempPrefix app;
    TempPrefix prefix;
    wine::WinePlatform platform{prefix.dir(), test::Options(prefix.dir())};
    PlatformScope scope{platform};
    ui::MessageBoxFunction previousBox;
    ui::ShellOpenFunction previousOpen;
    std::vector<Shown> shown;
    std::vector<QString> opened;
    HttpServer server;
    std::unique_ptr<Tfrmmain> window;
    QPointer<TfrmDownLoad> current;
    std::function<void()> whileSending;
};

TEST_F(DownLoadTest, CompleteDownloadsAreSavedStartedAndTheWindowCloses) {
    struct Case {
        const char* name;
        bool announceLength;
        qsizetype size;
        int barMaximum;
    };
    const Case cases[] = {
        {"Sized.exe", true, 300000, 300000},
        {"Unsized.exe", false, 300000, 0},
        {"Empty.exe", true, 0, 0},
    };
    ASSERT_FALSE(fs::exists(app.dir() / "downsoft"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray body = Installer(c.size);
        server.routes["/setup.exe"] = {"200 OK", {}, body, c.announceLength, -1, !c.announceLength};
        std::vector<int> values;
        int maximum = -1;
        whileSending = [&] {
            QObject::connect(current->ProgressBar1, &QProgressBar::valueChanged,
                             [&](int value) { values.push_back(value); });
            EXPECT_EQ(current->windowTitle(), "下载文件");
            EXPECT_EQ(current->Label1->text(), "正在为您下载中，请亲稍等片刻。");
            EXPECT_EQ(current->size(), QSize(392, 98));
            // Saved for a person to look at when asked for.
            if (const QByteArray dir = qgetenv("CORVANE_SCREENSHOTS"); !dir.isEmpty())
                current->grab().save(QString::fromUtf8(dir) + "/download-window.png");
        };
        opened.clear();
        server.requests.clear();
        current = nullptr;
        window->StartDownLoadSetup(server.url("/setup.exe"), c.name);
        ASSERT_FALSE(current.isNull());
        maximum = current->ProgressBar1->maximum();
        EXPECT_EQ(maximum, c.barMaximum);
        if (c.barMaximum > 0) {
            ASSERT_FALSE(values.empty());
            EXPECT_EQ(values.back(), c.barMaximum) << "the bar ends at full width";
            EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        }
        EXPECT_FALSE(current->isVisible());
        EXPECT_TRUE(shown.empty());
        ASSERT_EQ(opened, std::vector<QString>{installerText(c.name)});
        EXPECT_EQ(ReadFile(installer(c.name)), body.toStdString());
        ASSERT_EQ(server.requests.size(), 1u);
        const QByteArray& head = server.requests[0];
        EXPECT_TRUE(head.startsWith("GET /setup.exe HTTP/1.1\r\n")) << head.toStdString();
        for (const char* line :
             {"\r\nAccept: text/html, */*\r\n", "\r\nContent-Type: text/html\r\n",
              "\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"})
            EXPECT_TRUE(head.contains(line)) << line << " in " << head.toStdString();
        EXPECT_EQ(downloadWindows(), 0) << "the closed window is freed";
    }
    std::vector<std::string> names = downsoft();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Empty.exe", "Sized.exe", "Unsized.exe"}));
}

TEST_F(DownLoadTest, ASecondDownloadReplacesTheFile) {
    fs::create_directories(app.dir() / "downsoft");
    WriteFile(installer("Setup.exe"), std::string(500000, 'o')); // longer than the new one
    for (const QByteArray& body : {Installer(1000), QByteArray("second version")}) {
        server.routes["/setup.exe"] = {"200 OK", {}, body, true, -1};
        window->StartDownLoadSetup(server.url("/setup.exe"), "Setup.exe");
        EXPECT_EQ(ReadFile(installer("Setup.exe")), body.toStdString());
    }
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(downsoft(), std::vector<std::string>{"Setup.exe"}) << "no temporary file is left";
}

TEST_F(DownLoadTest, FailuresShowTheMessageSaveNothingAndLeaveTheWindowOpen) {
    struct Case {
        const char* what;
        QString url;
        QString reason; // what the box's second line begins with
    };
    HttpServer gone; // a port nothing listens on once this server is closed
    const QString refused = gone.url("/setup.exe");
    server.routes["/moved.exe"] = {"302 Found", "Location: /setup.exe\r\n", "moved", true, -1};
    server.routes["/setup.exe"] = {"200 OK", {}, Installer(1000), true, -1};
    server.routes["/short.exe"] = {"200 OK", "Content-Length: 5000\r\n", Installer(2000), false,
                                   -1};
    const Case cases[] = {
        {"404", server.url("/missing.exe"), "服务器回答 HTTP 404"},
        {"redirect", server.url("/moved.exe"), "服务器回答 HTTP 302"},
        {"server error", server.url("/error.exe"), "服务器回答 HTTP 500"},
        {"body shorter than announced", server.url("/short.exe"), "只收到 "},
    };
    server.routes["/error.exe"] = {"500 Internal Server Error", {}, "broken", true, -1};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shown.clear();
        current = nullptr;
        window->StartDownLoadSetup(c.url, "Setup.exe");
        ASSERT_EQ(shown.size(), 1u);
        // The reason on a line of its own.
        const QStringList lines = shown[0].text.split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], "下载失败了!");
        EXPECT_TRUE(lines[1].startsWith(c.reason)) << lines[1].toStdString();
        EXPECT_EQ(shown[0].caption, ui::ApplicationTitle());
        EXPECT_EQ(shown[0].caption, "CorvaneV1.0.0.0");
        EXPECT_EQ(shown[0].icon, ui::MsgIcon::None);
        EXPECT_TRUE(opened.empty());
        EXPECT_TRUE(downsoft().empty());
        EXPECT_TRUE(fs::is_directory(app.dir() / "downsoft"));
        // The window stays until the user closes it, and is freed then.
        ASSERT_FALSE(current.isNull());
        EXPECT_TRUE(current->isVisible());
        EXPECT_EQ(downloadWindows(), 1);
        current->close();
        EXPECT_EQ(downloadWindows(), 0);
        EXPECT_EQ(shown.size(), 1u) << "closing after a failure says nothing more";
    }
    // No server at all: the window never sees a request.
    shown.clear();
    window->StartDownLoadSetup(refused, "Setup.exe");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("下载失败了!\n")) << shown[0].text.toStdString();
    EXPECT_GT(shown[0].text.size(), QString("下载失败了!\n").size());
    EXPECT_TRUE(downsoft().empty());
    EXPECT_EQ(downloadWindows(), 1);
}

TEST_F(DownLoadTest, ClosingTheWindowMidTransferCancelsQuietly) {
    // The server sends a part and then waits for ever.
    server.routes["/setup.exe"] = {"200 OK", {}, Installer(100000), true, 3000};
    whileSending = [&] {
        QObject::connect(current->ProgressBar1, &QProgressBar::valueChanged, current,
                         [w = current.data()](int value) {
                             if (value > 0)
                                 QMetaObject::invokeMethod(w, &QWidget::close,
                                                           Qt::QueuedConnection);
                         });
    };
    window->StartDownLoadSetup(server.url("/setup.exe"), "Setup.exe");
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(downsoft().empty());
    EXPECT_EQ(downloadWindows(), 0);
}

TEST_F(DownLoadTest, ATransferCompletedAfterTheWindowClosedIsSavedButNotStarted) {
    const QByteArray body = Installer(4000);
    server.routes["/setup.exe"] = {"200 OK", {}, body, true, -1};
    whileSending = [&] {
        QObject::connect(current->ProgressBar1, &QProgressBar::valueChanged, current,
                         [w = current.data()](int value) {
                             if (value == w->ProgressBar1->maximum()) w->close();
                         });
    };
    window->StartDownLoadSetup(server.url("/setup.exe"), "Setup.exe");
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(ReadFile(installer("Setup.exe")), body.toStdString());
    EXPECT_EQ(downloadWindows(), 0);
}

TEST_F(DownLoadTest, AnInstallerThatCannotBeWrittenIsNotStarted) {
    // downsoft is a file here, so the folder cannot be made nor the file written.
    WriteFile(app.dir() / "downsoft", "in the way");
    server.routes["/setup.exe"] = {"200 OK", {}, Installer(1000), true, -1};
    window->StartDownLoadSetup(server.url("/setup.exe"), "Setup.exe");
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(ReadFile(app.dir() / "downsoft"), "in the way");
    EXPECT_EQ(downloadWindows(), 0) << "the window closes";
}

} // namespace
} // namespace corvane
