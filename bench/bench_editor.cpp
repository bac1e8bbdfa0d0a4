// The editor on a 4K capture: the time from making the window to the end of
// its first paint, and what one pointer move costs while a shape is drawn or
// dragged (the move handled, the changed strip painted and flushed to the
// window). "Reflatten" is the cost a move would have if it drew the whole
// picture with its annotations again, for comparison.
//
//   bench_editor [MOVES]     (on a display, e.g. the test desktop, or with
//                             QT_QPA_PLATFORM=offscreen)

#include "editor/Editor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QImage Screen(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | quint32((x * 7 + y) & 0xFF) << 16 |
                     quint32((y * 13) & 0xFF) << 8 | quint32((x ^ y) & 0xFF);
    }
    QPainter painter(&image);
    QFont font;
    font.setPixelSize(16);
    painter.setFont(font);
    for (int y = 40; y < height; y += 24)
        painter.drawText(20, y,
                         QStringLiteral("The quick brown fox jumps over the lazy dog %1").arg(y));
    return image;
}

// Ends the clock when the canvas has finished painting.
class TPaintClock : public QObject
{
public:
    QElapsedTimer Clock;
    qint64 DoneNs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || DoneNs >= 0 || FInside)
            return false;
        FInside = true;
        watched->event(event);
        FInside = false;
        DoneNs = Clock.nsecsElapsed();
        return true;
    }

private:
    bool FInside = false;
};

// Times the window's repaints: the changed region painted into the backing
// store and flushed to the screen, as one update request.
class TRepaintClock : public QObject
{
public:
    int Count = 0;
    qint64 Ns = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::UpdateRequest || FInside)
            return false;
        FInside = true;
        QElapsedTimer clock;
        clock.start();
        watched->event(event);
        Ns += clock.nsecsElapsed();
        ++Count;
        FInside = false;
        return true;
    }

private:
    bool FInside = false;
};

void Send(QWidget* canvas, QEvent::Type type, const QPointF& at)
{
    QMouseEvent event(type, at, canvas->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
}

void Report(const char* name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms[size_t(q * double(ms.size() - 1))];
    };
    std::printf("%-34s median %6.2f ms   p90 %6.2f ms   max %6.2f ms   (%zu moves)\n", name,
                at(0.5), at(0.9), ms.back(), ms.size());
}

// One drag of `moves` steps from `from` by `step` canvas units per move:
// per move, the time in the move handler plus the time of the repaint it
// caused (waited for, not counted: the platform may hold repaints back to
// its frame rate).
std::vector<double> Drag(TFrmEditor& editor, TTool tool, QPointF from, QPointF step, int moves)
{
    TEditorCanvas* canvas = editor.Canvas();
    canvas->SetTool(tool);
    TRepaintClock repaint;
    editor.installEventFilter(&repaint);
    auto settle = [&] {
        const int before = repaint.Count;
        QElapsedTimer wait;
        wait.start();
        while (repaint.Count == before && wait.elapsed() < 200)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    };
    std::vector<double> ms;
    Send(canvas, QEvent::MouseButtonPress, from);
    settle();
    QPointF at = from;
    for (int i = 0; i < moves; ++i) {
        at += step;
        repaint.Ns = 0;
        QElapsedTimer clock;
        clock.start();
        Send(canvas, QEvent::MouseMove, at);
        const qint64 handler = clock.nsecsElapsed();
        settle();
        ms.push_back((handler + repaint.Ns) / 1e6);
    }
    Send(canvas, QEvent::MouseButtonRelease, at);
    settle();
    editor.removeEventFilter(&repaint);
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int moves = argc > 1 ? std::max(10, atoi(argv[1])) : 200;
    const QImage picture = Screen(3840, 2160);

    std::vector<double> open;
    for (int round = 0; round < 5; ++round) {
        TPaintClock clock;
        clock.Clock.start();
        auto* editor = new TFrmEditor(picture, QRect(0, 0, 3840, 2160), QStringLiteral("Vorantu"),
                                      {{0, QStringLiteral("PNG")}}, 0, {});
        editor->Canvas()->installEventFilter(&clock);
        editor->show();
        while (clock.DoneNs < 0 && clock.Clock.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        open.push_back(clock.DoneNs / 1e6);
        editor->Canvas()->removeEventFilter(&clock);
        delete editor;
        QApplication::processEvents();
    }
    std::printf("4K capture, window %s\n", qPrintable(QApplication::platformName()));
    Report("open to first paint", open);

    TFrmEditor editor(picture, QRect(0, 0, 3840, 2160), QStringLiteral("Vorantu"),
                      {{0, QStringLiteral("PNG")}}, 0, {});
    editor.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    // A canvas with some annotations already on it, as after a few edits.
    const QPointF centre(editor.Canvas()->visibleRegion().boundingRect().center());
    const QPointF corner = centre - QPointF(300, 200);
    Drag(editor, TTool::Rectangle, corner, {5, 3}, 40);
    Drag(editor, TTool::Pixelate, corner + QPointF(20, 260), {4, 2}, 40);
    Drag(editor, TTool::Arrow, corner + QPointF(400, 10), {-3, 4}, 40);

    Report("draw a rectangle",
           Drag(editor, TTool::Rectangle, corner + QPointF(50, 50), {3, 2}, moves));
    Report("draw an arrow", Drag(editor, TTool::Arrow, corner + QPointF(80, 300), {3, 1}, moves));
    Report("free pen", Drag(editor, TTool::Pen, corner + QPointF(10, 10), {2, 1}, moves));
    Report("draw a pixelate area", Drag(editor, TTool::Pixelate, corner, {3, 2}, moves));
    Report("draw a blur area", Drag(editor, TTool::Blur, corner, {3, 2}, moves));
    // Pick the first rectangle by its left edge and drag it about.
    Report("drag a selected shape",
           Drag(editor, TTool::Select, corner + QPointF(0, 60), {2, 1}, moves));

    std::vector<double> flatten;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QImage flat = editor.Canvas()->Flatten();
        flatten.push_back(clock.nsecsElapsed() / 1e6);
        if (flat.isNull())
            return 1;
    }
    Report("reflatten (per move if uncached)", flatten);
    return 0;
}
