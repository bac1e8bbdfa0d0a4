// Trigger to the drag overlay on screen: the controller's steps for a drag
// capture (make the overlay, bind the picture, run it), timed to the
// overlay's first expose and to the moment its first frame is really on the
// screen. The second is read back from the X server: a white window fills the
// screen before the trigger, so the overlay's first frame (everything dimmed)
// turns a pixel of the root window from 255 to 153, and a second connection
// on a thread of its own polls that pixel. Needs an X display without a
// compositor; the overlay covers every monitor of it.
//   bench_dragshow [RUNS]

#include "capture/Drag.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

namespace {

using TClock = std::chrono::steady_clock;

double MsBetween(TClock::time_point from, TClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// One pixel of the root window, read on a connection of its own so that it
// shares nothing with the overlay's drawing.
class TRootPixel
{
public:
    TRootPixel() : FConnection(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(FConnection))
            FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
    }
    ~TRootPixel() { xcb_disconnect(FConnection); }
    TRootPixel(const TRootPixel&) = delete;
    TRootPixel& operator=(const TRootPixel&) = delete;

    bool Valid() const { return FRoot != 0; }

    // The green byte of a 32-bit pixel; -1 when it cannot be read.
    int Green(int x, int y) const
    {
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
            xcb_get_image_reply(FConnection,
                                xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, FRoot,
                                              int16_t(x), int16_t(y), 1, 1, ~0u),
                                nullptr),
            &std::free);
        if (!reply || xcb_get_image_data_length(reply.get()) < 4)
            return -1;
        return xcb_get_image_data(reply.get())[1];
    }

    // Polls until the pixel's green byte is `value`; the time it was first
    // seen so, or nothing after `timeout`.
    std::optional<TClock::time_point> WaitFor(int x, int y, int value,
                                              std::chrono::milliseconds timeout,
                                              const std::atomic<bool>* stop = nullptr) const
    {
        const TClock::time_point end = TClock::now() + timeout;
        while (TClock::now() < end && !(stop && *stop)) {
            if (Green(x, y) == value)
                return TClock::now();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return std::nullopt;
    }

private:
    xcb_connection_t* FConnection;
    xcb_window_t FRoot = 0;
};

// Notes the first expose of the overlay's window, and closes the overlay
// once that and its first frame on screen have both been seen: where the
// display server shows the frame by itself, the expose comes after it.
class TFirstExpose : public QObject
{
public:
    explicit TFirstExpose(QDialog& overlay) : FOverlay(overlay) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && !FAt && FOverlay.windowHandle() &&
            watched == FOverlay.windowHandle()) {
            FAt = TClock::now();
            if (FShown)
                QMetaObject::invokeMethod(&FOverlay, &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }

    // The frame is on screen, or it never came.
    void Shown(bool seen)
    {
        FShown = true;
        if (FAt || !seen)
            FOverlay.reject();
    }

    std::optional<TClock::time_point> At() const { return FAt; }

private:
    QDialog& FOverlay;
    bool FShown = false;
    std::optional<TClock::time_point> FAt;
};

struct TSeries
{
    std::vector<double> Times;

    void Print(const char* what, const QSize& size) const
    {
        if (Times.empty())
            return;
        std::vector<double> sorted = Times;
        std::sort(sorted.begin(), sorted.end());
        // The first run pays for whatever is set up once per process.
        std::printf("trigger to %s, %dx%d: median %.1f ms (n=%zu, first %.1f, min %.1f, max "
                    "%.1f)\n",
                    what, size.width(), size.height(), sorted[sorted.size() / 2], sorted.size(),
                    Times.front(), sorted.front(), sorted.back());
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    TPlatform platform = LoadPlatform();
    const TRootPixel probe;
    if (!platform.Screen || !probe.Valid()) {
        std::fprintf(stderr, "no screen\n");
        return 1;
    }

    QWidget white(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    QPalette palette = white.palette();
    palette.setColor(QPalette::Window, Qt::white);
    white.setPalette(palette);
    white.setAutoFillBackground(true);
    const QRect screen = QGuiApplication::primaryScreen()->virtualGeometry();
    white.setGeometry(screen);
    white.show();
    // The last pixel the overlay's frame reaches.
    const QPoint probeAt = screen.bottomRight() * white.devicePixelRatio();

    TSeries exposed;
    TSeries shown;
    const QSize size = screen.size() * white.devicePixelRatio();
    for (int i = 0; i < runs; ++i) {
        const auto ready = [&] {
            return probe.Green(probeAt.x(), probeAt.y()) == 255;
        };
        for (QElapsedTimer waited; !ready();) {
            if (!waited.isValid())
                waited.start();
            if (waited.hasExpired(5000)) {
                std::fprintf(stderr, "the white screen never showed\n");
                return 1;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }

        const TClock::time_point trigger = TClock::now();
        std::atomic<bool> stop = false;
        std::optional<TClock::time_point> onScreen;
        TFrmDrag overlay(*platform.Screen);
        TFirstExpose expose(overlay);
        app.installEventFilter(&expose);
        std::thread watch([&] {
            onScreen = probe.WaitFor(probeAt.x(), probeAt.y(), TDragPicture::Dim(255),
                                     std::chrono::seconds(5), &stop);
            const bool seen = onScreen.has_value();
            QMetaObject::invokeMethod(
                &overlay, [&expose, seen] { expose.Shown(seen); }, Qt::QueuedConnection);
        });
        QImage bitmap;
        QRect rect;
        overlay.Capture(bitmap, rect);
        QTimer::singleShot(10000, &overlay, &QDialog::reject);
        overlay.exec();
        stop = true;
        watch.join();
        app.removeEventFilter(&expose);
        if (expose.At())
            exposed.Times.push_back(MsBetween(trigger, *expose.At()));
        if (onScreen)
            shown.Times.push_back(MsBetween(trigger, *onScreen));
    }
    if (shown.Times.empty()) {
        std::fprintf(stderr, "the overlay never showed\n");
        return 1;
    }
    exposed.Print("first overlay expose", size);
    shown.Print("first overlay frame on screen", size);
    return 0;
}
