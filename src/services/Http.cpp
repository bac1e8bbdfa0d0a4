#include "services/Http.h"

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
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList candidates = {
        programDir + QLatin1Char('/') + PluginName(),
        QDir::cleanPath(programDir + QStringLiteral("/" VORANTU_HTTP_PLUGIN_INSTALL_DIR "/") +
                        PluginName())};
    // Only programs inside the build tree (the tests) load the build's own
    // plugin: the folder an installed program was built in may be a
    // temporary one that anybody could recreate with a plugin of their own.
    const QString buildDir = QDir::cleanPath(QStringLiteral(VORANTU_BUILD_DIR));
    if (programDir.startsWith(buildDir + QLatin1Char('/')))
        candidates << QStringLiteral(VORANTU_HTTP_PLUGIN_BUILD_PATH);
    return candidates;
}

// Loaded once for the rest of the run; null with the reasons in `error`
// when no candidate loads. Requests come from several threads.
THttpRequestEntry Entry(QString& error)
{
    static std::mutex mutex;
    static THttpRequestEntry entry = nullptr;
    // Destroying a QLibrary does not unload it; the one that loaded stays owned here.
    static std::unique_ptr<QLibrary> loaded;
    const std::lock_guard lock(mutex);
    if (entry)
        return entry;
    QStringList failures;
    for (const QString& candidate : PluginCandidates()) {
        if (!QFileInfo::exists(candidate))
            continue;
        auto library = std::make_unique<QLibrary>(candidate);
        entry = reinterpret_cast<THttpRequestEntry>(library->resolve("VorantuHttpRequest"));
        if (entry) {
            loaded = std::move(library);
            return entry;
        }
        failures << library->errorString();
    }
    error = failures.isEmpty() ? QStringLiteral("\"%1\" not found").arg(PluginName())
                               : failures.join(QLatin1Char('\n'));
    return nullptr;
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
