#pragma once

#include "platform/GlobalHotKey.h"
#include "platform/NativeWindow.h"
#include "platform/Screen.h"
#include "platform/ScreenStream.h"
#include "platform/Sound.h"
#include "platform/Windows.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QObject;

// What the platform's implementations tell the user themselves, once each:
// the program words it (`detail` is for a log, in English).
enum class TPlatformNotice
{
    // On Wayland the desktop portal gives no screenshots: only X11 windows show.
    ScreenFallback,
    // X11 cannot say which window the user means; the desktop lets them pick.
    PickWindow,
    // ... and the desktop offers no picking either: nothing was captured.
    PickFailed,
};
using TPlatformTell = std::function<void(TPlatformNotice notice, const QString& detail)>;

// The desktop services the program uses, chosen once for the platform Qt runs
// on: X11 on "xcb", with the desktop portals where X11 sees only part of a
// Wayland session, and null implementations elsewhere (tests, offscreen).
struct TPlatform
{
    std::unique_ptr<TScreen> Screen;
    std::unique_ptr<TWindows> Windows;
    std::unique_ptr<TSound> Sound;
    // What the functions of NativeWindow.h ask the display server; in use
    // from the loader on until it is destroyed or another is installed.
    std::unique_ptr<TNativeWindows> NativeWindows;
    // A new hot key each call: its owner keeps it for as long as it is grabbed.
    std::unique_ptr<TGlobalHotKey> (*CreateHotKey)(QObject* parent) = nullptr;
    // Where Windows cannot see every window (X11 clients on Wayland see only
    // XWayland's), lets the user pick what to capture through the desktop,
    // for when Windows names none; nullopt when cancelled or impossible (the
    // user has been told). Null where Windows sees everything.
    std::function<std::optional<QImage>()> PickPicture;
    // Where recordings must read the screen from the desktop's screen cast
    // (Wayland sessions); empty where X11 sees the screen.
    TScreenStreamFactory CreateScreenStream;
};

// Call after the QGuiApplication exists, and destroy what it gives before the
// application object: the X11 implementations share its display connection.
TPlatform LoadPlatform(TPlatformTell tell = {});
