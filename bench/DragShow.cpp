// Trigger to the drag overlay's first frame: the controller's steps for a
// drag capture (make the overlay, bind the picture, run it) timed up to the
// end of the overlay's first paint, which is then on its way to the screen.
// Needs an X display; the overlay covers every monitor of it.
//   bench_dragshow [RUNS]

#include "capture/Drag.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Notes the end of the first paint of the watched window, then closes it.
class TFirstPaint : public QObject
{
public:
    TFirstPaint(QDialog& overlay, QElapsedTimer& clock) : FOverlay(overlay), FClock(clock) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &FOverlay && event->type() == QEvent::Paint && FPaintedMs < 0) {
            // After the paint handler has run and the frame has been flushed.
            QTimer::singleShot(0, &FOverlay, [this] {
                FPaintedMs = double(FClock.nsecsElapsed()) / 1e6;
                FOverlay.reject();
            });
        }
        return false;
    }

    double PaintedMs() const { return FPaintedMs; }

private:
    QDialog& FOverlay;
    QElapsedTimer& FClock;
    double FPaintedMs = -1;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    TPlatform platform = LoadPlatform();
    if (!platform.Screen) {
        std::fprintf(stderr, "no screen\n");
        return 1;
    }
    std::vector<double> times;
    QSize size;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        TFrmDrag overlay(*platform.Screen);
        QImage bitmap;
        QRect rect;
        overlay.Capture(bitmap, rect);
        TFirstPaint watch(overlay, clock);
        overlay.installEventFilter(&watch);
        overlay.exec();
        size = overlay.Picture().Screen().size();
        if (watch.PaintedMs() >= 0)
            times.push_back(watch.PaintedMs());
        QCoreApplication::processEvents();
    }
    if (times.empty()) {
        std::fprintf(stderr, "the overlay never painted\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("trigger to first overlay frame, %dx%d: median %.1f ms (n=%zu, min %.1f, max "
                "%.1f)\n",
                size.width(), size.height(), times[times.size() / 2], times.size(), times.front(),
                times.back());
    return 0;
}
