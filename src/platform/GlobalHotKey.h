#pragma once

#include <QObject>
#include <QtGlobal>

// Shortcut codes as stored in the "hotkey" setting: bits 0-7 a Windows
// virtual-key code, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
namespace HotKeyCode {
inline constexpr quint16 Shift = 0x2000;
inline constexpr quint16 Ctrl = 0x4000;
inline constexpr quint16 Alt = 0x8000;
inline constexpr quint16 KeyMask = 0x00FF;
inline constexpr quint16 PrintScreen = 0x2C;
inline constexpr quint16 Delete = 0x2E;
} // namespace HotKeyCode

// One system-wide hot key. Register() grabs the key for the whole desktop
// with the given modifiers under every combination of the lock modifiers
// (NumLock, CapsLock, ScrollLock) and answers synchronously whether it got
// all of them; on any refusal (another program holds the key) it keeps no
// grab at all. Presses arrive as Activated() on the user-interface thread.
class TGlobalHotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~TGlobalHotKey() override = default;

    // Releases any key held before, then grabs `code`. Keys the stored format
    // maps: 0x2C Print, 0x41-0x5A a-z, 0x30-0x39 0-9, 0x70-0x7B F1-F12,
    // 0x2E Delete; any other key fails.
    virtual bool Register(quint16 code) = 0;
    virtual void Unregister() = 0;

    // False where the desktop lets no program take a key for itself (a
    // Wayland session whose portal offers no global shortcuts): Register
    // fails for every key there, and the desktop's own shortcut settings have
    // to run "vorantuctl capture" instead.
    virtual bool CanGrab() const { return true; }

signals:
    void Activated();
};
