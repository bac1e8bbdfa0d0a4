#pragma once

#include "output/ocr/RtOcr.h"

#include <QImage>
#include <QList>
#include <QRect>
#include <atomic>
#include <string>

// The recognition engine and its libraries (Tesseract, Leptonica, OpenMP)
// hold several megabytes of memory from the moment they are mapped, so the
// program never links them: they sit in the plugin vorantu-ocr beside the
// program, loaded by TRtOcr the first time text is recognised. This is the
// plugin's whole surface. An engine is used by one thread at a time.
namespace RtOcr {

// A block of text the page layout found, with the boxes of its lines.
struct TTextBlock
{
    QRect Box;
    QList<QRect> Lines;
};
// Blocks in the order the page layout reads them.
using TTextBlocks = QList<TTextBlock>;

class TOcrEngine
{
public:
    virtual ~TOcrEngine() = default;

    // Loads the model of `language` (a trained-data base name) from
    // `dataPath`, replacing any model loaded before; false when it cannot.
    virtual bool Load(const std::string& dataPath, const std::string& language) = 0;

    // Recognises `pixels` (Format_RGBX8888) stated at `resolution` pixels
    // per inch, reading it as one column of lines when `singleColumn`, else
    // through the page layout; when that finds nothing, the sparse-text
    // analysis gets a second try. Stops between words once `cancel` is set.
    // Never throws.
    virtual TResult Recognize(const QImage& pixels, int resolution, bool singleColumn,
                              const std::atomic<bool>& cancel) noexcept = 0;

    // The page layout of `pixels` alone, without recognising a word: what
    // Recognize (with the same `singleColumn`) finds its text there, in this
    // order. Empty when it finds no text or fails. Never throws.
    virtual TTextBlocks Layout(const QImage& pixels, int resolution,
                               bool singleColumn) noexcept = 0;
};

} // namespace RtOcr

// The plugin's one exported entry; the caller owns the engine.
extern "C" {
using TCreateOcrEngine = RtOcr::TOcrEngine* (*)();
RtOcr::TOcrEngine* VorantuCreateOcrEngine();
}
