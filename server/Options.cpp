#include "Options.h"

#include <QStandardPaths>

namespace {

[[noreturn]] void Fail(const QString& text)
{
    throw EOptionError(text.toStdString());
}

// "127.0.0.1:8080", "[::1]:8080", "localhost:8080".
void ParseListen(const QString& value, TServiceOptions& options)
{
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        Fail(QStringLiteral("--listen needs ADDRESS:PORT, got \"%1\"").arg(value));
    QString host = value.left(colon);
    const QString portText = value.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);

    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        Fail(QStringLiteral("--listen: \"%1\" is not a port number").arg(portText));

    QHostAddress address;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host))
        Fail(QStringLiteral("--listen: \"%1\" is not an IPv4 or IPv6 address").arg(host));
    options.ListenAddress = address;
    options.ListenPort = quint16(port);
}

qint64 ParseBytes(const QString& value)
{
    bool ok = false;
    const qint64 bytes = value.toLongLong(&ok);
    // QByteArray holds at most about 2 GiB; the whole body is kept in memory.
    if (!ok || bytes < 1 || bytes > qint64(1) << 30)
        Fail(QStringLiteral("--max-body: \"%1\" is not a byte count from 1 to 1073741824")
                 .arg(value));
    return bytes;
}

int ParseCount(const QString& name, const QString& value, int highest)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < 1 || number > highest)
        Fail(QStringLiteral("%1: \"%2\" is not a number from 1 to %3")
                 .arg(name, value)
                 .arg(highest));
    return number;
}

} // namespace

TServiceOptions ParseServiceOptions(const QStringList& arguments)
{
    TServiceOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
            hasValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (hasValue)
                Fail(QStringLiteral("--help takes no value"));
            options.ShowHelp = true;
            continue;
        }
        static const QStringList withValue = {
            QStringLiteral("--listen"),     QStringLiteral("--storage"),
            QStringLiteral("--config"),     QStringLiteral("--max-body"),
            QStringLiteral("--log"),        QStringLiteral("--request-timeout"),
            QStringLiteral("--per-address")};
        if (!withValue.contains(name))
            Fail(QStringLiteral("unknown option \"%1\" (see --help)").arg(name));
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                Fail(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        }
        if (value.isEmpty())
            Fail(QStringLiteral("%1 needs a value").arg(name));

        if (name == QLatin1String("--listen"))
            ParseListen(value, options);
        else if (name == QLatin1String("--storage"))
            options.StorageDir = value;
        else if (name == QLatin1String("--config"))
            options.ConfigFile = value;
        else if (name == QLatin1String("--log"))
            options.LogFile = value;
        else if (name == QLatin1String("--request-timeout"))
            options.RequestTimeoutSeconds = ParseCount(name, value, 86400);
        else if (name == QLatin1String("--per-address"))
            options.ConnectionsPerAddress = ParseCount(name, value, 256);
        else
            options.MaxBodyBytes = ParseBytes(value);
    }
    if (options.StorageDir.isEmpty())
        options.StorageDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/vorantu-service");
    return options;
}

QString ServiceUsage()
{
    return QStringLiteral(R"(Usage: vorantu-service [OPTIONS]

The web service Vorantu talks to: it stores uploaded captures and serves them,
answers Vorantu's start-up call with update and notice addresses, and shows
the product page and the help page.

Options:
  --listen ADDRESS:PORT  where to accept connections (default 127.0.0.1:8080;
                         port 0 picks a free port, printed at start)
  --storage DIR          folder for uploaded pictures and the hold list
                         (default $XDG_DATA_HOME/vorantu-service)
  --config FILE          JSON file with the start-up answer, read anew for
                         every request (default: no update and no notice)
  --max-body BYTES       largest request body accepted (default 33554432)
  --log FILE             append one JSON line per request (default: standard
                         output)
  --request-timeout SEC  a request must arrive in full within SEC seconds,
                         and after its first 10 seconds at 8 KiB/s on
                         average at least (default 300)
  --per-address N        concurrent connections one client address may hold
                         (default 32; behind a reverse proxy, raise it)
  --help                 show this text

Addresses served:
  POST /image            multipart form with the PNG picture in field "file"
  GET  /i/NAME.png       an uploaded picture
  GET  /api.init.php     the start-up call (header User-Command: hold holds
                         the current update offer for that installation)
  GET  /vorantu?v=VER    the product page
  GET  /help?app=vorantu&msg=REASON   the help page

Configuration file, every member optional:
  {"latest": "0.2.0.0", "update": "https://.../download",
   "notify": "https://.../notice",
   "info": {"style": "hold", "text": "Do not ask again", "flag": "", "url": ""}}
  An update is offered only to versions older than "latest" (to every version
  when "latest" is absent).

Pointing Vorantu at the service: in ~/.config/Dastrane/Vorantu.conf, section
[General], set upload_host to HOST:PORT of this service and service_url to
its base address, for example
  [General]
  upload_host=127.0.0.1:8080
  service_url=http://127.0.0.1:8080

The service listens on the loopback address by default. Put it behind a
reverse proxy, or use --listen with another address, to serve other machines.
SIGINT or SIGTERM stops it.
)");
}
