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
        if (factory)
            return factory;
        failures << library->errorString();
        delete library;
    }
    error = failures.isEmpty() ? QStringLiteral("\"%1\" not found").arg(TRtOcr::EnginePluginName())
                               : failures.join(QLatin1Char('\n'));
    return nullptr;
}

} // namespace

struct TRtOcr::TEngine
{
    std::unique_ptr<TOcrEngine> Api;
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
    return {programDir + QLatin1Char('/') + EnginePluginName(),
            QDir::cleanPath(programDir + QStringLiteral("/../lib/vorantu/") + EnginePluginName()),
            QStringLiteral(VORANTU_OCR_ENGINE_BUILD_PATH)};
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
        if (!engine.Api) {
            QString error;
            const TCreateOcrEngine create = EngineFactory(error);
            if (!create) {
                qWarning("Text recognition engine not loaded: %s", qPrintable(error));
                return result;
            }
            engine.Api.reset(create());
            if (!engine.Api)
                return result;
        }
        if (!engine.Loaded || engine.DataPath != job.DataPath || engine.Language != job.Language) {
            engine.Loaded = false;
            if (!engine.Api->Load(job.DataPath, job.Language))
                return result;
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
        result =
            engine.Api->Recognize(pixels, job.Resolution, job.SingleColumn, job.CancelRequested);
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
