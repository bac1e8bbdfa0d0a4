#include "Pictures.h"
#include "TestEnvironment.h"
#include "output/Save.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <csignal>
#include <dlfcn.h>
#include <sys/resource.h>
#include <zlib.h>

namespace {

enum class TWriter
{
    Png,
    Jpg,
    Gif,
    Bmp,
    WebP
};

const TWriter AllWriters[] = {TWriter::Png, TWriter::Jpg, TWriter::Gif, TWriter::Bmp,
                              TWriter::WebP};

const char* Extension(TWriter writer)
{
    switch (writer) {
    case TWriter::Png:
        return "png";
    case TWriter::Jpg:
        return "jpg";
    case TWriter::Gif:
        return "gif";
    case TWriter::Bmp:
        return "bmp";
    case TWriter::WebP:
        return "webp";
    }
    return "";
}

void Write(TWriter writer, const QImage& bitmap, const QString& fileName)
{
    switch (writer) {
    case TWriter::Png:
        BitmapToPNGFile(bitmap, fileName);
        break;
    case TWriter::Jpg:
        BitmapToJPGFile(bitmap, fileName, 90);
        break;
    case TWriter::Gif:
        BitmapToGIFFile(bitmap, fileName);
        break;
    case TWriter::Bmp:
        BitmapToBMPFile(bitmap, fileName);
        break;
    case TWriter::WebP:
        QVERIFY(BitmapToWebPFile(bitmap, fileName, 100));
        break;
    }
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 BE32(const QByteArray& data, qsizetype at)
{
    return qFromBigEndian<quint32>(data.constData() + at);
}

quint16 BE16(const QByteArray& data, qsizetype at)
{
    return qFromBigEndian<quint16>(data.constData() + at);
}

quint32 LE32(const QByteArray& data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

quint16 LE16(const QByteArray& data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

// What a writer must put out for a pixel: its colour, never transparency.
QRgb Opaque(QRgb pixel)
{
    return pixel | 0xFF000000;
}

// The colours a reader should see, from any source format.
QImage ExpectedColours(const QImage& source)
{
    QImage rgb = source.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            row[x] = Opaque(row[x]);
    }
    return rgb;
}

QImage DecodeWithQt(const QString& path)
{
    QImageReader reader(path);
    return ExpectedColours(reader.read());
}

// Pixels that differ, as a readable failure message.
QString Difference(const QImage& got, const QImage& expected)
{
    if (got.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(got.width())
            .arg(got.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = ExpectedColours(got), b = ExpectedColours(expected);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y), 8, 16)
                    .arg(b.pixel(x, y), 8, 16);
        }
    }
    return QString();
}

// --- Fixture pictures in the formats a capture can arrive in ---

// A raw capture: 32 bits whose fourth byte is 0, not 255.
QImage ZeroPadded(const QImage& source)
{
    QImage image = source.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] &= 0x00FFFFFF;
    }
    return image;
}

// 32 bits with a fourth byte that varies, as in an ARGB32 bitmap.
QImage VaryingFourthByte(const QImage& source)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = (row[x] & 0x00FFFFFF) | (quint32((x * 7 + y) & 0xFF) << 24);
    }
    return image;
}

QImage Indexed16(int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette.append(qRgb(i * 16, 255 - i * 13, (i * 77) & 0xFF));
    image.setColorTable(palette);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, uint((x / 3 + y) % 16));
    return image;
}

QImage MonoPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(10, 20, 90)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, uint(((x ^ y) & 4) ? 1 : 0));
    return image;
}

QImage FewColours(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 250));
    QPainter p(&image);
    p.fillRect(0, 0, width / 2, height / 3, QColor(30, 30, 120));
    p.fillRect(width / 2, height / 3, width / 2, height / 3, QColor(200, 40, 40));
    p.fillRect(0, 2 * height / 3, width, height / 6, QColor(20, 160, 60));
    p.end();
    return image;
}

void AddPictureRows(bool withPaletted)
{
    QTest::newRow("screenshot 640x400") << ScreenshotLike(640, 400);
    QTest::newRow("noise, many IDATs") << Noise(400, 300);
    QTest::newRow("1x1") << Noise(1, 1);
    QTest::newRow("odd 5x3") << Noise(5, 3, 7);
    QTest::newRow("raw capture, fourth byte 0") << ZeroPadded(ScreenshotLike(120, 90));
    QTest::newRow("ARGB32, fourth byte varies") << VaryingFourthByte(Gradient(64, 48));
    QTest::newRow("premultiplied")
        << ScreenshotLike(90, 60).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QTest::newRow("RGB888") << Noise(33, 17).convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGB16") << Gradient(37, 20).convertToFormat(QImage::Format_RGB16);
    if (withPaletted) {
        QTest::newRow("indexed, 16 colours") << Indexed16(61, 23);
        QTest::newRow("mono, odd width") << MonoPicture(45, 13);
        QTest::newRow("grayscale") << Gradient(50, 20).convertToFormat(QImage::Format_Grayscale8);
    }
}

// --- PNG ---

struct TPngChunk
{
    QByteArray Type;
    QByteArray Data;
    bool CrcOk;
};

QList<TPngChunk> PngChunks(const QByteArray& file)
{
    QList<TPngChunk> chunks;
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const quint32 length = BE32(file, at);
        if (at + 12 + qsizetype(length) > file.size())
            break;
        TPngChunk chunk;
        chunk.Type = file.mid(at + 4, 4);
        chunk.Data = file.mid(at + 8, length);
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(file.constData() + at + 4), uInt(length + 4));
        chunk.CrcOk = crc == BE32(file, at + 8 + length);
        chunks.append(chunk);
        at += 12 + length;
    }
    return chunks;
}

QByteArray Inflate(const QByteArray& data, qsizetype expectedSize)
{
    QByteArray out(expectedSize + 1, '\0');
    uLongf size = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size())) != Z_OK)
        return QByteArray();
    out.resize(qsizetype(size));
    return out;
}

// --- JPEG ---

// The example tables of the JPEG standard (Annex K), in natural order.
const int LuminanceTable[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
const int ChrominanceTable[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const int ZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                        12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                        35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                        58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A table as the IJG quality rule with baseline limits makes it, in file
// (zigzag) order.
QList<int> ScaledTable(const int* table, int quality)
{
    quality = std::clamp(quality, 1, 100);
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    QList<int> result;
    for (int i = 0; i < 64; ++i)
        result.append(std::clamp((table[ZigZag[i]] * scale + 50) / 100, 1, 255));
    return result;
}

struct TJpegInfo
{
    QList<quint8> Markers; // the second byte of every marker up to the scan
    QMap<int, QList<int>> Tables;
    QByteArray Frame;
    bool EndsWithEoi = false;
};

TJpegInfo ParseJpeg(const QByteArray& file)
{
    TJpegInfo info;
    if (file.size() < 4 || BE16(file, 0) != 0xFFD8)
        return info;
    qsizetype at = 2;
    while (at + 4 <= file.size() && quint8(file[at]) == 0xFF) {
        const quint8 marker = quint8(file[at + 1]);
        const int length = BE16(file, at + 2);
        info.Markers.append(marker);
        const QByteArray body = file.mid(at + 4, length - 2);
        if (marker == 0xDB) {
            for (qsizetype i = 0; i + 65 <= body.size(); i += 65) {
                QList<int> table;
                for (int k = 0; k < 64; ++k)
                    table.append(quint8(body[i + 1 + k]));
                info.Tables.insert(body[i] & 0x0F, table);
            }
        }
        if ((marker & 0xF0) == 0xC0 && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            info.Frame = body;
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    info.EndsWithEoi = file.endsWith(QByteArray("\xFF\xD9", 2));
    return info;
}

// --- GIF ---

struct TGifInfo
{
    QByteArray Version;
    int Width = 0, Height = 0;
    int GlobalColours = 0;
    int Images = 0;
    int Extensions = 0;
    bool Trailer = false;
};

TGifInfo ParseGif(const QByteArray& file)
{
    TGifInfo info;
    if (file.size() < 13)
        return info;
    info.Version = file.left(6);
    info.Width = LE16(file, 6);
    info.Height = LE16(file, 8);
    const quint8 packed = quint8(file[10]);
    qsizetype at = 13;
    if (packed & 0x80) {
        info.GlobalColours = 1 << ((packed & 7) + 1);
        at += 3 * info.GlobalColours;
    }
    const auto skipSubBlocks = [&] {
        while (at < file.size() && file[at] != 0)
            at += 1 + quint8(file[at]);
        ++at;
    };
    while (at < file.size()) {
        const quint8 block = quint8(file[at]);
        if (block == 0x3B) {
            info.Trailer = at == file.size() - 1;
            break;
        }
        if (block == 0x21) {
            ++info.Extensions;
            at += 2;
            skipSubBlocks();
        } else if (block == 0x2C) {
            ++info.Images;
            const quint8 imagePacked = quint8(file[at + 9]);
            at += 10;
            if (imagePacked & 0x80)
                at += 3 * (1 << ((imagePacked & 7) + 1));
            ++at; // LZW minimum code size
            skipSubBlocks();
        } else {
            break;
        }
    }
    return info;
}

// Closes the library handle of a test-side dlopen.
struct TDlClose
{
    void operator()(void* handle) const
    {
        if (handle)
            dlclose(handle);
    }
};

// The file a shared library was loaded from, found through one of its symbols.
QString LibraryFileOf(const char* soname, const char* symbol)
{
    std::unique_ptr<void, TDlClose> handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL));
    if (!handle)
        return QString();
    Dl_info info{};
    void* address = dlsym(handle.get(), symbol);
    if (!address || !dladdr(address, &info) || !info.dli_fname)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath();
}

// A ceiling on the size of any file this process writes, as a full disk
// would impose; restored on destruction. The signal that goes with it is
// ignored so the write fails instead of killing the test.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &FOld);
        rlimit limited = FOld;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int);
};

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace

Q_DECLARE_METATYPE(TWriter)

class TTestSave : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;

    QString Path(const QString& name) const { return FDir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "ffmpeg is needed");
        // Printing must find no printer at all in this program.
        qputenv("CUPS_SERVER", QFile::encodeName(FDir.filePath("no-cups.sock")));
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
    }

    void Png_data()
    {
        QTest::addColumn<QImage>("picture");
        AddPictureRows(true);
        // Deflated in pieces on several threads; the joins, the combined
        // checksum and the chunk boundaries all fall inside it.
        QTest::newRow("1080p screenshot") << ScreenshotLike(1920, 1080);
        QTest::newRow("wide noise") << Noise(180000, 3);
        // A join is written one way when the piece before it leaves fewer
        // than three spare bits in its last byte and another way otherwise;
        // the pieces of this one end both ways.
        QTest::newRow("tall screenshot, many joins") << ScreenshotLike(200, 24000);
        // Noise is stored rather than compressed: a join after a stored block.
        QTest::newRow("noise, two pieces") << Noise(1000, 1500);
    }

    void Png()
    {
        QFETCH(QImage, picture);
        const QString path = Path("picture.png");
        BitmapToPNGFile(picture, path);
        const QByteArray file = ReadAll(path);
        QCOMPARE(file.left(8), QByteArray("\x89PNG\r\n\x1A\n", 8));

        const QList<TPngChunk> chunks = PngChunks(file);
        const bool indexed = picture.depth() < 16;
        QStringList types;
        QByteArray idat;
        for (const TPngChunk& chunk : chunks) {
            QVERIFY2(chunk.CrcOk, chunk.Type.constData());
            if (chunk.Type == "IDAT") {
                QVERIFY2(chunk.Data.size() <= 65535,
                         qPrintable(QString::number(chunk.Data.size())));
                idat += chunk.Data;
                if (types.last() == "IDAT")
                    continue;
            }
            types.append(QString::fromLatin1(chunk.Type));
        }
        const QStringList expectedTypes = indexed ? QStringList{"IHDR", "PLTE", "IDAT", "IEND"}
                                                  : QStringList{"IHDR", "IDAT", "IEND"};
        QCOMPARE(types, expectedTypes);
        if (QTest::currentDataTag() == QByteArray("noise, many IDATs"))
            QVERIFY(std::count_if(chunks.begin(), chunks.end(),
                                  [](const TPngChunk& c) { return c.Type == "IDAT"; }) > 2);

        const QByteArray ihdr = chunks.first().Data;
        const int bitDepth = indexed ? (picture.depth() == 1 ? 1 : 8) : 8;
        QCOMPARE(ihdr.size(), 13);
        QCOMPARE(int(BE32(ihdr, 0)), picture.width());
        QCOMPARE(int(BE32(ihdr, 4)), picture.height());
        QCOMPARE(int(ihdr[8]), bitDepth);
        QCOMPARE(int(ihdr[9]), indexed ? 3 : 2);
        QCOMPARE(ihdr.mid(10), QByteArray(3, '\0'));

        // Undo the Sub filter ourselves and compare with the source.
        const int bytesPerPixel = indexed ? 1 : 3;
        const qsizetype rowBytes = indexed ? (qsizetype(picture.width()) * bitDepth + 7) / 8
                                           : qsizetype(picture.width()) * 3;
        const QByteArray raw = Inflate(idat, (rowBytes + 1) * picture.height());
        QCOMPARE(raw.size(), (rowBytes + 1) * picture.height());
        const QImage expected = ExpectedColours(picture);
        QList<QRgb> palette;
        if (indexed) {
            const QByteArray plte = chunks[1].Data;
            for (qsizetype i = 0; i + 3 <= plte.size(); i += 3)
                palette.append(qRgb(quint8(plte[i]), quint8(plte[i + 1]), quint8(plte[i + 2])));
            QVERIFY(palette.size() <= 256);
        }
        // libpng leaves a one-pixel-wide picture unfiltered; Sub would not
        // change a byte of it.
        const int filter = picture.width() == 1 ? 0 : 1;
        for (int y = 0; y < picture.height(); ++y) {
            const char* row = raw.constData() + y * (rowBytes + 1);
            QVERIFY2(row[0] == filter,
                     qPrintable(QString("row %1 has filter %2").arg(y).arg(int(row[0]))));
            QByteArray line(row + 1, rowBytes);
            for (qsizetype i = bytesPerPixel; i < rowBytes; ++i)
                line[i] = char(quint8(line[i]) + quint8(line[i - bytesPerPixel]));
            for (int x = 0; x < picture.width(); ++x) {
                QRgb got;
                if (!indexed) {
                    got =
                        qRgb(quint8(line[x * 3]), quint8(line[x * 3 + 1]), quint8(line[x * 3 + 2]));
                } else {
                    const int index =
                        bitDepth == 1 ? (quint8(line[x / 8]) >> (7 - x % 8)) & 1 : quint8(line[x]);
                    QVERIFY(index < palette.size());
                    got = palette[index];
                }
                if (got != expected.pixel(x, y))
                    QFAIL(qPrintable(QString("pixel %1,%2 is %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(got, 8, 16)
                                         .arg(expected.pixel(x, y), 8, 16)));
            }
        }

        QCOMPARE(Difference(DecodeWithQt(path), picture), QString());
        QCOMPARE(Difference(DecodeWithFfmpeg(path), picture), QString());
        // An upload carries exactly what the file holds.
        QCOMPARE(BitmapToPNGBytes(picture), file);
    }

    void Jpeg_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("effectiveQuality");
        QTest::addColumn<double>("maxMeanError");
        const QImage screenshot = ScreenshotLike(320, 200);
        QTest::newRow("quality 90") << screenshot << 90 << 90 << 3.0;
        QTest::newRow("quality 70") << screenshot << 70 << 70 << 5.0;
        QTest::newRow("quality 100") << screenshot << 100 << 100 << 1.5;
        QTest::newRow("quality 1") << Gradient(64, 64) << 1 << 1 << 40.0;
        QTest::newRow("quality 0 counts as 1") << Gradient(64, 64) << 0 << 1 << 40.0;
        QTest::newRow("quality 255 counts as 100") << screenshot << 255 << 100 << 1.5;
        QTest::newRow("odd size, fourth byte 0") << ZeroPadded(Gradient(37, 19)) << 90 << 90 << 3.0;
        QTest::newRow("mono") << MonoPicture(45, 13) << 90 << 90 << 12.0;
    }

    void Jpeg()
    {
        QFETCH(QImage, picture);
        QFETCH(int, quality);
        QFETCH(int, effectiveQuality);
        QFETCH(double, maxMeanError);
        const QString path = Path("picture.jpg");
        BitmapToJPGFile(picture, path, std::uint8_t(quality));
        const QByteArray file = ReadAll(path);
        const TJpegInfo info = ParseJpeg(file);

        QVERIFY(info.Markers.size() >= 2);
        QCOMPARE(info.Markers.first(), quint8(0xE0)); // JFIF
        QCOMPARE(file.mid(6, 5), QByteArray("JFIF\0", 5));
        QVERIFY(info.Markers.contains(0xC0)); // baseline
        for (quint8 sof : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA, 0xCB})
            QVERIFY2(!info.Markers.contains(sof), "not baseline sequential");
        QCOMPARE(info.Markers.count(0xDA), 1); // one scan: not progressive
        QVERIFY(info.EndsWithEoi);

        const QByteArray& frame = info.Frame;
        QCOMPARE(frame.size(), 6 + 3 * 3);
        QCOMPARE(int(frame[0]), 8);
        QCOMPARE(int(BE16(frame, 1)), picture.height());
        QCOMPARE(int(BE16(frame, 3)), picture.width());
        QCOMPARE(int(frame[5]), 3);
        QCOMPARE(quint8(frame[7]), quint8(0x22)); // luminance 2x2: 4:2:0
        QCOMPARE(quint8(frame[10]), quint8(0x11));
        QCOMPARE(quint8(frame[13]), quint8(0x11));

        QCOMPARE(info.Tables.value(0), ScaledTable(LuminanceTable, effectiveQuality));
        QCOMPARE(info.Tables.value(1), ScaledTable(ChrominanceTable, effectiveQuality));

        QMap<QString, QString> stream;
        const QImage ffmpeg = DecodeWithFfmpeg(path, &stream);
        QCOMPARE(stream.value("codec_name"), QString("mjpeg"));
        QCOMPARE(stream.value("pix_fmt"), QString("yuvj420p"));
        QCOMPARE(stream.value("profile"), QString("Baseline"));
        const double qtError = MeanError(DecodeWithQt(path), ExpectedColours(picture));
        const double ffmpegError = MeanError(ffmpeg, ExpectedColours(picture));
        QVERIFY2(qtError >= 0 && qtError <= maxMeanError, qPrintable(QString::number(qtError)));
        QVERIFY2(ffmpegError >= 0 && ffmpegError <= maxMeanError + 1,
                 qPrintable(QString::number(ffmpegError)));
    }

    void Gif_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<int>("paletteEntries");
        QTest::addColumn<double>("maxBlockError");
        QTest::newRow("few colours stay exact") << FewColours(200, 120) << true << 4 << 0.0;
        QTest::newRow("indexed keeps its palette") << Indexed16(61, 23) << true << 16 << 0.0;
        QTest::newRow("mono keeps its palette") << MonoPicture(45, 13) << true << 2 << 0.0;
        QTest::newRow("raw capture, few colours")
            << ZeroPadded(FewColours(31, 17)) << true << 4 << 0.0;
        // 65,536 colours: posterising into 256 leaves bands about 16 levels
        // apart; diffusion keeps every 8 x 8 block close to the source.
        QTest::newRow("gradient is dithered") << Gradient(256, 256) << false << 256 << 1.0;
        QTest::newRow("screenshot") << ScreenshotLike(640, 400) << false << 256 << 2.0;
        QTest::newRow("noise") << Noise(128, 128) << false << 256 << 12.0;
    }

    void Gif()
    {
        QFETCH(QImage, picture);
        QFETCH(bool, exact);
        QFETCH(int, paletteEntries);
        QFETCH(double, maxBlockError);
        const QString path = Path("picture.gif");
        BitmapToGIFFile(picture, path);
        const TGifInfo info = ParseGif(ReadAll(path));
        QVERIFY(info.Version == "GIF87a" || info.Version == "GIF89a");
        QCOMPARE(info.Width, picture.width());
        QCOMPARE(info.Height, picture.height());
        QCOMPARE(info.Images, 1);
        QCOMPARE(info.Extensions, 0);
        QVERIFY(info.Trailer);
        QVERIFY(info.GlobalColours >= paletteEntries && info.GlobalColours <= 256);

        const QImage qt = DecodeWithQt(path);
        const QImage ffmpeg = DecodeWithFfmpeg(path);
        if (exact) {
            QCOMPARE(Difference(qt, picture), QString());
            QCOMPARE(Difference(ffmpeg, picture), QString());
            return;
        }
        QImage reduced = qt.convertToFormat(QImage::Format_RGB32);
        QSet<QRgb> colours;
        for (int y = 0; y < reduced.height(); ++y)
            for (int x = 0; x < reduced.width(); ++x)
                colours.insert(reduced.pixel(x, y));
        QVERIFY(colours.size() <= 256);
        const double blockError = MeanError(qt, picture, 8);
        QVERIFY2(blockError <= maxBlockError, qPrintable(QString::number(blockError)));
        QCOMPARE(Difference(ffmpeg, qt), QString());
    }

    void Bmp_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<int>("bitCount");
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("tableEntries");
        QTest::newRow("32 bits") << ScreenshotLike(160, 90) << 32 << 0 << 0;
        QTest::newRow("raw capture, fourth byte 0") << ZeroPadded(Noise(13, 7)) << 32 << 0 << 0;
        QTest::newRow("ARGB32") << VaryingFourthByte(Gradient(21, 9)) << 32 << 0 << 0;
        QTest::newRow("24 bits, padded rows")
            << Noise(33, 17).convertToFormat(QImage::Format_RGB888) << 24 << 0 << 0;
        QTest::newRow("16 bits 565")
            << Gradient(37, 20).convertToFormat(QImage::Format_RGB16) << 16 << 3 << 0;
        QTest::newRow("16 bits 555")
            << Gradient(37, 20).convertToFormat(QImage::Format_RGB555) << 16 << 0 << 0;
        QTest::newRow("8 bits with table") << Indexed16(61, 23) << 8 << 0 << 16;
        QTest::newRow("1 bit, odd width") << MonoPicture(45, 13) << 1 << 0 << 2;
    }

    void Bmp()
    {
        QFETCH(QImage, picture);
        QFETCH(int, bitCount);
        QFETCH(int, compression);
        QFETCH(int, tableEntries);
        const QString path = Path("picture.bmp");
        BitmapToBMPFile(picture, path);
        const QByteArray file = ReadAll(path);

        const qsizetype stride = ((qsizetype(picture.width()) * bitCount + 31) / 32) * 4;
        const int masks = compression == 3 ? 12 : 0;
        const quint32 offset = 14 + 40 + masks + tableEntries * 4;
        QCOMPARE(file.left(2), QByteArray("BM"));
        QCOMPARE(qsizetype(LE32(file, 2)), file.size());
        QCOMPARE(LE32(file, 6), 0u);
        QCOMPARE(LE32(file, 10), offset);
        QCOMPARE(LE32(file, 14), 40u);
        QCOMPARE(int(LE32(file, 18)), picture.width());
        QCOMPARE(int(LE32(file, 22)), picture.height()); // positive: bottom-up rows
        QCOMPARE(LE16(file, 26), quint16(1));
        QCOMPARE(int(LE16(file, 28)), bitCount);
        QCOMPARE(int(LE32(file, 30)), compression);
        QCOMPARE(qsizetype(LE32(file, 34)), stride * picture.height());
        QCOMPARE(int(LE32(file, 46)), tableEntries);
        QCOMPARE(file.size(), offset + stride * picture.height());
        if (masks) {
            QCOMPARE(LE32(file, 54), 0xF800u);
            QCOMPARE(LE32(file, 58), 0x07E0u);
            QCOMPARE(LE32(file, 62), 0x001Fu);
        }
        for (int i = 0; i < tableEntries; ++i) {
            const QRgb c = picture.color(i);
            const qsizetype at = 54 + masks + i * 4;
            QCOMPARE(quint8(file[at]), quint8(qBlue(c)));
            QCOMPARE(quint8(file[at + 1]), quint8(qGreen(c)));
            QCOMPARE(quint8(file[at + 2]), quint8(qRed(c)));
            QCOMPARE(quint8(file[at + 3]), quint8(0));
        }
        // Bottom row first; 32-bit rows carry blue, green, red and 255, the
        // others the source's own bytes.
        const QImage expected = bitCount == 32   ? ExpectedColours(picture)
                                : bitCount == 24 ? picture.convertToFormat(QImage::Format_BGR888)
                                                 : picture;
        const qsizetype rowBytes = (qsizetype(picture.width()) * bitCount + 7) / 8;
        for (int y = 0; y < picture.height(); ++y) {
            const qsizetype at = offset + (picture.height() - 1 - y) * stride;
            const QByteArray source(reinterpret_cast<const char*>(expected.constScanLine(y)),
                                    rowBytes);
            QVERIFY2(file.mid(at, rowBytes) == source, qPrintable(QString("row %1").arg(y)));
            QCOMPARE(file.mid(at + rowBytes, stride - rowBytes), QByteArray(stride - rowBytes, 0));
        }
        // Readers widen 5- and 6-bit channels differently.
        const double tolerance = bitCount == 16 ? 8 : 0;
        QVERIFY(MeanError(DecodeWithQt(path), ExpectedColours(picture)) <= tolerance);
        QVERIFY(MeanError(DecodeWithFfmpeg(path), ExpectedColours(picture)) <= tolerance);
    }

    void WebP_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<double>("maxMeanError");
        const QImage screenshot = ScreenshotLike(320, 200);
        QTest::newRow("100 is lossless") << screenshot << 100 << QByteArray("VP8L") << 0.0;
        QTest::newRow("above 100 is lossless") << screenshot << 250 << QByteArray("VP8L") << 0.0;
        QTest::newRow("99 is lossy") << screenshot << 99 << QByteArray("VP8 ") << 3.0;
        QTest::newRow("60 is lossy") << screenshot << 60 << QByteArray("VP8 ") << 8.0;
        QTest::newRow("raw capture, lossless")
            << ZeroPadded(Gradient(64, 48)) << 100 << QByteArray("VP8L") << 0.0;
        QTest::newRow("ARGB32, lossless")
            << VaryingFourthByte(Gradient(64, 48)) << 100 << QByteArray("VP8L") << 0.0;
        QTest::newRow("indexed, lossless") << Indexed16(61, 23) << 100 << QByteArray("VP8L") << 0.0;
    }

    void WebP()
    {
        QFETCH(QImage, picture);
        QFETCH(int, quality);
        QFETCH(QByteArray, chunk);
        QFETCH(double, maxMeanError);
        const QString path = Path("picture.webp");
        QVERIFY(BitmapToWebPFile(picture, path, quality));
        const QByteArray file = ReadAll(path);
        QCOMPARE(file.left(4), QByteArray("RIFF"));
        QCOMPARE(qsizetype(LE32(file, 4)) + 8, file.size());
        QCOMPARE(file.mid(8, 4), QByteArray("WEBP"));
        QCOMPARE(file.mid(12, 4), chunk);

        const QImage decoded = DecodeWithFfmpeg(path);
        QVERIFY(!decoded.isNull());
        for (int y = 0; y < decoded.height(); ++y)
            for (int x = 0; x < decoded.width(); ++x)
                QCOMPARE(qAlpha(decoded.pixel(x, y)), 255);
        if (maxMeanError == 0) {
            QCOMPARE(Difference(decoded, picture), QString());
        } else {
            const double error = MeanError(decoded, ExpectedColours(picture));
            QVERIFY2(error >= 0 && error <= maxMeanError, qPrintable(QString::number(error)));
        }
    }

    void WebPWithoutUsableLibrary_data()
    {
        QTest::addColumn<QString>("library");
        QTest::newRow("no file") << QString();
        QTest::newRow("a library without the entry points")
            << LibraryFileOf("libz.so.1", "zlibVersion");
    }

    void WebPWithoutUsableLibrary()
    {
        QFETCH(QString, library);
        QTemporaryDir beside;
        const QString candidate = beside.filePath("libwebp.so.7");
        if (!library.isEmpty())
            QVERIFY(QFile::copy(library, candidate));
        const QString path = Path("absent.webp");
        QFile::remove(path);
        QVERIFY(!WebPLibraryAvailable({candidate}));
        QVERIFY(!BitmapToWebPFile(ScreenshotLike(64, 64), path, 90, {candidate}));
        QVERIFY(!QFile::exists(path));
    }

    void WebPLibraryBesideTheProgramIsClosedAfterEachCall()
    {
        const QString system = LibraryFileOf("libwebp.so.7", "WebPEncodeBGRA");
        QVERIFY2(!system.isEmpty(), "libwebp.so.7 is needed");
        QTemporaryDir beside;
        const QString candidate = beside.filePath("libwebp.so.7");
        QVERIFY(QFile::copy(system, candidate));
        const QString path = Path("beside.webp");
        QVERIFY(BitmapToWebPFile(ScreenshotLike(64, 64), path, 100, {candidate, "libnothing.so"}));
        QCOMPARE(ReadAll(path).mid(12, 4), QByteArray("VP8L"));
        QVERIFY(!ReadAll("/proc/self/maps").contains(QFile::encodeName(candidate)));
    }

    void FailureReportsTheSystemsReason_data()
    {
        QTest::addColumn<TWriter>("writer");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason");
        QDir().mkpath(Path("fail"));
        QFile::link("/dev/full", Path("fail/full"));
        QFile plain(Path("fail/plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        for (TWriter writer : AllWriters) {
            const QString ext = Extension(writer);
            QTest::addRow("%s, missing folder", qPrintable(ext))
                << writer << Path("fail/missing/x." + ext) << "No such file or directory";
            QTest::addRow("%s, file as folder", qPrintable(ext))
                << writer << Path("fail/plain/x." + ext) << "Not a directory";
            // Closed to everyone, root included.
            QTest::addRow("%s, unwritable folder", qPrintable(ext))
                << writer << "/sys/vorantu-test." + ext << "Permission denied";
            QTest::addRow("%s, full disk", qPrintable(ext))
                << writer << Path("fail/full") << "No space left on device";
        }
    }

    void FailureReportsTheSystemsReason()
    {
        QFETCH(TWriter, writer);
        QFETCH(QString, target);
        QFETCH(QString, reason);
        const QStringList before = Entries(Path("fail"));
        try {
            Write(writer, Noise(200, 200), target);
            QFAIL("no failure raised");
        } catch (const ESaveError& e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.contains(reason), qPrintable(message));
            QVERIFY2(message.contains(target), qPrintable(message));
        }
        QCOMPARE(Entries(Path("fail")), before);
        QVERIFY(!QFileInfo::exists(target) || QFileInfo(target).isSymLink());
    }

    void DiskFullKeepsTheOldFile_data()
    {
        QTest::addColumn<TWriter>("writer");
        for (TWriter writer : AllWriters)
            QTest::newRow(Extension(writer)) << writer;
    }

    void DiskFullKeepsTheOldFile()
    {
        QFETCH(TWriter, writer);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("capture.") + Extension(writer));
        const QByteArray old(1000, 'o');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
        }
        QString message;
        {
            const TFileSizeLimit limit(16 * 1024);
            try {
                Write(writer, Noise(300, 300), path);
            } catch (const ESaveError& e) {
                message = QString::fromUtf8(e.what());
            }
        }
        QVERIFY2(message.contains("File too large"), qPrintable(message));
        QCOMPARE(ReadAll(path), old);
        QCOMPARE(Entries(folder.path()), QStringList{QFileInfo(path).fileName()});
    }

    void OverwritesAndLeavesTheSourceAlone_data()
    {
        QTest::addColumn<TWriter>("writer");
        for (TWriter writer : AllWriters)
            QTest::newRow(Extension(writer)) << writer;
    }

    void OverwritesAndLeavesTheSourceAlone()
    {
        QFETCH(TWriter, writer);
        const QString path = Path(QStringLiteral("again.") + Extension(writer));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4 << 20, 'x'));
        }
        const QImage picture = ZeroPadded(FewColours(64, 40));
        const QByteArray bytesBefore(reinterpret_cast<const char*>(picture.constBits()),
                                     picture.sizeInBytes());
        Write(writer, picture, path);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes()),
            bytesBefore);
        QVERIFY(QFileInfo(path).size() < (1 << 20));
        const QImage decoded =
            writer == TWriter::WebP ? DecodeWithFfmpeg(path) : DecodeWithQt(path);
        QCOMPARE(decoded.size(), picture.size());
        QCOMPARE(QFileInfo(path).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    }

    void EmptyPictureIsAFailure_data()
    {
        QTest::addColumn<TWriter>("writer");
        for (TWriter writer : AllWriters)
            QTest::newRow(Extension(writer)) << writer;
    }

    void EmptyPictureIsAFailure()
    {
        QFETCH(TWriter, writer);
        const QString path = Path(QStringLiteral("empty.") + Extension(writer));
        QVERIFY_THROWS_EXCEPTION(ESaveError, Write(writer, QImage(), path));
        QVERIFY(!QFile::exists(path));
        if (writer == TWriter::Png)
            QVERIFY_THROWS_EXCEPTION(ESaveError, BitmapToPNGBytes(QImage()));
    }

    // The encoders refuse these; the capture must not vanish without a word.
    void PictureTooLargeForTheFormat_data()
    {
        QTest::addColumn<TWriter>("writer");
        QTest::addColumn<QSize>("size");
        QTest::newRow("webp") << TWriter::WebP << QSize(16384, 2);
        QTest::newRow("jpg") << TWriter::Jpg << QSize(65501, 2);
        QTest::newRow("gif") << TWriter::Gif << QSize(65536, 2);
    }

    void PictureTooLargeForTheFormat()
    {
        QFETCH(TWriter, writer);
        QFETCH(QSize, size);
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString path = Path(QStringLiteral("large.") + Extension(writer));
        QVERIFY_THROWS_EXCEPTION(ESaveError, Write(writer, picture, path));
        QVERIFY(!QFile::exists(path));
    }

    void NoDefaultPrinter()
    {
        try {
            BitmapToPrinter(FewColours(100, 50), 96);
            QFAIL("no failure raised");
        } catch (const EPrintError& e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QString("There is no default printer currently selected"));
        }
    }

    void PrintTargetRect_data()
    {
        QTest::addColumn<QSize>("bitmap");
        QTest::addColumn<int>("dpiX");
        QTest::addColumn<int>("dpiY");
        QTest::addColumn<int>("ppi");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("600 dpi, 96 ppi: 6.25 truncated")
            << QSize(1000, 500) << 600 << 600 << 96 << QRect(0, 0, 6000, 3000);
        QTest::newRow("600 dpi, 144 ppi: 4.17 truncated")
            << QSize(1000, 500) << 600 << 600 << 144 << QRect(0, 0, 4000, 2000);
        QTest::newRow("300 x 600 dpi: unequal factors")
            << QSize(100, 50) << 300 << 600 << 96 << QRect(0, 0, 300, 300);
        QTest::newRow("printer coarser than the screen")
            << QSize(100, 50) << 72 << 72 << 96 << QRect(0, 0, 100, 50);
    }

    void PrintTargetRect()
    {
        QFETCH(QSize, bitmap);
        QFETCH(int, dpiX);
        QFETCH(int, dpiY);
        QFETCH(int, ppi);
        QFETCH(QRect, expected);
        QCOMPARE(::PrintTargetRect(bitmap, dpiX, dpiY, ppi), expected);
    }
};

VORANTU_TEST_MAIN(TTestSave)
#include "tst_Save.moc"
