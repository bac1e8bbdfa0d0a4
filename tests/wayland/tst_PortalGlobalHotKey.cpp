#include "Notices.h"
#include "TestEnvironment.h"
#include "platform/wayland/PortalGlobalHotKey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QSignalSpy>
#include <QThread>

// No desktop that runs here offers the portal's GlobalShortcuts (Debian 12's
// xdg-desktop-portal 1.16 lacks it; GNOME's and KDE's back ends cannot run
// headless), so the client's side of the conversation is checked against a
// stand-in on a private bus that answers as the portal interface is documented, on a
// thread of its own since the hot key waits for its answers. This proves
// the requests the hot key sends (the request paths it listens on, the
// a(sa{sv}) shortcut list with the preferred trigger, the session it uses
// and closes) and how it reads answers and Activated signals; not that any
// real desktop binds the key.
namespace {

const char Interface[] = "org.freedesktop.portal.GlobalShortcuts";
const char DesktopPath[] = "/org/freedesktop/portal/desktop";

struct TAsked
{
    QStringList Calls; // method names, in order
    QStringList ClosedSessions;
    QString Trigger; // preferred_trigger of the last bind
    QString BoundSession;
};

class TStandIn : public QDBusVirtualObject
{
public:
    explicit TStandIn(const QDBusConnection& bus) : FBus(bus) {}

    void Reset(bool offered, uint bindResponse)
    {
        QMutexLocker locker(&FLock);
        FOffered = offered;
        FBindResponse = bindResponse;
        FAsked = {};
    }
    TAsked Asked()
    {
        QMutexLocker locker(&FLock);
        return FAsked;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        QMutexLocker locker(&FLock);
        const QString member = message.member();
        const QVariantList arguments = message.arguments();
        if (message.interface() == "org.freedesktop.DBus.Properties" && member == "Get") {
            if (FOffered && arguments.value(0).toString() == Interface)
                bus.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
            else
                bus.send(message.createErrorReply(QDBusError::InvalidArgs, "No such interface"));
            return true;
        }
        if (message.interface() == "org.freedesktop.portal.Session" && member == "Close") {
            FAsked.ClosedSessions << message.path();
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() != Interface || !FOffered)
            return false;
        FAsked.Calls << member;
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments.last());
        const QString request =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(Sender(message.service()), options.value("handle_token").toString());
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (member == "CreateSession") {
            const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                                        .arg(Sender(message.service()),
                                             options.value("session_handle_token").toString());
            Respond(request, 0, {{"session_handle", session}});
        } else if (member == "BindShortcuts") {
            FAsked.BoundSession = qdbus_cast<QDBusObjectPath>(arguments.at(0)).path();
            const QDBusArgument list = arguments.at(1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap properties;
                list.beginStructure();
                list >> id >> properties;
                list.endStructure();
                if (id == "capture")
                    FAsked.Trigger = properties.value("preferred_trigger").toString();
            }
            list.endArray();
            Respond(request, FBindResponse, {});
        }
        return true;
    }

    void Activate(const QString& session, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(DesktopPath, Interface, "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1)
               << QVariantMap();
        FBus.send(signal);
    }

private:
    static QString Sender(QString name) { return name.remove(0, 1).replace('.', '_'); }
    void Respond(const QString& request, uint code, const QVariantMap& results)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << code << results;
        FBus.send(signal);
    }

    QDBusConnection FBus;
    QMutex FLock;
    bool FOffered = true;
    uint FBindResponse = 0;
    TAsked FAsked;
};

} // namespace

class TTestPortalGlobalHotKey : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(FBus.WaitListening());
        qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.Address().toUtf8());
        // The socket file comes a moment before the bus accepts on it.
        const auto connect = [this] {
            QDBusConnection::disconnectFromBus("stand-in");
            return QDBusConnection::connectToBus(FBus.Address(), "stand-in").isConnected();
        };
        QVERIFY(QTest::qWaitFor(connect, 5000));
        QDBusConnection portal("stand-in");
        FStandIn = std::make_unique<TStandIn>(portal);
        // Registering gives the object a child, which has to move with it.
        QVERIFY(
            portal.registerVirtualObject(DesktopPath, FStandIn.get(), QDBusConnection::SubPath));
        FThread.start();
        FStandIn->moveToThread(&FThread);
        QVERIFY(portal.registerService("org.freedesktop.portal.Desktop"));
    }

    void cleanupTestCase()
    {
        QDBusConnection("stand-in").unregisterObject(DesktopPath, QDBusConnection::UnregisterTree);
        FThread.quit();
        FThread.wait();
        FStandIn.reset();
        QDBusConnection::disconnectFromBus("stand-in");
    }

    void Triggers_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("Print") << 0x2C << "Print";
        QTest::newRow("Ctrl+Shift+A") << 0x6041 << "CTRL+SHIFT+a";
        QTest::newRow("Alt+F5") << 0x8074 << "ALT+F5";
        QTest::newRow("Ctrl+Alt+9") << 0xC039 << "CTRL+ALT+9";
        QTest::newRow("F12") << 0x7B << "F12";
        QTest::newRow("Delete") << 0x2E << "Delete";
        QTest::newRow("unmapped") << 0x20 << "";
    }

    void Triggers()
    {
        QFETCH(int, code);
        QFETCH(QString, trigger);
        QCOMPARE(TPortalGlobalHotKey::Trigger(quint16(code)), trigger);
    }

    // Only presses of its own shortcut in its own session count; a new key
    // is a new session, and the old one is closed.
    void BindsAndHearsItsOwnShortcut()
    {
        FStandIn->Reset(true, 0);
        TPortalGlobalHotKey hotKey;
        QSignalSpy presses(&hotKey, &TGlobalHotKey::Activated);
        QVERIFY(hotKey.CanGrab());
        QVERIFY(hotKey.Register(0x6041));
        TAsked asked = FStandIn->Asked();
        QCOMPARE(asked.Calls, (QStringList{"CreateSession", "BindShortcuts"}));
        QCOMPARE(asked.Trigger, "CTRL+SHIFT+a");
        const QString first = asked.BoundSession;
        QVERIFY2(first.startsWith("/org/freedesktop/portal/desktop/session/"), qPrintable(first));

        FStandIn->Activate(first, "other");
        FStandIn->Activate(first + "x", "capture");
        FStandIn->Activate(first, "capture");
        QTRY_COMPARE(presses.count(), 1);

        QVERIFY(hotKey.Register(0x2C));
        asked = FStandIn->Asked();
        QCOMPARE(asked.ClosedSessions, QStringList{first});
        QCOMPARE(asked.Trigger, "Print");
        const QString second = asked.BoundSession;
        QVERIFY(second != first);
        FStandIn->Activate(first, "capture");
        FStandIn->Activate(second, "capture");
        QTRY_COMPARE(presses.count(), 2);

        hotKey.Unregister();
        QTRY_COMPARE(FStandIn->Asked().ClosedSessions, (QStringList{first, second}));
        FStandIn->Activate(second, "capture");
        FStandIn->Activate(first + "x", "capture");
        // A round trip to the portal: its answer comes after those signals,
        // which are then waiting to be handled here.
        const QDBusMessage pong = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", DesktopPath,
                                           "org.freedesktop.DBus.Peer", "Ping"),
            QDBus::Block, 5000);
        QCOMPARE(pong.type(), QDBusMessage::ReplyMessage);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(presses.count(), 2);
    }

    // A bind the user (or the desktop) declines leaves no session behind.
    void RefusedBindGrabsNothing()
    {
        FStandIn->Reset(true, 1);
        TPortalGlobalHotKey hotKey;
        QVERIFY(!hotKey.Register(0x2C));
        QTRY_COMPARE(FStandIn->Asked().ClosedSessions, QStringList{FStandIn->Asked().BoundSession});
    }

    void WithoutTheInterfaceNothingIsAsked()
    {
        FStandIn->Reset(false, 0);
        TPortalGlobalHotKey hotKey;
        QVERIFY(!hotKey.CanGrab());
        QVERIFY(!hotKey.Register(0x2C));
        QVERIFY(FStandIn->Asked().Calls.isEmpty());
    }

private:
    TEmptyBus FBus;
    QThread FThread;
    std::unique_ptr<TStandIn> FStandIn;
};

VORANTU_TEST_MAIN(TTestPortalGlobalHotKey)
#include "tst_PortalGlobalHotKey.moc"
