#include "Desktop.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace TestDesktop {

namespace {

xcb_connection_t* ProgramConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr), &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

void Settle()
{
    QCoreApplication::processEvents();
    if (xcb_connection_t* c = ProgramConnection())
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    QCoreApplication::processEvents();
}

bool WindowManagerRoundTrip()
{
    // Our own connection, so the answer cannot be eaten by Qt's event queue.
    static xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!c || xcb_connection_has_error(c))
        return false;
    static const xcb_atom_t request = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    static const xcb_atom_t extents = Atom(c, "_NET_FRAME_EXTENTS");
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    // The window manager handles its events in order: once it has answered
    // a frame extents request for a window of ours, it has also acted on
    // whatever the program asked of it before.
    const xcb_window_t probe = xcb_generate_id(c);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = probe;
    message.type = request;
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);

    bool answered = false;
    QDeadlineTimer deadline(5000);
    while (!answered && !deadline.hasExpired()) {
        std::unique_ptr<xcb_generic_event_t, decltype(&free)> event(xcb_poll_for_event(c), &free);
        if (!event) {
            if (xcb_connection_has_error(c))
                break;
            QThread::msleep(1);
            continue;
        }
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
            answered = change->window == probe && change->atom == extents;
        }
    }
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    return answered;
}

void Drag(const QPoint& from, const QPoint& to, bool release)
{
    MovePointer(from);
    // Qt finds windows in its own units; `from` is physical.
    const bool ours = QGuiApplication::topLevelAt(
                          LogicalFromPhysical(QRect(from, QSize(1, 1))).topLeft()) != nullptr;
    Xdotool({"mousedown", "1"});
    // A window that moves or resizes through the window manager asks for it
    // when it handles the press; motions before the manager took over would
    // go to the window instead, so both must have acted first.
    if (ours)
        QVERIFY(
            QTest::qWaitFor([] { return QGuiApplication::mouseButtons() & Qt::LeftButton; }, 5000));
    Settle();
    QVERIFY(WindowManagerRoundTrip());
    for (int step = 1; step <= 4; ++step) {
        MovePointer(from + (to - from) * step / 4);
        Settle();
    }
    if (release) {
        Xdotool({"mouseup", "1"});
        Settle();
    }
}

} // namespace TestDesktop
