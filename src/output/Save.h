#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <stdexcept>

// The writers that take a captured picture out of the program: image files,
// the clipboard and the printer. They keep no state and never keep or change
// the picture they are given.
//
// A picture is any QImage. Pictures of 16 or more bits per pixel are written
// as truecolour; the fourth byte of 32-bit pictures is never transparency,
// every writer treats the picture as fully opaque. Pictures of fewer than 16
// bits (Format_Mono, Format_MonoLSB, Format_Indexed8, Format_Grayscale8) are
// written with their own palette where the format allows it.
//
// All functions are for the user-interface thread.

// A file writer could not create or write its file, or the encoder failed.
// The message names the file and carries the system's own reason.
class ESaveError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    // The message as UTF-8.
    explicit ESaveError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The picture could not be printed.
class EPrintError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The file writers create or overwrite `fileName` without asking. They write
// a temporary file beside it and rename it into place only when it is
// complete, so a failure (a missing or read-only folder, a full disk) leaves
// an existing file as it was and never a truncated one. An existing target
// that is not a regular file (a device, a pipe) is written directly. They
// raise ESaveError on failure and for an empty picture.

// Truecolour (colour type 2, 8 bits) or indexed (colour type 3) PNG: IHDR,
// PLTE for indexed pictures only, IDAT chunks of at most 65,535 bytes, IEND;
// every row filtered with Sub, deflate level 7.
void BitmapToPNGFile(const QImage& bitmap, const QString& fileName);
// The same PNG bytes in memory (for uploads: no file, so a full disk or a
// read-only temporary folder cannot stop them).
QByteArray BitmapToPNGBytes(const QImage& bitmap);

// Baseline JFIF, 4:2:0, the library's quality scaling with baseline tables;
// `quality` 0 counts as 1, above 100 as 100.
void BitmapToJPGFile(const QImage& bitmap, const QString& fileName, std::uint8_t quality);

// One LZW image, no extension blocks. Truecolour pictures are reduced to at
// most 256 colours (octree palette, Floyd-Steinberg dithering); pictures of
// fewer than 16 bits keep their palette.
void BitmapToGIFFile(const QImage& bitmap, const QString& fileName);

// Windows BMP: 14-byte file header, 40-byte info header, colour table only
// for 8 bits or fewer, rows bottom up, each padded to 4 bytes.
void BitmapToBMPFile(const QImage& bitmap, const QString& fileName);

// The places the WebP library is looked for, in order: libwebp.so.7 beside
// the program, then the system's.
QStringList WebPLibraryCandidates();

// True when one of `candidates` loads and has the three entry points the
// writer needs (what the destination selector checks before offering WebP).
bool WebPLibraryAvailable(const QStringList& candidates = WebPLibraryCandidates());

// WebP through the library opened at run time from the first of `candidates`
// that loads and has the three entry points; closed again before returning.
// Lossless at `quality` 100 or more, lossy with `quality` as the factor below.
// Returns false, writing nothing and raising nothing, when no usable library
// is found; raises ESaveError when the file cannot be written or the encoder
// produces nothing.
bool BitmapToWebPFile(const QImage& bitmap, const QString& fileName, int quality);
bool BitmapToWebPFile(const QImage& bitmap, const QString& fileName, int quality,
                      const QStringList& libraryCandidates);

// Replace the clipboard contents. The image is offered as PNG and the other
// image types Qt offers; the text as UTF-8 text. When the clipboard cannot be
// taken (another program holds the selection) or anything else fails, an
// information box says so and the caller carries on: nothing is raised.
void BitmapToClipboard(const QImage& bitmap);
void TextToClipboard(const QString& text);

// Prints one page on the system's default printer, at once and without a
// dialog. The picture is enlarged by whole-number factors (printer dots per
// inch divided by `pixelsPerInch`) and placed at the top-left corner of the
// printable area; whatever falls outside it is cut off. Raises EPrintError
// "There is no default printer currently selected" when there is none and
// "Printer is not currently printing" when the job cannot be started or
// finished.
void BitmapToPrinter(const QImage& bitmap, int pixelsPerInch);

// The rectangle, in printer dots, that a `bitmapSize` picture covers on a
// printer of `printerDpiX` x `printerDpiY` for a screen of `pixelsPerInch`.
// A factor below 1 (a printer coarser than the screen) counts as 1, so the
// picture is never dropped from the page.
QRect PrintTargetRect(QSize bitmapSize, int printerDpiX, int printerDpiY, int pixelsPerInch);
