#pragma once

#include "platform/GlobalHotKey.h"
#include "platform/NativeWindow.h"
#include "platform/Screen.h"
#include "platform/ScreenStream.h"
#include "platform/Sound.h"
#include "platform/Windows.h"

#include <memory>

class QObject;

// The desktop services the program uses, chosen once for the platform Qt runs
// on: X11 on "xcb", null implementations elsewhere (tests, offscreen).
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
    // Where recordings must read the screen from the desktop's screen cast
    // (Wayland sessions); empty where X11 sees the screen.
    TScreenStreamFactory CreateScreenStream;
};

// Call after the QGuiApplication exists, and destroy what it gives before the
// application object: the X11 implementations share its display connection.
TPlatform LoadPlatform();
