#include "TestEnvironment.h"
#include "platform/NativeWindow.h"
#include "platform/x11/X11Windows.h"
#include "platform/x11/Xcb.h"

#include <QWidget>

namespace {

// A managed top-level window with a native child window inside it.
struct TManagedWindow
{
    QWidget Top;
    QWidget Child{&Top};

    explicit TManagedWindow(const QRect& geometry)
    {
        Top.setWindowTitle("windows probe");
        Top.setGeometry(geometry);
        Child.setAttribute(Qt::WA_NativeWindow);
        Child.setGeometry(40, 30, 100, 60);
        Child.setAutoFillBackground(true);
    }
    bool Show()
    {
        Top.show();
        return QTest::qWaitForWindowExposed(&Top) &&
               QTest::qWaitFor([this] { return Top.frameGeometry() != Top.geometry(); });
    }
};

void SetCardinals(TWindowId window, const char* property, const QList<quint32>& values)
{
    xcb_connection_t* connection = QtXcbConnection();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window),
                        XcbAtom(connection, property), XCB_ATOM_CARDINAL, 32,
                        uint32_t(values.size()), values.constData());
    xcb_flush(connection);
}

} // namespace

class TTestWindows : public QObject
{
    Q_OBJECT
private slots:
    void ActiveWindowFollowsActivation()
    {
        TX11Windows windows(QtXcbConnection());
        TManagedWindow first(QRect(200, 200, 300, 200));
        TManagedWindow second(QRect(600, 250, 300, 200));
        QVERIFY(first.Show());
        QVERIFY(second.Show());
        for (QWidget* window : {&first.Top, &second.Top, &first.Top}) {
            window->activateWindow();
            QTRY_COMPARE(windows.ActiveWindow(), TWindowId(window->winId()));
        }
    }

    void WindowAtPoints()
    {
        TX11Windows windows(QtXcbConnection());
        TManagedWindow managed(QRect(300, 300, 400, 300));
        QVERIFY(managed.Show());
        QWidget unmanaged(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        unmanaged.setGeometry(900, 300, 120, 80);
        unmanaged.show();
        QVERIFY(QTest::qWaitForWindowExposed(&unmanaged));

        const TWindowId top = managed.Top.winId();
        const QRect client = managed.Top.geometry();
        const QRect frame = managed.Top.frameGeometry();
        const QPoint titleBar(client.center().x(), (frame.top() + client.top()) / 2);
        QVERIFY(frame.top() < titleBar.y() && titleBar.y() < client.top());

        QCOMPARE(windows.WindowAt(client.topLeft() + QPoint(300, 200)), top);
        QCOMPARE(windows.WindowAt(managed.Child.mapToGlobal(QPoint(50, 30))),
                 TWindowId(managed.Child.winId()));
        // A title bar belongs to its window.
        QCOMPARE(windows.WindowAt(titleBar), top);
        QCOMPARE(windows.WindowAt(QPoint(950, 330)), TWindowId(unmanaged.winId()));
        // Nothing but the desktop on the right monitor there.
        QCOMPARE(windows.WindowAt(QPoint(2600, 600)), TWindowId(0));
        QCOMPARE(windows.WindowAt(QPoint(-5, 600)), TWindowId(0));
    }

    void VisibleFrame()
    {
        TX11Windows windows(QtXcbConnection());
        TManagedWindow managed(QRect(500, 400, 360, 240));
        QVERIFY(managed.Show());
        const TWindowId top = managed.Top.winId();
        QTRY_COMPARE(windows.VisibleFrame(top), std::optional<QRect>(managed.Top.frameGeometry()));

        // A client that draws its own shadow says how wide it is.
        SetCardinals(top, "_GTK_FRAME_EXTENTS", {10, 20, 5, 15});
        QCOMPARE(windows.VisibleFrame(top),
                 std::optional<QRect>(managed.Top.frameGeometry().adjusted(10, 5, -20, -15)));

        // A child window is just its own rectangle.
        QCOMPARE(windows.VisibleFrame(managed.Child.winId()),
                 std::optional<QRect>(QRect(managed.Child.mapToGlobal(QPoint()), QSize(100, 60))));

        xcb_connection_t* connection = QtXcbConnection();
        const xcb_window_t gone = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, gone, XcbRootWindow(connection), 0, 0,
                          10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0,
                          nullptr);
        xcb_destroy_window(connection, gone);
        QCOMPARE(windows.VisibleFrame(gone), std::nullopt);
        QCOMPARE(windows.VisibleFrame(0), std::nullopt);
    }

    void NativeWindowOriginAndFocus()
    {
        // Placed by the program, not the window manager: the server must say
        // exactly where.
        QWidget unmanaged(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        unmanaged.setGeometry(900, 300, 120, 80);
        QWidget child(&unmanaged);
        child.setAttribute(Qt::WA_NativeWindow);
        child.setGeometry(15, 25, 30, 20);
        QWidget never;
        QCOMPARE(WindowOriginOnScreen(&never), std::nullopt);
        QCOMPARE(never.internalWinId(), WId(0));

        // Created but not mapped: not viewable, so no focus.
        unmanaged.winId();
        QVERIFY(!FocusWindow(&unmanaged));

        unmanaged.show();
        QVERIFY(QTest::qWaitForWindowExposed(&unmanaged));
        QCOMPARE(WindowOriginOnScreen(&unmanaged), std::optional<QPoint>(QPoint(900, 300)));
        QCOMPARE(WindowOriginOnScreen(&child), std::optional<QPoint>(QPoint(915, 325)));

        QVERIFY(FocusWindow(&unmanaged));
        xcb_connection_t* connection = QtXcbConnection();
        const auto focus =
            VORANTU_XCB_REPLY(xcb_get_input_focus, connection, xcb_get_input_focus(connection));
        QVERIFY(focus);
        QCOMPARE(TWindowId(focus->focus), TWindowId(unmanaged.winId()));
    }

    void CompositorRunningFollowsSelectionOwner()
    {
        // The test desktop runs no compositor.
        QVERIFY(!CompositorRunning());

        xcb_connection_t* connection = QtXcbConnection();
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(XcbDefaultScreenNumber());
        const xcb_window_t owner = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, owner, XcbRootWindow(connection), 0, 0,
                          1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection, owner, XcbAtom(connection, name.constData()),
                                XCB_CURRENT_TIME);
        QVERIFY(CompositorRunning());
        // The selection is released with its owner window.
        xcb_destroy_window(connection, owner);
        QVERIFY(!CompositorRunning());
    }
};

VORANTU_TEST_MAIN(TTestWindows)
#include "tst_Windows.moc"
