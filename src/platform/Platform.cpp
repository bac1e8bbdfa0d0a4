#include "platform/Platform.h"

#include "platform/EffectSound.h"
#include "platform/Session.h"
#include "platform/null/NullPlatform.h"
#include "platform/wayland/PortalGlobalHotKey.h"
#include "platform/wayland/PortalScreen.h"
#include "platform/wayland/ScreenCast.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "platform/x11/X11NativeWindow.h"
#include "platform/x11/X11Screen.h"
#include "platform/x11/X11Windows.h"
#include "platform/x11/Xcb.h"

#include <QGuiApplication>

TPlatform LoadPlatform(TPlatformTell tell)
{
    TPlatform platform;
    xcb_connection_t* connection =
        QGuiApplication::platformName() == QLatin1String("xcb") ? QtXcbConnection() : nullptr;
    if (connection) {
        if (IsWaylandSession()) {
            platform.Screen = std::make_unique<TPortalScreen>(
                std::make_unique<TX11Screen>(connection), [tell](const QString& detail) {
                    if (tell)
                        tell(TPlatformNotice::ScreenFallback, detail);
                });
            auto toldPick = std::make_shared<bool>(false);
            platform.PickPicture = [tell, toldPick]() -> std::optional<QImage> {
                if (!*toldPick && tell)
                    tell(TPlatformNotice::PickWindow, {});
                *toldPick = true;
                QString error;
                bool cancelled = false;
                std::optional<QImage> picture = PickPortalPicture(error, cancelled);
                if (!picture && !cancelled && tell)
                    tell(TPlatformNotice::PickFailed, error);
                return picture;
            };
        } else {
            platform.Screen = std::make_unique<TX11Screen>(connection);
        }
        platform.Windows = std::make_unique<TX11Windows>(connection);
        platform.Sound = std::make_unique<TEffectSound>();
        platform.NativeWindows = std::make_unique<TX11NativeWindows>();
        platform.CreateHotKey = [](QObject* parent) -> std::unique_ptr<TGlobalHotKey> {
            return std::make_unique<TX11GlobalHotKey>(QtXcbConnection(), parent);
        };
        // An X11 grab on XWayland fires only while an X11 window has the focus.
        if (IsWaylandSession())
            platform.CreateHotKey = [](QObject* parent) -> std::unique_ptr<TGlobalHotKey> {
                return std::make_unique<TPortalGlobalHotKey>(parent);
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
