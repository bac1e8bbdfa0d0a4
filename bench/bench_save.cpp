// The image writers on screenshot-like pictures, next to libpng used on its
// own with the same settings (Sub filter, level 7, 64 KiB IDAT chunks), which
// is the floor the PNG writer is measured against.

#include "Pictures.h"
#include "output/Save.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <csetjmp>
#include <cstdio>
#include <map>
#include <png.h>

namespace {

const QImage& Picture(int width, int height)
{
    static std::map<std::pair<int, int>, QImage> pictures;
    QImage& picture = pictures[{width, height}];
    if (picture.isNull())
        picture = ScreenshotLike(width, height);
    return picture;
}

QString Folder()
{
    static QTemporaryDir folder;
    return folder.path();
}

// libpng alone, writing straight to a stdio file.
bool LibpngOnly(const QImage& picture, const char* path)
{
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(picture.width()), png_uint_32(picture.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 7);
    png_set_compression_buffer_size(png, 65535);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < picture.height(); ++y)
        png_write_row(png, picture.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

template <typename TWrite> void Run(benchmark::State& state, const char* extension, TWrite write)
{
    const QImage& picture = Picture(int(state.range(0)), int(state.range(1)));
    const QString path = Folder() + QStringLiteral("/bench.") + QLatin1String(extension);
    for (auto _ : state)
        write(picture, path);
    state.SetLabel(QStringLiteral("%1 bytes").arg(QFileInfo(path).size()).toStdString());
}

void PngLibpngOnly(benchmark::State& state)
{
    Run(state, "libpng.png", [](const QImage& picture, const QString& path) {
        if (!LibpngOnly(picture, QFile::encodeName(path).constData()))
            std::abort();
    });
}

void Png(benchmark::State& state)
{
    Run(state, "png",
        [](const QImage& picture, const QString& path) { BitmapToPNGFile(picture, path); });
}

void Jpg90(benchmark::State& state)
{
    Run(state, "jpg",
        [](const QImage& picture, const QString& path) { BitmapToJPGFile(picture, path, 90); });
}

void Gif(benchmark::State& state)
{
    Run(state, "gif",
        [](const QImage& picture, const QString& path) { BitmapToGIFFile(picture, path); });
}

void Bmp(benchmark::State& state)
{
    Run(state, "bmp",
        [](const QImage& picture, const QString& path) { BitmapToBMPFile(picture, path); });
}

void WebP90(benchmark::State& state)
{
    Run(state, "webp", [](const QImage& picture, const QString& path) {
        if (!BitmapToWebPFile(picture, path, 90))
            std::abort();
    });
}

void WebPLossless(benchmark::State& state)
{
    Run(state, "webp", [](const QImage& picture, const QString& path) {
        if (!BitmapToWebPFile(picture, path, 100))
            std::abort();
    });
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Args({1920, 1080})->Args({3840, 2160});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    b->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(PngLibpngOnly)->Apply(Sizes);
BENCHMARK(Png)->Apply(Sizes);
BENCHMARK(Jpg90)->Apply(Sizes);
BENCHMARK(Gif)->Apply(Sizes);
BENCHMARK(Bmp)->Apply(Sizes);
BENCHMARK(WebP90)->Apply(Sizes);
BENCHMARK(WebPLossless)->Apply(Sizes);

} // namespace

int main(int argc, char** argv)
{
    // Text is drawn into the pictures; no display is needed for that.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
