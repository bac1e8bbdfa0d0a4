#include "platform/Activation.h"

#include "platform/x11/X11Activation.h"
#include "platform/x11/Xcb.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

xcb_connection_t* Connection()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") ? QtXcbConnection() : nullptr;
}

} // namespace

bool IsForegroundWindow(const QWidget* window)
{
    xcb_connection_t* connection = Connection();
    if (!connection)
        return window->isActiveWindow();
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    return id != XCB_WINDOW_NONE && X11ActiveWindow(connection) == id;
}

void ForceForegroundWindow(QWidget* window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible() || IsForegroundWindow(window))
        return;
    window->raise();
    window->activateWindow();
    if (!Connection())
        return;
    // Qt's request carries the time of the last event Qt saw and says it
    // comes from an application, which a window manager preventing focus
    // stealing may answer by only marking the window as wanting attention.
    // Its answer arrives as a property change with no reply to wait for, so
    // it is looked at once it had time to come.
    constexpr int AnswerMs = 250;
    QTimer::singleShot(AnswerMs, window, [target = QPointer<QWidget>(window)] {
        xcb_connection_t* connection = Connection();
        if (!target || !connection || !target->isVisible() || IsForegroundWindow(target))
            return;
        X11RequestActivation(connection, xcb_window_t(target->internalWinId()), X11ServerTime());
    });
}
