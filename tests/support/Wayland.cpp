#include "Wayland.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QtTest>

namespace TestWayland {

namespace {

struct TRun
{
    bool Ok = false;
    QByteArray Out;
    QString Err;
};

TRun Run(const QString& program, const QStringList& arguments, int timeout = 10000)
{
    QProcess process;
    process.start(program, arguments);
    TRun run;
    if (!process.waitForFinished(timeout)) {
        run.Err = program + QStringLiteral(": ") + process.errorString();
        process.kill();
        process.waitForFinished(2000);
        return run;
    }
    run.Out = process.readAllStandardOutput();
    run.Err = QString::fromLocal8Bit(process.readAllStandardError());
    run.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

QJsonObject Output()
{
    const TRun run = Run(QStringLiteral("swaymsg"), {"-r", "-t", "get_outputs"});
    const QJsonArray outputs = QJsonDocument::fromJson(run.Out).array();
    const QString wanted = qEnvironmentVariable("VORANTU_TEST_WAYLAND_OUTPUT");
    for (const QJsonValue& output : outputs)
        if (output[QStringLiteral("name")].toString() == wanted || wanted.isEmpty())
            return output.toObject();
    return {};
}

} // namespace

QString OutputName()
{
    return Output()[QStringLiteral("name")].toString();
}

QRect OutputGeometry()
{
    const QJsonObject rect = Output()[QStringLiteral("rect")].toObject();
    return QRect(rect[QStringLiteral("x")].toInt(), rect[QStringLiteral("y")].toInt(),
                 rect[QStringLiteral("width")].toInt(), rect[QStringLiteral("height")].toInt());
}

QImage Grab(const QRect& area)
{
    QStringList arguments{"-t", "ppm"};
    if (!area.isEmpty())
        arguments << "-g"
                  << QStringLiteral("%1,%2 %3x%4")
                         .arg(area.x())
                         .arg(area.y())
                         .arg(area.width())
                         .arg(area.height());
    arguments << "-";
    const TRun run = Run(QStringLiteral("grim"), arguments);
    QImage image;
    if (!run.Ok || !image.loadFromData(run.Out, "PPM")) {
        qWarning("grim failed: %s", qPrintable(run.Err));
        return {};
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

bool SwayMsg(const QStringList& arguments)
{
    const TRun run = Run(QStringLiteral("swaymsg"), arguments);
    if (!run.Ok)
        qWarning("swaymsg %s failed: %s %s", qPrintable(arguments.join(' ')), run.Out.constData(),
                 qPrintable(run.Err));
    return run.Ok;
}

bool MovePointer(const QPoint& at)
{
    return SwayMsg(
        {"seat", "-", "cursor", "set", QString::number(at.x()), QString::number(at.y())});
}

bool Press(int button)
{
    return SwayMsg({"seat", "-", "cursor", "press", QStringLiteral("button%1").arg(button)});
}

bool Release(int button)
{
    return SwayMsg({"seat", "-", "cursor", "release", QStringLiteral("button%1").arg(button)});
}

bool Click(const QPoint& at, int button)
{
    return MovePointer(at) && Press(button) && Release(button);
}

bool Key(const QString& name)
{
    const TRun run = Run(QStringLiteral("wtype"), {"-k", name});
    if (!run.Ok)
        qWarning("wtype -k %s failed: %s", qPrintable(name), qPrintable(run.Err));
    return run.Ok;
}

TBackground::TBackground(const QImage& picture)
{
    const QRect output = OutputGeometry();
    if (picture.size() != output.size()) {
        FError = QStringLiteral("the picture is not of the output's size");
        return;
    }
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/vorantu-background-XXXXXX.png"));
    file.setAutoRemove(false);
    if (!file.open() || !picture.save(&file, "PNG")) {
        FError = QStringLiteral("cannot write the picture");
        return;
    }
    FFile = file.fileName();
    file.close();
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral("swaybg"), {"-o", OutputName(), "-i", FFile, "-m", "center"});
    if (!FProcess.waitForStarted()) {
        FError = QStringLiteral("swaybg: ") + FProcess.errorString();
        return;
    }
    // The whole output is compared, so a test never goes on with an older
    // background still showing anywhere.
    FShown = QTest::qWaitFor(
        [&] {
            return FProcess.state() == QProcess::Running &&
                   DifferentPixels(Grab(output), picture) == 0;
        },
        10000);
    if (!FShown)
        FError = FProcess.state() == QProcess::Running
                     ? QStringLiteral("grim never showed the picture")
                     : QStringLiteral("swaybg ended");
}

TBackground::~TBackground()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(2000);
        }
    }
    if (!FFile.isEmpty())
        QFile::remove(FFile);
}

qint64 DifferentPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return qint64(qMax(a.width(), b.width())) * qMax(a.height(), b.height());
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 different = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column)
            different += (p[column] & 0xFFFFFF) != (q[column] & 0xFFFFFF);
    }
    return different;
}

} // namespace TestWayland
