#include "platform/x11/X11GlobalHotKey.h"

#include "platform/x11/Xcb.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

constexpr quint32 KeySymPrint = 0xFF61;
constexpr quint32 KeySymDelete = 0xFFFF;
constexpr quint32 KeySymF1 = 0xFFBE;
constexpr quint32 KeySymNumLock = 0xFF7F;
constexpr quint32 KeySymScrollLock = 0xFF14;
constexpr quint32 KeySymAltL = 0xFFE9;
constexpr quint32 KeySymAltR = 0xFFEA;
constexpr quint16 AllModifiers = 0xFF;

// The keyboard's current keycode-to-keysym table.
class TKeyboardMap
{
public:
    explicit TKeyboardMap(xcb_connection_t* connection)
    {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        FFirst = setup->min_keycode;
        FReply = VORANTU_XCB_REPLY(
            xcb_get_keyboard_mapping, connection,
            xcb_get_keyboard_mapping(connection, setup->min_keycode,
                                     uint8_t(setup->max_keycode - setup->min_keycode + 1)));
    }

    // The keycode that gives `keysym` unshifted, else shifted, else in any
    // column; 0 when no key gives it.
    xcb_keycode_t KeyCode(quint32 keysym) const
    {
        if (!FReply || keysym == 0)
            return 0;
        const int perKey = FReply->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(FReply.get());
        const int keys =
            perKey > 0 ? xcb_get_keyboard_mapping_keysyms_length(FReply.get()) / perKey : 0;
        for (int column = 0; column < perKey; ++column) {
            for (int key = 0; key < keys; ++key) {
                if (syms[key * perKey + column] == keysym)
                    return xcb_keycode_t(FFirst + key);
            }
        }
        return 0;
    }

    bool Gives(xcb_keycode_t keycode, quint32 keysym) const
    {
        if (!FReply || keycode < FFirst)
            return false;
        const int perKey = FReply->keysyms_per_keycode;
        const int index = (keycode - FFirst) * perKey;
        if (index + perKey > xcb_get_keyboard_mapping_keysyms_length(FReply.get()))
            return false;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(FReply.get()) + index;
        return std::find(syms, syms + perKey, keysym) != syms + perKey;
    }

private:
    xcb_keycode_t FFirst = 0;
    TXcbReply<xcb_get_keyboard_mapping_reply_t> FReply;
};

// The modifier bit (Mod1 ... Mod5) a key with `keysym` drives; 0 when none.
quint16 ModifierOf(xcb_connection_t* connection, const TKeyboardMap& map,
                   std::initializer_list<quint32> keysyms)
{
    const auto reply = VORANTU_XCB_REPLY(xcb_get_modifier_mapping, connection,
                                         xcb_get_modifier_mapping(connection));
    if (!reply)
        return 0;
    const int perModifier = reply->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    for (int modifier = 3; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifier * perModifier + i];
            for (const quint32 keysym : keysyms) {
                if (code != 0 && map.Gives(code, keysym))
                    return quint16(1u << modifier);
            }
        }
    }
    return 0;
}

} // namespace

TX11GlobalHotKey::TX11GlobalHotKey(xcb_connection_t* connection, QObject* parent)
    : TGlobalHotKey(parent), FConnection(connection), FRoot(XcbRootWindow(connection))
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

TX11GlobalHotKey::~TX11GlobalHotKey()
{
    Unregister();
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

quint32 TX11GlobalHotKey::KeySym(quint16 code)
{
    const int key = code & HotKeyCode::KeyMask;
    if (key == HotKeyCode::PrintScreen)
        return KeySymPrint;
    if (key == HotKeyCode::Delete)
        return KeySymDelete;
    if (key >= 0x41 && key <= 0x5A)
        return quint32('a' + (key - 0x41));
    if (key >= 0x30 && key <= 0x39)
        return quint32(key);
    if (key >= 0x70 && key <= 0x7B)
        return KeySymF1 + quint32(key - 0x70);
    return 0;
}

bool TX11GlobalHotKey::Register(quint16 code)
{
    Unregister();
    const TKeyboardMap map(FConnection);
    const xcb_keycode_t keycode = map.KeyCode(KeySym(code));
    if (keycode == 0)
        return false;

    const quint16 alt = ModifierOf(FConnection, map, {KeySymAltL, KeySymAltR});
    const quint16 numLock = ModifierOf(FConnection, map, {KeySymNumLock});
    const quint16 scrollLock = ModifierOf(FConnection, map, {KeySymScrollLock});
    quint16 modifiers = 0;
    if (code & HotKeyCode::Shift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (code & HotKeyCode::Ctrl)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (code & HotKeyCode::Alt) {
        if (alt == 0)
            return false;
        modifiers |= alt;
    }

    // A press carries the lock modifiers that happen to be on; the grab must
    // hold under each of their combinations.
    QList<quint16> locks;
    for (const quint16 lock : {quint16(XCB_MOD_MASK_LOCK), numLock, scrollLock}) {
        if (lock != 0 && !locks.contains(lock) && !(lock & modifiers))
            locks.append(lock);
    }
    QList<quint16> combinations;
    for (int subset = 0; subset < (1 << locks.size()); ++subset) {
        quint16 mask = modifiers;
        for (int i = 0; i < locks.size(); ++i) {
            if (subset & (1 << i))
                mask |= locks[i];
        }
        combinations.append(mask);
    }

    QList<xcb_void_cookie_t> cookies;
    for (const quint16 mask : combinations)
        cookies.append(xcb_grab_key_checked(FConnection, false, FRoot, mask, keycode,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    for (int i = 0; i < cookies.size(); ++i) {
        const TXcbReply<xcb_generic_error_t> error(xcb_request_check(FConnection, cookies[i]));
        if (error)
            refused = true;
        else
            FGrabbed.append(combinations[i]);
    }
    FKeyCode = keycode;
    FModifiers = modifiers;
    FSignificant = AllModifiers & ~quint16(XCB_MOD_MASK_LOCK | numLock | scrollLock);
    if (refused) {
        // Another client holds the key under some combination (BadAccess).
        Unregister();
        return false;
    }
    return true;
}

void TX11GlobalHotKey::Unregister()
{
    for (const quint16 mask : std::as_const(FGrabbed))
        xcb_ungrab_key(FConnection, FKeyCode, FRoot, mask);
    if (!FGrabbed.isEmpty())
        xcb_flush(FConnection);
    FGrabbed.clear();
    FKeyCode = 0;
    FModifiers = 0;
}

bool TX11GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (FGrabbed.isEmpty() || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (press->event != FRoot || press->detail != FKeyCode ||
        (press->state & FSignificant) != FModifiers)
        return false;
    emit Activated();
    return true;
}
