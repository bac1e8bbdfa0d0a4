#pragma once

// True when the desktop session is a Wayland one (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE=wayland), whatever Qt platform this process uses: an X11
// client there sees other X11 clients only, so pixels, the active window and
// hot keys need the desktop portals instead.
bool IsWaylandSession();
