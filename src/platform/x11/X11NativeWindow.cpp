#include "platform/x11/X11NativeWindow.h"

#include "platform/x11/Xcb.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QList>
#include <QWidget>
#include <vector>
#include <xcb/shape.h>

std::optional<QPoint> X11WindowOrigin(xcb_connection_t* connection, xcb_window_t window)
{
    const xcb_window_t root = XcbRootWindow(connection);
    if (window == XCB_WINDOW_NONE || root == XCB_WINDOW_NONE)
        return std::nullopt;
    const auto origin =
        VORANTU_XCB_REPLY(xcb_translate_coordinates, connection,
                          xcb_translate_coordinates(connection, window, root, 0, 0));
    if (!origin)
        return std::nullopt;
    return QPoint(origin->dst_x, origin->dst_y);
}

bool X11FocusWindow(xcb_connection_t* connection, xcb_window_t window)
{
    if (window == XCB_WINDOW_NONE)
        return false;
    // The server refuses to focus a window that is not viewable.
    const auto attributes = VORANTU_XCB_REPLY(xcb_get_window_attributes, connection,
                                              xcb_get_window_attributes(connection, window));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return false;
    // CurrentTime: a request stamped with a time older than the last focus
    // change is ignored by the server, and the caller's event may not have
    // passed through Qt.
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(connection);
    return true;
}

bool X11CompositorRunning(xcb_connection_t* connection)
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(XcbDefaultScreenNumber());
    // Only if it exists: an atom nobody interned has no owner, and asking
    // need not create it on the server.
    const auto atom = VORANTU_XCB_REPLY(
        xcb_intern_atom, connection,
        xcb_intern_atom(connection, true, quint16(name.size()), name.constData()));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const auto owner = VORANTU_XCB_REPLY(xcb_get_selection_owner, connection,
                                         xcb_get_selection_owner(connection, atom->atom));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

void X11PlaceWindow(xcb_connection_t* connection, xcb_window_t window, const QRect& rect)
{
    if (window == XCB_WINDOW_NONE || rect.isEmpty())
        return;
    const uint32_t values[] = {uint32_t(rect.x()), uint32_t(rect.y()), uint32_t(rect.width()),
                               uint32_t(rect.height())};
    xcb_configure_window(connection, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(connection);
}

std::optional<QRect> X11WindowRect(xcb_connection_t* connection, xcb_window_t window)
{
    const std::optional<QPoint> origin = X11WindowOrigin(connection, window);
    if (!origin)
        return std::nullopt;
    const auto geometry =
        VORANTU_XCB_REPLY(xcb_get_geometry, connection, xcb_get_geometry(connection, window));
    if (!geometry)
        return std::nullopt;
    return QRect(*origin, QSize(geometry->width, geometry->height));
}

namespace {

void SetShapeKind(xcb_connection_t* connection, xcb_window_t window, const QRegion& region,
                  xcb_shape_kind_t kind)
{
    if (window == XCB_WINDOW_NONE)
        return;
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& r : region)
        rectangles.push_back(
            {int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, window, 0,
                         0, uint32_t(rectangles.size()), rectangles.data());
    xcb_flush(connection);
}

} // namespace

void X11SetWindowShape(xcb_connection_t* connection, xcb_window_t window, const QRegion& region)
{
    SetShapeKind(connection, window, region, XCB_SHAPE_SK_BOUNDING);
}

void X11SetWindowInputShape(xcb_connection_t* connection, xcb_window_t window,
                            const QRegion& region)
{
    SetShapeKind(connection, window, region, XCB_SHAPE_SK_INPUT);
}

QList<QRect> X11Struts(xcb_connection_t* connection)
{
    QList<QRect> struts;
    const xcb_window_t root = XcbRootWindow(connection);
    const auto geometry =
        VORANTU_XCB_REPLY(xcb_get_geometry, connection, xcb_get_geometry(connection, root));
    if (!geometry)
        return struts;
    const int width = geometry->width;
    const int height = geometry->height;
    const xcb_atom_t partialAtom = XcbAtom(connection, "_NET_WM_STRUT_PARTIAL");
    const xcb_atom_t strutAtom = XcbAtom(connection, "_NET_WM_STRUT");
    const QList<quint32> clients =
        XcbCardinals(connection, root, XcbAtom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    for (const quint32 client : clients) {
        QList<quint32> strut = XcbCardinals(connection, client, partialAtom, XCB_ATOM_CARDINAL);
        if (strut.size() < 12) {
            // The old form reserves whole edges of the root.
            const QList<quint32> whole =
                XcbCardinals(connection, client, strutAtom, XCB_ATOM_CARDINAL);
            if (whole.size() < 4)
                continue;
            strut = whole.mid(0, 4) + QList<quint32>{0, quint32(height - 1), 0, quint32(height - 1),
                                                     0, quint32(width - 1),  0, quint32(width - 1)};
        }
        const auto span = [](quint32 start, quint32 end) {
            return end >= start ? int(end - start + 1) : 0;
        };
        const int left = int(qMin<quint32>(strut[0], quint32(width)));
        const int right = int(qMin<quint32>(strut[1], quint32(width)));
        const int top = int(qMin<quint32>(strut[2], quint32(height)));
        const int bottom = int(qMin<quint32>(strut[3], quint32(height)));
        if (left > 0)
            struts.append(QRect(0, int(strut[4]), left, span(strut[4], strut[5])));
        if (right > 0)
            struts.append(QRect(width - right, int(strut[6]), right, span(strut[6], strut[7])));
        if (top > 0)
            struts.append(QRect(int(strut[8]), 0, span(strut[8], strut[9]), top));
        if (bottom > 0)
            struts.append(
                QRect(int(strut[10]), height - bottom, span(strut[10], strut[11]), bottom));
    }
    return struts;
}

namespace {

xcb_window_t NativeId(const QWidget* window)
{
    // internalWinId() rather than winId(): asking must not create a native window.
    return xcb_window_t(window->internalWinId());
}

} // namespace

std::optional<QPoint> TX11NativeWindows::Origin(const QWidget* window)
{
    return X11WindowOrigin(QtXcbConnection(), NativeId(window));
}

std::optional<QRect> TX11NativeWindows::Rect(const QWidget* window)
{
    if (!NativeId(window))
        return std::nullopt;
    return X11WindowRect(QtXcbConnection(), NativeId(window));
}

bool TX11NativeWindows::Place(QWidget* window, const QRect& physical)
{
    if (!NativeId(window))
        return false;
    X11PlaceWindow(QtXcbConnection(), NativeId(window), physical);
    return true;
}

bool TX11NativeWindows::SetShape(QWidget* window, const QRegion& shape)
{
    if (!NativeId(window))
        return false;
    X11SetWindowShape(QtXcbConnection(), NativeId(window), shape);
    return true;
}

bool TX11NativeWindows::SetInputShape(QWidget* window, const QRegion& shape)
{
    if (!NativeId(window))
        return false;
    X11SetWindowInputShape(QtXcbConnection(), NativeId(window), shape);
    return true;
}

namespace {

// Raises the kept windows again whenever a managed window is mapped or
// restacked. Override-redirect windows (menus, tooltips, the program's own
// popups) are left above: they come and go on purpose.
class TKeepAbove : public QAbstractNativeEventFilter
{
public:
    void Keep(xcb_window_t window, bool keep)
    {
        FWindows.removeAll(window);
        if (keep) {
            FWindows.append(window);
            WatchRoot();
            Raise();
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (FWindows.isEmpty() || type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        xcb_window_t window = XCB_WINDOW_NONE;
        bool unmanaged = true;
        switch (event->response_type & ~0x80) {
        case XCB_MAP_NOTIFY: {
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            window = map->window;
            unmanaged = map->override_redirect;
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->event != configure->window) {
                window = configure->window;
                unmanaged = configure->override_redirect;
            }
            break;
        }
        default:
            break;
        }
        if (window != XCB_WINDOW_NONE && !unmanaged && !FWindows.contains(window))
            Raise();
        return false;
    }

private:
    void WatchRoot()
    {
        if (FWatching)
            return;
        xcb_connection_t* connection = QtXcbConnection();
        const xcb_window_t root = XcbRootWindow(connection);
        if (!connection || root == XCB_WINDOW_NONE)
            return;
        // Each client has its own event mask on a window: add to Qt's.
        const auto attributes = VORANTU_XCB_REPLY(xcb_get_window_attributes, connection,
                                                  xcb_get_window_attributes(connection, root));
        if (!attributes)
            return;
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
        QCoreApplication::instance()->installNativeEventFilter(this);
        FWatching = true;
    }

    void Raise()
    {
        xcb_connection_t* connection = QtXcbConnection();
        if (!connection)
            return;
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        for (const xcb_window_t window : FWindows)
            xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_flush(connection);
    }

    QList<xcb_window_t> FWindows;
    bool FWatching = false;
};

} // namespace

bool TX11NativeWindows::KeepAbove(QWidget* window, bool keep)
{
    if (!NativeId(window) || !QCoreApplication::instance())
        return false;
    static TKeepAbove keeper;
    keeper.Keep(NativeId(window), keep);
    return true;
}

std::optional<QList<QRect>> TX11NativeWindows::Struts()
{
    return X11Struts(QtXcbConnection());
}

std::optional<bool> TX11NativeWindows::Focus(QWidget* window)
{
    return X11FocusWindow(QtXcbConnection(), NativeId(window));
}

bool TX11NativeWindows::CompositorRunning()
{
    return X11CompositorRunning(QtXcbConnection());
}
