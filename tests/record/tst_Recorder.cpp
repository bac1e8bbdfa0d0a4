#include "Boxes.h"
#include "Desktop.h"
#include "Recordings.h"
#include "TestEnvironment.h"
#include "platform/Platform.h"
#include "platform/ScreenStream.h"
#include "platform/null/NullPlatform.h"
#include "record/Recorder.h"

#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

using TestDesktop::MovePointer;

namespace {

// A window of one colour, above everything, exactly where asked.
std::unique_ptr<QWidget> ColourWindow(const QRect& geometry, const QColor& colour)
{
    auto window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint |
                                                         Qt::X11BypassWindowManagerHint |
                                                         Qt::WindowStaysOnTopHint);
    window->setGeometry(geometry);
    window->setStyleSheet(QStringLiteral("background: %1;").arg(colour.name()));
    window->show();
    return window;
}

// Encoder processes still running with `marker` on their command line.
int ProcessesWith(const QString& marker)
{
    int count = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(marker.toUtf8()))
            ++count;
    }
    return count;
}

// The encoder's elapsed time "HH:MM:SS.xx" in seconds; 0 for anything else.
double Seconds(const QString& time)
{
    const QStringList parts = time.split(':');
    if (parts.size() != 3)
        return 0;
    return parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toDouble();
}

const QString Encode = QStringLiteral(
    "-c:v libx264 -preset ultrafast -r 30 -tune zerolatency -crf 25 -pix_fmt yuv420p");
const QString Scale = QStringLiteral("-vf \"scale=trunc(iw/2)*2:trunc(ih/2)*2\" -y ");

// A screen cast that does what a test tells it: fail to start, start and
// send nothing, or send frames of one colour and then end.
class TFakeStream : public TScreenStream
{
public:
    enum class TPlan
    {
        Refused,
        NoFrame,
        FramesThenEnd,
        NeverReady,
    };

    explicit TFakeStream(TPlan plan) : FPlan(plan) {}

    void Open(bool) override
    {
        QTimer::singleShot(0, this, [this] {
            if (FPlan == TPlan::Refused)
                emit Failed(QStringLiteral("The desktop refused to share the screen"));
            if (FPlan == TPlan::NeverReady || FPlan == TPlan::Refused)
                return;
            emit Ready();
            if (FPlan != TPlan::FramesThenEnd)
                return;
            FFrame = QImage(64, 48, QImage::Format_RGB32);
            FFrame.fill(QColor(40, 160, 220));
            // One frame only: the recorder repeats it while the screen stands still.
            FSerial = 1;
            QTimer::singleShot(1500, this,
                               [this] { emit Failed(QStringLiteral("The user stopped sharing")); });
        });
    }
    QRect Bounds() const override { return {0, 0, 64, 48}; }
    QImage Latest(quint64* serial) const override
    {
        if (serial)
            *serial = FSerial;
        return FFrame;
    }

private:
    const TPlan FPlan;
    QImage FFrame;
    quint64 FSerial = 0;
};

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        FFFMpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        QVERIFY2(!FFFMpeg.isEmpty(), "ffmpeg is needed");
        QVERIFY(FFolder.isValid());
        if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
            FPlatform = LoadPlatform();
        }
    }

    void cleanupTestCase() { FPlatform = TPlatform(); }

    void commandText_data()
    {
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("audio");
        QTest::addColumn<int>("limitSeconds");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected");

        const QString second = TRecorder::FullScreenSource(":99", QRect(1920, 0, 1280, 1024), true);
        QCOMPARE(second,
                 QStringLiteral("-f x11grab -framerate 30 -video_size 1280x1024 -i :99+1920,0"));
        const QString out = QStringLiteral("\"/out/V-001.mp4\"");
        QTest::newRow("second monitor, cursor, no sound, no limit")
            << second << "" << 0 << "/out/V-001.mp4"
            << "\"/usr/bin/ffmpeg\" -rtbufsize 150M  " + second + "  " + Encode + "  " + Scale +
                   out;
        const QString noCursor =
            TRecorder::FullScreenSource(":1.0", QRect(0, 0, 1920, 1080), false);
        QCOMPARE(noCursor, QStringLiteral("-f x11grab -framerate 30 -video_size 1920x1080 "
                                          "-draw_mouse 0 -i :1.0+0,0"));
        QTest::newRow("cursor off") << noCursor << "" << 0 << "/out/V-001.mp4"
                                    << "\"/usr/bin/ffmpeg\" -rtbufsize 150M  " + noCursor + "  " +
                                           Encode + "  " + Scale + out;
        for (const int minutes : {30, 60, 120, 240}) {
            QTest::addRow("limit %d minutes", minutes)
                << second << "" << minutes * 60 << "/out/V-001.mp4"
                << "\"/usr/bin/ffmpeg\" -rtbufsize 150M  " + second + "  " + Encode + " -t " +
                       QString::number(minutes * 60) + " " + Scale + out;
        }
        QTest::newRow("sound") << second << "alsa_input.pci-0000_00_1f.3.analog-stereo" << 0
                               << "/out/V-001.mp4"
                               << "\"/usr/bin/ffmpeg\" -rtbufsize 150M -f pulse -i "
                                  "\"alsa_input.pci-0000_00_1f.3.analog-stereo\" " +
                                      second + " -c:a aac -ac 2 -b:a 128k " + Encode + "  " +
                                      Scale + out;
        const QString region =
            TRecorder::RegionSource("/tmp/vorantu-recording-Ab12/frames", QSize(100, 52));
        QCOMPARE(region, QStringLiteral("-f rawvideo -framerate 30 -pixel_format bgra -video_size "
                                        "100x52 -use_wallclock_as_timestamps 1 -i "
                                        "\"/tmp/vorantu-recording-Ab12/frames\""));
        QTest::newRow("region, sound, limit")
            << region << "src" << 1800 << "/out/V-001.mp4"
            << "\"/usr/bin/ffmpeg\" -rtbufsize 150M -f pulse -i \"src\" " + region +
                   " -c:a aac -ac 2 -b:a 128k " + Encode + " -t 1800 " + Scale + out;
    }

    void commandText()
    {
        QFETCH(QString, video);
        QFETCH(QString, audio);
        QFETCH(int, limitSeconds);
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QCOMPARE(TRecorder::CommandText("/usr/bin/ffmpeg", video, audio, limitSeconds, output),
                 expected);
    }

    // Paths reach the encoder as the very arguments they are, whatever they hold.
    void commandTextKeepsPathsWhole()
    {
        const QString ffmpeg = QStringLiteral("/opt/my tools/ffmpeg");
        const QString output = QStringLiteral("/home/u/My \"Videos\"\\{video_t}\\");
        const QString pipe = QStringLiteral("/tmp/a b/frames");
        const QStringList arguments = SplitCommandLine(TRecorder::CommandText(
            ffmpeg, TRecorder::RegionSource(pipe, QSize(2, 2)), QString(), 5, output));
        QCOMPARE(arguments.first(), ffmpeg);
        QCOMPARE(arguments.last(), output);
        QCOMPARE(arguments.at(arguments.indexOf("-i") + 1), pipe);
        QCOMPARE(arguments.at(arguments.indexOf("-t") + 1), QStringLiteral("5"));
        QCOMPARE(arguments.at(arguments.indexOf("-vf") + 1),
                 QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2"));
    }

    void frameSize_data()
    {
        QTest::addColumn<QSize>("region");
        QTest::addColumn<QSize>("frame");
        QTest::newRow("odd sides to the even half") << QSize(101, 51) << QSize(100, 52);
        QTest::newRow("103 x 3") << QSize(103, 3) << QSize(104, 4);
        QTest::newRow("even sides stay") << QSize(1920, 1080) << QSize(1920, 1080);
        QTest::newRow("too small or empty") << QSize(1, 0) << QSize(2, 2);
    }

    void frameSize()
    {
        QFETCH(QSize, region);
        QFETCH(QSize, frame);
        QCOMPARE(TRecorder::FrameSize(region), frame);
    }

    void pulseSource_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("source");
        const QString header = QStringLiteral("Auto-detected sources for pulse:\n");
        QTest::newRow("no sound server")
            << header + "Cannot list sources: Generic error in an external library\n"
            << "";
        QTest::newRow("default input")
            << header + "  alsa_output.pci.analog-stereo.monitor [Monitor of Built-in] (audio)\n"
                        "  alsa_input.usb-mic [USB Mic] (audio)\n"
                        "* alsa_input.pci.analog-stereo [Built-in Audio] (audio)\n"
            << "alsa_input.pci.analog-stereo";
        QTest::newRow("default is a monitor: first real input")
            << header + "* alsa_output.pci.analog-stereo.monitor [Monitor of Built-in] (audio)\r\n"
                        "  alsa_input.usb-mic [USB Mic] (audio)\r\n"
                        "  alsa_input.pci [Built-in] (audio)\r\n"
            << "alsa_input.usb-mic";
        QTest::newRow("only monitors")
            << header + "* alsa_output.pci.analog-stereo.monitor [Monitor of Built-in] (audio)\n"
            << "";
        QTest::newRow("older layout, text before the list")
            << "  configuration: --enable-libpulse [x]\n" + header +
                   "  bluez_source.00_11 [Headset]\n"
            << "bluez_source.00_11";
    }

    void pulseSource()
    {
        QFETCH(QString, listing);
        QFETCH(QString, source);
        QCOMPARE(TRecorder::PulseSourceFromListing(listing), source);
    }

    // The encoder's status lines give the clock; every line goes to the log
    // beside the output, whose folder is made when missing.
    void encoderOutputGivesClockAndLog()
    {
        const QString folder = FFolder.filePath("clock/new folder");
        TRecordOptions options;
        options.FFMpeg = FakeEncoder(
            "printf 'Input #0, x11grab\\n'\n"
            "printf 'frame=    1 fps=0.0 q=0.0 size=       0kB time=N/A bitrate=N/A    \\r'\n"
            "sleep 0.3\n"
            "printf 'frame=   31 fps= 30 q=29.0 size=     256kB time=00:00:01.03 bitrate=1.0 \\r'\n"
            "sleep 0.3\n"
            "exit 0\n");
        options.Output = folder + "/V-001.mp4";
        options.Logging = true;
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        RequireDesktop();
        recorder.Start(*FPlatform.Screen);
        QCOMPARE(recorder.RecTime(), QStringLiteral("00:00:00.00"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.RecTime(), QStringLiteral("N/A"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.RecTime(), QStringLiteral("00:00:01.03"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 5000);
        QCOMPARE(errors, QStringList());
        QFile log(folder + "/ffmpeg.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split('\n');
        QCOMPARE(lines.first(), QStringLiteral("Input #0, x11grab"));
        QVERIFY(lines.at(1).contains("time=N/A"));
        QVERIFY(lines.at(2).contains("time=00:00:01.03"));
    }

    // An encoder that ends on an error is a failed recording, told with its
    // last message; a log that cannot be written is told once, and the
    // recording goes on.
    void failuresAreTold_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("logBlocked");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("encoder error")
            << 1 << false
            << QStringList{"ffmpeg ended with exit code 1: Error opening output files: "
                           "Invalid argument"};
        QTest::newRow("log blocked") << 0 << true << QStringList{"Cannot write the log"};
    }

    void failuresAreTold()
    {
        QFETCH(int, exitCode);
        QFETCH(bool, logBlocked);
        QFETCH(QStringList, expected);
        const QString folder =
            FFolder.filePath(QStringLiteral("fail%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        if (logBlocked)
            QVERIFY(QDir().mkpath(folder + "/ffmpeg.log"));
        TRecordOptions options;
        options.FFMpeg = FakeEncoder(
            "printf '[mp4 @ 0x1] Could not find tag for codec\\n'\n"
            "printf 'frame=    1 fps=0.0 q=0.0 size=       0kB time=00:00:00.50 bitrate=N/A \\r'\n"
            "printf 'Error opening output files: Invalid argument\\n'\n"
            "printf 'frame=    2 fps=0.0 q=0.0 size=       0kB time=00:00:00.60 bitrate=N/A \\r'\n"
            "exit " +
            QString::number(exitCode) + "\n");
        options.Output = folder + "/V-001.mp4";
        options.Logging = logBlocked;
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text.left(expected.first().size());
            handled = true;
        });
        RequireDesktop();
        recorder.Start(*FPlatform.Screen);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 5000);
        QCOMPARE(errors, expected);
        QCOMPARE(recorder.RecTime(), QStringLiteral("00:00:00.60"));
    }

    // An encoder that does not finish after the stop is ended, and the
    // recording reported as failed, rather than kept running for ever.
    void hungEncoderIsEndedAfterTheStop()
    {
        RequireDesktop();
        TRecordOptions options;
        options.FFMpeg = FakeEncoder("exec sleep 60.123\n");
        options.Output = FFolder.filePath("hung/V-001.mp4");
        options.StopTimeoutSeconds = 1;
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        recorder.Start(*FPlatform.Screen);
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 5000);
        QVERIFY(clock.elapsed() >= 900);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("ffmpeg did not finish within 1 seconds of the stop"),
                 qPrintable(errors.first()));
        QCOMPARE(ProcessesWith("60.123"), 0);
    }

    // An encoder that stops reading frames and leaves (a crash, a limit)
    // must not take the program with it: writing to a FIFO without reader
    // raises SIGPIPE.
    void encoderLeavingTheFramesBehind()
    {
        RequireDesktop();
        TRecordOptions options;
        options.FFMpeg = FakeEncoder("prev=\n"
                                     "for a; do [ \"$prev\" = -i ] && fifo=$a; prev=$a; done\n"
                                     "head -c 1000 \"$fifo\" >/dev/null\n"
                                     "sleep 0.5\n"
                                     "exit 0\n");
        options.Output = FFolder.filePath("leaving/V-001.mp4");
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        recorder.Start(*FPlatform.Screen, [] { return QRect(0, 0, 320, 240); });
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 5000);
        QCOMPARE(errors, QStringList());
        QVERIFY(recorder.FramesWritten() >= 1);
    }

    // An encoder that falls behind costs frames, never the user interface's
    // pace or the stream's framing: the ticks go on, the frames that do not
    // fit are dropped whole and counted, and every frame that reaches the
    // encoder is complete.
    void encoderFallingBehind()
    {
        RequireDesktop();
        const QString received = FFolder.filePath("behind/received.raw");
        TRecordOptions options;
        options.FFMpeg = FakeEncoder("prev=\n"
                                     "for a; do [ \"$prev\" = -i ] && fifo=$a; prev=$a; done\n"
                                     "exec 3<\"$fifo\"\n"
                                     "sleep 1.5\n"
                                     "cat <&3 >\"" +
                                     received + "\"\n");
        options.Output = FFolder.filePath("behind/V-001.mp4");
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        const QSize size(320, 240);
        recorder.Start(*FPlatform.Screen, [&] { return QRect(QPoint(0, 0), size); });
        // The event loop never waits for the encoder: no gap between two
        // turns comes near the encoder's pause.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longestGap = 0;
        while (clock.elapsed() < 1200) {
            QTest::qWait(10);
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        }
        QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
        QVERIFY(recorder.FramesDropped() > 0);
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 10000);
        QCOMPARE(errors, QStringList());
        const qint64 frameBytes = qint64(size.width()) * size.height() * 4;
        QVERIFY(recorder.FramesWritten() >= 1);
        QCOMPARE(QFileInfo(received).size(), recorder.FramesWritten() * frameBytes);
        qInfo("falling behind: %d frames written, %d dropped, longest event-loop gap %lld ms",
              recorder.FramesWritten(), recorder.FramesDropped(), longestGap);
    }

    // A missing encoder ends the recording at once with one clear error box,
    // and leaves no FIFO folder behind.
    void missingEncoder_data()
    {
        QTest::addColumn<bool>("region");
        QTest::newRow("full screen") << false;
        QTest::newRow("region") << true;
    }

    void missingEncoder()
    {
        QFETCH(bool, region);
        RequireDesktop();
        TBoxAnswer boxes;
        TRecordOptions options;
        options.FFMpeg = FFolder.filePath("nowhere/ffmpeg");
        options.Output = FFolder.filePath("missing/V-001.mp4");
        TRecorder recorder(options);
        QSignalSpy ended(&recorder, &TRecorder::Ended);
        if (region)
            recorder.Start(*FPlatform.Screen, [] { return QRect(10, 10, 64, 48); });
        else
            recorder.Start(*FPlatform.Screen);
        QVERIFY(recorder.IsRunning());
        QVERIFY(ended.wait(5000));
        QVERIFY(!recorder.IsRunning());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts.size(), 1, 2000);
        QVERIFY2(boxes.Texts.first().startsWith("ECreateProcessError\nError creating Process: "),
                 qPrintable(boxes.Texts.first()));
        QVERIFY(recorder.ErrorText().contains("No such file or directory"));
        if (region) {
            QVERIFY(!recorder.PipeFolder().isEmpty());
            QVERIFY(!QFileInfo::exists(recorder.PipeFolder()));
        }
        QTest::qWait(100);
        QCOMPARE(boxes.Texts.size(), 1);
        QCOMPARE(ended.size(), 1);
    }

    // A start that fails before the encoder runs ends like any other run:
    // told once, from the event loop, then Ended.
    void outputFolderThatCannotBeMade()
    {
        RequireDesktop();
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output = QStringLiteral("/proc/vorantu/V-001.mp4");
        QStringList errors;
        TRecorder recorder(options);
        QSignalSpy ended(&recorder, &TRecorder::Ended);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        recorder.Start(*FPlatform.Screen, [] { return QRect(0, 0, 64, 64); });
        QVERIFY(recorder.IsRunning());
        QCOMPARE(errors, QStringList());
        QVERIFY(ended.wait(2000));
        QVERIFY(!recorder.IsRunning());
        QCOMPARE(errors, QStringList{"Cannot create the folder \"/proc/vorantu\""});
        QVERIFY(!QFileInfo::exists(recorder.PipeFolder()));
    }

    // The monitor under the pointer, at its size, stopped with "q" into a
    // complete file; the log has the encoder's own messages.
    void fullScreenRecordingOfTheSecondMonitor()
    {
        RequireDesktop();
        MovePointer(QPoint(2400, 500));
        const QString folder = FFolder.filePath("full screen");
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output = folder + "/V-001.mp4";
        options.Logging = true;
        options.Mouse = false;
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool&) { errors << text; });
        QElapsedTimer clock;
        clock.start();
        recorder.Start(*FPlatform.Screen);
        QVERIFY2(recorder.CommandLine().contains("-video_size 1280x1024 -draw_mouse 0 -i ") &&
                     recorder.CommandLine().contains("+1920,0 "),
                 qPrintable(recorder.CommandLine()));
        QTRY_VERIFY2_WITH_TIMEOUT(Seconds(recorder.RecTime()) >= 2, qPrintable(recorder.RecTime()),
                                  10000);
        const qint64 stopAt = clock.elapsed();
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 10000);
        qInfo("full screen: 2 s of video after %lld ms, ended %lld ms after Stop", stopAt,
              clock.elapsed() - stopAt);
        QCOMPARE(errors, QStringList());
        QCOMPARE(recorder.ErrorText(), QString());

        const TProbe probe = Probe(recorder.Options().Output);
        QCOMPARE(probe.VideoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.Size, QSize(1280, 1024));
        QCOMPARE(probe.FrameRate, QStringLiteral("30/1"));
        QVERIFY2(probe.Duration > 1.9 && probe.Duration < 3.5,
                 qPrintable(QString::number(probe.Duration)));
        QFile log(folder + "/ffmpeg.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.contains("Output #0, mp4, to '" + recorder.Options().Output.toUtf8() + "'"));
        QVERIFY(text.contains("time=00:00:02"));
    }

    // The region is asked for each frame: the recording follows it to its
    // new place, at the size it had at the start.
    void regionRecordingFollowsTheRectangle()
    {
        RequireDesktop();
        MovePointer(QPoint(2400, 500));
        const auto red = ColourWindow(QRect(100, 100, 300, 200), Qt::red);
        const auto green = ColourWindow(QRect(600, 100, 400, 250), Qt::green);
        QVERIFY(QTest::qWaitForWindowExposed(red.get()));
        QVERIFY(QTest::qWaitForWindowExposed(green.get()));
        TestDesktop::Settle(); // their paint is on screen before the first frame

        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output = FFolder.filePath("region/V-001.mp4");
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool&) { errors << text; });
        QElapsedTimer moved;
        recorder.Start(*FPlatform.Screen, [&moved] {
            // Over the red window first; then, larger, over the green one.
            if (!moved.isValid() || moved.elapsed() < 1300)
                return QRect(150, 150, 201, 101);
            return QRect(650, 150, 301, 151);
        });
        const QString pipeFolder = recorder.PipeFolder();
        QVERIFY(QFileInfo(pipeFolder).isDir());
        QCOMPARE(QFileInfo(pipeFolder).permissions() & 0x0077, QFileDevice::Permissions());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.FramesWritten() > 0, 5000);
        moved.start();
        QTRY_VERIFY2_WITH_TIMEOUT(Seconds(recorder.RecTime()) >= 2.5,
                                  qPrintable(recorder.RecTime()), 10000);
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 10000);
        qInfo("region: %d frames written, %d dropped", recorder.FramesWritten(),
              recorder.FramesDropped());
        QCOMPARE(errors, QStringList());
        QVERIFY(!QFileInfo::exists(pipeFolder));
        QVERIFY(recorder.FramesWritten() >= 60);

        const TProbe probe = Probe(recorder.Options().Output);
        QCOMPARE(probe.VideoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.Size, QSize(200, 100));
        QCOMPARE(probe.FrameRate, QStringLiteral("30/1"));
        QVERIFY2(probe.Duration > 2.2 && probe.Duration < 3.5,
                 qPrintable(QString::number(probe.Duration)));
        const QImage first = FrameAt(recorder.Options().Output, 0.5, FFolder.path());
        const QImage last =
            FrameAt(recorder.Options().Output, probe.Duration - 0.4, FFolder.path());
        QCOMPARE(first.size(), QSize(200, 100));
        for (const QPoint at : {QPoint(5, 5), QPoint(100, 50), QPoint(194, 94)}) {
            const QColor a = first.pixelColor(at);
            const QColor b = last.pixelColor(at);
            QVERIFY2(a.red() > 200 && a.green() < 60, qPrintable(a.name()));
            QVERIFY2(b.green() > 200 && b.red() < 60, qPrintable(b.name()));
        }
    }

    // The limit ends the recording by itself (in region mode the encoder
    // leaves while frames still come). Sound comes from the sound server's
    // default input; asked for where no sound server runs, it gives a
    // recording without sound, and no message.
    void limitEndsTheRecording_data()
    {
        QTest::addColumn<bool>("region");
        QTest::addColumn<bool>("soundServer");
        QTest::addColumn<QSize>("size");
        QTest::newRow("full screen, no sound server") << false << false << QSize(1920, 1080);
        QTest::newRow("region, no sound server") << true << false << QSize(160, 120);
        QTest::newRow("full screen with sound") << false << true << QSize(1920, 1080);
        QTest::newRow("region with sound") << true << true << QSize(160, 120);
    }

    void limitEndsTheRecording()
    {
        QFETCH(bool, region);
        QFETCH(bool, soundServer);
        QFETCH(QSize, size);
        RequireDesktop();
        const QByteArray server = qgetenv("PULSE_SERVER");
        const QString source = qEnvironmentVariable("VORANTU_TEST_AUDIO_SOURCE");
        if (soundServer && (server.isEmpty() || source.isEmpty()))
            QSKIP("the test desktop runs no sound server here");
        const auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", server); });
        if (!soundServer)
            qputenv("PULSE_SERVER", "unix:" + FFolder.filePath("no-sound-server").toUtf8());
        MovePointer(QPoint(500, 500));
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output =
            FFolder.filePath(QStringLiteral("limit %1 %2/V-001.mp4").arg(region).arg(soundServer));
        options.LimitSeconds = 2;
        options.Audio = true;
        TRecorder recorder(options);
        QStringList errors;
        recorder.SetOnError([&](TRecorder*, const QString& text, bool&) { errors << text; });
        QElapsedTimer clock;
        clock.start();
        if (region)
            recorder.Start(*FPlatform.Screen, [] { return QRect(400, 400, 160, 120); });
        else
            recorder.Start(*FPlatform.Screen);
        const qint64 startMs = clock.elapsed();
        if (soundServer)
            QVERIFY2(recorder.CommandLine().contains("-f pulse -i \"" + source + "\" ") &&
                         recorder.CommandLine().contains(" -c:a aac -ac 2 -b:a 128k "),
                     qPrintable(recorder.CommandLine()));
        else
            QVERIFY(!recorder.CommandLine().contains("pulse"));
        QVERIFY(recorder.CommandLine().contains(" -t 2 -vf "));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 15000);
        qInfo("limit: Start took %lld ms (sound source listing included), the 2 s recording "
              "ended after %lld ms",
              startMs, clock.elapsed());
        QCOMPARE(errors, QStringList());
        const TProbe probe = Probe(recorder.Options().Output);
        QCOMPARE(probe.Size, size);
        QCOMPARE(probe.AudioStreams, soundServer ? 1 : 0);
        if (soundServer)
            QCOMPARE(probe.AudioCodec, QStringLiteral("aac"));
        QVERIFY2(qAbs(probe.Duration - 2.0) < 0.15, qPrintable(QString::number(probe.Duration)));
    }

    // Destroying a recorder that still records finishes the file instead of
    // killing the encoder.
    void destroyingFinishesTheFile()
    {
        RequireDesktop();
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        const QString output = FFolder.filePath("destroyed/V-001.mp4");
        options.Output = output;
        auto recorder = std::make_unique<TRecorder>(options);
        recorder->Start(*FPlatform.Screen, [] { return QRect(0, 0, 320, 240); });
        const QString pipeFolder = recorder->PipeFolder();
        QTRY_VERIFY2_WITH_TIMEOUT(Seconds(recorder->RecTime()) >= 1,
                                  qPrintable(recorder->RecTime()), 10000);
        QElapsedTimer clock;
        clock.start();
        recorder.reset();
        qInfo("destroyed while recording: %lld ms to finish", clock.elapsed());
        QCOMPARE(ProcessesWith(output), 0);
        QVERIFY(!QFileInfo::exists(pipeFolder));
        const TProbe probe = Probe(output);
        QCOMPARE(probe.Size, QSize(320, 240));
        QVERIFY2(probe.Duration > 0.9, qPrintable(QString::number(probe.Duration)));
    }

    // Stopping before the encoder has a frame never hangs, and leaves no
    // broken file.
    void stopBeforeTheFirstFrame()
    {
        RequireDesktop();
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output = FFolder.filePath("early/V-001.mp4");
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool&) { errors << text; });
        recorder.Start(*FPlatform.Screen, [] { return QRect(0, 0, 64, 64); });
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 5000);
        QCOMPARE(errors, QStringList());
        QVERIFY(!QFileInfo::exists(recorder.Options().Output));
        QCOMPARE(ProcessesWith(recorder.Options().Output), 0);
        recorder.Stop();
    }

    // Frames from a screen cast: how it fails to start is the recording's
    // error and leaves no file; one that ends mid-way finishes the file
    // without an error, its one frame repeated for as long as it ran.
    void streamRecording_data()
    {
        QTest::addColumn<int>("plan");
        QTest::addColumn<bool>("stopAtOnce");
        QTest::addColumn<QString>("error");
        QTest::newRow("refused") << int(TFakeStream::TPlan::Refused) << false
                                 << "The desktop refused to share the screen";
        QTest::newRow("no picture") << int(TFakeStream::TPlan::NoFrame) << false
                                    << "The screen cast sent no picture within 0.3 seconds";
        QTest::newRow("stopped while asking")
            << int(TFakeStream::TPlan::NeverReady) << true << QString();
        QTest::newRow("sharing ended")
            << int(TFakeStream::TPlan::FramesThenEnd) << false << QString();
    }

    void streamRecording()
    {
        QFETCH(int, plan);
        QFETCH(bool, stopAtOnce);
        QFETCH(QString, error);
        TRecordOptions options;
        options.FFMpeg = FFFMpeg;
        options.Output =
            FFolder.filePath(QStringLiteral("stream-%1/V-001.mp4").arg(QTest::currentDataTag()));
        options.FirstFrameTimeoutMs = 300;
        options.Stream = [plan] {
            return std::make_unique<TFakeStream>(TFakeStream::TPlan(plan));
        };
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        TNullScreen screen;
        recorder.Start(screen);
        if (stopAtOnce)
            recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 15000);
        QCOMPARE(errors, error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(ProcessesWith(options.Output), 0);
        if (plan != int(TFakeStream::TPlan::FramesThenEnd)) {
            QVERIFY(!QFileInfo::exists(options.Output));
            return;
        }
        const TProbe probe = Probe(options.Output);
        QCOMPARE(probe.VideoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.Size, QSize(64, 48));
        QVERIFY2(probe.Duration > 1.0, qPrintable(QString::number(probe.Duration)));
        const QImage last = FrameAt(options.Output, probe.Duration - 0.1, FFolder.path());
        QVERIFY(!last.isNull());
        const QRgb pixel = last.pixel(32, 24);
        QVERIFY2(qAbs(qRed(pixel) - 40) < 12 && qAbs(qGreen(pixel) - 160) < 12 &&
                     qAbs(qBlue(pixel) - 220) < 12,
                 qPrintable(QColor(pixel).name()));
    }

    // A region's pixels cut from a stream frame that shows `bounds`: one to
    // one, partly off the streamed monitor (black there), and from a frame
    // with twice the pixels of the root (a scaled monitor).
    void copyFromStream_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QList<QRgb>>("expected"); // target pixels (0,0), (1,0), (0,1), (3,2)
        const auto at = [](int x, int y) {
            return qRgb(x * 10, y * 10, 200);
        };
        QTest::newRow("inside") << QRect(102, 51, 4, 3) << 1
                                << QList<QRgb>{at(2, 1), at(3, 1), at(2, 2), at(5, 3)};
        QTest::newRow("partly outside")
            << QRect(98, 49, 4, 3) << 1
            << QList<QRgb>{qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0), at(1, 1)};
        QTest::newRow("scaled monitor")
            << QRect(102, 51, 4, 3) << 2 << QList<QRgb>{at(2, 1), at(3, 1), at(2, 2), at(5, 3)};
    }

    void copyFromStream()
    {
        QFETCH(QRect, rect);
        QFETCH(int, scale);
        QFETCH(QList<QRgb>, expected);
        const QRect bounds(100, 50, 8, 6);
        // Each root pixel its own colour, `scale` frame pixels square.
        QImage frame(bounds.size() * scale, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x / scale * 10, y / scale * 10, 200));
        QImage target(rect.size(), QImage::Format_RGB32);
        target.fill(Qt::white);
        CopyFromStream(frame, bounds, rect, target);
        const QPoint probes[4] = {{0, 0}, {1, 0}, {0, 1}, {3, 2}};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QColor(target.pixel(probes[i])).name(), QColor(expected[i]).name());
    }

private:
    void RequireDesktop()
    {
        if (!FPlatform.Screen)
            QSKIP("needs the X11 desktop");
    }

    // A stand-in encoder: a shell script with `body`.
    QString FakeEncoder(const QString& body)
    {
        const QString path = FFolder.filePath(QStringLiteral("fake-%1").arg(++FFakes));
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(("#!/bin/sh\n" + body).toUtf8());
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        return path;
    }

    QTemporaryDir FFolder;
    QString FFFMpeg;
    TPlatform FPlatform;
    int FFakes = 0;
};

VORANTU_TEST_MAIN(TestRecorder)
#include "tst_Recorder.moc"
