#include "platform/Instance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

const char LockFileName[] = "VorantuMutex";
const char SocketName[] = "TFrmVorantu";

// A file descriptor closed with its owner.
class TFd
{
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

int FlockNoWait(int fd, int operation)
{
    int result;
    do
        result = ::flock(fd, operation | LOCK_NB);
    while (result < 0 && errno == EINTR);
    return result;
}

QString SocketPath(const QString& folder)
{
    return folder + QLatin1Char('/') + QLatin1String(SocketName);
}

bool SetNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const qint64 remaining = deadline.remainingTime();
        const int result =
            ::poll(&entry, 1, remaining < 0 ? -1 : int(qMin<qint64>(remaining, INT_MAX)));
        if (result > 0)
            return true;
        if (result == 0 || errno != EINTR)
            return false;
    }
}

// Parses a decimal number of digits only; nullopt for anything else or an
// overflow of 64 bits.
std::optional<quint64> ParseDecimal(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const quint64 digit = quint64(c - '0');
        if (value > (~quint64(0) - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::optional<QString> RuntimeFolder(QString* error)
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    // A relative XDG_RUNTIME_DIR is invalid and must be ignored.
    const QString folder = xdg.startsWith(QLatin1Char('/'))
                               ? xdg + QStringLiteral("/vorantu")
                               : QStringLiteral("/tmp/vorantu-%1").arg(::geteuid());
    const QByteArray path = QFile::encodeName(folder);
    auto fail = [&](const QString& why) -> std::optional<QString> {
        if (error)
            *error =
                QStringLiteral("Vorantu cannot use its runtime folder %1: %2").arg(folder, why);
        return std::nullopt;
    };

    if (::mkdir(path.constData(), 0700) == 0) {
        // The umask may have taken bits away; the owner needs all three.
        ::chmod(path.constData(), 0700);
    } else if (errno != EEXIST) {
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat info;
    // lstat: a symbolic link planted by someone else must not be followed.
    if (::lstat(path.constData(), &info) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(info.st_mode))
        return fail(QStringLiteral("it is not a folder."));
    if (info.st_uid != ::geteuid())
        return fail(QStringLiteral("it belongs to another user."));
    if (info.st_mode & 077)
        return fail(
            QStringLiteral("it is open to other users (mode %1); only its owner may use it.")
                .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return folder;
}

TInstanceLock::~TInstanceLock()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TInstanceLock::TryAcquire(const QString& folder)
{
    if (FFd >= 0)
        return true;
    const QByteArray path =
        QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(LockFileName));
    TFd fd(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.Get() < 0)
        return false;
    // IsHeld() in another process holds a shared lock for an instant; a few
    // quick retries keep such a probe from looking like a running instance.
    // A real instance holds the lock for good, so this is no wait for it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (FlockNoWait(fd.Get(), LOCK_EX) == 0) {
            FFd = fd.Release();
            return true;
        }
        if (errno != EWOULDBLOCK || attempt == 4)
            return false;
        QThread::usleep(2000);
    }
    return false;
}

bool TInstanceLock::IsHeld(const QString& folder)
{
    const QByteArray path =
        QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(LockFileName));
    const TFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.Get() < 0)
        return false;
    if (FlockNoWait(fd.Get(), LOCK_SH) == 0) {
        ::flock(fd.Get(), LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

TCommandRequest ParseCommandRequest(const QByteArray& request)
{
    TCommandRequest result;
    if (request.size() > MaxCommandRequestBytes)
        return result;
    const qsizetype newline = request.indexOf('\n');
    if (newline < 0)
        return result;
    const QByteArrayView head = QByteArrayView(request).first(newline);
    const QByteArrayView rest = QByteArrayView(request).sliced(newline + 1);

    if (head == "WM_QUERYENDSESSION") {
        if (rest.isEmpty())
            result.Kind = TCommandRequest::TKind::QueryEndSession;
        return result;
    }
    const qsizetype space = head.indexOf(' ');
    if (space < 0)
        return result;
    const QByteArrayView keyword = head.first(space);
    const std::optional<quint64> number = ParseDecimal(head.sliced(space + 1));
    if (!number)
        return result;
    if (keyword == "WM_USER" && rest.isEmpty()) {
        result.Kind = TCommandRequest::TKind::User;
        result.Param = *number;
    } else if (keyword == "WM_COPYDATA") {
        result.Kind = TCommandRequest::TKind::CopyData;
        result.Param = *number;
        result.Payload = rest.toByteArray();
    }
    return result;
}

void RaiseOpenFileLimit()
{
    static const bool raised = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
            return false;
        limit.rlim_cur = limit.rlim_max;
        return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }();
    Q_UNUSED(raised);
}

// One request: read to the client's half-close, run the handler, reply, close.
class TCommandServer::TConnection : public QObject
{
public:
    TConnection(int fd, THandler handler, int timeoutMs, QObject* parent)
        : QObject(parent), FFd(fd), FHandler(std::move(handler)),
          FNotifier(fd, QSocketNotifier::Read, this)
    {
        connect(&FNotifier, &QSocketNotifier::activated, this, &TConnection::ReadAvailable);
        FTimeout.setSingleShot(true);
        connect(&FTimeout, &QTimer::timeout, this, [this] { Reply(0); });
        FTimeout.start(timeoutMs);
    }

private:
    void ReadAvailable()
    {
        // A bounded number of reads per wake-up: a client that writes without
        // end must not keep the event loop (and this connection's time-out) waiting.
        char buffer[16384];
        for (int reads = 0; reads < 8; ++reads) {
            const ssize_t count = ::read(FFd.Get(), buffer, sizeof buffer);
            if (count > 0) {
                // Past the limit the rest is drained unread, so a client that is
                // still writing gets to its half-close and reads the answer.
                if (!FOverLong) {
                    FRequest.append(buffer, count);
                    if (FRequest.size() > MaxCommandRequestBytes) {
                        FOverLong = true;
                        FRequest.clear();
                    }
                }
                continue;
            }
            if (count == 0) {
                Finish();
                return;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                FNotifier.setEnabled(false);
                FTimeout.stop();
                deleteLater();
            }
            return;
        }
    }

    void Finish()
    {
        FNotifier.setEnabled(false);
        FTimeout.stop();
        const TCommandRequest request =
            FOverLong ? TCommandRequest{} : ParseCommandRequest(FRequest);
        FRequest.clear();
        if (request.Kind == TCommandRequest::TKind::Invalid) {
            Reply(0);
            return;
        }
        // From the event loop rather than inside the notifier's signal, so a
        // handler with a nested event loop leaves this connection in a settled state.
        QMetaObject::invokeMethod(
            this,
            [this, request] {
                const QPointer<TConnection> self(this);
                // The handler may destroy the server and with it this connection.
                const THandler handler = FHandler;
                const int reply = handler(request);
                if (self)
                    Reply(reply);
            },
            Qt::QueuedConnection);
    }

    void Reply(int value)
    {
        FNotifier.setEnabled(false);
        FTimeout.stop();
        const QByteArray text = QByteArray::number(value) + '\n';
        qsizetype sent = 0;
        while (sent < text.size()) {
            const ssize_t count = ::send(FFd.Get(), text.constData() + sent,
                                         size_t(text.size() - sent), MSG_NOSIGNAL);
            if (count > 0)
                sent += count;
            else if (count < 0 && errno == EINTR)
                continue;
            else
                break; // The sender left without waiting; nobody is told.
        }
        deleteLater();
    }

    TFd FFd;
    THandler FHandler;
    QSocketNotifier FNotifier;
    QTimer FTimeout;
    QByteArray FRequest;
    bool FOverLong = false;
};

TCommandServer::TCommandServer(THandler handler, QObject* parent)
    : QObject(parent), FHandler(std::move(handler)), FRetry(new QTimer(this)),
      FWatcher(new QFileSystemWatcher(this))
{
    FRetry->setSingleShot(true);
    connect(FRetry, &QTimer::timeout, this, [this] {
        if (FNotifier)
            FNotifier->setEnabled(true);
        AcceptPending();
    });
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this,
            &TCommandServer::CheckSocketFile);
}

TCommandServer::~TCommandServer()
{
    // Removing the file lets senders find no window at once.
    Close();
}

bool TCommandServer::Listen(const QString& folder)
{
    Close();
    RaiseOpenFileLimit();
    FFolder = folder;
    if (!Open())
        return false;
    FWatcher->addPath(folder);
    return true;
}

bool TCommandServer::Open()
{
    const QByteArray path = QFile::encodeName(SocketPath(FFolder));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    // Whatever is there is stale: the caller holds the instance lock.
    struct stat info;
    if (::lstat(path.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
        ::unlink(path.constData());
    TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0 ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (::chmod(path.constData(), 0600) != 0 || ::listen(fd.Get(), SOMAXCONN) != 0 ||
        ::lstat(path.constData(), &info) != 0) {
        ::unlink(path.constData());
        return false;
    }
    FSocketInode = info.st_ino;
    FListenFd = fd.Release();
    FNotifier = new QSocketNotifier(FListenFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TCommandServer::AcceptPending);
    return true;
}

void TCommandServer::Close()
{
    if (FListenFd < 0)
        return;
    FWatcher->removePaths(FWatcher->directories());
    delete FNotifier;
    FNotifier = nullptr;
    FRetry->stop();
    ::close(FListenFd);
    FListenFd = -1;
    // Only the file this server made: a later instance's socket stays.
    const QByteArray path = QFile::encodeName(SocketPath(FFolder));
    struct stat info;
    if (::lstat(path.constData(), &info) == 0 && info.st_ino == FSocketInode)
        ::unlink(path.constData());
}

void TCommandServer::CheckSocketFile()
{
    if (FListenFd < 0)
        return;
    const QByteArray path = QFile::encodeName(SocketPath(FFolder));
    struct stat info;
    if (::lstat(path.constData(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        info.st_ino == FSocketInode)
        return;
    // Someone removed or replaced the socket (a cleaner of old files, a
    // careless script): without it the instance could never be reached
    // again, so it listens anew. Connections in progress go on.
    delete FNotifier;
    FNotifier = nullptr;
    FRetry->stop();
    ::close(FListenFd);
    FListenFd = -1;
    Open();
}

void TCommandServer::AcceptPending()
{
    // A bounded number per wake-up, so a crowd of clients cannot keep the
    // event loop to itself.
    for (int accepted = 0; accepted < MaxClients && FListenFd >= 0; ++accepted) {
        const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            Accept(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Out of descriptors or memory: the clients wait in the backlog
            // and the server looks again shortly, instead of spinning on a
            // socket that stays readable or giving up the socket for good.
            if (FNotifier)
                FNotifier->setEnabled(false);
            FRetry->start(100);
        }
        return;
    }
}

void TCommandServer::Accept(int descriptor)
{
    TFd fd{descriptor};
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        (peer.uid != ::geteuid() && peer.uid != 0))
        return;
    if (FClients >= MaxClients) {
        // Refused without reading: the answer is that nothing was done.
        ::send(fd.Get(), "0\n", 2, MSG_NOSIGNAL);
        return;
    }
    auto* connection = new TConnection(fd.Release(), FHandler, FReadTimeoutMs, this);
    ++FClients;
    connect(connection, &QObject::destroyed, this, [this] { --FClients; });
}

std::optional<int> SendCommand(const QString& folder, const QByteArray& request, int timeoutMs)
{
    const QByteArray path = QFile::encodeName(SocketPath(folder));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    const TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0)
        return std::nullopt;
    int connected;
    do
        connected =
            ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (connected < 0 && errno == EINTR);
    if (connected < 0 || !SetNonBlocking(fd.Get()))
        return std::nullopt;

    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever
                                                : QDeadlineTimer(timeoutMs));
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t count = ::send(fd.Get(), request.constData() + sent,
                                     size_t(request.size() - sent), MSG_NOSIGNAL);
        if (count > 0) {
            sent += count;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd.Get(), POLLOUT, deadline))
                return std::nullopt;
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break; // The instance stopped reading; its answer may still be there.
        }
    }
    ::shutdown(fd.Get(), SHUT_WR);

    QByteArray reply;
    char buffer[64];
    for (;;) {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
        if (count > 0) {
            reply.append(buffer, count);
            if (reply.size() > 32)
                return std::nullopt;
        } else if (count == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd.Get(), POLLIN, deadline))
                return std::nullopt;
        } else if (errno != EINTR) {
            break;
        }
    }
    if (!reply.endsWith('\n'))
        return std::nullopt;
    const std::optional<quint64> value = ParseDecimal(QByteArrayView(reply).chopped(1));
    if (!value || *value > quint64(INT_MAX))
        return std::nullopt;
    return int(*value);
}
