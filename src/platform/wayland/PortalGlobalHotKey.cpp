#include "platform/wayland/PortalGlobalHotKey.h"

#include "platform/wayland/Portal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QList>
#include <QRandomGenerator>

namespace {

const char Interface[] = "org.freedesktop.portal.GlobalShortcuts";
const char Service[] = "org.freedesktop.portal.Desktop";
const char DesktopPath[] = "/org/freedesktop/portal/desktop";
const char ShortcutId[] = "capture";

// One entry of BindShortcuts' a(sa{sv}).
struct TPortalShortcut
{
    QString Id;
    QVariantMap Properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const TPortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.Id << shortcut.Properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TPortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.Id >> shortcut.Properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(TPortalShortcut)

namespace {

void RegisterTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<TPortalShortcut>();
        qDBusRegisterMetaType<QList<TPortalShortcut>>();
        return true;
    }();
    (void)registered;
}

// CreateSession answers with the handle as a string (the type the portal
// interface documents) or, from some back ends, as an object path.
QString SessionHandle(const QVariantMap& results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

} // namespace

TPortalGlobalHotKey::TPortalGlobalHotKey(QObject* parent) : TGlobalHotKey(parent)
{
    RegisterTypes();
}

TPortalGlobalHotKey::~TPortalGlobalHotKey()
{
    Unregister();
}

bool TPortalGlobalHotKey::CanGrab() const
{
    if (!FAvailable)
        FAvailable = TPortalRequest::HasInterface(QLatin1String(Interface));
    return *FAvailable;
}

QString TPortalGlobalHotKey::Trigger(quint16 code)
{
    const int key = code & HotKeyCode::KeyMask;
    QString name;
    if (key == HotKeyCode::PrintScreen)
        name = QStringLiteral("Print");
    else if (key == HotKeyCode::Delete)
        name = QStringLiteral("Delete");
    else if (key >= 0x41 && key <= 0x5A)
        name = QChar(char16_t(u'a' + (key - 0x41)));
    else if (key >= 0x30 && key <= 0x39)
        name = QChar(char16_t(u'0' + (key - 0x30)));
    else if (key >= 0x70 && key <= 0x7B)
        name = QStringLiteral("F%1").arg(key - 0x70 + 1);
    else
        return QString();
    QStringList parts;
    if (code & HotKeyCode::Ctrl)
        parts << QStringLiteral("CTRL");
    if (code & HotKeyCode::Alt)
        parts << QStringLiteral("ALT");
    if (code & HotKeyCode::Shift)
        parts << QStringLiteral("SHIFT");
    parts << name;
    return parts.join(QLatin1Char('+'));
}

bool TPortalGlobalHotKey::Register(quint16 code)
{
    Unregister();
    const QString trigger = Trigger(code);
    if (trigger.isEmpty() || !CanGrab())
        return false;

    const TPortalResult created = TPortalRequest::Call(
        QLatin1String(Interface), QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"),
          QStringLiteral("vorantu%1")
              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))}},
        SessionTimeoutMs);
    if (!created.Ok()) {
        qWarning("global shortcut: %s", qPrintable(created.Error));
        return false;
    }
    FSession = SessionHandle(created.Results);
    if (FSession.isEmpty()) {
        qWarning("global shortcut: the portal named no session");
        return false;
    }
    // Listening before the bind: a press right after it is not lost.
    QDBusConnection::sessionBus().connect(
        QLatin1String(Service), QLatin1String(DesktopPath), QLatin1String(Interface),
        QStringLiteral("Activated"), this,
        SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));

    const QList<TPortalShortcut> shortcuts{
        {QLatin1String(ShortcutId),
         {{QStringLiteral("description"), QStringLiteral("Capture")},
          {QStringLiteral("preferred_trigger"), trigger}}}};
    const TPortalResult bound = TPortalRequest::Call(
        QLatin1String(Interface), QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(FSession)), QVariant::fromValue(shortcuts), QString()},
        {}, BindTimeoutMs);
    if (!bound.Ok()) {
        qWarning("global shortcut: %s", qPrintable(bound.Error));
        Unregister();
        return false;
    }
    return true;
}

void TPortalGlobalHotKey::Unregister()
{
    if (FSession.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(QLatin1String(Service), QLatin1String(DesktopPath), QLatin1String(Interface),
                   QStringLiteral("Activated"), this,
                   SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    // Closing the session releases the shortcut; nothing waits for the answer.
    bus.send(QDBusMessage::createMethodCall(QLatin1String(Service), FSession,
                                            QStringLiteral("org.freedesktop.portal.Session"),
                                            QStringLiteral("Close")));
    FSession.clear();
}

void TPortalGlobalHotKey::OnActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                      const QVariantMap&)
{
    if (!FSession.isEmpty() && session.path() == FSession && id == QLatin1String(ShortcutId))
        emit Activated();
}
