#include "output/ocr/RtOcr.h"

#include "output/ocr/Engine.h"
#include "output/ocr/Languages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMetaObject>
#include <QRect>
#include <QtDebug>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
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

// The engine plugin, loaded once for the rest of the run on the first
// recognition (on the worker: mapping the engine's libraries takes a while).
// Null with the reasons in `error` when no candidate loads.
TCreateOcrEngine EngineFactory(QString& error)
{
    static std::mutex mutex;
    static TCreateOcrEngine factory = nullptr;
    // Destroying a QLibrary does not unload it; the one that loaded stays owned here.
    static std::unique_ptr<QLibrary> loaded;
    const std::lock_guard lock(mutex);
    if (factory)
        return factory;
    QStringList failures;
    for (const QString& candidate : TRtOcr::EnginePluginCandidates()) {
        if (!QFileInfo::exists(candidate))
            continue;
        // Never unloaded: engines made by it live until their component goes.
        auto* library = new QLibrary(candidate);
        factory = reinterpret_cast<TCreateOcrEngine>(library->resolve("VorantuCreateOcrEngine"));
        if (factory) {
            loaded.reset(library);
            return factory;
        }
        failures << library->errorString();
        delete library;
    }
    error = failures.isEmpty() ? QStringLiteral("\"%1\" not found").arg(TRtOcr::EnginePluginName())
                               : failures.join(QLatin1Char('\n'));
    return nullptr;
}

// One engine with the model it has loaded.
struct TEngineSlot
{
    std::unique_ptr<TOcrEngine> Api;
    std::string DataPath;
    std::string Language;
    bool Loaded = false;

    // Makes the engine and loads the model when not done yet; false with
    // the reason in `error` when either fails.
    bool Ready(const std::string& dataPath, const std::string& language, QString& error)
    {
        if (!Api) {
            const TCreateOcrEngine create = EngineFactory(error);
            if (!create) {
                error = QStringLiteral("The recognition engine could not be loaded: %1").arg(error);
                qWarning("%s", qPrintable(error));
                return false;
            }
            Api.reset(create());
            if (!Api) {
                error = QStringLiteral("The recognition engine could not be made.");
                return false;
            }
        }
        if (Loaded && DataPath == dataPath && Language == language)
            return true;
        Loaded = Api->Load(dataPath, language);
        DataPath = dataPath;
        Language = language;
        if (!Loaded)
            error = QStringLiteral("The recognition model \"%1\" could not be loaded from %2.")
                        .arg(QString::fromStdString(language), QString::fromStdString(dataPath));
        return Loaded;
    }
};

// A page read as one column of lines is cut in two at a blank row near its
// middle and the halves are read side by side by two engines; the lines of
// the lower half follow those of the upper, which is the order one engine
// reads them in. Pages lower than this are not worth a second engine.
constexpr int MinSplitHeight = 400;

// A row of one colour from edge to edge, searched outwards from the middle
// within the middle half of the page; 0 when there is none.
int BlankRowNearMiddle(const QImage& pixels)
{
    const auto blank = [&](int y) {
        const auto* row = reinterpret_cast<const quint32*>(pixels.constScanLine(y));
        return std::all_of(row, row + pixels.width(), [&](quint32 p) { return p == row[0]; });
    };
    const int middle = pixels.height() / 2;
    for (int step = 0; step < pixels.height() / 4; ++step) {
        if (blank(middle - step))
            return middle - step;
        if (blank(middle + step))
            return middle + step;
    }
    return 0;
}

// The lines of `lower`, a part of the page starting `top` rows down, after
// those of `upper`.
TResult Joined(TResult upper, const TResult& lower, int top)
{
    if (upper.Status != stCompleted)
        return upper;
    if (lower.Status != stCompleted)
        return lower;
    if (upper.Lines.isEmpty())
        upper.TextAngle = lower.TextAngle;
    for (TLine line : lower.Lines) {
        for (TWord& word : line.Words)
            word.Rect.Y += float(top);
        upper.Lines.append(std::move(line));
    }
    QStringList texts;
    for (const TLine& line : std::as_const(upper.Lines))
        texts.append(line.Text);
    upper.Text = texts.join(QLatin1Char('\n'));
    return upper;
}

} // namespace

struct TRtOcr::TEngine
{
    TEngineSlot Slots[2];
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

QString TRtOcr::EnginePluginName()
{
    return QStringLiteral(VORANTU_OCR_ENGINE_FILE_NAME);
}

QStringList TRtOcr::EnginePluginCandidates()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList candidates = {
        programDir + QLatin1Char('/') + EnginePluginName(),
        QDir::cleanPath(programDir + QStringLiteral("/" VORANTU_OCR_ENGINE_INSTALL_DIR "/") +
                        EnginePluginName())};
    // Only programs inside the build tree (the tests) load the build's own
    // engine: the folder an installed program was built in may be a
    // temporary one that anybody could recreate with a plugin of their own.
    const QString buildDir = QDir::cleanPath(QStringLiteral(VORANTU_BUILD_DIR));
    if (programDir.startsWith(buildDir + QLatin1Char('/')))
        candidates << QStringLiteral(VORANTU_OCR_ENGINE_BUILD_PATH);
    return candidates;
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
        if (!engine.Slots[0].Ready(job.DataPath, job.Language, result.Error))
            return result;
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

        const int cut = job.SingleColumn && pixels.height() >= MinSplitHeight &&
                                std::thread::hardware_concurrency() >= 2
                            ? BlankRowNearMiddle(pixels)
                            : 0;
        if (cut == 0)
            return engine.Slots[0].Api->Recognize(pixels, job.Resolution, job.SingleColumn,
                                                  job.CancelRequested);

        // The halves share the page's pixels; the engine copies what it reads.
        const QImage upper(pixels.constBits(), pixels.width(), cut, pixels.bytesPerLine(),
                           pixels.format());
        const QImage lower(pixels.constScanLine(cut), pixels.width(), pixels.height() - cut,
                           pixels.bytesPerLine(), pixels.format());
        TResult lowerResult;
        lowerResult.Status = stError;
        std::thread second([&]() noexcept {
            try {
                TEngineSlot& slot = engine.Slots[1];
                if (slot.Ready(job.DataPath, job.Language, lowerResult.Error))
                    lowerResult =
                        slot.Api->Recognize(lower, job.Resolution, true, job.CancelRequested);
            } catch (...) {
                lowerResult = TResult();
                lowerResult.Status = stError;
            }
        });
        const TResult upperResult =
            engine.Slots[0].Api->Recognize(upper, job.Resolution, true, job.CancelRequested);
        second.join();
        result = Joined(upperResult, lowerResult, cut);
        if (job.CancelRequested && result.Status == stError)
            result.Status = stCanceled;
    } catch (const std::exception& e) {
        qWarning("Text recognition failed: %s", e.what());
        result = TResult();
        result.Status = stError;
        result.Error = QString::fromUtf8(e.what());
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
