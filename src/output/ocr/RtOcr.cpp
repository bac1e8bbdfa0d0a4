#include "output/ocr/RtOcr.h"

#include "output/ocr/Languages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRect>
#include <QtDebug>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>
#include <utility>

namespace RtOcr {

namespace {

// The engine believes a stated resolution only within these bounds and
// otherwise guesses one, with a warning on the standard error.
constexpr int MinCredibleResolution = 70;
constexpr int MaxCredibleResolution = 2400;

struct TTrainedData
{
    QString BaseName;
    TLanguage Language;
};

// Base names that are not languages: page orientation and equation data.
bool IsLanguageData(const QString& baseName)
{
    return baseName != QLatin1String("osd") && baseName != QLatin1String("equ");
}

QList<TTrainedData> InstalledTrainedData(const QString& folder)
{
    QList<TTrainedData> found;
    const QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.traineddata")},
                                                  QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& file : files) {
        const QString baseName = file.completeBaseName();
        if (!baseName.isEmpty() && IsLanguageData(baseName))
            found.append({baseName, LanguageOfTrainedData(baseName)});
    }
    std::stable_sort(found.begin(), found.end(), [](const TTrainedData& a, const TTrainedData& b) {
        return a.Language.DisplayName < b.Language.DisplayName;
    });
    return found;
}

// The resolution the picture states, which the main window multiplies when
// it enlarges a capture; the engine sizes its noise and line thresholds by it.
int PictureResolution(const QImage& picture)
{
    const int ppi = int(std::lround(picture.dotsPerMeterX() * 0.0254));
    return std::clamp(ppi, MinCredibleResolution, MaxCredibleResolution);
}

QString TakeText(char* text)
{
    const std::unique_ptr<char[]> owned(text);
    return owned ? QString::fromUtf8(owned.get()).trimmed() : QString();
}

} // namespace

struct TRtOcr::TEngine
{
    tesseract::TessBaseAPI Api;
    std::string DataPath;
    std::string Language;
    bool Loaded = false;
};

struct TRtOcr::TJob
{
    // A shared copy of the picture: the component's thread may replace its
    // own at any time without disturbing the worker.
    QImage Picture;
    QRect Rect;
    int Resolution = 0;
    std::string DataPath;
    std::string Language;
    // Read as one column of lines instead of through the page layout.
    bool SingleColumn = false;
    void* CustomData = nullptr;
    TCompletionProc Completion;
    // Set by the component's thread, read by the engine between words.
    std::atomic<bool> CancelRequested{false};
};

namespace {

bool EngineCancel(void* job, int /*words*/)
{
    return static_cast<const std::atomic<bool>*>(job)->load();
}

bool LoadModel(tesseract::TessBaseAPI& api, const std::string& dataPath,
               const std::string& language)
{
    // The neural recogniser is the better one; data made for the older
    // recogniser alone still loads with whatever it holds.
    return api.Init(dataPath.c_str(), language.c_str(), tesseract::OEM_LSTM_ONLY) == 0 ||
           api.Init(dataPath.c_str(), language.c_str(), tesseract::OEM_DEFAULT) == 0;
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

} // namespace

TRtOcr::TRtOcr(QObject* owner) : QObject(owner) {}

TRtOcr::~TRtOcr()
{
    Close();
    if (FWorker.joinable())
        FWorker.join();
}

void TRtOcr::SetPicture(const QImage& picture)
{
    FPicture = picture;
}

TLanguages TRtOcr::AvailableLanguages()
{
    TLanguages languages;
    for (const TTrainedData& data : InstalledTrainedData(TessdataFolder()))
        languages.append(data.Language);
    return languages;
}

int TRtOcr::MaxImageDimension()
{
    // The engine keeps page coordinates in 16 bits and refuses larger pages.
    return std::numeric_limits<std::int16_t>::max();
}

QString TRtOcr::TessdataFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!fromEnvironment.isEmpty() && QFileInfo(fromEnvironment).isDir())
        return fromEnvironment;
    return QStringLiteral(VORANTU_TESSDATA_DIR);
}

void TRtOcr::Recognize(const TLanguage& language, void* customData, int left, int top, int right,
                       int bottom)
{
    Start(language, customData, TCompletionProc(), left, top, right, bottom);
}

void TRtOcr::Recognize(const TLanguage& language, TCompletionProc completion, int left, int top,
                       int right, int bottom)
{
    Start(language, nullptr, std::move(completion), left, top, right, bottom);
}

void TRtOcr::Start(const TLanguage& language, void* customData, TCompletionProc completion,
                   int left, int top, int right, int bottom)
{
    if (FJob)
        throw ERtOcrError("Recognition already started");

    const QString dataPath = TessdataFolder();
    const QList<TTrainedData> installed = InstalledTrainedData(dataPath);
    const auto data = std::find_if(installed.begin(), installed.end(),
                                   [&](const TTrainedData& d) { return d.Language == language; });
    if (data == installed.end())
        throw ERtOcrError("Language not available");

    if (left == 0 && top == 0 && right == 0 && bottom == 0) {
        right = FPicture.width();
        bottom = FPicture.height();
    }
    if (left < 0)
        throw ERtOcrError("Incorrect Left value");
    if (top < 0)
        throw ERtOcrError("Incorrect Top value");
    if (right < 1 || right > FPicture.width() || right <= left)
        throw ERtOcrError("Incorrect Right value");
    if (bottom < 1 || bottom > FPicture.height() || bottom <= top)
        throw ERtOcrError("Incorrect Bottom value");
    if (right - left > MaxImageDimension() || bottom - top > MaxImageDimension())
        throw ERtOcrError("Image too large");

    // The previous worker has posted its completion and is ending, if not gone.
    if (FWorker.joinable())
        FWorker.join();
    if (!FEngine)
        FEngine = std::make_unique<TEngine>();

    auto job = std::make_shared<TJob>();
    job->Picture = FPicture;
    job->Rect = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    job->Resolution = PictureResolution(FPicture);
    job->DataPath = QFile::encodeName(dataPath).toStdString();
    job->Language = data->BaseName.toStdString();
    job->SingleColumn = language.Script == QLatin1String("Kore");
    job->CustomData = customData;
    job->Completion = std::move(completion);

    FWorker = std::thread([this, job, engine = FEngine.get()] {
        TResult result = Run(*job, *engine);
        QMetaObject::invokeMethod(
            this, [this, job, result = std::move(result)] { Complete(job, result); },
            Qt::QueuedConnection);
    });
    FJob = std::move(job);
}

TResult TRtOcr::Run(TJob& job, TEngine& engine) noexcept
{
    TResult result;
    result.Status = stError;
    try {
        // The engine's parallel loops spin their threads between steps; with
        // more threads than free cores that made recognition several times
        // slower and starved the user-interface thread. One thread is the
        // engine's maintainers' advice too; the setting belongs to this thread.
        omp_set_max_active_levels(0);
        tesseract::TessBaseAPI& api = engine.Api;
        if (!engine.Loaded || engine.DataPath != job.DataPath || engine.Language != job.Language) {
            engine.Loaded = false;
            api.End();
            if (!LoadModel(api, job.DataPath, job.Language))
                return result;
            // Its progress notes ("Empty page!!", "Detected 9 diacritics") are
            // not the user's business; load failures above still reach stderr.
            api.SetVariable("debug_file", "/dev/null");
            engine.Loaded = true;
            engine.DataPath = job.DataPath;
            engine.Language = job.Language;
        }
        if (job.CancelRequested) {
            result.Status = stCanceled;
            return result;
        }

        // The engine reads four-byte pixels as red, green, blue, alpha. Each
        // copy of an enlarged screen is tens of megabytes: cut out the
        // rectangle only when it is not the whole picture.
        const QImage source =
            job.Rect == job.Picture.rect() ? job.Picture : job.Picture.copy(job.Rect);
        const QImage pixels = source.convertToFormat(QImage::Format_RGBX8888);
        job.Picture = QImage();
        if (pixels.isNull())
            return result;

        // The page layout analysis reads columns and paragraphs in order, but
        // takes lines of Hangul for pictures: it dropped short lines whole and
        // misread a tenth of a full screen of Korean, which the same engine
        // reads almost without fault as one column of lines. When a pass
        // finds nothing, the sparse-text analysis, which looks for text
        // anywhere, gets a second try.
        const auto layout = job.SingleColumn ? tesseract::PSM_SINGLE_COLUMN : tesseract::PSM_AUTO;
        for (const auto mode : {layout, tesseract::PSM_SPARSE_TEXT}) {
            api.SetPageSegMode(mode);
            api.SetImage(pixels.constBits(), pixels.width(), pixels.height(), 4,
                         int(pixels.bytesPerLine()));
            api.SetSourceResolution(job.Resolution);
            tesseract::ETEXT_DESC monitor;
            monitor.cancel = &EngineCancel;
            monitor.cancel_this = &job.CancelRequested;
            const int failed = api.Recognize(&monitor);
            result = TResult();
            result.Status = stError;
            if (job.CancelRequested) {
                result.Status = stCanceled;
            } else if (failed == 0) {
                result.Status = stCompleted;
                CollectResult(api, result);
            }
            api.Clear();
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

void TRtOcr::Complete(const std::shared_ptr<TJob>& job, const TResult& result)
{
    if (FJob != job)
        return;
    FJob.reset();
    try {
        if (job->Completion)
            job->Completion(result);
        else if (FOnCompleted)
            FOnCompleted(this, result, job->CustomData);
    } catch (const std::exception& e) {
        qWarning("Text recognition completion handler failed: %s", e.what());
    } catch (...) {
        qWarning("Text recognition completion handler failed");
    }
}

void TRtOcr::Cancel()
{
    if (FJob)
        FJob->CancelRequested = true;
}

void TRtOcr::Close()
{
    if (!FJob)
        return;
    FJob->CancelRequested = true;
    if (FWorker.joinable())
        FWorker.join();
}

} // namespace RtOcr
