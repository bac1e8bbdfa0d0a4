#pragma once

#include <QByteArray>
#include <QList>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

// Small RAII helpers over XCB shared by the X11 implementations.

struct TXcbFree
{
    void operator()(void* p) const { std::free(p); }
};

// Every XCB reply and error is malloc'ed by the library and owned by the caller.
template <typename T> using TXcbReply = std::unique_ptr<T, TXcbFree>;

// Waits for a reply; an X error gives null and is freed, never left queued.
#define VORANTU_XCB_REPLY(name, connection, cookie)                                                \
    TXcbReply<name##_reply_t>(name##_reply((connection), (cookie), nullptr))

// The connection Qt opened for the application; the X11 implementations share
// it and never close it. Null when Qt does not run on X11.
xcb_connection_t* QtXcbConnection();

// The screen number DISPLAY names ("host:D.S"), the one Qt connected to; 0
// when it names none.
int XcbDefaultScreenNumber();

// The root window of the default screen of `connection`.
xcb_window_t XcbRootWindow(xcb_connection_t* connection);
xcb_screen_t* XcbDefaultScreen(xcb_connection_t* connection);

// Interns `name`; one round trip, so callers look an atom up once and keep it.
xcb_atom_t XcbAtom(xcb_connection_t* connection, const char* name);

// A 32-bit property of `window` as a list of numbers; empty when missing or of
// another format.
QList<quint32> XcbCardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                            xcb_atom_t type);

// True when `window` carries `property` at all (of any type).
bool XcbHasProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property);
