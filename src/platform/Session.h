#pragma once

// True when the desktop session is a Wayland one (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE=wayland), whatever Qt platform this process uses: an X11
// client there sees other X11 clients only, so pixels, the active window and
// hot keys need the desktop portals instead.
bool IsWaylandSession();

// How main() sets Qt's platform before the application object exists.
enum class TQtPlatformChoice
{
    AsIs,      // not a Wayland session, or the user chose a platform
    Xcb,       // a Wayland session: run on XWayland like every capture window expects
    NoXWayland // a Wayland session without XWayland (DISPLAY empty)
};

// The choice for this process's environment and command line (`-platform`
// counts as the user's choice, as QT_QPA_PLATFORM does).
TQtPlatformChoice ChooseQtPlatform(int argc, char** argv);
