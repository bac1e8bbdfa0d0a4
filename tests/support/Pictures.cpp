#include "Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <cmath>

QImage ScreenshotLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0xF3, 0xF3, 0xF3));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillRect(0, 0, width, 32, QColor(0x2B, 0x2B, 0x2B));
    p.fillRect(0, 32, width / 6, height - 32, QColor(0xE1, 0xE6, 0xEE));
    p.fillRect(0, height - 40, width, 40, QColor(0x20, 0x24, 0x30));

    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, QColor(0x1E, 0x5A, 0xA8));
    gradient.setColorAt(0.5, QColor(0xC8, 0x3C, 0x78));
    gradient.setColorAt(1, QColor(0xF0, 0xB4, 0x28));
    p.fillRect(width / 6, 32, width - width / 6, height / 8, gradient);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    p.setFont(font);
    const QString words = QStringLiteral(
        "The quick brown fox jumps over the lazy dog; 0123456789 (fig. 3) screen capture "
        "settings, save folder, hot key Print, quality 90, region window, upload complete. ");
    const QColor inks[] = {QColor(0x20, 0x20, 0x20), QColor(0x1A, 0x4D, 0x8F),
                           QColor(0x8A, 0x1C, 0x1C), QColor(0x2E, 0x6B, 0x30)};
    int line = 0;
    for (int y = 32 + height / 8 + 18; y < height - 48; y += 17, ++line) {
        p.setPen(inks[line % 4]);
        const int shift = (line * 37) % words.size();
        p.drawText(width / 6 + 12, y, words.mid(shift) + words + words);
    }
    p.setPen(QColor(0x30, 0x30, 0x30));
    for (int y = 52; y < height - 48; y += 22)
        p.drawText(10, y, QStringLiteral("Folder %1").arg((y * 7) % 1000));
    p.setPen(Qt::white);
    p.drawText(10, 22, QStringLiteral("Vorantu - capture.png - 1920 x 1080"));
    p.end();
    return image;
}

QImage Gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 96);
    }
    return image;
}

QImage Noise(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000 | (random.generate() & 0xFFFFFF);
    }
    return image;
}

QImage DecodeWithFfmpeg(const QString& path, QMap<QString, QString>* stream)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream", "-of",
                 "default=noprint_wrappers=1", path});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return QImage();
    QMap<QString, QString> fields;
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            fields.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    if (stream)
        *stream = fields;
    const int width = fields.value("width").toInt(), height = fields.value("height").toInt();
    if (width <= 0 || height <= 0)
        return QImage();

    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-frames:v", "1", "-f",
                                            "rawvideo", "-pix_fmt", "bgra", "-"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return QImage();
    const QByteArray data = ffmpeg.readAllStandardOutput();
    if (data.size() != qsizetype(width) * height * 4)
        return QImage();
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        memcpy(image.scanLine(y), data.constData() + qsizetype(y) * width * 4, size_t(width) * 4);
    return image;
}

double MeanError(const QImage& a, const QImage& b, int block)
{
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    qint64 count = 0;
    for (int by = 0; by + block <= x.height(); by += block) {
        for (int bx = 0; bx + block <= x.width(); bx += block) {
            int sums[2][3] = {};
            for (int dy = 0; dy < block; ++dy) {
                for (int dx = 0; dx < block; ++dx) {
                    const QRgb p = x.pixel(bx + dx, by + dy), q = y.pixel(bx + dx, by + dy);
                    sums[0][0] += qRed(p), sums[0][1] += qGreen(p), sums[0][2] += qBlue(p);
                    sums[1][0] += qRed(q), sums[1][1] += qGreen(q), sums[1][2] += qBlue(q);
                }
            }
            for (int c = 0; c < 3; ++c)
                total += std::abs(sums[0][c] - sums[1][c]) / double(block * block);
            count += 3;
        }
    }
    return count ? total / double(count) : 0;
}
