#include "platform/Session.h"

#include <QString>

bool IsWaylandSession()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    return qEnvironmentVariable("XDG_SESSION_TYPE")
               .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}
