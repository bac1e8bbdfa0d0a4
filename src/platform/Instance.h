#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;

// The single-instance protocol on one desktop session.
//
// Runtime folder: $XDG_RUNTIME_DIR/vorantu, else /tmp/vorantu-<uid>, mode
// 0700. Inside: the lock file "VorantuMutex" (an exclusive flock held for the
// process's life; the kernel drops it when the process dies) and the command
// socket "TFrmVorantu", listened on by the running instance once its main
// window exists.
//
// Wire format, one request per connection, UTF-8, at most 65,536 bytes, sent
// whole before the client shuts down its write side:
//   "WM_USER <wParam>\n"                 reply "0\n"
//   "WM_COPYDATA <dwData>\n<JSON text>"  reply "1\n" when a command ran, else "0\n"
//   "WM_QUERYENDSESSION\n"               reply "1\n"
// Anything else, or longer, is answered "0\n" and does nothing. The reply is
// written only after the handler has returned, so the sender waits for it.

// The runtime folder, created when missing. nullopt, with `error` set to a
// message for the user, when it exists but belongs to someone else or is
// open to the group or others.
std::optional<QString> RuntimeFolder(QString* error = nullptr);

// An exclusive lock on the file "VorantuMutex" in the runtime folder.
class TInstanceLock
{
public:
    TInstanceLock() = default;
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // True when this process now holds the lock; never waits.
    bool TryAcquire(const QString& folder);
    // True when the lock is held right now: by another process, or by this
    // one through a TInstanceLock of its own. Probing never blocks a
    // TryAcquire running at the same moment.
    static bool IsHeld(const QString& folder);

private:
    int FFd = -1;
};

struct TCommandRequest
{
    enum class TKind
    {
        Invalid,
        User,
        CopyData,
        QueryEndSession
    };
    TKind Kind = TKind::Invalid;
    quint64 Param = 0;  // wParam or dwData
    QByteArray Payload; // the JSON text of WM_COPYDATA
};

// Parses one request of the wire format; Kind is Invalid for anything else.
TCommandRequest ParseCommandRequest(const QByteArray& request);

inline constexpr qsizetype MaxCommandRequestBytes = 65536;

// Raises this process's soft limit of open files to its hard limit, once; a
// long-running program that serves clients should not starve at the
// historical default of 1,024.
void RaiseOpenFileLimit();

// Listens on the command socket and runs each request's handler on the
// user-interface thread; the handler's number is the reply. Only requests of
// the wire format reach the handler. Connections are independent: a handler
// may run a nested event loop while other requests arrive and are handled.
// Only processes of the same user (or root) are heard.
//
// The server outlives hostile clients: at most MaxClients connections are
// served at once and any more are answered 0 at once; running out of file
// descriptors only delays accepting (the clients wait in the backlog); and
// a socket file that disappears from the folder is made anew.
class TCommandServer : public QObject
{
    Q_OBJECT
public:
    using THandler = std::function<int(const TCommandRequest&)>;

    explicit TCommandServer(THandler handler, QObject* parent = nullptr);
    ~TCommandServer() override;

    // Removes a stale socket file (the caller holds the instance lock) and
    // listens. The socket file is removed again when the server is destroyed.
    // Raises the open-file limit (RaiseOpenFileLimit).
    bool Listen(const QString& folder);

    static constexpr int MaxClients = 64;

    // How long a client may take to send its whole request and shut down
    // its write side; a slower one is answered 0 and dropped.
    static constexpr int DefaultReadTimeoutMs = 5000;
    void SetReadTimeoutMs(int timeoutMs) { FReadTimeoutMs = timeoutMs; }

private:
    class TConnection;
    bool Open();
    void Close();
    void AcceptPending();
    void Accept(int fd);
    void CheckSocketFile();

    THandler FHandler;
    QString FFolder;
    int FListenFd = -1;
    quint64 FSocketInode = 0; // of the file this server made
    QSocketNotifier* FNotifier = nullptr;
    QTimer* FRetry = nullptr;
    QFileSystemWatcher* FWatcher = nullptr;
    int FClients = 0;
    int FReadTimeoutMs = DefaultReadTimeoutMs;
};

// Sends one request to the running instance and returns its reply number;
// nullopt when no instance listens (the null window) or it did not answer
// within `timeoutMs` (-1: wait as long as the handler runs).
std::optional<int> SendCommand(const QString& folder, const QByteArray& request,
                               int timeoutMs = -1);
