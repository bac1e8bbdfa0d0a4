#include "Recordings.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>

TProbe Probe(const QString& file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-show_entries",
                   "stream=codec_type,codec_name,width,height,r_frame_rate:format=duration", "-of",
                   "compact=p=0", file});
    if (!ffprobe.waitForFinished(20000))
        ffprobe.kill();
    TProbe probe;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n')) {
        QMap<QString, QString> fields;
        for (const QString& field : line.trimmed().split('|'))
            fields.insert(field.section('=', 0, 0), field.section('=', 1));
        if (fields.value("codec_type") == "video" && probe.VideoCodec.isEmpty()) {
            probe.VideoCodec = fields.value("codec_name");
            probe.Size = QSize(fields.value("width").toInt(), fields.value("height").toInt());
            probe.FrameRate = fields.value("r_frame_rate");
        } else if (fields.value("codec_type") == "audio") {
            ++probe.AudioStreams;
            probe.AudioCodec = fields.value("codec_name");
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
