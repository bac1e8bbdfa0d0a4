#include "output/ocr/Engine.h"

#include <QStringList>
#include <QtDebug>
#include <cmath>
#include <memory>
#include <numbers>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>
#include <utility>

namespace RtOcr {

namespace {

QString TakeText(char* text)
{
    const std::unique_ptr<char[]> owned(text);
    return owned ? QString::fromUtf8(owned.get()).trimmed() : QString();
}

bool EngineCancel(void* cancel, int /*words*/)
{
    return static_cast<const std::atomic<bool>*>(cancel)->load();
}

void CollectResult(tesseract::TessBaseAPI& api, TResult& result)
{
    using tesseract::RIL_TEXTLINE;
    using tesseract::RIL_WORD;
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return;

    tesseract::Orientation orientation = tesseract::ORIENTATION_PAGE_UP;
    tesseract::WritingDirection direction = tesseract::WRITING_DIRECTION_LEFT_TO_RIGHT;
    tesseract::TextlineOrder order = tesseract::TEXTLINE_ORDER_TOP_TO_BOTTOM;
    float deskewRadians = 0;
    it->Orientation(&orientation, &direction, &order, &deskewRadians);
    // The orientation says where the text's top points (a quarter turn
    // clockwise per step); the deskew is the anticlockwise turn that levels
    // the text, which is the text's own clockwise slant.
    result.TextAngle = 90.0 * int(orientation) + deskewRadians * 180.0 / std::numbers::pi;
    if (result.TextAngle > 180.0)
        result.TextAngle -= 360.0;

    TLine line;
    const auto flushLine = [&] {
        if (!line.Words.isEmpty())
            result.Lines.append(std::move(line));
        line = TLine();
    };
    do {
        if (it->Empty(RIL_WORD))
            continue;
        if (it->IsAtBeginningOf(RIL_TEXTLINE)) {
            flushLine();
            line.Text = TakeText(it->GetUTF8Text(RIL_TEXTLINE));
        }
        TWord word;
        word.Text = TakeText(it->GetUTF8Text(RIL_WORD));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (word.Text.isEmpty() || !it->BoundingBox(RIL_WORD, &left, &top, &right, &bottom))
            continue;
        word.Rect = {float(left), float(top), float(right - left), float(bottom - top)};
        line.Words.append(std::move(word));
    } while (it->Next(RIL_WORD));
    flushLine();

    QStringList texts;
    for (const TLine& each : std::as_const(result.Lines))
        texts.append(each.Text);
    result.Text = texts.join(QLatin1Char('\n'));
}

class TTessEngine final : public TOcrEngine
{
public:
    bool Load(const std::string& dataPath, const std::string& language) override
    {
        // The engine's parallel loops spin their threads between steps; with
        // more threads than free cores that made recognition several times
        // slower and starved the user-interface thread. One thread is the
        // engine's maintainers' advice too; the setting belongs to the
        // calling thread, so it is made again for each call.
        omp_set_max_active_levels(0);
        FApi.End();
        // The neural recogniser is the better one; data made for the older
        // recogniser alone still loads with whatever it holds.
        if (FApi.Init(dataPath.c_str(), language.c_str(), tesseract::OEM_LSTM_ONLY) != 0 &&
            FApi.Init(dataPath.c_str(), language.c_str(), tesseract::OEM_DEFAULT) != 0)
            return false;
        // Its progress notes ("Empty page!!", "Detected 9 diacritics") are
        // not the user's business; load failures above still reach stderr.
        FApi.SetVariable("debug_file", "/dev/null");
        return true;
    }

    TResult Recognize(const QImage& pixels, int resolution, bool singleColumn,
                      const std::atomic<bool>& cancel) noexcept override
    {
        TResult result;
        result.Status = stError;
        try {
            omp_set_max_active_levels(0);
            // The page layout analysis reads columns and paragraphs in order,
            // but takes lines of Hangul for pictures: it dropped short lines
            // whole and misread a tenth of a full screen of Korean, which the
            // same engine reads almost without fault as one column of lines.
            const auto layout = singleColumn ? tesseract::PSM_SINGLE_COLUMN : tesseract::PSM_AUTO;
            for (const auto mode : {layout, tesseract::PSM_SPARSE_TEXT}) {
                // The page layout cannot be interrupted: a cancel that came
                // while the model loaded must not wait for it.
                if (cancel) {
                    result.Status = stCanceled;
                    break;
                }
                FApi.SetPageSegMode(mode);
                FApi.SetImage(pixels.constBits(), pixels.width(), pixels.height(), 4,
                              int(pixels.bytesPerLine()));
                FApi.SetSourceResolution(resolution);
                tesseract::ETEXT_DESC monitor;
                monitor.cancel = &EngineCancel;
                monitor.cancel_this = const_cast<std::atomic<bool>*>(&cancel);
                const int failed = FApi.Recognize(&monitor);
                result = TResult();
                result.Status = stError;
                if (cancel) {
                    result.Status = stCanceled;
                } else if (failed == 0) {
                    result.Status = stCompleted;
                    CollectResult(FApi, result);
                }
                FApi.Clear();
                if (result.Status != stCompleted || !result.Lines.isEmpty())
                    break;
            }
        } catch (const std::exception& e) {
            qWarning("Text recognition failed: %s", e.what());
            result = TResult();
            result.Status = stError;
        } catch (...) {
            result = TResult();
            result.Status = stError;
        }
        return result;
    }

    TTextBlocks Layout(const QImage& pixels, int resolution, bool singleColumn) noexcept override
    {
        using tesseract::RIL_BLOCK;
        using tesseract::RIL_TEXTLINE;
        TTextBlocks blocks;
        try {
            omp_set_max_active_levels(0);
            FApi.SetPageSegMode(singleColumn ? tesseract::PSM_SINGLE_COLUMN : tesseract::PSM_AUTO);
            FApi.SetImage(pixels.constBits(), pixels.width(), pixels.height(), 4,
                          int(pixels.bytesPerLine()));
            FApi.SetSourceResolution(resolution);
            const std::unique_ptr<tesseract::PageIterator> it(FApi.AnalyseLayout());
            if (it) {
                const auto box = [&](tesseract::PageIteratorLevel level) {
                    int left = 0, top = 0, right = 0, bottom = 0;
                    return it->BoundingBox(level, &left, &top, &right, &bottom)
                               ? QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))
                               : QRect();
                };
                do {
                    if (it->IsAtBeginningOf(RIL_BLOCK)) {
                        if (!PTIsTextType(it->BlockType()))
                            continue;
                        blocks.append({box(RIL_BLOCK), {}});
                    }
                    const QRect line = box(RIL_TEXTLINE);
                    if (!blocks.isEmpty() && PTIsTextType(it->BlockType()) && !line.isEmpty())
                        blocks.last().Lines.append(line);
                } while (it->Next(RIL_TEXTLINE));
            }
        } catch (...) {
            blocks.clear();
        }
        FApi.Clear();
        return blocks;
    }

private:
    tesseract::TessBaseAPI FApi;
};

} // namespace

} // namespace RtOcr

extern "C" Q_DECL_EXPORT RtOcr::TOcrEngine* VorantuCreateOcrEngine()
{
    // No exception may leave through the C entry.
    try {
        return new RtOcr::TTessEngine();
    } catch (...) {
        return nullptr;
    }
}
