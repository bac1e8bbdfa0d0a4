#pragma once

class QWidget;

// Brings a managed top-level window of the program to the front and gives it
// the keyboard, even when the window manager's focus-stealing prevention would
// rather keep another program's window active. A minimised window is restored
// first. The ordinary request goes first; if the window is still not the
// active one once the window manager had time to answer, the request is sent
// again as the user's own direct choice (on X11 the _NET_ACTIVE_WINDOW message
// with source indication 2 and a fresh server time stamp). Nothing for a hidden
// window. User-interface thread only.
void ForceForegroundWindow(QWidget* window);

// True when the window manager names `window` as the active window (on X11 the
// root's _NET_ACTIVE_WINDOW); elsewhere Qt's view of it.
bool IsForegroundWindow(const QWidget* window);
