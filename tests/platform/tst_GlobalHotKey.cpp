#include "Desktop.h"
#include "TestEnvironment.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "platform/x11/Xcb.h"

#include <QProcess>

using TestDesktop::Key;

namespace {

// A lock key switched on for one scope.
class TLockOn
{
public:
    explicit TLockOn(const QString& key) : FKey(key)
    {
        if (!FKey.isEmpty())
            Key(FKey);
    }
    ~TLockOn()
    {
        if (!FKey.isEmpty())
            Key(FKey);
    }

private:
    QString FKey;
};

// Another X client on a connection of its own.
class TOtherClient
{
public:
    TOtherClient() : FConnection(xcb_connect(nullptr, nullptr)), FRoot(XcbRootWindow(FConnection))
    {}
    ~TOtherClient() { xcb_disconnect(FConnection); }

    xcb_keycode_t KeyCode(quint32 keysym) const
    {
        const xcb_setup_t* setup = xcb_get_setup(FConnection);
        const auto reply = VORANTU_XCB_REPLY(
            xcb_get_keyboard_mapping, FConnection,
            xcb_get_keyboard_mapping(FConnection, setup->min_keycode,
                                     uint8_t(setup->max_keycode - setup->min_keycode + 1)));
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
        for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(reply.get()); ++i) {
            if (syms[i] == keysym)
                return xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
        }
        return 0;
    }
    bool Grab(xcb_keycode_t key, uint16_t modifiers)
    {
        const TXcbReply<xcb_generic_error_t> error(xcb_request_check(
            FConnection, xcb_grab_key_checked(FConnection, true, FRoot, modifiers, key,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        return !error;
    }
    void Ungrab(xcb_keycode_t key, uint16_t modifiers)
    {
        xcb_ungrab_key(FConnection, key, FRoot, modifiers);
        xcb_flush(FConnection);
    }
    // Any grab by another client of `key`, under any modifiers, refuses this one.
    bool NobodyElseGrabs(xcb_keycode_t key)
    {
        const bool free = Grab(key, XCB_MOD_MASK_ANY);
        Ungrab(key, XCB_MOD_MASK_ANY);
        return free;
    }

private:
    xcb_connection_t* FConnection;
    xcb_window_t FRoot;
};

constexpr quint16 CtrlShift = HotKeyCode::Ctrl | HotKeyCode::Shift;
constexpr quint32 KeySymF5 = 0xFFC2;
constexpr quint32 KeySymF7 = 0xFFC4;

} // namespace

class TTestGlobalHotKey : public QObject
{
    Q_OBJECT
private slots:
    void KeySyms_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<quint32>("keysym");
        QTest::newRow("PrintScreen") << 0x2C << 0xFF61u;
        QTest::newRow("A") << 0x41 << quint32('a');
        QTest::newRow("Z with modifiers") << (0xE000 | 0x5A) << quint32('z');
        QTest::newRow("0") << 0x30 << quint32('0');
        QTest::newRow("9") << 0x39 << quint32('9');
        QTest::newRow("F1") << 0x70 << 0xFFBEu;
        QTest::newRow("F12") << 0x7B << 0xFFC9u;
        QTest::newRow("DEL") << 0x2E << 0xFFFFu;
        QTest::newRow("F13 is not offered") << 0x7C << 0u;
        QTest::newRow("Insert is not offered") << 0x2D << 0u;
        QTest::newRow("numeric keypad 0 is not offered") << 0x60 << 0u;
        QTest::newRow("nothing") << 0 << 0u;
    }
    void KeySyms()
    {
        QFETCH(int, code);
        QFETCH(quint32, keysym);
        QCOMPARE(TX11GlobalHotKey::KeySym(quint16(code)), keysym);
    }

    void PressActivates_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::newRow("no lock") << QString();
        QTest::newRow("NumLock on") << "Num_Lock";
        QTest::newRow("CapsLock on") << "Caps_Lock";
    }
    void PressActivates()
    {
        QFETCH(QString, lock);
        TX11GlobalHotKey hotKey(QtXcbConnection());
        QSignalSpy activated(&hotKey, &TGlobalHotKey::Activated);
        QVERIFY(hotKey.Register(CtrlShift | 0x74));
        const TLockOn on(lock);
        // The key without its modifiers is not the hot key; presses arrive in order.
        Key("F5");
        Key("ctrl+F5");
        Key("ctrl+shift+F5");
        QTRY_COMPARE(activated.count(), 1);
    }

    void PrintScreen()
    {
        // The test desktop's window manager leaves Print to the program.
        TX11GlobalHotKey hotKey(QtXcbConnection());
        QSignalSpy activated(&hotKey, &TGlobalHotKey::Activated);
        QVERIFY(hotKey.Register(HotKeyCode::PrintScreen));
        Key("Print");
        QTRY_COMPARE(activated.count(), 1);
        QVERIFY(hotKey.Register(HotKeyCode::Shift | HotKeyCode::PrintScreen));
        Key("Print");
        Key("shift+Print");
        QTRY_COMPARE(activated.count(), 2);
    }

    void UnregisteredKeyIsQuiet()
    {
        TX11GlobalHotKey hotKey(QtXcbConnection());
        TX11GlobalHotKey marker(QtXcbConnection());
        QSignalSpy activated(&hotKey, &TGlobalHotKey::Activated);
        QSignalSpy marked(&marker, &TGlobalHotKey::Activated);
        QVERIFY(hotKey.Register(CtrlShift | 0x74));
        QVERIFY(marker.Register(CtrlShift | 0x75));
        hotKey.Unregister();
        Key("ctrl+shift+F5");
        Key("ctrl+shift+F6");
        QTRY_COMPARE(marked.count(), 1);
        QCOMPARE(activated.count(), 0);
        TOtherClient other;
        QVERIFY(other.NobodyElseGrabs(other.KeyCode(KeySymF5)));
    }

    void KeyTakenByAnotherClient()
    {
        TOtherClient other;
        const xcb_keycode_t f5 = other.KeyCode(KeySymF5);
        const xcb_keycode_t f7 = other.KeyCode(KeySymF7);
        QVERIFY(f5 != 0 && f7 != 0);
        // The other client holds only one lock combination; every grab made
        // before the refusal must go again.
        QVERIFY(other.Grab(f7, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK));

        TX11GlobalHotKey hotKey(QtXcbConnection());
        QVERIFY(hotKey.Register(CtrlShift | 0x74));
        QVERIFY(!other.NobodyElseGrabs(f5));
        // A failed attempt leaves no hot key at all, not even the previous one.
        QVERIFY(!hotKey.Register(CtrlShift | 0x76));
        QVERIFY(other.NobodyElseGrabs(f5));
        other.Ungrab(f7, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK);
        QVERIFY(other.NobodyElseGrabs(f7));

        QVERIFY(hotKey.Register(CtrlShift | 0x76));
        QVERIFY(!other.NobodyElseGrabs(f7));
    }

    void KeyWithoutAKeyboardKey()
    {
        TX11GlobalHotKey hotKey(QtXcbConnection());
        QVERIFY(!hotKey.Register(0x7C));
    }
};

VORANTU_TEST_MAIN(TTestGlobalHotKey)
#include "tst_GlobalHotKey.moc"
