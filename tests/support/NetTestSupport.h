#pragma once

// Helpers for the tests that talk to a web service: the real vorantu-service
// on a loopback port, a scripted loopback server for replies the real one
// never gives, a recorder that takes the place of the browser, and a box
// answerer. Only 127.0.0.1 is ever contacted.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// Proxies from the environment would take loopback requests elsewhere.
void KeepRequestsLocal();

// One running vorantu-service, stopped with the object.
class TServiceProcess
{
public:
    ~TServiceProcess();

    // Starts the service on a free loopback port with `arguments` and waits
    // until it listens.
    bool Start(const QStringList& arguments);
    void Stop();

    quint16 Port() const { return FPort; }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }
    QString BaseAddress() const { return QStringLiteral("http://") + Host(); }

private:
    QProcess FProcess;
    quint16 FPort = 0;
};

// The entries of the service's request log, oldest first.
QList<QJsonObject> ServiceLog(const QString& logFile);

// The headers of a log entry as (name, value) pairs, in arrival order.
QList<QPair<QString, QString>> LoggedHeaders(const QJsonObject& entry);

// A raw HTTP reply with a Content-Length.
QByteArray RawReply(int status, const QByteArray& body);

// A loopback port nothing listens on.
quint16 RefusingPort();

// A loopback server that serves one connection at a time by a script: the
// n-th connection gets the n-th step (the last step repeats). Every request
// is read whole (head and Content-Length body) before the step acts.
class TLoopbackServer
{
public:
    enum class TAction
    {
        Reply, // send the step's bytes, then close
        Stall, // say nothing until the client gives up
        Close  // close without a word
    };
    struct TStep
    {
        TAction Action = TAction::Reply;
        QByteArray Bytes;
    };

    explicit TLoopbackServer(QList<TStep> script);
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    quint16 Port() const { return FPort; }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }
    int Connections() const { return FConnections.load(); }
    QList<QByteArray> Requests() const;

private:
    void Run();
    void Serve(int client, const TStep& step);

    QList<TStep> FScript;
    int FListen = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    mutable std::mutex FLock; // guards FRequests
    QList<QByteArray> FRequests;
    std::thread FThread;
};

Q_DECLARE_METATYPE(TLoopbackServer::TStep)

// Takes the place of the desktop's browser and file opener for the schemes
// the program could hand over, and records what it was asked to open.
class TOpenedUrls : public QObject
{
    Q_OBJECT
public:
    TOpenedUrls();
    ~TOpenedUrls() override;

    QList<QUrl> Urls;
    // Runs inside each open request, while the caller is still in its call.
    std::function<void(const QUrl&)> OnOpen;

public slots:
    void Open(const QUrl& url);
};

// Answers every visible message box (of `objectName` when given) with
// `button`, after `inspect` has looked at it; records the texts and titles.
class TBoxAnswers : public QObject
{
    Q_OBJECT
public:
    explicit TBoxAnswers(QMessageBox::StandardButton button,
                         std::function<void(QMessageBox*)> inspect = {},
                         const QString& objectName = QString());

    QStringList Texts;
    QStringList Titles;

private:
    void Poll();

    QMessageBox::StandardButton FButton;
    std::function<void(QMessageBox*)> FInspect;
    QString FObjectName;
    QTimer FTimer;
};
