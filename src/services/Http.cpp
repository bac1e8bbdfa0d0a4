#include "services/Http.h"

#include "services/Plugin.h"
#include "services/http/HttpPlugin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>
#include <QUrl>
#include <QtDebug>
#include <memory>
#include <mutex>

namespace {

// Names under the reserved top-level domains can never answer; the defaults
// of a fresh installation use them so that nothing, not even a name lookup,
// leaves the machine until the user names a real service.
bool IsReservedHost(const QByteArray& url)
{
    const QString host = QUrl(QString::fromUtf8(url)).host().toLower();
    for (const QLatin1String domain : {QLatin1String("example"), QLatin1String("invalid")}) {
        if (host == domain || host.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}

QString PluginName()
{
    return QStringLiteral(VORANTU_HTTP_PLUGIN_FILE_NAME);
}

QStringList PluginCandidates()
{
    return ::PluginCandidates(PluginName(), QStringLiteral(VORANTU_HTTP_PLUGIN_INSTALL_DIR),
                              QStringLiteral(VORANTU_BUILD_DIR),
                              QStringLiteral(VORANTU_HTTP_PLUGIN_BUILD_PATH));
}

// Loaded once for the rest of the run; null with the reasons in `error`
// when no candidate loads. Requests come from several threads.
THttpRequestEntry Entry(QString& error)
{
    return reinterpret_cast<THttpRequestEntry>(
        ResolvePluginEntry(PluginCandidates(), "VorantuHttpRequest", PluginName(), error));
}

} // namespace

THttpReply HttpRequest(const THttpRequest& request)
{
    THttpReply reply;
    if (IsReservedHost(request.Url)) {
        reply.Error = QStringLiteral("the host name is reserved and was not looked up");
        return reply;
    }
    QString error;
    const THttpRequestEntry entry = Entry(error);
    if (!entry) {
        reply.Error = QStringLiteral("the HTTP plugin could not be loaded: %1").arg(error);
        qWarning("%s", qPrintable(reply.Error));
        return reply;
    }
    entry(request, reply);
    return reply;
}
