// Still captures on the Wayland desktop: the program on XWayland reads the
// screen through the Screenshot portal, where an X11 grab shows black.

#include "Desktop.h"
#include "TestEnvironment.h"
#include "Wayland.h"
#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/Session.h"
#include "platform/wayland/Portal.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>
#include <algorithm>
#include <future>

namespace {

const QString Screenshot = QStringLiteral("org.freedesktop.portal.Screenshot");
const QSize ScreenSize(1920, 1080);

void SetStored(const QString& name, const QVariant& value)
{
    QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf",
                       QSettings::IniFormat);
    settings.setValue(name, value);
}

// The region window as stored for the next start: 400x250 at (300, 200),
// whose hole then lies at StoredHole (inside the frame's border and header).
const QRect StoredHole(306, 231, 400, 250);
void StoreRegionWindow()
{
    SetStored("area", 1);
    SetStored("left", 300);
    SetStored("top", 200);
    SetStored("width", 400);
    SetStored("height", 250);
}

// The longest time of video the encoder's log reports ("time=00:00:01.52").
double EncodedSeconds(const QString& logFile)
{
    QFile log(logFile);
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+\\.\\d+)"));
    double seconds = 0;
    for (const QRegularExpressionMatch& m : time.globalMatch(QString::fromUtf8(log.readAll())))
        seconds = qMax(seconds, m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 +
                                    m.captured(3).toDouble());
    return seconds;
}

QString SocketFolder()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + "/vorantu";
}

QStringList Captures()
{
    return QDir(QDir::homePath() + "/Desktop").entryList({"*.png"}, QDir::Files, QDir::Name);
}

// The program as a user starts it on a Wayland session: nobody has chosen
// Qt's platform for it.
class TProgram
{
public:
    explicit TProgram(const QProcessEnvironment& changes = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        for (const QString& name : changes.keys())
            environment.insert(name, changes.value(name));
        FProcess.setProcessEnvironment(environment);
        FProcess.start(QStringLiteral(VORANTU_BINARY), {"/start"});
    }
    ~TProgram()
    {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    bool WaitListening()
    {
        return QTest::qWaitFor(
            [] {
                return QFile::exists(SocketFolder() + "/TFrmVorantu") &&
                       SendCommand(SocketFolder(), "WM_USER 0\n", 2000);
            },
            20000);
    }
    // What the command-line client's "capture" sends; true once the
    // capture handler has run (the reply comes after it).
    bool Capture() const
    {
        return SendCommand(SocketFolder(), "WM_COPYDATA 1\n{\"command\":\"capture\"}", 30000)
            .has_value();
    }
    QString Errors()
    {
        FErrors += QString::fromLocal8Bit(FProcess.readAllStandardError());
        return FErrors;
    }
    QProcess FProcess;
    QString FErrors;
};

QImage NewestCapture(const QStringList& before)
{
    QStringList now;
    if (!QTest::qWaitFor([&] { return (now = Captures()).size() > before.size(); }, 20000))
        return {};
    const QString file = QDir::homePath() + "/Desktop/" + now.last();
    QImage picture;
    // The file may still be being written when it shows up.
    (void)QTest::qWaitFor([&] { return picture.load(file); }, 5000);
    return picture.convertToFormat(QImage::Format_RGB32);
}

// True when the compositor shows the region window with `interior` as its
// hole (border 6, header 25 at 96 dpi) and the pattern through it.
bool RegionShownAt(const QRect& interior, const QImage& pattern)
{
    const QRect frame = interior.adjusted(-6, -31, 6, 6);
    const QImage screen = TestWayland::Grab();
    // The header's corner is the window's, the pixel beyond it the pattern's.
    return screen.pixel(frame.topLeft()) != pattern.pixel(frame.topLeft()) &&
           screen.pixel(frame.topLeft() - QPoint(1, 1)) ==
               pattern.pixel(frame.topLeft() - QPoint(1, 1)) &&
           TestWayland::DifferentPixels(screen.copy(interior), pattern.copy(interior)) == 0;
}

// The pictures' mean colours over a grid of cells, as far apart as the
// farthest cell: small for the same picture through a lossy video codec.
int CellDistance(const QImage& a, const QImage& b)
{
    const QSize cells(8, 5);
    const QImage small1 = a.scaled(cells, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage small2 = b.scaled(cells, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int worst = 0;
    for (int y = 0; y < cells.height(); ++y)
        for (int x = 0; x < cells.width(); ++x) {
            const QRgb p = small1.pixel(x, y);
            const QRgb q = small2.pixel(x, y);
            worst = std::max({worst, qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)),
                              qAbs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

} // namespace

class TTestWaylandCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(IsWaylandSession(), "the Wayland test desktop's environment is missing");
        QCOMPARE(TestWayland::OutputGeometry(), QRect(QPoint(0, 0), ScreenSize));
        FBackground = std::make_unique<TestWayland::TBackground>(TestDesktop::Pattern(ScreenSize));
        QVERIFY2(FBackground->Shown(), qPrintable(FBackground->Error()));
    }

    void init()
    {
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf");
        for (const QString& file : Captures())
            QFile::remove(QDir::homePath() + "/Desktop/" + file);
        // grim shows no cursor either; what the program adds for a pointer
        // over no X11 window is not the point here.
        SetStored("mouse", false);
        SetStored("language", "en");
        SetStored("notify", false);
    }

    void PortalRequests_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<int>("outcome");
        QTest::newRow("screenshot") << Screenshot << QStringLiteral("Screenshot")
                                    << QVariantList{QString()} << int(TPortalOutcome::Success);
        QTest::newRow("no interface")
            << QStringLiteral("org.freedesktop.portal.NoSuchThing") << QStringLiteral("Do")
            << QVariantList{QString()} << int(TPortalOutcome::NoInterface);
        // The parent window must be a string: the portal rejects the call
        // itself, and no Response ever comes.
        QTest::newRow("bad arguments") << Screenshot << QStringLiteral("Screenshot")
                                       << QVariantList{42} << int(TPortalOutcome::Refused);
    }

    void PortalRequests()
    {
        QFETCH(QString, interface);
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(int, outcome);
        const TPortalResult result = TPortalRequest::Call(
            interface, method, arguments, {{QStringLiteral("interactive"), false}}, 10000);
        QCOMPARE(int(result.Outcome), outcome);
        QCOMPARE(result.Error.isEmpty(), result.Ok());
        if (!result.Ok())
            return;
        const QUrl uri(result.Results.value(QStringLiteral("uri")).toString());
        QVERIFY2(uri.isLocalFile(), qPrintable(uri.toString()));
        QCOMPARE(TestWayland::DifferentPixels(QImage(uri.toLocalFile()),
                                              TestDesktop::Pattern(ScreenSize)),
                 0);
    }

    void PortalRequestAsynchronous()
    {
        // Finished comes from the event loop, never inside Start, so a caller
        // may connect after starting.
        TPortalRequest request;
        request.Start(Screenshot, QStringLiteral("Screenshot"), {QString()},
                      {{QStringLiteral("interactive"), false}}, 10000);
        QSignalSpy finished(&request, &TPortalRequest::Finished);
        QVERIFY(finished.wait(10000));
        QVERIFY(finished.first().first().value<TPortalResult>().Ok());
        QVERIFY(!finished.wait(300));
        QVERIFY(TPortalRequest::HasInterface(Screenshot));
        QVERIFY(!TPortalRequest::HasInterface(QStringLiteral("org.freedesktop.portal.Nope")));
    }

    void ScreenReadsThroughThePortal()
    {
        // This test program is an XWayland client in a Wayland session, as
        // the program is: the loader gives it the portal's screen.
        const TPlatform platform = LoadPlatform();
        const QImage pattern = TestDesktop::Pattern(ScreenSize);
        QCOMPARE(platform.Screen->Monitors(), QList<QRect>{QRect(QPoint(0, 0), ScreenSize)});
        // Across the right edge: the part on no monitor is black.
        const QRect rect(1900, 500, 40, 30);
        QImage grabbed(rect.size(), QImage::Format_ARGB32);
        grabbed.fill(Qt::transparent);
        QVERIFY(platform.Screen->Grab(rect, grabbed));
        QImage expected(rect.size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter(&expected).drawImage(0, 0, pattern.copy(QRect(1900, 500, 20, 30)));
        QCOMPARE(grabbed, expected.convertToFormat(QImage::Format_ARGB32));
        for (const QPoint& at : {QPoint(0, 0), QPoint(1919, 1079), QPoint(777, 333)})
            QCOMPARE(platform.Screen->Pixel(at), std::optional<QRgb>(pattern.pixel(at)));
        QCOMPARE(platform.Screen->Pixel(QPoint(1920, 0)), std::nullopt);
    }

    void FullScreenCaptureIsTheScreen()
    {
        TProgram program;
        QVERIFY(program.WaitListening());
        const QStringList before = Captures();
        QVERIFY(program.Capture());
        const QImage captured = NewestCapture(before);
        QCOMPARE(captured.size(), ScreenSize);
        // The program's own main window is on screen too, in both pictures.
        QCOMPARE(TestWayland::DifferentPixels(captured, TestWayland::Grab()), 0);
        QVERIFY2(!program.Errors().contains("portal"), qPrintable(program.Errors()));
    }

    void DragCaptureIsTheDraggedRectangle()
    {
        SetStored("area", 2);
        TProgram program;
        QVERIFY(program.WaitListening());
        const QStringList before = Captures();
        // Input on the compositor's seat, as a user's mouse gives it; sway
        // passes it through XWayland to the overlay, an X11 window. The
        // pointer moves once the overlay is up: a surface that appears under
        // a resting pointer gets no pointer focus until it moves.
        const QPoint from(301, 207);
        const QPoint to(700, 480);
        const QRect rect(from, to - QPoint(1, 1));
        const QImage pattern = TestDesktop::Pattern(ScreenSize);
        const auto pointer = [](const QString& action, const QPoint& at) {
            QVERIFY(TestWayland::MovePointer(at));
            if (action == QLatin1String("press"))
                QVERIFY(TestWayland::Press());
            else if (action == QLatin1String("release"))
                QVERIFY(TestWayland::Release());
        };
        pointer({}, from - QPoint(20, 20));
        // The reply comes once the overlay is done, so the trigger waits
        // aside while the pointer drags.
        std::future<bool> captured =
            std::async(std::launch::async, [&program] { return program.Capture(); });
        // The overlay dims the frozen picture once it is up.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return TestWayland::DifferentPixels(TestWayland::Grab(rect), pattern.copy(rect)) >
                       0;
            },
            20000));
        pointer("press", from);
        for (int step = 1; step < 4; ++step)
            pointer({}, from + (to - from) * step / 4);
        pointer("release", to);
        QVERIFY2(captured.get(), qPrintable(program.Errors()));
        const QImage picture = NewestCapture(before);
        QCOMPARE(picture.size(), rect.size());
        QCOMPARE(TestWayland::DifferentPixels(picture, pattern.copy(rect)), 0);
    }

    void RegionWindowLiesWhereItIsPutAndShowsTheScreen()
    {
        // The compositor must show what lies below through the hole, the
        // window must lie where the program puts it (sway would tile or
        // centre a managed window), and the capture must be that hole, also
        // after the user dragged the window by its header or moved it with
        // the keyboard.
        StoreRegionWindow();
        TProgram program;
        QVERIFY(program.WaitListening());
        const QImage pattern = TestDesktop::Pattern(ScreenSize);
        const QRect hole = StoredHole;
        const auto shownAt = [&](const QRect& interior) {
            return RegionShownAt(interior, pattern);
        };
        QVERIFY2(QTest::qWaitFor([&] { return shownAt(hole); }, 10000),
                 "the hole is not at the stored place or does not show the screen");
        const auto capture = [&](const QRect& interior) {
            const QStringList before = Captures();
            QVERIFY(program.Capture());
            const QImage captured = NewestCapture(before);
            QCOMPARE(captured.size(), interior.size());
            QCOMPARE(TestWayland::DifferentPixels(captured, pattern.copy(interior)), 0);
        };
        capture(hole);
        if (QTest::currentTestFailed())
            return;

        const QPoint grip(hole.left() + 150, hole.top() - 18);
        const QPoint by(-120, 90);
        QVERIFY(TestWayland::MovePointer(grip + QPoint(3, 0)));
        QVERIFY(TestWayland::MovePointer(grip));
        QVERIFY(TestWayland::Press());
        for (int step = 1; step <= 4; ++step)
            QVERIFY(TestWayland::MovePointer(grip + by * step / 4));
        QVERIFY(TestWayland::Release());
        QVERIFY2(QTest::qWaitFor([&] { return shownAt(hole.translated(by)); }, 10000),
                 "the window did not follow the header's drag");
        capture(hole.translated(by));
        if (QTest::currentTestFailed())
            return;

        // The click gave it the keyboard, which no window manager does for it.
        QVERIFY(TestWayland::Key("Right"));
        const QRect moved = hole.translated(by + QPoint(1, 0));
        QVERIFY2(QTest::qWaitFor([&] { return shownAt(moved); }, 10000),
                 "the arrow key did not reach the region window");
        // Where the user left it is where it opens next time.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QSettings stored(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                           "/Dastrane/Vorantu.conf",
                                       QSettings::IniFormat);
                return stored.value("left").toInt() == moved.left() - 6 &&
                       stored.value("top").toInt() == moved.top() - 31;
            },
            5000));
    }

    void RegionRecordingIsWhatTheHoleShows()
    {
        // The recording's frames are cut from the screen cast at the hole:
        // they show what lies below, not the window and not black.
        StoreRegionWindow();
        SetStored("saveto", 5);
        SetStored("mouse_rec", false);
        SetStored("ffmpeg_log", true);
        TProgram program;
        QVERIFY(program.WaitListening());
        const QImage pattern = TestDesktop::Pattern(ScreenSize);
        const QRect hole = StoredHole;
        QVERIFY(QTest::qWaitFor([&] { return RegionShownAt(hole, pattern); }, 10000));
        const QString file = QDir::homePath() + "/Desktop/V-001.mp4";
        QFile::remove(file);
        QVERIFY(program.Capture());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 0, 20000);
        // A second and a half of video, as the encoder's log reports it.
        QTRY_VERIFY_WITH_TIMEOUT(EncodedSeconds(QFileInfo(file).path() + "/ffmpeg.log") >= 1.5,
                                 20000);
        QVERIFY(program.Capture()); // the same trigger stops it
        QImage frame;
        const QString still = QDir::tempPath() + "/region-frame.png";
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         QFile::remove(still);
                         QProcess ffmpeg;
                         ffmpeg.start("ffmpeg", {"-v", "error", "-ss", "0.5", "-i", file,
                                                 "-frames:v", "1", "-y", still});
                         return ffmpeg.waitForFinished(20000) && ffmpeg.exitCode() == 0 &&
                                frame.load(still);
                     },
                     20000),
                 qPrintable(program.Errors()));
        QCOMPARE(frame.size(), hole.size());
        QVERIFY2(CellDistance(frame, pattern.copy(hole)) < 24,
                 "the recording does not show what the hole shows");
    }

    void ClicksInTheHoleReachTheWindowBelow_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("X11 window") << QStringLiteral("x11");
        QTest::newRow("native window") << QStringLiteral("wayland");
    }

    void ClicksInTheHoleReachTheWindowBelow()
    {
        // A window fills the screen below the region window; a click in the
        // hole is its click, one on the frame is not.
        QFETCH(QString, backend);
        QProcess native;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("GDK_BACKEND", backend);
        native.setProcessEnvironment(environment);
        native.start("/usr/bin/python3",
                     {"-c", "import sys, gi\n"
                            "gi.require_version('Gdk', '3.0')\n"
                            "gi.require_version('Gtk', '3.0')\n"
                            "from gi.repository import Gdk, GLib, Gtk\n"
                            "w = Gtk.Window(title='below')\n"
                            "w.add_events(Gdk.EventMask.BUTTON_PRESS_MASK)\n"
                            "w.connect('map-event', lambda *a: print('mapped', flush=True))\n"
                            "w.connect('button-press-event', lambda w, e:"
                            " print('press %d %d' % (e.x_root, e.y_root), flush=True))\n"
                            "GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP,"
                            " lambda *a: Gtk.main_quit())\n"
                            "w.show_all()\n"
                            "Gtk.main()\n"});
        auto close = qScopeGuard([&] {
            native.closeWriteChannel();
            if (!native.waitForFinished(5000))
                native.kill();
        });
        QByteArray heard;
        const auto clicked = [&](const QPoint& at, int waitMs) {
            // The pointer moves first: a surface that appeared under a
            // resting pointer has no pointer focus yet.
            if (!TestWayland::MovePointer(at + QPoint(10, 10)) || !TestWayland::Click(at))
                return false;
            const QByteArray press =
                QStringLiteral("press %1 %2\n").arg(at.x()).arg(at.y()).toUtf8();
            return QTest::qWaitFor(
                [&] {
                    native.waitForReadyRead(50);
                    heard += native.readAll();
                    return heard.contains(press);
                },
                waitMs);
        };
        QVERIFY(QTest::qWaitFor(
            [&] {
                native.waitForReadyRead(50);
                heard += native.readAll();
                return heard.contains("mapped");
            },
            10000));
        // The window may take its place a little after it is mapped.
        QVERIFY2(QTest::qWaitFor([&] { return clicked(QPoint(500, 400), 500); }, 10000),
                 "the window below hears no clicks at all");

        StoreRegionWindow();
        TProgram program;
        QVERIFY(program.WaitListening());
        const QPoint header(StoredHole.left() + 150, 200 + 10);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return TestWayland::Grab(QRect(header, QSize(1, 1))).pixel(0, 0) == qRgb(64, 0, 0);
            },
            10000));
        if (backend == QLatin1String("wayland"))
            QEXPECT_FAIL("",
                         "XWayland under sway 1.7 gives the compositor no input region "
                         "for an X input shape: the hole takes clicks for X11 windows only",
                         Abort);
        QVERIFY2(clicked(QPoint(520, 420), 5000), "the click stayed in the region window");
        // The frame itself keeps its clicks.
        QVERIFY(!clicked(QPoint(303, 300), 1000));
    }

    void ActiveX11WindowIsCutFromTheScreen()
    {
        SetStored("area", 3);
        TProgram program;
        QVERIFY(program.WaitListening());
        // The program's own main window (no tray here) is an X11 window the
        // compositor focuses: X11 names it.
        QRect frame;
        QVERIFY(QTest::qWaitFor(
            [&] {
                QProcess active;
                active.start("xdotool", {"getactivewindow", "getwindowgeometry", "--shell"});
                active.waitForFinished(5000);
                const QString text = QString::fromUtf8(active.readAllStandardOutput());
                const auto value = [&](const QString& name) {
                    return text.section(name + "=", 1).section('\n', 0, 0).toInt();
                };
                frame = QRect(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
                return frame.width() > 100;
            },
            10000));
        const QStringList before = Captures();
        QVERIFY(program.Capture());
        const QImage captured = NewestCapture(before);
        QCOMPARE(captured.size(), frame.size());
        QCOMPARE(TestWayland::DifferentPixels(captured, TestWayland::Grab(frame)), 0);
    }

    void NativeWindowIsNeverGuessed()
    {
        SetStored("area", 3);
        TProgram program;
        QVERIFY(program.WaitListening());
        // A native Wayland window takes the focus: X11 cannot name it.
        QProcess native;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("GDK_BACKEND", "wayland");
        native.setProcessEnvironment(environment);
        native.start("/usr/bin/python3",
                     {"-c", "import sys, gi\n"
                            "gi.require_version('Gtk', '3.0')\n"
                            "from gi.repository import GLib, Gtk\n"
                            "w = Gtk.Window(title='native')\n"
                            "w.connect('map-event', lambda *a: print('mapped', flush=True))\n"
                            "GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP,"
                            " lambda *a: Gtk.main_quit())\n"
                            "w.show_all()\n"
                            "Gtk.main()\n"});
        auto close = qScopeGuard([&] {
            native.closeWriteChannel();
            if (!native.waitForFinished(5000))
                native.kill();
        });
        QVERIFY(native.waitForReadyRead(10000));
        QVERIFY(QTest::qWaitFor(
            [] {
                QProcess active;
                active.start("xdotool", {"getactivewindow"});
                active.waitForFinished(5000);
                return active.exitCode() != 0;
            },
            10000));

        // This desktop's portal lets the user pick only through a helper
        // it does not have: the program says so and writes nothing.
        const QStringList before = Captures();
        QVERIFY(program.Capture());
        QTRY_VERIFY_WITH_TIMEOUT(
            program.Errors().contains("does not tell which window is active and its portal"),
            10000);
        QCOMPARE(program.Errors().count("choose what to capture yourself"), 1);
        QCOMPARE(Captures(), before);
    }

    void WithoutPortalTheUserIsToldOnce()
    {
        // A session bus of its own with nothing on it: no portal answers.
        QFile config(QDir::tempPath() + "/bus.conf");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            "<busconfig><type>session</type><listen>unix:tmpdir=" + QDir::tempPath().toUtf8() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        QProcess bus;
        bus.start("dbus-daemon",
                  {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        auto stopBus = qScopeGuard([&] {
            bus.terminate();
            bus.waitForFinished(5000);
        });

        QProcessEnvironment changes;
        changes.insert("DBUS_SESSION_BUS_ADDRESS", address);
        TProgram program(changes);
        QVERIFY2(program.WaitListening(), qPrintable(program.Errors()));
        const QString told = "The desktop portal cannot read the screen";
        for (int capture = 0; capture < 2; ++capture) {
            const QStringList before = Captures();
            QVERIFY(program.Capture());
            // What X11 sees: the program's own window, black elsewhere; the
            // capture is still made.
            const QImage captured = NewestCapture(before);
            QCOMPARE(captured.size(), ScreenSize);
            QCOMPARE(captured.pixel(5, 5), qRgb(0, 0, 0));
        }
        QTRY_COMPARE_WITH_TIMEOUT(program.Errors().count(told), 1, 5000);
    }

    void WithoutXWaylandTheProgramSaysWhy()
    {
        QProcessEnvironment changes;
        changes.insert("DISPLAY", QString());
        TProgram program(changes);
        QVERIFY(program.FProcess.waitForFinished(10000));
        QCOMPARE(program.FProcess.exitCode(), 1);
        QVERIFY2(program.Errors().contains("no XWayland"), qPrintable(program.Errors()));
    }

private:
    std::unique_ptr<TestWayland::TBackground> FBackground;
};

VORANTU_TEST_MAIN(TTestWaylandCapture)
#include "tst_WaylandCapture.moc"
