#include "platform/Session.h"

#include <QString>

bool IsWaylandSession()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    return qEnvironmentVariable("XDG_SESSION_TYPE")
               .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

TQtPlatformChoice ChooseQtPlatform(int argc, char** argv)
{
    if (!IsWaylandSession() || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return TQtPlatformChoice::AsIs;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return TQtPlatformChoice::AsIs;
    }
    // The overlay, the region window's hole and the floating windows place
    // themselves in global coordinates, which a native Wayland client may
    // not: they stay X11 clients.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return TQtPlatformChoice::NoXWayland;
    return TQtPlatformChoice::Xcb;
}
