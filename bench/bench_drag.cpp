// What the drag overlay's pictures cost at the sizes of a full-HD and a 4K
// virtual screen: "FirstFrame" freezes the screen and paints all of it
// dimmed, as the overlay's first frame does; one mouse move then moves the
// selection and brings the shown picture up to date. "FullRebuild" dims the
// whole frozen picture again on every move, as a literal reading of the
// dimming would; "Move" is what the overlay does (redraw only the band that
// changed, dimmed as it is painted).

#include "capture/Drag.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

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
    return image;
}

// The selection of move `step` of a drag from the middle towards the bottom right.
QRect Growing(int width, int height, int step)
{
    const QPoint start(width / 4, height / 4);
    const int grow = step % (width / 2);
    return TFrmDrag::NormalizeRect(start, start + QPoint(grow, grow * height / width));
}

void FirstFrame(benchmark::State& state)
{
    const QImage screen = Screen(int(state.range(0)), int(state.range(1)));
    QImage window(screen.size(), QImage::Format_RGB32);
    QPainter painter(&window);
    TDragPicture picture;
    for (auto _ : state) {
        picture.Freeze(screen);
        picture.Paint(painter, QRegion(screen.rect()));
        benchmark::DoNotOptimize(window.constBits());
    }
}

void Move(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    TDragPicture picture;
    picture.Freeze(Screen(width, height));
    QImage window(width, height, QImage::Format_RGB32);
    QPainter painter(&window);
    int step = 0;
    for (auto _ : state) {
        const QRegion changed = picture.Select(Growing(width, height, step += 3));
        picture.Paint(painter, changed);
        benchmark::DoNotOptimize(window.constBits());
    }
}

// The worst move: the selection jumps from one large rectangle to another
// it does not overlap, so nearly half the screen changes.
void MoveJump(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    TDragPicture picture;
    picture.Freeze(Screen(width, height));
    QImage window(width, height, QImage::Format_RGB32);
    QPainter painter(&window);
    const QRect left(0, 0, width / 2 - 1, height);
    const QRect right(width / 2, 0, width / 2, height);
    bool flip = false;
    for (auto _ : state) {
        const QRegion changed = picture.Select((flip = !flip) ? left : right);
        picture.Paint(painter, changed);
        benchmark::DoNotOptimize(window.constBits());
    }
}

void FullRebuild(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const QImage screen = Screen(width, height);
    QImage shown;
    int step = 0;
    for (auto _ : state) {
        TDragPicture::DimOutside(screen, Growing(width, height, step += 3), shown);
        benchmark::DoNotOptimize(shown.constBits());
    }
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(FirstFrame)->Apply(Sizes);
BENCHMARK(Move)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(MoveJump)->Apply(Sizes);
BENCHMARK(FullRebuild)->Apply(Sizes);

BENCHMARK_MAIN();
