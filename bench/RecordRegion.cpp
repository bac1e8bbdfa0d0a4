// Records a region of the screen for a while, as a region recording does,
// and reports the frames offered (one per 30 ms tick), written to the
// encoder and dropped, and this process's own CPU share. The encoder stamps
// frames with their arrival time, so the file holds 30 per second of
// recording whatever was offered; record-region.sh counts those.
//   bench_record SECONDS OUTPUT.mp4
#include "platform/Platform.h"
#include "record/Recorder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 60;
    const QString output =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/bench_record.mp4");
    int status = 0;
    {
        TPlatform platform = LoadPlatform();
        TRecordOptions options;
        options.FFMpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        options.Output = output;
        options.Mouse = true;
        TRecorder recorder(options);
        QObject::connect(&recorder, &TRecorder::Ended, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);

        QElapsedTimer wall;
        const double cpuBefore = CpuSeconds();
        wall.start();
        recorder.Start(*platform.Screen, [] { return QRect(0, 0, 1920, 1080); });
        QTimer::singleShot(seconds * 1000, &recorder, [&] { recorder.Stop(); });
        app.exec();
        const double elapsed = double(wall.elapsed()) / 1000.0;
        const double cpu = CpuSeconds() - cpuBefore;

        const int written = recorder.FramesWritten();
        const int dropped = recorder.FramesDropped();
        const int offered = written + dropped;
        std::printf("region 1920x1080 for %d s: %d frames offered, %d written, %d dropped "
                    "(%.2f %%), CPU %.1f %% of one core\n",
                    seconds, offered, written, dropped,
                    written + dropped ? 100.0 * dropped / (written + dropped) : 0.0,
                    100.0 * cpu / elapsed);
        if (!recorder.ErrorText().isEmpty()) {
            std::printf("failed: %s\n", qPrintable(recorder.ErrorText()));
            status = 1;
        }
    }
    return status;
}
