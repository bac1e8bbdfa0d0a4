#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// What ffprobe says about a recording: its first video stream, its sound and
// its length. Empty fields where ffprobe could not read the file.
struct TProbe
{
    QString VideoCodec;
    QSize Size;
    QString FrameRate;
    double Duration = 0;
    int AudioStreams = 0;
    QString AudioCodec;
};

TProbe Probe(const QString& file);

// One frame of a recording at `seconds`, decoded by ffmpeg into `folder`;
// a null picture when there is none.
QImage FrameAt(const QString& file, double seconds, const QString& folder);
