#include "InitConfig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

constexpr qint64 MaxConfigBytes = 64 * 1024;

[[noreturn]] void Fail(const QString& path, const QString& text)
{
    throw EConfigError(QStringLiteral("%1: %2").arg(path, text).toStdString());
}

bool IsWebAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QString ReadMember(const QString& path, const QJsonObject& object, const QString& key,
                   const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isString())
        Fail(path, QStringLiteral("\"%1%2\" must be a string").arg(where, key));
    return value.toString();
}

void RejectUnknown(const QString& path, const QJsonObject& object, const QStringList& known,
                   const QString& where)
{
    for (const QString& key : object.keys()) {
        if (!known.contains(key))
            Fail(path, QStringLiteral("unknown member \"%1%2\"").arg(where, key));
    }
}

} // namespace

TInitConfig LoadInitConfig(const QString& path)
{
    TInitConfig config;
    if (path.isEmpty())
        return config;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(path, file.errorString());
    const QByteArray text = file.read(MaxConfigBytes + 1);
    if (text.size() > MaxConfigBytes)
        Fail(path, QStringLiteral("larger than %1 bytes").arg(MaxConfigBytes));

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        Fail(
            path,
            QStringLiteral("not JSON at offset %1: %2").arg(error.offset).arg(error.errorString()));
    if (!document.isObject())
        Fail(path, QStringLiteral("not a JSON object"));

    const QJsonObject root = document.object();
    RejectUnknown(path, root,
                  {QStringLiteral("latest"), QStringLiteral("update"), QStringLiteral("notify"),
                   QStringLiteral("info")},
                  QString());
    config.Latest = ReadMember(path, root, QStringLiteral("latest"), QString());
    config.Update = ReadMember(path, root, QStringLiteral("update"), QString());
    config.Notify = ReadMember(path, root, QStringLiteral("notify"), QString());

    const QJsonValue info = root.value(QStringLiteral("info"));
    if (!info.isUndefined() && !info.isNull()) {
        if (!info.isObject())
            Fail(path, QStringLiteral("\"info\" must be an object"));
        const QJsonObject object = info.toObject();
        const QString where = QStringLiteral("info.");
        RejectUnknown(path, object,
                      {QStringLiteral("style"), QStringLiteral("text"), QStringLiteral("flag"),
                       QStringLiteral("url")},
                      where);
        config.InfoStyle = ReadMember(path, object, QStringLiteral("style"), where);
        config.InfoText = ReadMember(path, object, QStringLiteral("text"), where);
        config.InfoFlag = ReadMember(path, object, QStringLiteral("flag"), where);
        config.InfoUrl = ReadMember(path, object, QStringLiteral("url"), where);
    }

    if (!config.Latest.isEmpty() && !ParseVersion(config.Latest))
        Fail(path, QStringLiteral("\"latest\" is not a version like 1.2.3.4"));
    const std::pair<const char*, const QString*> addresses[] = {
        {"update", &config.Update}, {"notify", &config.Notify}, {"info.url", &config.InfoUrl}};
    for (const auto& [name, address] : addresses) {
        if (!address->isEmpty() && !IsWebAddress(*address))
            Fail(
                path,
                QStringLiteral("\"%1\" must be an http or https address").arg(QLatin1String(name)));
    }
    return config;
}

std::optional<quint64> ParseVersion(QStringView text)
{
    const QList<QStringView> parts = text.split(QLatin1Char('.'));
    if (parts.isEmpty() || parts.size() > 4)
        return std::nullopt;
    quint64 result = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        uint number = 0;
        if (i < parts.size()) {
            bool ok = false;
            number = parts[i].toUInt(&ok);
            if (!ok || number > 0xFFFF || parts[i].isEmpty() || !parts[i][0].isDigit())
                return std::nullopt;
        }
        result = (result << 16) | number;
    }
    return result;
}

bool OffersUpdate(const TInitConfig& config, QStringView clientVersion)
{
    if (config.Update.isEmpty())
        return false;
    const std::optional<quint64> latest = ParseVersion(config.Latest);
    const std::optional<quint64> client = ParseVersion(clientVersion);
    if (!latest || !client)
        return true;
    return *client < *latest;
}

QByteArray JsonQuote(QStringView text)
{
    QByteArray result;
    result.reserve(text.size() + 2);
    result += '"';
    qsizetype plainStart = 0;
    const auto flushPlain = [&](qsizetype end) {
        result += text.sliced(plainStart, end - plainStart).toUtf8();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        QByteArray escape;
        if (u == u'"')
            escape = "\\\"";
        else if (u == u'/')
            escape = "\\/";
        else if (u == u'\n')
            escape = "\\n";
        else if (u == u'\r')
            escape = "\\r";
        else if (u == u'\t')
            escape = "\\t";
        // A backslash is written as \u005c: Vorantu takes a backslash right
        // before a quotation mark as an escaped quote, so "\\" closing a
        // value would run that value on into the next.
        else if (u < 0x20 || u == u'\\' || u == u'{' || u == u'}' || u == 0x2028 || u == 0x2029)
            escape = QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0')).toLatin1();
        else
            continue;
        flushPlain(i);
        result += escape;
        plainStart = i + 1;
    }
    flushPlain(text.size());
    result += '"';
    return result;
}

QByteArray InitReply(const TInitConfig& config, bool offerUpdate)
{
    QByteArray reply = "{\"update\":" + JsonQuote(offerUpdate ? config.Update : QString()) +
                       ",\"notify\":" + JsonQuote(config.Notify) + ",\"info\":{";
    if (offerUpdate && config.HasInfo()) {
        reply +=
            "\"style\":" + JsonQuote(config.InfoStyle) + ",\"text\":" + JsonQuote(config.InfoText) +
            ",\"flag\":" + JsonQuote(config.InfoFlag) + ",\"url\":" + JsonQuote(config.InfoUrl);
    }
    reply += "}}";
    return reply;
}
