#include "NetTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

void KeepRequestsLocal()
{
    qputenv("no_proxy", "*");
    qputenv("NO_PROXY", "*");
}

TServiceProcess::~TServiceProcess()
{
    Stop();
}

bool TServiceProcess::Start(const QStringList& arguments)
{
    FProcess.setProgram(QStringLiteral(VORANTU_SERVICE_PROGRAM));
    FProcess.setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} +
                          arguments);
    FProcess.start();
    if (!FProcess.waitForStarted(5000))
        return false;
    static const QRegularExpression listening(
        QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    QByteArray errors;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && FProcess.state() == QProcess::Running) {
        FProcess.waitForReadyRead(100);
        errors += FProcess.readAllStandardError();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(errors));
        if (match.hasMatch()) {
            FPort = quint16(match.captured(1).toUInt());
            return true;
        }
    }
    return false;
}

void TServiceProcess::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(FProcess.processId()), SIGTERM);
    if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QList<QJsonObject> ServiceLog(const QString& logFile)
{
    QList<QJsonObject> entries;
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            entries.append(QJsonDocument::fromJson(line).object());
    }
    return entries;
}

QList<QPair<QString, QString>> LoggedHeaders(const QJsonObject& entry)
{
    QList<QPair<QString, QString>> headers;
    for (const QJsonValue& pair : entry.value(QStringLiteral("headers")).toArray()) {
        const QJsonArray both = pair.toArray();
        headers.append({both.at(0).toString(), both.at(1).toString()});
    }
    return headers;
}

QByteArray RawReply(int status, const QByteArray& body)
{
    return "HTTP/1.0 " + QByteArray::number(status) + " Whatever\r\n" +
           "Content-Type: application/json\r\n" +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

quint16 RefusingPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

TLoopbackServer::TLoopbackServer(QList<TStep> script) : FScript(std::move(script))
{
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListen < 0 ||
        ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListen, 16) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Run(); });
}

TLoopbackServer::~TLoopbackServer()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FListen >= 0)
        ::close(FListen);
}

QList<QByteArray> TLoopbackServer::Requests() const
{
    std::lock_guard locker(FLock);
    return FRequests;
}

void TLoopbackServer::Run()
{
    while (!FStop) {
        pollfd entry{FListen, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int index = FConnections++;
        const TStep step = FScript.isEmpty()
                               ? TStep{TAction::Close, {}}
                               : FScript.at(qMin<qsizetype>(index, FScript.size() - 1));
        Serve(client, step);
        ::close(client);
    }
}

void TLoopbackServer::Serve(int client, const TStep& step)
{
    if (step.Action == TAction::Close)
        return;
    // Reads the head, then as much body as the head announces; bounded by a
    // deadline so a silent client cannot hold the server.
    QByteArray request;
    qsizetype wanted = -1;
    QDeadlineTimer deadline(15000);
    bool peerClosed = false;
    while (!FStop && !deadline.hasExpired() && (wanted < 0 || request.size() < wanted)) {
        pollfd entry{client, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            peerClosed = true;
            break;
        }
        request.append(buffer, n);
        const qsizetype headEnd = request.indexOf("\r\n\r\n");
        if (wanted < 0 && headEnd >= 0) {
            static const QRegularExpression lengthLine(
                QStringLiteral("\\r\\ncontent-length:\\s*(\\d+)"),
                QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch match =
                lengthLine.match(QString::fromLatin1(request.left(headEnd + 2)));
            wanted = headEnd + 4 + (match.hasMatch() ? match.captured(1).toLongLong() : 0);
        }
    }
    {
        std::lock_guard locker(FLock);
        FRequests.append(request);
    }
    if (step.Action == TAction::Stall) {
        // Hold the connection open, silent, until the client leaves.
        while (!FStop && !peerClosed && !deadline.hasExpired()) {
            pollfd entry{client, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            char buffer[4096];
            if (::recv(client, buffer, sizeof buffer, 0) <= 0)
                break;
        }
        return;
    }
    qsizetype sent = 0;
    while (!FStop && sent < step.Bytes.size()) {
        const ssize_t n = ::send(client, step.Bytes.constData() + sent,
                                 size_t(step.Bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
}

TOpenedUrls::TOpenedUrls()
{
    for (const char* scheme : {"http", "https", "file", "javascript", "mailto"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
}

TOpenedUrls::~TOpenedUrls()
{
    for (const char* scheme : {"http", "https", "file", "javascript", "mailto"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void TOpenedUrls::Open(const QUrl& url)
{
    Urls.append(url);
    if (OnOpen)
        OnOpen(url);
}

TBoxAnswers::TBoxAnswers(QMessageBox::StandardButton button,
                         std::function<void(QMessageBox*)> inspect, const QString& objectName)
    : FButton(button), FInspect(std::move(inspect)), FObjectName(objectName)
{
    connect(&FTimer, &QTimer::timeout, this, &TBoxAnswers::Poll);
    FTimer.start(20);
}

void TBoxAnswers::Poll()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property("answered").toBool())
            continue;
        if (!FObjectName.isEmpty() && box->objectName() != FObjectName)
            continue;
        box->setProperty("answered", true);
        Texts.append(box->text());
        Titles.append(box->windowTitle());
        if (FInspect)
            FInspect(box);
        if (QAbstractButton* answer = box->button(FButton))
            answer->click();
        else
            box->reject();
    }
}
