#include "platform/wayland/Portal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <optional>

namespace {

const char Service[] = "org.freedesktop.portal.Desktop";
const char DesktopPath[] = "/org/freedesktop/portal/desktop";
const char RequestInterface[] = "org.freedesktop.portal.Request";

QString NewToken()
{
    static quint32 counter = 0;
    return QStringLiteral("vorantu%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Where the portal puts the Request object for `token`: the caller's unique
// name without its ':' and with '_' for '.', then the token.
QString RequestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

TPortalResult CallError(const QDBusError& error, const QString& method)
{
    TPortalResult result;
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        result.Outcome = TPortalOutcome::NoService;
        result.Error = QStringLiteral("no desktop portal answers on the session bus (%1)")
                           .arg(error.message());
        break;
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
        result.Outcome = TPortalOutcome::NoInterface;
        result.Error = QStringLiteral("the desktop portal does not offer %1 (%2)")
                           .arg(method, error.message());
        break;
    default:
        result.Outcome = TPortalOutcome::Refused;
        result.Error =
            QStringLiteral("the desktop portal refused %1: %2").arg(method, error.message());
        break;
    }
    return result;
}

} // namespace

TPortalRequest::TPortalRequest(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<TPortalResult>();
}

TPortalRequest::~TPortalRequest()
{
    Unsubscribe();
}

void TPortalRequest::Start(const QString& interface, const QString& method,
                           const QVariantList& arguments, QVariantMap options, int timeoutMs)
{
    Q_ASSERT(!FStarted);
    FStarted = true;
    FMethod = interface + QLatin1Char('.') + method;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        TPortalResult result;
        result.Outcome = TPortalOutcome::NoService;
        result.Error = QStringLiteral("no session bus to reach the desktop portal (%1)")
                           .arg(bus.lastError().message());
        QMetaObject::invokeMethod(
            this, [this, result] { Finish(result); }, Qt::QueuedConnection);
        return;
    }

    const QString token = NewToken();
    options.insert(QStringLiteral("handle_token"), token);
    if (!Subscribe(RequestPath(bus, token))) {
        TPortalResult result;
        result.Outcome = TPortalOutcome::NoService;
        result.Error = QStringLiteral("cannot listen for the desktop portal's answer (%1)")
                           .arg(bus.lastError().message());
        QMetaObject::invokeMethod(
            this, [this, result] { Finish(result); }, Qt::QueuedConnection);
        return;
    }

    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this, timeoutMs] {
        // Closing tells the back end nobody waits any more (a dialog it shows
        // goes away); the answer is not needed.
        if (!FPath.isEmpty()) {
            QDBusMessage close = QDBusMessage::createMethodCall(QLatin1String(Service), FPath,
                                                                QLatin1String(RequestInterface),
                                                                QStringLiteral("Close"));
            QDBusConnection::sessionBus().send(close);
        }
        TPortalResult result;
        result.Outcome = TPortalOutcome::TimedOut;
        result.Error = QStringLiteral("the desktop portal did not answer %1 within %2 ms")
                           .arg(FMethod)
                           .arg(timeoutMs);
        Finish(result);
    });
    FTimer->start(timeoutMs);

    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(Service), QLatin1String(DesktopPath), interface, method);
    QVariantList all = arguments;
    all.append(options);
    call.setArguments(all);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (FDone)
                    return;
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError()) {
                    Finish(CallError(reply.error(), FMethod));
                    return;
                }
                // Portals older than the handle_token convention choose the
                // path themselves; follow it. An answer that came on the
                // predicted path already finished the request.
                const QString path = reply.value().path();
                if (path != FPath) {
                    Unsubscribe();
                    if (!Subscribe(path)) {
                        TPortalResult result;
                        result.Outcome = TPortalOutcome::NoService;
                        result.Error = QStringLiteral("cannot listen for the desktop portal's "
                                                      "answer on %1")
                                           .arg(path);
                        Finish(result);
                    }
                }
            });
}

TPortalResult TPortalRequest::Call(const QString& interface, const QString& method,
                                   const QVariantList& arguments, const QVariantMap& options,
                                   int timeoutMs)
{
    TPortalRequest request;
    QEventLoop loop;
    std::optional<TPortalResult> answer;
    connect(&request, &TPortalRequest::Finished, &loop, [&](const TPortalResult& result) {
        answer = result;
        loop.quit();
    });
    request.Start(interface, method, arguments, options, timeoutMs);
    // The request's own timer bounds this wait.
    if (!answer)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answer.value_or(TPortalResult{});
}

bool TPortalRequest::HasInterface(const QString& interface)
{
    return QDBusConnection::sessionBus().isConnected() &&
           Property(interface, QStringLiteral("version"), 5000).type() ==
               QDBusMessage::ReplyMessage;
}

QDBusMessage TPortalRequest::Property(const QString& interface, const QString& name, int timeoutMs)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(Service), QLatin1String(DesktopPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({interface, name});
    return QDBusConnection::sessionBus().call(get, QDBus::Block, timeoutMs);
}

void TPortalRequest::OnResponse(uint response, const QVariantMap& results)
{
    TPortalResult result;
    result.Results = results;
    if (response == 0) {
        result.Outcome = TPortalOutcome::Success;
    } else if (response == 1) {
        result.Outcome = TPortalOutcome::Cancelled;
        result.Error = QStringLiteral("%1 was cancelled").arg(FMethod);
    } else {
        result.Outcome = TPortalOutcome::Failed;
        result.Error = QStringLiteral("the desktop portal could not complete %1 (response %2)")
                           .arg(FMethod)
                           .arg(response);
    }
    Finish(result);
}

bool TPortalRequest::Subscribe(const QString& path)
{
    FPath = path;
    return QDBusConnection::sessionBus().connect(
        QLatin1String(Service), path, QLatin1String(RequestInterface), QStringLiteral("Response"),
        this, SLOT(OnResponse(uint, QVariantMap)));
}

void TPortalRequest::Unsubscribe()
{
    if (FPath.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(
        QLatin1String(Service), FPath, QLatin1String(RequestInterface), QStringLiteral("Response"),
        this, SLOT(OnResponse(uint, QVariantMap)));
    FPath.clear();
}

void TPortalRequest::Finish(TPortalResult result)
{
    if (FDone)
        return;
    FDone = true;
    if (FTimer)
        FTimer->stop();
    Unsubscribe();
    emit Finished(result);
}
