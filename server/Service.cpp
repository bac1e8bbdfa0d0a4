#include "Service.h"

#include "HoldList.h"
#include "ImageStore.h"
#include "InitConfig.h"
#include "Multipart.h"
#include "Pages.h"
#include "PngCheck.h"
#include "RequestLog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <arpa/inet.h>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned int ThreadCount = 4;
// Pictures are decoded on threads of their own, so a crowd of large uploads
// slows only other uploads, never the pages and pictures being served.
constexpr int CheckThreadCount = 2;
constexpr unsigned int ConnectionLimit = 256;
constexpr unsigned int IdleTimeoutSeconds = 30;
// Uploads in flight may hold this many bodies of the largest size at once;
// more wait for a later try, so a crowd of uploads cannot exhaust memory.
constexpr qint64 BodiesInFlight = 4;
constexpr qsizetype MaxHostLength = 260;
// After a short grace, a body must keep arriving at this average rate: one
// byte every few seconds resets the idle timer but is no upload.
constexpr qint64 GraceSeconds = 10;
constexpr qint64 MinBytesPerSecond = 8 * 1024;

const char* const JsonType = "application/json; charset=utf-8";
const char* const HtmlType = "text/html; charset=utf-8";

// Letters, digits, dots and hyphens, an optional port; or a bracketed IPv6
// address. Everything else is refused, so the host can go into the reply's
// address without escaping and cannot point it somewhere odd.
bool IsSafeHost(QByteArrayView host)
{
    if (host.isEmpty() || host.size() > MaxHostLength)
        return false;
    qsizetype i = 0;
    if (host[0] == '[') {
        const qsizetype close = host.indexOf(']');
        if (close < 3)
            return false;
        for (char c : host.sliced(1, close - 1)) {
            if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'))
                return false;
        }
        i = close + 1;
    } else {
        while (i < host.size() && host[i] != ':') {
            const char c = host[i];
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'))
                return false;
            ++i;
        }
        if (i == 0)
            return false;
    }
    if (i == host.size())
        return true;
    if (host[i] != ':' || host.size() - i - 1 < 1 || host.size() - i - 1 > 5)
        return false;
    for (char c : host.sliced(i + 1)) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

QByteArray ErrorReply(const QString& message)
{
    return "{\"status\":\"error\",\"message\":" + JsonQuote(message) + '}';
}

QString PeerAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    return QString::fromLatin1(text);
}

QString Lookup(MHD_Connection* connection, MHD_ValueKind kind, const char* key)
{
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value ? QString::fromUtf8(value) : QString();
}

struct TValueList
{
    QJsonArray Pairs;
    int HostCount = 0;
    QList<QByteArray> ContentLengths;
};

MHD_Result CollectValue(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    auto* list = static_cast<TValueList*>(cls);
    const QString name = QString::fromUtf8(key ? key : "");
    if (name.compare(QLatin1String("Host"), Qt::CaseInsensitive) == 0)
        ++list->HostCount;
    if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
        list->ContentLengths.append(QByteArray(value ? value : "").trimmed());
    list->Pairs.append(QJsonArray{name, QString::fromUtf8(value ? value : "")});
    return MHD_YES;
}

void Log(void*, const char* format, va_list arguments)
{
    std::fputs("vorantu-service: ", stderr);
    std::vfprintf(stderr, format, arguments);
}

struct TResponseDeleter
{
    void operator()(MHD_Response* response) const { MHD_destroy_response(response); }
};
using TResponsePtr = std::unique_ptr<MHD_Response, TResponseDeleter>;

struct TDaemonStopper
{
    void operator()(MHD_Daemon* daemon) const { MHD_stop_daemon(daemon); }
};

// One request from its headers to its completion; owned by the connection
// (MHD's per-request pointer) and freed in the completion callback. Touched
// only by the thread that serves its connection.
struct TExchange
{
    QString Peer;
    QString Method;
    QString Path;
    QJsonObject LogEntry;
    bool IsUpload = false;
    bool Answered = false;
    // Set when the upload cannot be taken while its body is still coming:
    // the rest is read and dropped, so the client is there to read the reply
    // instead of meeting a reset connection.
    bool Refused = false;
    qint64 Reserved = 0; // bytes of the in-flight budget held by this upload
    qint64 Received = 0;
    QElapsedTimer Started; // from the end of the headers
    // The picture's check runs on a check thread while the connection is
    // suspended; the thread fills in the outcome before resuming it.
    enum class TCheck
    {
        NotYet,
        Running,
        Done
    } Check = TCheck::NotYet;
    unsigned int CheckStatus = 0;
    QString CheckMessage; // the error, or the stored picture's name
    qint64 StoredBytes = 0;
    QByteArray Host;
    QByteArray Boundary;
    QByteArray Body;
};

// A few threads that run jobs in the order posted. Stop runs what is queued
// and then ends them.
class TJobThreads
{
public:
    explicit TJobThreads(int count)
    {
        for (int i = 0; i < count; ++i)
            FThreads.emplace_back([this] { Run(); });
    }
    ~TJobThreads() { Stop(); }

    // Once stopping, the job runs at once on the caller's thread: nothing
    // posted may be left unrun.
    void Post(std::function<void()> job)
    {
        {
            std::lock_guard locker(FLock);
            if (!FStopping) {
                FJobs.push_back(std::move(job));
                job = nullptr;
            }
        }
        if (job)
            job();
        else
            FWake.notify_one();
    }

    void Stop()
    {
        {
            std::lock_guard locker(FLock);
            FStopping = true;
        }
        FWake.notify_all();
        for (std::thread& thread : FThreads) {
            if (thread.joinable())
                thread.join();
        }
    }

private:
    void Run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock locker(FLock);
                FWake.wait(locker, [this] { return FStopping || !FJobs.empty(); });
                if (FJobs.empty())
                    return;
                job = std::move(FJobs.front());
                FJobs.pop_front();
            }
            job();
        }
    }

    std::mutex FLock; // guards FJobs and FStopping
    std::condition_variable FWake;
    std::deque<std::function<void()>> FJobs;
    bool FStopping = false;
    std::vector<std::thread> FThreads;
};

} // namespace

class TServiceCore
{
public:
    explicit TServiceCore(const TServiceOptions& options);
    ~TServiceCore();

    quint16 Port() const;
    const TServiceOptions& Options() const { return FOptions; }

    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char* version, const char* uploadData,
                                size_t* uploadDataSize, void** context);
    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);

private:
    MHD_Result Begin(MHD_Connection* connection, TExchange& exchange, const char* version);
    MHD_Result Receive(TExchange& exchange, const char* data, size_t* size);
    MHD_Result FinishUpload(MHD_Connection* connection, TExchange& exchange);
    void CheckAndStore(TExchange& exchange, QByteArrayView picture);
    MHD_Result BeginUpload(MHD_Connection* connection, TExchange& exchange);
    MHD_Result ServeImage(MHD_Connection* connection, TExchange& exchange);
    MHD_Result ServeInit(MHD_Connection* connection, TExchange& exchange);

    enum class TAfterReply
    {
        KeepAlive,
        Close
    };
    MHD_Result Answer(MHD_Connection* connection, TExchange& exchange, unsigned int status,
                      const char* contentType, const QByteArray& body, const char* allow = nullptr,
                      TAfterReply after = TAfterReply::KeepAlive);
    MHD_Result AnswerError(MHD_Connection* connection, TExchange& exchange, unsigned int status,
                           const QString& message, const char* allow = nullptr,
                           TAfterReply after = TAfterReply::KeepAlive);
    bool IsTooSlow(const TExchange& exchange) const;
    MHD_Result Queue(MHD_Connection* connection, TExchange& exchange, unsigned int status,
                     MHD_Response* response);

    bool Reserve(qint64 bytes);
    void Release(qint64 bytes);
    TInitConfig CurrentConfig() const;
    void WriteLog(const QJsonObject& entry);

    TServiceOptions FOptions;
    TImageStore FStore;
    THoldList FHolds;
    TRequestLog FLog;
    std::mutex FBudgetLock; // guards FBudgetUsed
    qint64 FBudgetUsed = 0;
    TJobThreads FChecks{CheckThreadCount};
    std::unique_ptr<MHD_Daemon, TDaemonStopper> FDaemon;
};

TServiceCore::TServiceCore(const TServiceOptions& options)
    : FOptions(options), FStore(options.StorageDir),
      FHolds(FStore.Dir() + QStringLiteral("/holds.json")), FLog(options.LogFile)
{
    // A configuration that does not load is an operator's mistake best
    // reported now; later edits that break it only silence the offers.
    LoadInitConfig(options.ConfigFile);

    sockaddr_in address4{};
    sockaddr_in6 address6{};
    const sockaddr* address = nullptr;
    unsigned int flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG | MHD_USE_POLL |
                         MHD_ALLOW_SUSPEND_RESUME;
    if (options.ListenAddress.protocol() == QAbstractSocket::IPv6Protocol) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(options.ListenPort);
        const Q_IPV6ADDR raw = options.ListenAddress.toIPv6Address();
        std::memcpy(&address6.sin6_addr, raw.c, sizeof raw.c);
        address = reinterpret_cast<const sockaddr*>(&address6);
        flags |= MHD_USE_IPv6;
    } else {
        address4.sin_family = AF_INET;
        address4.sin_port = htons(options.ListenPort);
        address4.sin_addr.s_addr = htonl(options.ListenAddress.toIPv4Address());
        address = reinterpret_cast<const sockaddr*>(&address4);
    }

    FDaemon.reset(MHD_start_daemon(
        flags, options.ListenPort, nullptr, nullptr, &TServiceCore::OnRequest, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Log, nullptr, MHD_OPTION_SOCK_ADDR, address,
        MHD_OPTION_THREAD_POOL_SIZE, ThreadCount, MHD_OPTION_CONNECTION_LIMIT, ConnectionLimit,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        static_cast<unsigned int>(options.ConnectionsPerAddress), MHD_OPTION_CONNECTION_TIMEOUT,
        IdleTimeoutSeconds, MHD_OPTION_NOTIFY_COMPLETED, &TServiceCore::OnCompleted, this,
        MHD_OPTION_END));
    if (!FDaemon)
        throw EServiceError(QStringLiteral("cannot listen on %1 port %2 (in use, or not an "
                                           "address of this machine)")
                                .arg(options.ListenAddress.toString())
                                .arg(options.ListenPort)
                                .toStdString());
}

TServiceCore::~TServiceCore()
{
    // Checks still queued resume their connections; only then may the
    // daemon go.
    FChecks.Stop();
    FDaemon.reset();
}

quint16 TServiceCore::Port() const
{
    const MHD_DaemonInfo* info = MHD_get_daemon_info(FDaemon.get(), MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : FOptions.ListenPort;
}

MHD_Result TServiceCore::OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                   const char* method, const char* version, const char* uploadData,
                                   size_t* uploadDataSize, void** context)
{
    auto* core = static_cast<TServiceCore*>(cls);
    // Nothing may unwind into the C library: a failure ends this request only.
    try {
        if (!*context) {
            auto exchange = std::make_unique<TExchange>();
            exchange->Method = QString::fromLatin1(method);
            exchange->Path = QString::fromUtf8(url);
            exchange->Peer = PeerAddress(connection);
            TExchange& ref = *exchange;
            *context = exchange.release();
            return core->Begin(connection, ref, version);
        }
        TExchange& exchange = *static_cast<TExchange*>(*context);
        if (exchange.Answered)
            return MHD_YES;
        if (*uploadDataSize != 0)
            return core->Receive(exchange, uploadData, uploadDataSize);
        return core->FinishUpload(connection, exchange);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vorantu-service: %s %s: %s\n", method, url, error.what());
    } catch (...) {
        std::fprintf(stderr, "vorantu-service: %s %s: unknown failure\n", method, url);
    }
    return MHD_NO;
}

void TServiceCore::OnCompleted(void* cls, MHD_Connection*, void** context,
                               MHD_RequestTerminationCode code)
{
    auto* core = static_cast<TServiceCore*>(cls);
    std::unique_ptr<TExchange> exchange(static_cast<TExchange*>(*context));
    *context = nullptr;
    if (!exchange)
        return;
    core->Release(exchange->Reserved);
    if (exchange->Answered)
        return;
    // Requests that never got an answer (the client left, the body was cut
    // off or grew too large) are logged here with the reason.
    static const char* const reasons[] = {"completed", "error",      "timeout",
                                          "shutdown",  "read error", "client abort"};
    const auto index = static_cast<size_t>(code);
    try {
        exchange->LogEntry.insert(
            QStringLiteral("ended"),
            QLatin1String(index < std::size(reasons) ? reasons[index] : "other"));
        core->WriteLog(exchange->LogEntry);
    } catch (...) {
        // Out of memory while noting a request that is over anyway.
    }
}

MHD_Result TServiceCore::Begin(MHD_Connection* connection, TExchange& exchange, const char* version)
{
    TValueList headers;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectValue, &headers);
    TValueList query;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CollectValue, &query);

    QJsonObject& entry = exchange.LogEntry;
    entry.insert(QStringLiteral("time"),
                 QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    entry.insert(QStringLiteral("peer"), exchange.Peer);
    entry.insert(QStringLiteral("method"), exchange.Method);
    entry.insert(QStringLiteral("path"), exchange.Path);
    if (!query.Pairs.isEmpty())
        entry.insert(QStringLiteral("query"), query.Pairs);
    entry.insert(QStringLiteral("protocol"), QString::fromLatin1(version ? version : ""));
    entry.insert(QStringLiteral("headers"), headers.Pairs);

    if (headers.HostCount > 1)
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QStringLiteral("more than one Host header"));
    // The library reads the first length; a proxy in front may read the
    // last, and the difference would run the rest of the body as a request
    // of its own. Nothing of such a connection can be trusted, so it ends.
    for (const QByteArray& length : std::as_const(headers.ContentLengths)) {
        if (length != headers.ContentLengths.first())
            return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                               QStringLiteral("Content-Length headers that differ"), nullptr,
                               TAfterReply::Close);
    }

    const QString& path = exchange.Path;
    const bool isGet =
        exchange.Method == QLatin1String("GET") || exchange.Method == QLatin1String("HEAD");
    const bool isPost = exchange.Method == QLatin1String("POST");

    if (path == QLatin1String("/image")) {
        if (!isPost)
            return AnswerError(connection, exchange, MHD_HTTP_METHOD_NOT_ALLOWED,
                               QStringLiteral("use POST to upload"), "POST");
        return BeginUpload(connection, exchange);
    }

    const bool isImage = path.startsWith(QLatin1String("/i/"));
    const bool isKnown = isImage || path == QLatin1String("/api.init.php") ||
                         path == QLatin1String("/vorantu") || path == QLatin1String("/help");
    if (!isKnown)
        return AnswerError(connection, exchange, MHD_HTTP_NOT_FOUND, QStringLiteral("not found"));
    if (!isGet)
        return AnswerError(connection, exchange, MHD_HTTP_METHOD_NOT_ALLOWED,
                           QStringLiteral("method not allowed"), "GET, HEAD");

    if (isImage)
        return ServeImage(connection, exchange);
    if (path == QLatin1String("/api.init.php"))
        return ServeInit(connection, exchange);
    if (path == QLatin1String("/vorantu"))
        return Answer(connection, exchange, MHD_HTTP_OK, HtmlType,
                      ProductPage(Lookup(connection, MHD_GET_ARGUMENT_KIND, "v"), CurrentConfig()));
    return Answer(connection, exchange, MHD_HTTP_OK, HtmlType,
                  HelpPage(Lookup(connection, MHD_GET_ARGUMENT_KIND, "msg")));
}

MHD_Result TServiceCore::BeginUpload(MHD_Connection* connection, TExchange& exchange)
{
    // Everything that can be judged from the headers is judged before the
    // body is read, so a refused upload costs no bandwidth or memory.
    exchange.Host = QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host"));
    if (exchange.Host.isEmpty())
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QStringLiteral("the Host header is missing"));
    if (!IsSafeHost(exchange.Host))
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QStringLiteral("the Host header is not a host name"));

    try {
        exchange.Boundary = FormBoundary(QByteArrayView(
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type")));
    } catch (const EMultipartError& error) {
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QString::fromUtf8(error.what()));
    }

    const char* lengthText =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
    const char* encoding =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Transfer-Encoding");
    qint64 length = 0;
    // A chunked body is refused before its first chunk line is read: the
    // library answers an over-long chunk line itself, with its own page and
    // a 500, and the program's uploads always declare their length.
    if (encoding && qstricmp(encoding, "identity") != 0)
        return AnswerError(connection, exchange, MHD_HTTP_LENGTH_REQUIRED,
                           QStringLiteral("an upload must declare its Content-Length"));
    if (lengthText) {
        bool ok = false;
        length = QByteArray(lengthText).trimmed().toLongLong(&ok);
        if (!ok || length < 0)
            return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                               QStringLiteral("the Content-Length header is not a number"));
    }
    if (length > FOptions.MaxBodyBytes)
        return AnswerError(
            connection, exchange, MHD_HTTP_CONTENT_TOO_LARGE,
            QStringLiteral("the upload is larger than %1 bytes").arg(FOptions.MaxBodyBytes));
    // Memory is set aside as the body arrives, not as declared: a client that
    // announces a large body and sends it a byte at a time holds only what it
    // sent, and cannot lock every other upload out.
    exchange.IsUpload = true;
    exchange.Started.start();
    return MHD_YES;
}

MHD_Result TServiceCore::Receive(TExchange& exchange, const char* data, size_t* size)
{
    if (!exchange.IsUpload) {
        *size = 0;
        return MHD_YES;
    }
    exchange.Received += qint64(*size);
    if (IsTooSlow(exchange)) {
        std::fprintf(stderr,
                     "vorantu-service: %s: upload too slow (%lld bytes in %lld ms), closed\n",
                     qPrintable(exchange.Peer), static_cast<long long>(exchange.Received),
                     static_cast<long long>(exchange.Started.elapsed()));
        exchange.LogEntry.insert(QStringLiteral("error"), QStringLiteral("too slow"));
        return MHD_NO;
    }
    if (exchange.Refused) {
        *size = 0;
        return MHD_YES;
    }
    const qint64 total = exchange.Body.size() + qint64(*size);
    if (total > exchange.Reserved) {
        if (!Reserve(total - exchange.Reserved)) {
            exchange.Refused = true;
            Release(exchange.Reserved);
            exchange.Reserved = 0;
            exchange.Body = QByteArray();
            *size = 0;
            return MHD_YES;
        }
        exchange.Reserved = total;
    }
    exchange.Body.append(data, qsizetype(*size));
    *size = 0;
    return MHD_YES;
}

MHD_Result TServiceCore::FinishUpload(MHD_Connection* connection, TExchange& exchange)
{
    if (!exchange.IsUpload)
        return MHD_NO; // every other request is answered when it begins
    if (exchange.Refused)
        return AnswerError(connection, exchange, MHD_HTTP_SERVICE_UNAVAILABLE,
                           QStringLiteral("too many uploads at once; try again shortly"), nullptr,
                           TAfterReply::Close);

    if (exchange.Check == TExchange::TCheck::Done) {
        if (exchange.CheckStatus != MHD_HTTP_OK)
            return AnswerError(connection, exchange, exchange.CheckStatus, exchange.CheckMessage);
        const QString& name = exchange.CheckMessage;
        exchange.LogEntry.insert(QStringLiteral("image"), name);
        exchange.LogEntry.insert(QStringLiteral("bytes"), exchange.StoredBytes);
        // The host passed IsSafeHost, so it needs no escaping; slashes are
        // escaped as the reply has always been written.
        const QByteArray reply = "{\"status\":\"success\",\"url\":\"http:\\/\\/" + exchange.Host +
                                 "\\/i\\/" + name.toLatin1() + "\"}";
        return Answer(connection, exchange, MHD_HTTP_OK, JsonType, reply);
    }
    if (exchange.Check == TExchange::TCheck::Running)
        return MHD_YES;

    TFormFile file;
    try {
        file = ReadFormFile(exchange.Body, exchange.Boundary, "file");
    } catch (const EMultipartError& error) {
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QString::fromUtf8(error.what()));
    }
    // The body stays with the exchange, which the library keeps until the
    // connection has been resumed and answered.
    exchange.Check = TExchange::TCheck::Running;
    MHD_suspend_connection(connection);
    FChecks.Post([this, connection, &exchange, picture = file.Data] {
        CheckAndStore(exchange, picture);
        exchange.Check = TExchange::TCheck::Done;
        MHD_resume_connection(connection);
    });
    return MHD_YES;
}

void TServiceCore::CheckAndStore(TExchange& exchange, QByteArrayView picture)
{
    try {
        // Bytes after the picture's end are no part of it and would be served
        // to whoever opens the link; only the picture is kept.
        picture.truncate(qsizetype(CheckPng(picture)));
        exchange.CheckMessage = FStore.Save(picture);
        exchange.CheckStatus = MHD_HTTP_OK;
        exchange.StoredBytes = picture.size();
    } catch (const EPngError& error) {
        exchange.CheckStatus = MHD_HTTP_UNSUPPORTED_MEDIA_TYPE;
        exchange.CheckMessage = QString::fromUtf8(error.what());
    } catch (const EStorageError& error) {
        std::fprintf(stderr, "vorantu-service: %s\n", error.what());
        exchange.CheckStatus = MHD_HTTP_INTERNAL_SERVER_ERROR;
        exchange.CheckMessage = QStringLiteral("the picture could not be stored");
    } catch (...) {
        exchange.CheckStatus = MHD_HTTP_INTERNAL_SERVER_ERROR;
        exchange.CheckMessage = QStringLiteral("the picture could not be checked");
    }
    exchange.Body = QByteArray();
}

MHD_Result TServiceCore::ServeImage(MHD_Connection* connection, TExchange& exchange)
{
    const QString name = exchange.Path.mid(3);
    const int fd = FStore.Open(name);
    if (fd < 0)
        return AnswerError(connection, exchange, MHD_HTTP_NOT_FOUND, QStringLiteral("not found"));
    struct stat info
    {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return AnswerError(connection, exchange, MHD_HTTP_NOT_FOUND, QStringLiteral("not found"));
    }
    // The response owns the descriptor from here on.
    MHD_Response* response = MHD_create_response_from_fd64(uint64_t(info.st_size), fd);
    if (!response) {
        ::close(fd);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "image/png");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "public, max-age=86400");
    return Queue(connection, exchange, MHD_HTTP_OK, response);
}

MHD_Result TServiceCore::ServeInit(MHD_Connection* connection, TExchange& exchange)
{
    const TInitConfig config = CurrentConfig();
    const QString command = Lookup(connection, MHD_HEADER_KIND, "User-Command");
    if (command == QLatin1String("hold")) {
        if (!config.Update.isEmpty() && !FHolds.Hold(exchange.Peer, config.Update))
            std::fprintf(stderr, "vorantu-service: cannot save the hold list in %s\n",
                         qPrintable(FStore.Dir()));
        return Answer(connection, exchange, MHD_HTTP_OK, JsonType, "{\"status\":\"success\"}");
    }
    if (!command.isEmpty())
        return AnswerError(connection, exchange, MHD_HTTP_BAD_REQUEST,
                           QStringLiteral("unknown command"));

    const QString installId = Lookup(connection, MHD_HEADER_KIND, "User-Union");
    FHolds.NoteStartup(exchange.Peer, installId);
    const bool offer = OffersUpdate(config, Lookup(connection, MHD_HEADER_KIND, "User-Version")) &&
                       !FHolds.IsHeld(exchange.Peer, installId, config.Update);
    exchange.LogEntry.insert(QStringLiteral("offered"), offer);
    return Answer(connection, exchange, MHD_HTTP_OK, JsonType, InitReply(config, offer));
}

bool TServiceCore::IsTooSlow(const TExchange& exchange) const
{
    const qint64 elapsedMs = exchange.Started.elapsed();
    if (elapsedMs > qint64(FOptions.RequestTimeoutSeconds) * 1000)
        return true;
    const qint64 graceMs = GraceSeconds * 1000;
    return elapsedMs > graceMs &&
           exchange.Received < MinBytesPerSecond * (elapsedMs - graceMs) / 1000;
}

MHD_Result TServiceCore::Answer(MHD_Connection* connection, TExchange& exchange,
                                unsigned int status, const char* contentType,
                                const QByteArray& body, const char* allow, TAfterReply after)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    if (after == TAfterReply::Close)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (qstrcmp(contentType, HtmlType) == 0)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY,
                                "default-src 'none'; style-src 'unsafe-inline'");
    return Queue(connection, exchange, status, response);
}

MHD_Result TServiceCore::AnswerError(MHD_Connection* connection, TExchange& exchange,
                                     unsigned int status, const QString& message, const char* allow,
                                     TAfterReply after)
{
    exchange.LogEntry.insert(QStringLiteral("error"), message);
    return Answer(connection, exchange, status, JsonType, ErrorReply(message), allow, after);
}

MHD_Result TServiceCore::Queue(MHD_Connection* connection, TExchange& exchange, unsigned int status,
                               MHD_Response* response)
{
    TResponsePtr owned(response);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    exchange.Answered = true;
    // Logged before the reply leaves, so whoever got the reply finds the line.
    exchange.LogEntry.insert(QStringLiteral("status"), int(status));
    WriteLog(exchange.LogEntry);
    return MHD_queue_response(connection, status, response);
}

bool TServiceCore::Reserve(qint64 bytes)
{
    std::lock_guard locker(FBudgetLock);
    if (FBudgetUsed + bytes > BodiesInFlight * FOptions.MaxBodyBytes)
        return false;
    FBudgetUsed += bytes;
    return true;
}

void TServiceCore::Release(qint64 bytes)
{
    std::lock_guard locker(FBudgetLock);
    FBudgetUsed -= bytes;
}

void TServiceCore::WriteLog(const QJsonObject& entry)
{
    try {
        FLog.Write(entry);
    } catch (...) {
        // The log is a record, not a duty: losing a line must not end the run.
    }
}

TInitConfig TServiceCore::CurrentConfig() const
{
    try {
        return LoadInitConfig(FOptions.ConfigFile);
    } catch (const EConfigError& error) {
        std::fprintf(stderr, "vorantu-service: %s; answering without offers\n", error.what());
        return {};
    }
}

TService::TService(const TServiceOptions& options) : FCore(std::make_unique<TServiceCore>(options))
{}

TService::~TService() = default;

quint16 TService::Port() const
{
    return FCore->Port();
}

QString TService::BaseAddress() const
{
    const QHostAddress& address = FCore->Options().ListenAddress;
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return QStringLiteral("http://%1:%2").arg(host).arg(Port());
}
