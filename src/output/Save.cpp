#include "output/Save.h"

#include "output/Quantize.h"
#include "services/MessageBox.h"
#include "services/Translate.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <dlfcn.h>
#include <gif_lib.h>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <optional>
#include <png.h>
#include <thread>
#include <utility>
#include <vector>
#include <zlib.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "32-bit rows are handed to the encoders as blue, green, red, fourth byte");

namespace {

// The file a writer produces. Everything goes to a temporary file beside the
// target that replaces it only on Commit(); dropping the object without
// committing removes the temporary file. A target that exists but is not a
// regular file (a device, a pipe) cannot be replaced by renaming and is
// written directly.
//
// The file is opened unbuffered and fed from a buffer of our own, so that a
// short write is retried and the retry reports the system's reason (a full
// disk first shows as a short write without one).
class TOutputFile
{
public:
    explicit TOutputFile(const QString& fileName) : FFileName(fileName)
    {
        const QFileInfo target(fileName);
        if (target.exists() && !target.isFile() && !target.isDir()) {
            FDevice = std::make_unique<QFile>(fileName);
            FDirect = true;
        } else {
            FDevice = std::make_unique<QSaveFile>(fileName);
        }
        if (!FDevice->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw ESaveError(Message("Cannot create file", FDevice->errorString()));
        FBuffer.reserve(BufferSize);
    }

    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // For the encoders' C callbacks, which must not throw: the first failure
    // is remembered and reported by Commit().
    bool TryWrite(const void* data, qint64 size) noexcept
    {
        const char* bytes = static_cast<const char*>(data);
        if (FFailed)
            return false;
        if (qint64(FBuffer.size()) + size > BufferSize && !Drain())
            return false;
        if (size >= BufferSize)
            return WriteAll(bytes, size);
        FBuffer.insert(FBuffer.end(), bytes, bytes + size);
        return true;
    }

    void Write(const void* data, qint64 size)
    {
        if (!TryWrite(data, size))
            throw ESaveError(WriteFailure());
    }

    bool Failed() const { return FFailed; }
    QString WriteFailure() const { return Message("Cannot write file", FFailure); }

    void Commit()
    {
        if (FFailed || !Drain())
            throw ESaveError(WriteFailure());
        bool ok;
        if (FDirect) {
            FDevice->close();
            ok = FDevice->error() == QFileDevice::NoError;
        } else {
            ok = static_cast<QSaveFile*>(FDevice.get())->commit();
        }
        if (!ok) {
            FFailed = true;
            FFailure = FDevice->errorString();
            throw ESaveError(WriteFailure());
        }
    }

private:
    static constexpr qint64 BufferSize = 256 * 1024;

    bool Drain() noexcept
    {
        const bool ok = WriteAll(FBuffer.data(), qint64(FBuffer.size()));
        FBuffer.clear();
        return ok;
    }

    bool WriteAll(const char* data, qint64 size) noexcept
    {
        while (size > 0 && !FFailed) {
            const qint64 written = FDevice->write(data, size);
            if (written <= 0) {
                FFailed = true;
                FFailure = FDevice->errorString();
                break;
            }
            data += written;
            size -= written;
        }
        return !FFailed;
    }

    QString Message(const char* what, const QString& reason) const
    {
        return QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(what), FFileName, reason);
    }

    QString FFileName;
    std::unique_ptr<QFileDevice> FDevice;
    std::vector<char> FBuffer;
    bool FDirect = false;
    bool FFailed = false;
    QString FFailure;
};

void RequirePicture(const QImage& bitmap, const QString& fileName)
{
    if (bitmap.isNull())
        throw ESaveError(
            QStringLiteral("Cannot write file \"%1\". The picture is empty.").arg(fileName));
}

// The picture in 32-bit rows of blue, green, red and a fourth byte that the
// encoders ignore; no copy for the capture formats.
QImage Rows32(const QImage& bitmap)
{
    if (bitmap.format() == QImage::Format_RGB32 || bitmap.format() == QImage::Format_ARGB32)
        return bitmap;
    return bitmap.convertToFormat(QImage::Format_RGB32);
}

// 32-bit rows whose fourth byte is 255 everywhere, for consumers that read it
// as alpha. Raw captures may carry anything there.
QImage Opaque32(const QImage& bitmap)
{
    QImage rows = Rows32(bitmap);
    const auto opaqueRow = [&](int y) {
        const auto* line = reinterpret_cast<const QRgb*>(rows.constScanLine(y));
        return std::all_of(line, line + rows.width(), [](QRgb p) { return qAlpha(p) == 255; });
    };
    int y = 0;
    while (y < rows.height() && opaqueRow(y))
        ++y;
    if (y == rows.height())
        return rows;
    // Writing detaches from the caller's picture, which stays as it was.
    rows.reinterpretAsFormat(QImage::Format_RGB32);
    for (; y < rows.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(rows.scanLine(y));
        for (int x = 0; x < rows.width(); ++x)
            line[x] |= 0xFF000000;
    }
    return rows;
}

// A picture of fewer than 16 bits per pixel with its palette. `Image` is
// Format_Indexed8 or Format_Mono (most significant bit first), and the
// palette covers every index its pixels use (at most 256).
struct TPaletted
{
    QImage Image;
    QList<QRgb> Palette;
    int BitDepth = 8;
};

std::optional<TPaletted> Paletted(const QImage& bitmap)
{
    if (bitmap.depth() >= 16)
        return std::nullopt;
    TPaletted result;
    switch (bitmap.format()) {
    case QImage::Format_Mono:
        result.Image = bitmap;
        result.BitDepth = 1;
        break;
    case QImage::Format_MonoLSB:
        result.Image = bitmap.convertToFormat(QImage::Format_Mono);
        result.BitDepth = 1;
        break;
    case QImage::Format_Indexed8:
        result.Image = bitmap;
        break;
    case QImage::Format_Grayscale8:
    case QImage::Format_Alpha8: {
        // The same bytes read as indexes into a grey ramp, without a copy.
        result.Image = QImage(bitmap.constBits(), bitmap.width(), bitmap.height(),
                              bitmap.bytesPerLine(), QImage::Format_Indexed8);
        for (int i = 0; i < 256; ++i)
            result.Palette.append(qRgb(i, i, i));
        return result;
    }
    default:
        result.Image = bitmap.convertToFormat(QImage::Format_Indexed8);
        break;
    }
    result.Palette = result.Image.colorTable().mid(0, 256);
    int used = 0;
    if (result.BitDepth == 1) {
        used = 2;
    } else {
        for (int y = 0; y < result.Image.height(); ++y) {
            const uchar* row = result.Image.constScanLine(y);
            used = std::max(used, int(*std::max_element(row, row + result.Image.width())) + 1);
        }
    }
    while (result.Palette.size() < used)
        result.Palette.append(qRgb(0, 0, 0));
    for (QRgb& colour : result.Palette)
        colour |= 0xFF000000;
    return result;
}

// ---------------------------------------------------------------------------
// PNG

// Where the encoded bytes go: a file, or memory when File is null.
struct TPngSink
{
    TOutputFile* File;
    char Message[256];
    QByteArray* Memory = nullptr;
};

void PngWrite(png_structp png, png_bytep data, size_t length)
{
    auto* sink = static_cast<TPngSink*>(png_get_io_ptr(png));
    if (sink->File) {
        if (!sink->File->TryWrite(data, qint64(length)))
            png_error(png, "write failed");
        return;
    }
    // No exception may cross the library's C frames; an allocation that
    // fails ends the encoding through its own error path instead.
    bool appended = false;
    try {
        sink->Memory->append(reinterpret_cast<const char*>(data), qsizetype(length));
        appended = true;
    } catch (...) {
    }
    if (!appended)
        png_error(png, "out of memory");
}

void PngFlush(png_structp) {}

[[noreturn]] void PngError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<TPngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->Message, sizeof sink->Message, "%s", message);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Runs libpng over the rows. Nothing here has a destructor, so the library's
// longjmp on an error skips nothing; false with the library's message in
// `sink` on failure.
bool EncodePng(const QImage& rows, const png_color* palette, int paletteSize, int bitDepth,
               TPngSink& sink)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, PngError, PngWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, PngWrite, PngFlush);
    const bool indexed = palette != nullptr;
    png_set_IHDR(png, info, png_uint_32(rows.width()), png_uint_32(rows.height()), bitDepth,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed)
        png_set_PLTE(png, info, palette, paletteSize);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 7);
    // The compressed stream leaves libpng in IDAT chunks of this size.
    png_set_compression_buffer_size(png, 65535);
    png_write_info(png, info);
    if (!indexed) {
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (int y = 0; y < rows.height(); ++y)
        png_write_row(png, rows.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Truecolour PNG on every core. The Sub-filtered rows are cut into bands of
// at most about BandBytes, each deflated at level 7 by
// libdeflate, whose matcher at that level takes under half of zlib's time for
// a file no larger. The bands join into one zlib stream whose Adler-32 is
// combined from theirs: every band but the last has its final-block bit
// cleared and is padded to a byte boundary with an empty stored block, which
// is what zlib's sync flush writes. libdeflate has no flush and does not say
// where its last block starts or at which bit its stream ends, so each such
// band is inflated once to find out (about a quarter of the time its
// deflating took). The bands depend only on the picture's size, never on the
// number of cores, so the same picture gives the same bytes on every machine.
// What a decoder sees is what libpng would write with the same settings:
// IHDR, IDAT chunks of at most 65,535 bytes, IEND; Sub on every row, level 7,
// one zlib stream.
constexpr int PngLevel = 7;
constexpr std::size_t BandBytes = 4 * 1024 * 1024;
constexpr std::size_t MaxIdatBytes = 65535;

// One filtered row: the filter type and the row's red, green and blue bytes.
void SubFilterRow(const uchar* bgrx, int width, unsigned char* out)
{
    // libpng leaves a row of one pixel unfiltered: Sub would change nothing.
    out[0] = width > 1 ? 1 : 0;
    unsigned char* rgb = out + 1;
    unsigned char r = 0, g = 0, b = 0;
    for (int x = 0; x < width; ++x, bgrx += 4, rgb += 3) {
        rgb[0] = static_cast<unsigned char>(bgrx[2] - r);
        rgb[1] = static_cast<unsigned char>(bgrx[1] - g);
        rgb[2] = static_cast<unsigned char>(bgrx[0] - b);
        r = bgrx[2];
        g = bgrx[1];
        b = bgrx[0];
    }
}

// Byte buffers that resize without zeroing: every byte of them is written
// before it is read, and zeroing the bands' buffers was 3 % of an encoding.
template <typename T> struct TUninitialised : std::allocator<T>
{
    using std::allocator<T>::allocator;
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... A> void construct(U* p, A&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};
using TBytes = std::vector<unsigned char, TUninitialised<unsigned char>>;

struct TPngBand
{
    int FirstRow = 0;
    int EndRow = 0;
    TBytes Deflated;
    std::uint32_t Adler = 1;
    std::size_t Length = 0;
};

struct TCompressorDeleter
{
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using TCompressor = std::unique_ptr<libdeflate_compressor, TCompressorDeleter>;

// Turns the complete raw deflate stream in `stream` into one that goes on:
// its last block no longer final, then an empty stored block that ends on
// a byte boundary. False when the stream does not inflate.
bool MakeContinuable(TBytes& stream)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    // Where the header of the block being inflated starts: its first bit
    // says whether it is the last.
    std::size_t headerByte = 0;
    unsigned char headerBit = 0x01;
    // The unused bits of the stream's last byte, once its last block ended.
    int unused = -1;
    unsigned char junk[64 * 1024];
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = junk;
        z.avail_out = sizeof junk;
        // Returns at the end of every block (128 in data_type; 64 when that
        // block is the last) with the unused bits of the last byte read in
        // the low three bits.
        result = inflate(&z, Z_BLOCK);
        if (result != Z_OK || !(z.data_type & 128))
            continue;
        const int bits = z.data_type & 7;
        if (z.data_type & 64) {
            unused = bits;
            continue;
        }
        const std::size_t read = std::size_t(z.next_in - stream.data());
        headerByte = bits != 0 ? read - 1 : read;
        headerBit = static_cast<unsigned char>(bits != 0 ? 0x100 >> bits : 0x01);
    }
    const bool whole = result == Z_STREAM_END && z.avail_in == 0 && unused >= 0;
    inflateEnd(&z);
    if (!whole || headerByte >= stream.size() || !(stream[headerByte] & headerBit))
        return false;
    stream[headerByte] &= static_cast<unsigned char>(~headerBit);
    // The stored block's three header bits go into the zero bits that end
    // the stream when they fit, else into one more byte; the rest of that
    // byte is skipped by the decoder, then come LEN 0 and its complement.
    stream.back() &= static_cast<unsigned char>(0xFF >> unused);
    if (unused < 3)
        stream.push_back(0);
    for (const unsigned char byte : {0x00, 0x00, 0xFF, 0xFF})
        stream.push_back(byte);
    return true;
}

// Filters and deflates one band; false when deflating fails. May throw
// bad_alloc.
bool DeflateBand(const QImage& rows, TPngBand& band, bool last, libdeflate_compressor* compressor,
                 TBytes& filtered)
{
    const std::size_t rowBytes = std::size_t(rows.width()) * 3 + 1;
    band.Length = rowBytes * std::size_t(band.EndRow - band.FirstRow);
    filtered.resize(band.Length);
    for (int y = band.FirstRow; y < band.EndRow; ++y)
        SubFilterRow(rows.constScanLine(y), rows.width(),
                     filtered.data() + rowBytes * std::size_t(y - band.FirstRow));
    band.Adler = libdeflate_adler32(1, filtered.data(), band.Length);
    // Room for the worst case and the empty stored block.
    band.Deflated.resize(libdeflate_deflate_compress_bound(compressor, band.Length) + 8);
    const std::size_t size = libdeflate_deflate_compress(
        compressor, filtered.data(), band.Length, band.Deflated.data(), band.Deflated.size());
    if (size == 0)
        return false;
    band.Deflated.resize(size);
    return last || MakeContinuable(band.Deflated);
}

bool PngEmit(TPngSink& sink, const void* data, std::size_t size)
{
    TPngSink* target = &sink;
    if (target->File)
        return target->File->TryWrite(data, qint64(size));
    try {
        target->Memory->append(static_cast<const char*>(data), qsizetype(size));
        return true;
    } catch (...) {
        return false;
    }
}

// Collects the stream into IDAT chunks and writes each whole chunk out.
class TIdatWriter
{
public:
    explicit TIdatWriter(TPngSink& sink) : FSink(sink)
    {
        FChunk.reserve(MaxIdatBytes + 12);
        Begin();
    }

    bool Add(const unsigned char* data, std::size_t size)
    {
        while (size > 0) {
            const std::size_t room = MaxIdatBytes - (FChunk.size() - 8);
            const std::size_t take = std::min(room, size);
            FChunk.insert(FChunk.end(), data, data + take);
            data += take;
            size -= take;
            if (FChunk.size() - 8 == MaxIdatBytes && !Flush())
                return false;
        }
        return true;
    }

    bool Finish() { return FChunk.size() == 8 || Flush(); }

private:
    void Begin() { FChunk.assign({0, 0, 0, 0, 'I', 'D', 'A', 'T'}); }

    bool Flush()
    {
        const std::size_t length = FChunk.size() - 8;
        qToBigEndian(quint32(length), FChunk.data());
        const uLong crc = crc32(crc32(0, nullptr, 0), FChunk.data() + 4, uInt(length + 4));
        unsigned char crcBytes[4];
        qToBigEndian(quint32(crc), crcBytes);
        FChunk.insert(FChunk.end(), crcBytes, crcBytes + 4);
        const bool ok = PngEmit(FSink, FChunk.data(), FChunk.size());
        Begin();
        return ok;
    }

    TPngSink& FSink;
    std::vector<unsigned char> FChunk;
};

bool PngChunk(TPngSink& sink, const char* type, const unsigned char* data, std::size_t size)
{
    unsigned char head[8];
    qToBigEndian(quint32(size), head);
    std::copy(type, type + 4, head + 4);
    uLong crc = crc32(crc32(0, nullptr, 0), head + 4, 4);
    // A null buffer would restart the checksum instead of adding nothing.
    if (size > 0)
        crc = crc32(crc, data, uInt(size));
    unsigned char tail[4];
    qToBigEndian(quint32(crc), tail);
    return PngEmit(sink, head, 8) && PngEmit(sink, data, size) && PngEmit(sink, tail, 4);
}

// The truecolour PNG of 32-bit `rows`; false with a message in `sink` when
// zlib fails or the sink refuses a write.
bool EncodeTruecolourPng(const QImage& rows, TPngSink& sink)
{
    const std::size_t rowBytes = std::size_t(rows.width()) * 3 + 1;
    // Bands sized so that two cores finish a 1080p screen together: every
    // band but the last is also inflated once, so the last one is given as
    // many more rows as that takes.
    const std::size_t bandCount = std::max<std::size_t>(
        1, (rowBytes * std::size_t(rows.height()) + BandBytes - 1) / BandBytes);
    constexpr double LastBandWeight = 1.25;
    const double rowsPerBand =
        bandCount == 1 ? rows.height() : rows.height() / (double(bandCount - 1) + LastBandWeight);
    std::vector<TPngBand> bands;
    for (std::size_t i = 0; i < bandCount; ++i) {
        const int first = int(double(i) * rowsPerBand);
        const int end = i + 1 == bandCount ? rows.height() : int(double(i + 1) * rowsPerBand);
        if (end > first)
            bands.push_back(TPngBand{first, end, {}, 1, 0});
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&]() noexcept {
        try {
            const TCompressor compressor(libdeflate_alloc_compressor(PngLevel));
            TBytes filtered;
            if (!compressor)
                failed = true;
            for (std::size_t i = next++; i < bands.size() && !failed; i = next++)
                if (!DeflateBand(rows, bands[i], i + 1 == bands.size(), compressor.get(), filtered))
                    failed = true;
        } catch (...) {
            failed = true;
        }
    };
    const std::size_t threadCount =
        std::min<std::size_t>({bands.size(), std::max(1u, std::thread::hardware_concurrency()), 8});
    std::vector<std::thread> helpers;
    try {
        for (std::size_t i = 1; i < threadCount; ++i)
            helpers.emplace_back(work);
    } catch (...) {
        // Fewer helpers only means a slower encoding.
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failed) {
        std::snprintf(sink.Message, sizeof sink.Message, "%s", "The PNG encoder failed.");
        return false;
    }

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char ihdr[13];
    qToBigEndian(quint32(rows.width()), ihdr);
    qToBigEndian(quint32(rows.height()), ihdr + 4);
    ihdr[8] = 8;  // bits per sample
    ihdr[9] = 2;  // truecolour
    ihdr[10] = 0; // deflate
    ihdr[11] = 0; // adaptive filtering
    ihdr[12] = 0; // not interlaced
    bool ok = PngEmit(sink, signature, sizeof signature) && PngChunk(sink, "IHDR", ihdr, 13);

    // The zlib header of a 32 KiB window at a level above the default.
    static const unsigned char zlibHeader[2] = {0x78, 0xDA};
    TIdatWriter idat(sink);
    ok = ok && idat.Add(zlibHeader, 2);
    uLong adler = adler32(0, nullptr, 0);
    for (TPngBand& band : bands) {
        ok = ok && idat.Add(band.Deflated.data(), band.Deflated.size());
        adler = adler32_combine(adler, band.Adler, z_off_t(band.Length));
        band.Deflated = {};
    }
    unsigned char adlerBytes[4];
    qToBigEndian(quint32(adler), adlerBytes);
    ok = ok && idat.Add(adlerBytes, 4) && idat.Finish() && PngChunk(sink, "IEND", nullptr, 0);
    if (!ok)
        std::snprintf(sink.Message, sizeof sink.Message, "%s", "write failed");
    return ok;
}

// ---------------------------------------------------------------------------
// JPEG

struct TJpegError
{
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<TJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->Message);
    std::longjmp(error->Jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}

struct TJpegSink
{
    jpeg_destination_mgr Pub;
    TOutputFile* File;
    JOCTET Buffer[65536];
};

void JpegInitDestination(j_compress_ptr cinfo)
{
    auto* sink = reinterpret_cast<TJpegSink*>(cinfo->dest);
    sink->Pub.next_output_byte = sink->Buffer;
    sink->Pub.free_in_buffer = sizeof sink->Buffer;
}

boolean JpegEmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* sink = reinterpret_cast<TJpegSink*>(cinfo->dest);
    if (!sink->File->TryWrite(sink->Buffer, sizeof sink->Buffer))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    JpegInitDestination(cinfo);
    return TRUE;
}

void JpegTermDestination(j_compress_ptr cinfo)
{
    auto* sink = reinterpret_cast<TJpegSink*>(cinfo->dest);
    const size_t size = sizeof sink->Buffer - sink->Pub.free_in_buffer;
    if (size > 0 && !sink->File->TryWrite(sink->Buffer, qint64(size)))
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Nothing here has a destructor, so libjpeg's error exit may longjmp out.
bool EncodeJpeg(const QImage& rows, int quality, TJpegSink& sink, TJpegError& error)
{
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = JpegErrorExit;
    error.Pub.output_message = JpegOutputMessage;
    if (setjmp(error.Jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    sink.Pub.init_destination = JpegInitDestination;
    sink.Pub.empty_output_buffer = JpegEmptyOutputBuffer;
    sink.Pub.term_destination = JpegTermDestination;
    cinfo.dest = &sink.Pub;
    cinfo.image_width = JDIMENSION(rows.width());
    cinfo.image_height = JDIMENSION(rows.height());
    // The 32-bit rows go in as they are; the library drops the fourth byte.
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// ---------------------------------------------------------------------------
// GIF

int GifWrite(GifFileType* gif, const GifByteType* data, int length)
{
    auto* file = static_cast<TOutputFile*>(gif->UserData);
    return file->TryWrite(data, length) ? length : 0;
}

struct TGifClose
{
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};

struct TGifMapFree
{
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

void GifCheck(int result, GifFileType* gif, const TOutputFile& file, const QString& fileName)
{
    if (result != GIF_ERROR)
        return;
    if (file.Failed())
        throw ESaveError(file.WriteFailure());
    throw ESaveError(QStringLiteral("Cannot write file \"%1\". %2")
                         .arg(fileName, QString::fromUtf8(GifErrorString(gif->Error))));
}

// ---------------------------------------------------------------------------
// BMP

void PutLE16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void PutLE32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// ---------------------------------------------------------------------------
// WebP

using TWebPEncodeBGRA = size_t (*)(const uint8_t*, int, int, int, float, uint8_t**);
using TWebPEncodeLosslessBGRA = size_t (*)(const uint8_t*, int, int, int, uint8_t**);
using TWebPFree = void (*)(void*);

struct TDlClose
{
    void operator()(void* handle) const { dlclose(handle); }
};

struct TWebPLibrary
{
    std::unique_ptr<void, TDlClose> Handle;
    TWebPEncodeBGRA EncodeBGRA = nullptr;
    TWebPEncodeLosslessBGRA EncodeLosslessBGRA = nullptr;
    TWebPFree Free = nullptr;
};

std::optional<TWebPLibrary> OpenWebPLibrary(const QStringList& candidates)
{
    for (const QString& candidate : candidates) {
        TWebPLibrary library;
        library.Handle.reset(
            dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL));
        if (!library.Handle)
            continue;
        library.EncodeBGRA =
            reinterpret_cast<TWebPEncodeBGRA>(dlsym(library.Handle.get(), "WebPEncodeBGRA"));
        library.EncodeLosslessBGRA = reinterpret_cast<TWebPEncodeLosslessBGRA>(
            dlsym(library.Handle.get(), "WebPEncodeLosslessBGRA"));
        library.Free = reinterpret_cast<TWebPFree>(dlsym(library.Handle.get(), "WebPFree"));
        if (library.EncodeBGRA && library.EncodeLosslessBGRA && library.Free)
            return library;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Clipboard

void ShowClipboardBlocked()
{
    // The application title as the main window shows it, in the current language.
    ShowMessageBox(Translate(QGuiApplication::applicationDisplayName()),
                   Translate(QStringLiteral("클립보드 사용을 방지하는 프로그램이 실행중입니다.")),
                   TBoxIcon::Information);
}

// Hands `data` to the clipboard and confirms it took. Qt's X11 clipboard does
// not report a selection it failed to take; it only hands its own data back
// while it owns the selection.
void SetClipboard(QMimeData* data)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    if (clipboard->mimeData(QClipboard::Clipboard) != data)
        throw std::runtime_error("the clipboard is held by another program");
}

template <typename TFill> void ToClipboard(TFill fill) noexcept
{
    try {
        auto data = std::make_unique<QMimeData>();
        fill(*data);
        SetClipboard(data.release());
    } catch (...) {
        // The capture itself has succeeded; a clipboard that cannot be taken
        // is told to the user here and goes no further.
        try {
            ShowClipboardBlocked();
        } catch (...) {
        }
    }
}

} // namespace

namespace {

// The PNG of `bitmap` into `sink`: indexed for pictures of fewer than 16
// bits, truecolour otherwise.
bool EncodePicturePng(const QImage& bitmap, TPngSink& sink)
{
    const std::optional<TPaletted> paletted = Paletted(bitmap);
    const QImage rows = paletted ? paletted->Image : Rows32(bitmap);
    std::vector<png_color> palette;
    if (paletted) {
        for (QRgb colour : paletted->Palette)
            palette.push_back(png_color{png_byte(qRed(colour)), png_byte(qGreen(colour)),
                                        png_byte(qBlue(colour))});
    }
    if (!paletted)
        return EncodeTruecolourPng(rows, sink);
    return EncodePng(rows, palette.data(), int(palette.size()), paletted->BitDepth, sink);
}

} // namespace

void BitmapToPNGFile(const QImage& bitmap, const QString& fileName)
{
    RequirePicture(bitmap, fileName);
    TOutputFile file(fileName);
    TPngSink sink{&file, {}};
    const bool encoded = EncodePicturePng(bitmap, sink);
    if (file.Failed())
        throw ESaveError(file.WriteFailure());
    if (!encoded)
        throw ESaveError(QStringLiteral("Cannot write file \"%1\". %2")
                             .arg(fileName, QString::fromUtf8(sink.Message)));
    file.Commit();
}

QByteArray BitmapToPNGBytes(const QImage& bitmap)
{
    if (bitmap.isNull())
        throw ESaveError(QStringLiteral("Cannot encode the picture as PNG. The picture is empty."));
    QByteArray bytes;
    TPngSink sink{nullptr, {}, &bytes};
    if (!EncodePicturePng(bitmap, sink))
        throw ESaveError(QStringLiteral("Cannot encode the picture as PNG. %1")
                             .arg(QString::fromUtf8(sink.Message)));
    return bytes;
}

void BitmapToJPGFile(const QImage& bitmap, const QString& fileName, std::uint8_t quality)
{
    RequirePicture(bitmap, fileName);
    const QImage rows = Rows32(bitmap);
    TOutputFile file(fileName);
    auto sink = std::make_unique<TJpegSink>();
    sink->File = &file;
    TJpegError error{};
    const bool encoded = EncodeJpeg(rows, std::clamp(int(quality), 1, 100), *sink, error);
    if (file.Failed())
        throw ESaveError(file.WriteFailure());
    if (!encoded)
        throw ESaveError(QStringLiteral("Cannot write file \"%1\". %2")
                             .arg(fileName, QString::fromLocal8Bit(error.Message)));
    file.Commit();
}

void BitmapToGIFFile(const QImage& bitmap, const QString& fileName)
{
    RequirePicture(bitmap, fileName);
    if (bitmap.width() > 65535 || bitmap.height() > 65535)
        throw ESaveError(
            QStringLiteral("Cannot write file \"%1\". The picture is too large for GIF.")
                .arg(fileName));
    std::optional<TPaletted> paletted = Paletted(bitmap);
    if (!paletted) {
        const QImage indexed = QuantizeOctree(bitmap, 256);
        if (indexed.isNull())
            throw std::bad_alloc();
        paletted = TPaletted{indexed, indexed.colorTable(), 8};
    }

    // A GIF colour table has a power-of-two size of at least 2.
    int bits = 1;
    while ((1 << bits) < paletted->Palette.size())
        ++bits;
    std::vector<GifColorType> colours(size_t(1) << bits, GifColorType{0, 0, 0});
    for (int i = 0; i < paletted->Palette.size(); ++i) {
        const QRgb c = paletted->Palette[i];
        colours[size_t(i)] =
            GifColorType{GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
    }
    const std::unique_ptr<ColorMapObject, TGifMapFree> map(
        GifMakeMapObject(int(colours.size()), colours.data()));
    if (!map)
        throw std::bad_alloc();

    TOutputFile file(fileName);
    int error = 0;
    std::unique_ptr<GifFileType, TGifClose> gif(EGifOpen(&file, GifWrite, &error));
    if (!gif)
        throw ESaveError(QStringLiteral("Cannot write file \"%1\". %2")
                             .arg(fileName, QString::fromUtf8(GifErrorString(error))));
    const int width = paletted->Image.width(), height = paletted->Image.height();
    GifCheck(EGifPutScreenDesc(gif.get(), width, height, bits, 0, map.get()), gif.get(), file,
             fileName);
    GifCheck(EGifPutImageDesc(gif.get(), 0, 0, width, height, false, nullptr), gif.get(), file,
             fileName);
    std::vector<GifPixelType> line(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const uchar* row = paletted->Image.constScanLine(y);
        GifPixelType* pixels = const_cast<GifPixelType*>(row);
        if (paletted->BitDepth == 1) {
            for (int x = 0; x < width; ++x)
                line[size_t(x)] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            pixels = line.data();
        }
        GifCheck(EGifPutLine(gif.get(), pixels, width), gif.get(), file, fileName);
    }
    // Closing writes the trailer; giflib does not check that write, the file does.
    const int closed = EGifCloseFile(gif.release(), &error);
    if (file.Failed())
        throw ESaveError(file.WriteFailure());
    if (closed == GIF_ERROR)
        throw ESaveError(QStringLiteral("Cannot write file \"%1\". %2")
                             .arg(fileName, QString::fromUtf8(GifErrorString(error))));
    file.Commit();
}

void BitmapToBMPFile(const QImage& bitmap, const QString& fileName)
{
    RequirePicture(bitmap, fileName);
    enum class TLayout
    {
        Paletted,
        Rgb555,
        Rgb565,
        Bgr24,
        Bgrx32
    };
    TLayout layout;
    QImage rows;
    QList<QRgb> palette;
    int bitCount;
    const std::optional<TPaletted> paletted = Paletted(bitmap);
    if (paletted) {
        layout = TLayout::Paletted;
        rows = paletted->Image;
        palette = paletted->Palette;
        bitCount = paletted->BitDepth;
    } else if (bitmap.format() == QImage::Format_RGB555) {
        layout = TLayout::Rgb555;
        rows = bitmap;
        bitCount = 16;
    } else if (bitmap.format() == QImage::Format_RGB16) {
        layout = TLayout::Rgb565;
        rows = bitmap;
        bitCount = 16;
    } else if (bitmap.format() == QImage::Format_RGB888 ||
               bitmap.format() == QImage::Format_BGR888) {
        layout = TLayout::Bgr24;
        rows = bitmap.convertToFormat(QImage::Format_BGR888);
        bitCount = 24;
    } else {
        layout = TLayout::Bgrx32;
        rows = Opaque32(bitmap);
        bitCount = 32;
    }

    const int width = rows.width(), height = rows.height();
    const qint64 stride = ((qint64(width) * bitCount + 31) / 32) * 4;
    const qint64 imageSize = stride * height;
    const bool masks = layout == TLayout::Rgb565;
    const quint32 headersSize = 14 + 40 + (masks ? 12 : 0) + quint32(palette.size()) * 4;
    if (imageSize + headersSize > 0xFFFFFFFFLL)
        throw ESaveError(
            QStringLiteral("Cannot write file \"%1\". The picture is too large for BMP.")
                .arg(fileName));

    QByteArray header;
    header.append("BM", 2);
    PutLE32(header, quint32(headersSize + imageSize));
    PutLE32(header, 0); // two reserved words
    PutLE32(header, headersSize);
    PutLE32(header, 40);
    PutLE32(header, quint32(width));
    PutLE32(header, quint32(height)); // positive: rows bottom up
    PutLE16(header, 1);
    PutLE16(header, quint16(bitCount));
    PutLE32(header, masks ? 3 : 0); // BI_BITFIELDS or BI_RGB
    PutLE32(header, quint32(imageSize));
    PutLE32(header, 0); // no resolution, as for a screen bitmap
    PutLE32(header, 0);
    PutLE32(header, quint32(palette.size()));
    PutLE32(header, 0);
    if (masks) {
        PutLE32(header, 0xF800);
        PutLE32(header, 0x07E0);
        PutLE32(header, 0x001F);
    }
    for (QRgb colour : palette) {
        header.append(char(qBlue(colour)));
        header.append(char(qGreen(colour)));
        header.append(char(qRed(colour)));
        header.append('\0');
    }

    TOutputFile file(fileName);
    file.Write(header.constData(), header.size());
    const qint64 rowBytes = (qint64(width) * bitCount + 7) / 8;
    std::vector<char> padding(size_t(stride - rowBytes), 0);
    for (int y = height - 1; y >= 0; --y) {
        file.Write(rows.constScanLine(y), rowBytes);
        if (!padding.empty())
            file.Write(padding.data(), qint64(padding.size()));
    }
    file.Commit();
}

QStringList WebPLibraryCandidates()
{
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/libwebp.so.7"),
            QStringLiteral("libwebp.so.7")};
}

bool WebPLibraryAvailable(const QStringList& candidates)
{
    return OpenWebPLibrary(candidates).has_value();
}

bool BitmapToWebPFile(const QImage& bitmap, const QString& fileName, int quality)
{
    return BitmapToWebPFile(bitmap, fileName, quality, WebPLibraryCandidates());
}

bool BitmapToWebPFile(const QImage& bitmap, const QString& fileName, int quality,
                      const QStringList& libraryCandidates)
{
    // A missing library is not a failure: the destination selector checks for
    // it and tells the user before WebP can be chosen.
    const std::optional<TWebPLibrary> library = OpenWebPLibrary(libraryCandidates);
    if (!library)
        return false;
    RequirePicture(bitmap, fileName);

    const QImage pixels = Opaque32(bitmap);
    uint8_t* output = nullptr;
    size_t size;
    if (quality >= 100)
        size = library->EncodeLosslessBGRA(pixels.constBits(), pixels.width(), pixels.height(),
                                           int(pixels.bytesPerLine()), &output);
    else
        size =
            library->EncodeBGRA(pixels.constBits(), pixels.width(), pixels.height(),
                                int(pixels.bytesPerLine()), float(std::max(quality, 0)), &output);
    const std::unique_ptr<uint8_t, TWebPFree> buffer(output, library->Free);
    if (size == 0 || output == nullptr)
        throw ESaveError(
            QStringLiteral("Cannot write file \"%1\". The WebP encoder failed.").arg(fileName));

    TOutputFile file(fileName);
    file.Write(output, qint64(size));
    file.Commit();
    return true;
}

void BitmapToClipboard(const QImage& bitmap)
{
    ToClipboard([&](QMimeData& data) {
        // Offered without alpha: the fourth byte of a capture is not transparency.
        data.setImageData(bitmap.hasAlphaChannel() ? bitmap.convertToFormat(QImage::Format_RGB32)
                                                   : bitmap);
    });
}

void TextToClipboard(const QString& text)
{
    ToClipboard([&](QMimeData& data) {
        data.setText(text);
        // Qt offers UTF8_STRING and text/plain; programs that ask for the
        // explicit charset get the same bytes.
        data.setData(QStringLiteral("text/plain;charset=utf-8"), text.toUtf8());
    });
}

QRect PrintTargetRect(QSize bitmapSize, int printerDpiX, int printerDpiY, int pixelsPerInch)
{
    if (pixelsPerInch <= 0)
        pixelsPerInch = 96;
    const int factorX = std::max(1, printerDpiX / pixelsPerInch);
    const int factorY = std::max(1, printerDpiY / pixelsPerInch);
    return QRect(0, 0, bitmapSize.width() * factorX, bitmapSize.height() * factorY);
}

void BitmapToPrinter(const QImage& bitmap, int pixelsPerInch)
{
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    if (defaultPrinter.isNull())
        throw EPrintError("There is no default printer currently selected");
    QPrinter printer(defaultPrinter, QPrinter::HighResolution);
    // The painter ends the document on every way out, a failure included.
    QPainter painter;
    if (!painter.begin(&printer))
        throw EPrintError("Printer is not currently printing");
    painter.drawImage(
        PrintTargetRect(bitmap.size(), printer.logicalDpiX(), printer.logicalDpiY(), pixelsPerInch),
        bitmap);
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        throw EPrintError("Printer is not currently printing");
}
