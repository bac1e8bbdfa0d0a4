#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/Capture.h"
#include "platform/Activation.h"
#include "platform/Platform.h"
#include "platform/x11/X11Activation.h"
#include "platform/x11/Xcb.h"

#include <QProcess>

namespace {

// A GTK 3 program with client-side decorations (a header bar over a magenta
// area), as wide as asked for, which excludes any shadow (its height adds
// the header bar).
struct TGtkWindow
{
    static constexpr int Width = 400;
    QProcess Process;
    xcb_window_t Window = XCB_WINDOW_NONE;

    bool Start()
    {
        Process.start(QStringLiteral(VORANTU_CSD_WINDOW),
                      {QString::number(Width), QStringLiteral("300")});
        if (!Process.waitForStarted() ||
            !QTest::qWaitFor([this] { return Process.canReadLine(); }, 10000))
            return false;
        Window = xcb_window_t(Process.readLine().trimmed().toULong());
        return Window != XCB_WINDOW_NONE;
    }
    ~TGtkWindow()
    {
        Process.closeWriteChannel();
        if (!Process.waitForFinished(5000))
            Process.kill();
    }
};

bool IsMagenta(QRgb pixel)
{
    return qRed(pixel) > 240 && qGreen(pixel) < 16 && qBlue(pixel) > 240;
}

} // namespace

class TTestDecorations : public QObject
{
    Q_OBJECT
private slots:
    // The active-window capture of a window that draws its own decorations
    // and shadow holds the window exactly: no invisible margin, which a
    // compositor would fill with the shadow and the desktop behind it.
    void ActiveWindowCaptureExcludesTheShadowMargin()
    {
        TPlatform platform = LoadPlatform();
        TCapture capture(*platform.Screen, *platform.Windows);
        capture.FShowCursor = false;
        TestDesktop::MovePointer({3000, 50});
        TGtkWindow gtk;
        QVERIFY(gtk.Start());
        xcb_connection_t* connection = QtXcbConnection();
        X11RequestActivation(connection, gtk.Window, X11ServerTime());
        QTRY_COMPARE(platform.Windows->ActiveWindow(), TWindowId(gtk.Window));
        const QList<quint32> margin = XcbCardinals(
            connection, gtk.Window, XcbAtom(connection, "_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL);
        if (qEnvironmentVariable("VORANTU_TEST_WM") == QLatin1String("xfwm4"))
            QVERIFY2(margin.size() == 4 && margin[0] > 0,
                     "a compositor should let GTK draw a shadow margin");
        if (margin.isEmpty()) {
            // Without a compositor GTK draws a visible border and no margin:
            // the whole window is what the user sees.
            const auto geometry = VORANTU_XCB_REPLY(xcb_get_geometry, connection,
                                                    xcb_get_geometry(connection, gtk.Window));
            QVERIFY(geometry);
            QImage bitmap;
            QRect rect;
            capture.Capture(bitmap, platform.Windows->ActiveWindow(), rect);
            QCOMPARE(rect.size(), QSize(geometry->width, geometry->height));
            return;
        }

        QImage bitmap;
        QRect rect;
        QTRY_VERIFY(
            (capture.Capture(bitmap, platform.Windows->ActiveWindow(), rect),
             rect.width() == TGtkWindow::Width && IsMagenta(bitmap.pixel(1, rect.height() - 2))));
        // The area reaches the window's edges below the header bar; a shadow
        // margin would put the shadow there instead.
        for (const QPoint at :
             {QPoint(1, rect.height() - 2), QPoint(rect.width() - 2, rect.height() - 2),
              QPoint(1, rect.height() / 2), QPoint(rect.width() - 2, rect.height() / 2)})
            QVERIFY2(IsMagenta(bitmap.pixel(at)), qPrintable(QStringLiteral("%1,%2 is %3")
                                                                 .arg(at.x())
                                                                 .arg(at.y())
                                                                 .arg(bitmap.pixel(at), 0, 16)));
    }
};

VORANTU_TEST_MAIN(TTestDecorations)
#include "tst_Decorations.moc"
