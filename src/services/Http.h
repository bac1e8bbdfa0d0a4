#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <chrono>
#include <functional>

// How long a request may hang. Without these a service that accepts a
// connection and then stalls would keep the caller busy for ever.
struct THttpLimits
{
    std::chrono::milliseconds ConnectTimeout{30000};
    // A transfer that moves less than one byte a second for this long is
    // abandoned.
    std::chrono::seconds StallTime{60};
    // The whole exchange, connection included: a service that trickles a
    // byte a second meets the stall rule for ever, this one it cannot.
    std::chrono::milliseconds TotalTime{120000};
};

// Replies are short JSON texts; anything longer is not one of them and is
// never held in memory.
inline constexpr qsizetype MaxReplyBytes = 1024 * 1024;

enum class THttpVersion
{
    Http10,
    Http11
};

enum class THttpSchemes
{
    HttpOnly,
    HttpAndHttps
};

// Called before each block of the body with the bytes sent so far and the
// body's size, and once more with (size, size) when the last block is out.
using TBodyProgress = std::function<void(qint64 position, qint64 total)>;

struct THttpRequest
{
    QByteArray Url;
    QByteArray UserAgent;
    // Sent in this order. Control characters are removed from names and
    // values, so nothing from a stored setting can add a header line; an
    // empty value is sent as an empty header, not dropped. A "Host" entry
    // replaces the one derived from the address.
    QList<QPair<QByteArray, QByteArray>> Headers;
    // POST with this body when set, else GET.
    bool Post = false;
    QByteArray Body;
    qsizetype BlockBytes = 1024;
    TBodyProgress Progress;
    THttpVersion Version = THttpVersion::Http11;
    THttpSchemes Schemes = THttpSchemes::HttpAndHttps;
    bool FollowRedirects = false;
    // Asked at least once a second while the request runs; true abandons it.
    std::function<bool()> Cancelled;
    THttpLimits Limits;
};

struct THttpReply
{
    // A status line and the whole body arrived (whatever the status).
    bool Received = false;
    // A response began but its body exceeded MaxReplyBytes; Body is empty.
    bool TooLarge = false;
    long Status = 0;
    QByteArray Body;
    QString Error; // why nothing usable arrived, for the log
};

// Runs one request on the calling thread (never the user-interface thread:
// it blocks until the exchange ends). Never throws; failures come back in
// the reply. Proxies come from the usual environment variables. The first
// request loads the plugin that does the transfer; without it every request
// fails with the reason in Error.
THttpReply HttpRequest(const THttpRequest& request);
