#include "services/Text.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

QString AsciiUpper(const QString& text)
{
    QString copy = text;
    for (QChar& c : copy) {
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            c = QChar(char16_t(c.unicode() - 32));
    }
    return copy;
}

bool IsBlank(QChar c)
{
    return c.unicode() <= 32;
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QString TextBetween(const QString& source, const QString& startTag, const QString& endTag,
                    bool keepTags)
{
    QString text = AsciiUpper(source);
    const QString start = AsciiUpper(startTag);
    const QString end = AsciiUpper(endTag);

    if (!end.isEmpty() && QStringLiteral("\"'").contains(end)) {
        // Hide escaped end markers from the search. The replacement has the
        // same length, so positions found in the copy still cut `source`.
        const QString escaped = QLatin1Char('\\') + end;
        const QString hidden(escaped.size(), QLatin1Char('\\'));
        text.replace(escaped, hidden);
    }

    qsizetype from = 0;
    if (!start.isEmpty()) {
        const qsizetype at = text.indexOf(start);
        if (at < 0)
            return QString();
        from = at + start.size();
    }
    qsizetype to = source.size();
    if (!end.isEmpty()) {
        const qsizetype at = text.indexOf(end, from);
        if (at < 0)
            return QString();
        to = at;
    }

    QString result = source.mid(from, to - from);
    if (keepTags) {
        qsizetype first = 0;
        qsizetype last = result.size();
        while (first < last && IsBlank(result[first]))
            ++first;
        while (last > first && IsBlank(result[last - 1]))
            --last;
        if (last > first)
            result = startTag + result + endTag;
    }
    return result;
}

QString JsonUnescape(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\')) {
            result += c;
            continue;
        }
        if (i + 1 >= value.size())
            break;
        const QChar next = value[++i];
        switch (next.unicode()) {
        case u'"':
        case u'\'':
        case u'/':
        case u'\\':
            result += next;
            break;
        case u'b':
            result += QChar(8);
            break;
        case u'f':
            result += QChar(12);
            break;
        case u'n':
            result += QChar(10);
            break;
        case u'r':
            result += QChar(13);
            break;
        case u't':
            result += QChar(9);
            break;
        case u'u': {
            const QString digits = value.mid(i + 1, 4);
            char16_t unit = 0;
            bool ok = digits.size() == 4;
            for (QChar d : digits) {
                const int v = HexDigit(d);
                ok = ok && v >= 0;
                unit = char16_t(unit * 16 + (v < 0 ? 0 : v));
            }
            if (!ok)
                throw EConvertError(QStringLiteral("'%1' is not a valid hexadecimal number")
                                        .arg(digits)
                                        .toStdString());
            result += QChar(unit);
            i += 4;
            break;
        }
        default:
            break;
        }
    }
    return result;
}

void ShellOpen(const QString& target)
{
    if (target.isEmpty())
        return;
    // A path on this machine opens in its default program; anything else is
    // taken as an address.
    const bool isPath = target.startsWith(QLatin1Char('/')) || QDir(target).exists();
    const QUrl url = isPath ? QUrl::fromLocalFile(target) : QUrl(target, QUrl::StrictMode);
    QDesktopServices::openUrl(url);
}

bool IsWebAddress(const QString& address)
{
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool ShellOpenServerAddress(const QString& address)
{
    if (!IsWebAddress(address))
        return false;
    QDesktopServices::openUrl(QUrl(address.trimmed(), QUrl::StrictMode));
    return true;
}
