#include "TestEnvironment.h"
#include "platform/null/NullPlatform.h"
#include "platform/wayland/ScreenCast.h"
#include "record/Recorder.h"

#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <memory>

// Recordings through the desktop's screen-cast portal on the Wayland test
// desktop, where X11 sees only this program's own windows. The windows shown
// here are XWayland windows like the program's, so the compositor shows
// them, and their repainting makes the frames come (the cast sends a frame
// only when the screen changes).

namespace {

struct TProbe
{
    QString VideoCodec;
    QSize Size;
    double Duration = 0;
};

TProbe Probe(const QString& file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-select_streams", "v:0", "-show_entries",
                   "stream=codec_name,width,height:format=duration", "-of", "compact=p=0", file});
    ffprobe.waitForFinished(20000);
    TProbe probe;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n')) {
        QMap<QString, QString> fields;
        for (const QString& field : line.trimmed().split('|'))
            fields.insert(field.section('=', 0, 0), field.section('=', 1));
        if (fields.contains("codec_name")) {
            probe.VideoCodec = fields.value("codec_name");
            probe.Size = QSize(fields.value("width").toInt(), fields.value("height").toInt());
        } else if (fields.contains("duration")) {
            probe.Duration = fields.value("duration").toDouble();
        }
    }
    return probe;
}

QImage FrameAt(const QString& file, double seconds, const QString& folder)
{
    const QString png = folder + QStringLiteral("/frame.png");
    QFile::remove(png);
    QProcess::execute(QStringLiteral("ffmpeg"), {"-v", "error", "-ss", QString::number(seconds),
                                                 "-i", file, "-frames:v", "1", "-y", png});
    return QImage(png);
}

// Colours survive H.264 within a few steps; these are far apart.
bool Near(QRgb a, QColor b)
{
    return qAbs(qRed(a) - b.red()) < 40 && qAbs(qGreen(a) - b.green()) < 40 &&
           qAbs(qBlue(a) - b.blue()) < 40;
}

QString Name(QRgb pixel)
{
    return QColor(pixel).name();
}

// An unmanaged window exactly where asked, above everything: four colour
// quadrants, and a strip along its bottom edge that changes every 100 ms so
// the screen is never still.
class TPatternWindow : public QWidget
{
public:
    static inline const QColor Quadrants[4] = {QColor(220, 30, 30), QColor(30, 200, 40),
                                               QColor(30, 40, 220), QColor(230, 220, 30)};

    explicit TPatternWindow(const QRect& geometry)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowStaysOnTopHint)
    {
        setGeometry(geometry);
        setAttribute(Qt::WA_OpaquePaintEvent);
        FTicker.setInterval(100);
        connect(&FTicker, &QTimer::timeout, this, [this] {
            ++FTick;
            update();
        });
        FTicker.start();
        show();
    }

    static constexpr int Strip = 8;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const int w = width() / 2;
        const int h = (height() - Strip) / 2;
        painter.fillRect(0, 0, w, h, Quadrants[0]);
        painter.fillRect(w, 0, width() - w, h, Quadrants[1]);
        painter.fillRect(0, h, w, height() - Strip - h, Quadrants[2]);
        painter.fillRect(w, h, width() - w, height() - Strip - h, Quadrants[3]);
        painter.fillRect(0, height() - Strip, width(), Strip, FTick % 2 ? Qt::white : Qt::darkGray);
    }

private:
    QTimer FTicker;
    int FTick = 0;
};

} // namespace

class TestWaylandRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            QSKIP("needs the Wayland desktop");
        QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "ffmpeg is needed");
        QVERIFY(FFolder.isValid());
    }

    // The whole monitor through the portal: an H.264 file of the monitor's
    // size and the recording's length, showing what the compositor shows
    // (x11grab would have recorded black here).
    void fullScreenRecording()
    {
        const QRect monitor(0, 0, 1920, 1080);
        TPatternWindow pattern(monitor);
        TRecordOptions options;
        options.FFMpeg = QStandardPaths::findExecutable("ffmpeg");
        options.Output = FFolder.filePath("full/V-001.mp4");
        options.Mouse = true;
        options.Stream = [] {
            return std::make_unique<TPortalScreenCast>();
        };
        Record(options, {});
        if (QTest::currentTestFailed())
            return;
        const QString file = options.Output;

        const TProbe probe = Probe(file);
        QCOMPARE(probe.VideoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.Size, monitor.size());
        QVERIFY2(probe.Duration > 2.4 && probe.Duration < 4.0,
                 qPrintable(QString::number(probe.Duration)));
        const QImage frame = FrameAt(file, 1.5, FFolder.path());
        QCOMPARE(frame.size(), monitor.size());
        const QPoint centres[4] = {{480, 270}, {1440, 270}, {480, 805}, {1440, 805}};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(Near(frame.pixel(centres[i]), TPatternWindow::Quadrants[i]),
                     qPrintable(Name(frame.pixel(centres[i]))));
    }

    // A region's frames are cut from the stream at the region's place: the
    // rectangle centred on the pattern's middle shows the four quadrants in
    // their corners, and its size is the region's.
    void regionRecording()
    {
        const QRect window(300, 200, 600, 400);
        TPatternWindow pattern(window);
        const QRect region(500, 300, 200, 160); // centred on (600, 400)
        TRecordOptions options;
        options.FFMpeg = QStandardPaths::findExecutable("ffmpeg");
        options.Output = FFolder.filePath("region/V-001.mp4");
        options.Mouse = false;
        options.Stream = [] {
            return std::make_unique<TPortalScreenCast>();
        };
        Record(options, [region] { return region; });
        if (QTest::currentTestFailed())
            return;
        const QString file = options.Output;

        QCOMPARE(Probe(file).Size, region.size());
        const QImage frame = FrameAt(file, 1.5, FFolder.path());
        QCOMPARE(frame.size(), region.size());
        // The window's quadrants meet at (600, 396): its strip is below.
        const QPoint corners[4] = {{20, 20}, {180, 20}, {20, 140}, {180, 140}};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(
                Near(frame.pixel(corners[i]), TPatternWindow::Quadrants[i]),
                qPrintable(
                    QStringLiteral("%1 at corner %2").arg(Name(frame.pixel(corners[i]))).arg(i)));
    }

private:
    // Records for about three seconds into options.Output.
    void Record(const TRecordOptions& options, TFuncOfRect rect)
    {
        QStringList errors;
        TRecorder recorder(options);
        recorder.SetOnError([&](TRecorder*, const QString& text, bool& handled) {
            errors << text;
            handled = true;
        });
        if (rect)
            recorder.Start(FScreen, rect);
        else
            recorder.Start(FScreen);
        // The encoder starts with the first frame; three seconds from there.
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.CommandLine().isEmpty() || !recorder.IsRunning(), 20000);
        QCOMPARE(errors, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.FramesWritten() > 0 || !recorder.IsRunning(), 10000);
        QTest::qWait(3000);
        recorder.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.IsRunning(), 20000);
        QCOMPARE(errors, QStringList());
        QVERIFY(QFileInfo::exists(options.Output));
    }

    QTemporaryDir FFolder;
    TNullScreen FScreen;
};

VORANTU_TEST_MAIN(TestWaylandRecord)
#include "tst_WaylandRecord.moc"
