#include "platform/Platform.h"

#include "platform/EffectSound.h"
#include "platform/Session.h"
#include "platform/null/NullPlatform.h"
#include "platform/wayland/ScreenCast.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "platform/x11/X11NativeWindow.h"
#include "platform/x11/X11Screen.h"
#include "platform/x11/X11Windows.h"
#include "platform/x11/Xcb.h"

#include <QGuiApplication>

TPlatform LoadPlatform()
{
    TPlatform platform;
    xcb_connection_t* connection =
        QGuiApplication::platformName() == QLatin1String("xcb") ? QtXcbConnection() : nullptr;
    if (connection) {
        platform.Screen = std::make_unique<TX11Screen>(connection);
        platform.Windows = std::make_unique<TX11Windows>(connection);
        platform.Sound = std::make_unique<TEffectSound>();
        platform.NativeWindows = std::make_unique<TX11NativeWindows>();
        platform.CreateHotKey = [](QObject* parent) -> std::unique_ptr<TGlobalHotKey> {
            return std::make_unique<TX11GlobalHotKey>(QtXcbConnection(), parent);
        };
        if (IsWaylandSession())
            platform.CreateScreenStream = CreatePortalScreenCast;
    } else {
        platform.Screen = std::make_unique<TNullScreen>();
        platform.Windows = std::make_unique<TNullWindows>();
        platform.Sound = std::make_unique<TNullSound>();
        platform.NativeWindows = std::make_unique<TNullNativeWindows>();
        platform.CreateHotKey = [](QObject* parent) -> std::unique_ptr<TGlobalHotKey> {
            return std::make_unique<TNullGlobalHotKey>(parent);
        };
    }
    UseNativeWindows(platform.NativeWindows.get());
    return platform;
}
