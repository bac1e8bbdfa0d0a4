#include "platform/Notifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QThread>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <utility>

namespace {

const char Service[] = "org.freedesktop.Notifications";
const char Path[] = "/org/freedesktop/Notifications";
const char Interface[] = "org.freedesktop.Notifications";

// The largest side of the picture sent along: enough for any notification's
// image, small enough that a full-screen capture does not travel the bus.
constexpr int IconSide = 256;

// Notifications whose actions are remembered; older ones lose theirs.
constexpr int RememberedNotifications = 64;

// The "image-data" hint: width, height, row stride, alpha, bits per sample,
// channels, bytes (signature "(iiibiiay)").
struct TImageData
{
    int Width = 0;
    int Height = 0;
    int RowStride = 0;
    bool HasAlpha = true;
    int BitsPerSample = 8;
    int Channels = 4;
    QByteArray Data;
};

QDBusArgument& operator<<(QDBusArgument& argument, const TImageData& image)
{
    argument.beginStructure();
    argument << image.Width << image.Height << image.RowStride << image.HasAlpha
             << image.BitsPerSample << image.Channels << image.Data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TImageData& image)
{
    argument.beginStructure();
    argument >> image.Width >> image.Height >> image.RowStride >> image.HasAlpha >>
        image.BitsPerSample >> image.Channels >> image.Data;
    argument.endStructure();
    return argument;
}

TImageData ImageData(const QImage& picture)
{
    QImage icon = picture;
    if (icon.width() > IconSide || icon.height() > IconSide)
        icon = icon.scaled(IconSide, IconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    icon = icon.convertToFormat(QImage::Format_RGBA8888);
    TImageData data;
    data.Width = icon.width();
    data.Height = icon.height();
    data.RowStride = int(icon.bytesPerLine());
    data.Data = QByteArray(reinterpret_cast<const char*>(icon.constBits()), icon.sizeInBytes());
    return data;
}

// Where the session bus listens, without ever starting one: libdbus would
// otherwise try to launch a bus when the address is unset, which may wait.
QString SessionBusAddress()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/'))) {
        const QString socket = runtime + QStringLiteral("/bus");
        if (QFileInfo(socket).exists())
            return QStringLiteral("unix:path=") + socket;
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(TImageData)

TNotifications::TNotifications(QObject* parent) : QObject(parent)
{
    FConnectionName = QStringLiteral("vorantu-notifications-%1").arg(quintptr(this), 0, 16);
    FConnectDeadline.setSingleShot(true);
    FConnectDeadline.setInterval(ConnectTimeoutMs);
    connect(&FConnectDeadline, &QTimer::timeout, this, [this] {
        if (FState != TState::Connecting)
            return;
        FState = TState::Unavailable;
        FailWaiting(QStringLiteral("the session bus did not answer"));
    });
}

TNotifications::~TNotifications()
{
    if (FConnecting) {
        // A thread stuck in a wedged bus's greeting must not hold up quitting:
        // it is left to end on its own, and drops what it connected.
        FConnecting->disconnect(this);
        const QString name = FConnectionName;
        connect(FConnecting, &QThread::finished, FConnecting,
                [name] { QDBusConnection::disconnectFromBus(name); });
        connect(FConnecting, &QThread::finished, FConnecting, &QObject::deleteLater);
        FConnecting->setParent(nullptr);
        FConnecting = nullptr;
    } else if (FState == TState::Connected) {
        QDBusConnection::disconnectFromBus(FConnectionName);
    }
}

void TNotifications::StartConnecting()
{
    FState = TState::Unavailable;
    const QString address = SessionBusAddress();
    if (address.isEmpty())
        return;
    FState = TState::Connecting;
    const QString name = FConnectionName;
    auto connected = std::make_shared<std::atomic_bool>(false);
    FConnecting = QThread::create([address, name, connected] {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        *connected = bus.isConnected();
    });
    FConnecting->setParent(this);
    connect(FConnecting, &QThread::finished, this, [this, connected] {
        FConnecting->deleteLater();
        FConnecting = nullptr;
        Connected(*connected);
    });
    FConnectDeadline.start();
    FConnecting->start();
}

void TNotifications::Connected(bool connected)
{
    FConnectDeadline.stop();
    if (FState != TState::Connecting || !connected) {
        // Given up on already, or never connected: nothing is kept.
        QDBusConnection::disconnectFromBus(FConnectionName);
        if (FState == TState::Connecting) {
            FState = TState::Unavailable;
            FailWaiting(QStringLiteral("no session bus"));
        }
        return;
    }
    QDBusConnection bus(FConnectionName);
    qDBusRegisterMetaType<TImageData>();
    // No sender name in the match: naming the service would make Qt look up
    // its owner synchronously. Ids are the service's own, so foreign signals
    // of the same name find no action here.
    bus.connect(QString(), QLatin1String(Path), QLatin1String(Interface),
                QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
    bus.connect(QString(), QLatin1String(Path), QLatin1String(Interface),
                QStringLiteral("NotificationClosed"), this, SLOT(OnNotificationClosed(uint, uint)));

    const QDBusMessage capabilities =
        QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                       QLatin1String(Interface), QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(capabilities), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QStringList> reply = *call;
                if (!reply.isError())
                    FMarkup = reply.value().contains(QStringLiteral("body-markup"));
                call->deleteLater();
                // Sent once the markup question is settled, so the first
                // bodies are escaped the way the service reads them.
                const QList<TRequest> waiting = std::exchange(FWaiting, {});
                for (const TRequest& request : waiting)
                    Send(request);
            });
    FState = TState::Connected;
}

void TNotifications::FailWaiting(const QString& error)
{
    const qsizetype count = FWaiting.size();
    FWaiting.clear();
    for (qsizetype i = 0; i < count; ++i)
        emit Failed(error);
}

void TNotifications::Show(const QString& summary, const QString& body, const QImage& picture,
                          const QList<TAction>& actions)
{
    if (FState == TState::Unknown)
        StartConnecting();
    TRequest request{summary, body, picture, actions};
    switch (FState) {
    case TState::Unknown:
    case TState::Unavailable:
        emit Failed(QStringLiteral("no session bus"));
        return;
    case TState::Connecting:
        if (FWaiting.size() >= MaxWaiting) {
            emit Failed(QStringLiteral("the session bus did not answer yet"));
            return;
        }
        FWaiting.append(std::move(request));
        return;
    case TState::Connected:
        if (!FWaiting.isEmpty()) // still asking for the capabilities: keep the order
            FWaiting.append(std::move(request));
        else
            Send(request);
        return;
    }
}

void TNotifications::Send(const TRequest& request)
{
    QStringList actionList;
    for (qsizetype i = 0; i < request.Actions.size(); ++i) {
        actionList << (i == 0 ? QStringLiteral("default") : QString::number(i))
                   << request.Actions.at(i).Label;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vorantu"));
    if (!request.Picture.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData(request.Picture)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                       QLatin1String(Interface), QStringLiteral("Notify"));
    call << QStringLiteral("Vorantu") << uint(0) << QStringLiteral("vorantu") << request.Summary
         << (FMarkup ? request.Body.toHtmlEscaped() : request.Body) << actionList << hints
         << int(-1);
    QDBusConnection bus(FConnectionName);
    const QList<TAction> actions = request.Actions;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, actions](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                const QDBusPendingReply<uint> reply = *pending;
                if (reply.isError()) {
                    emit Failed(reply.error().message());
                    return;
                }
                const uint id = reply.value();
                if (!actions.isEmpty()) {
                    FActions.insert(id, actions);
                    FOrder.append(id);
                    while (FOrder.size() > RememberedNotifications)
                        FActions.remove(FOrder.takeFirst());
                }
                emit Shown(id);
            });
}

void TNotifications::OnActionInvoked(uint id, const QString& key)
{
    const auto found = FActions.constFind(id);
    if (found == FActions.cend())
        return;
    bool isNumber = false;
    const int index = key == QLatin1String("default") ? 0 : key.toInt(&isNumber);
    if (key != QLatin1String("default") && !isNumber)
        return;
    if (index < 0 || index >= found->size())
        return;
    // Copied: the action may show a notification of its own.
    const std::function<void()> run = found->at(index).Run;
    if (run)
        run();
}

void TNotifications::OnNotificationClosed(uint id, uint)
{
    if (FActions.remove(id))
        FOrder.removeOne(id);
}
