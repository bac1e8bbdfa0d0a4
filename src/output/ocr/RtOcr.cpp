#include "output/ocr/RtOcr.h"

#include "output/ocr/Engine.h"
#include "output/ocr/Languages.h"
#include "services/Plugin.h"

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
#include <malloc.h>
#include <mutex>
#include <utility>
#include <vector>

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
    return reinterpret_cast<TCreateOcrEngine>(
        ResolvePluginEntry(TRtOcr::EnginePluginCandidates(), "VorantuCreateOcrEngine",
                           TRtOcr::EnginePluginName(), error));
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

// A page at least this high is cut in two and the parts are read side by
// side by two engines: lower pages are not worth a second engine.
constexpr int MinSplitHeight = 400;

// A page read as one column of lines is cut at a row of one colour from edge
// to edge, searched outwards from the middle within the middle half of the
// page; 0 when there is none. The lower part's lines follow the upper's,
// which is the order one engine reads them in.
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

// A page read through the page layout is cut at a row that crosses none of
// the lines the layout found, where about half of the lines' area lies
// above, and in the middle of the gap between two lines, so that no letter
// is cut; 0 when the middle half of the page has no such row. Screens
// seldom have a blank row from edge to edge: a scroll bar or a panel
// crosses it.
int RowBetweenLines(const TTextBlocks& blocks, int height)
{
    constexpr int Margin = 2; // rows kept clear above and below each line
    std::vector<bool> covered(std::size_t(height), false);
    std::vector<qint64> area(std::size_t(height), 0);
    qint64 total = 0;
    for (const TTextBlock& block : blocks) {
        for (const QRect& line : block.Lines) {
            for (int y = std::max(0, line.top() - Margin);
                 y <= std::min(height - 1, line.bottom() + Margin); ++y)
                covered[std::size_t(y)] = true;
            const int middle = std::clamp(line.center().y(), 0, height - 1);
            area[std::size_t(middle)] += qint64(line.width()) * line.height();
            total += qint64(line.width()) * line.height();
        }
    }
    if (total == 0)
        return 0;
    int balance = 0;
    for (qint64 above = 0; balance < height && above * 2 < total; ++balance)
        above += area[std::size_t(balance)];
    const int low = height / 4;
    const int high = height - height / 4;
    balance = std::clamp(balance, low, high);
    for (int step = 0; step <= high - low; ++step) {
        for (const int y : {balance - step, balance + step}) {
            if (y < low || y > high || covered[std::size_t(y)])
                continue;
            int top = y;
            int bottom = y;
            while (top > 0 && !covered[std::size_t(top - 1)])
                --top;
            while (bottom < height - 1 && !covered[std::size_t(bottom + 1)])
                ++bottom;
            return std::clamp((top + bottom) / 2, low, high);
        }
    }
    return 0;
}

// The cut runs between the lines of text, but may cross a picture or a
// scroll bar, whose piece on either side the engine may then take for a
// letter. A word at the cut that lies on none of the page's lines is such a
// piece: it goes, and so does its line when nothing else is left of it.
void DropCutPieces(TResult& result, int cut, const TTextBlocks& blocks)
{
    constexpr float Reach = 3; // rows from the cut a piece's edge may lie
    const auto onALine = [&](const QPointF& point) {
        return std::any_of(blocks.begin(), blocks.end(), [&](const TTextBlock& block) {
            return std::any_of(block.Lines.begin(), block.Lines.end(), [&](const QRect& line) {
                return QRectF(line).adjusted(-2, -2, 2, 2).contains(point);
            });
        });
    };
    for (qsizetype i = result.Lines.size() - 1; i >= 0; --i) {
        TLine& line = result.Lines[i];
        const qsizetype before = line.Words.size();
        line.Words.removeIf([&](const TWord& word) {
            const QRectF box(word.Rect.X, word.Rect.Y, word.Rect.Width, word.Rect.Height);
            const bool atCut = std::abs(box.top() - float(cut)) <= Reach ||
                               std::abs(box.bottom() - float(cut)) <= Reach;
            return atCut && !onALine(box.center());
        });
        if (line.Words.isEmpty()) {
            result.Lines.removeAt(i);
        } else if (line.Words.size() != before) {
            QStringList words;
            for (const TWord& word : std::as_const(line.Words))
                words.append(word.Text);
            line.Text = words.join(QLatin1Char(' '));
        }
    }
}

// The lines of `lower`, a part of the page starting `top` rows down, after
// those of `upper`; with `blocks`, the page's layout, the lines are then
// ordered by the block they lie in, so that a left column cut in two is
// read whole before the right one.
TResult Joined(TResult upper, const TResult& lower, int top, const TTextBlocks& blocks = {})
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
    if (!blocks.isEmpty()) {
        DropCutPieces(upper, top, blocks);
        // A line outside every block stays with the line read before it.
        QList<std::pair<int, TLine>> keyed;
        int key = 0;
        for (TLine& line : upper.Lines) {
            QRectF box;
            for (const TWord& word : std::as_const(line.Words))
                box |= QRectF(word.Rect.X, word.Rect.Y, word.Rect.Width, word.Rect.Height);
            const auto block = std::find_if(blocks.begin(), blocks.end(), [&](const TTextBlock& b) {
                return QRectF(b.Box).contains(box.center());
            });
            if (block != blocks.end())
                key = int(block - blocks.begin());
            keyed.append({key, std::move(line)});
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        upper.Lines.clear();
        for (auto& each : keyed)
            upper.Lines.append(std::move(each.second));
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
    return PluginCandidates(EnginePluginName(), QStringLiteral(VORANTU_OCR_ENGINE_INSTALL_DIR),
                            QStringLiteral(VORANTU_BUILD_DIR),
                            QStringLiteral(VORANTU_OCR_ENGINE_BUILD_PATH));
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
    if (FDropEngine)
        FDropEngine->stop();
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

        TTextBlocks blocks;
        int cut = 0;
        if (pixels.height() >= MinSplitHeight && std::thread::hardware_concurrency() >= 2) {
            // A blank row needs no layout; a scroll bar or a panel beside
            // the text leaves none.
            if (job.SingleColumn)
                cut = BlankRowNearMiddle(pixels);
            if (cut == 0) {
                blocks = engine.Slots[0].Api->Layout(pixels, job.Resolution, job.SingleColumn);
                cut = RowBetweenLines(blocks, pixels.height());
            }
        }
        if (cut == 0 || job.CancelRequested)
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
                    lowerResult = slot.Api->Recognize(lower, job.Resolution, job.SingleColumn,
                                                      job.CancelRequested);
            } catch (...) {
                lowerResult = TResult();
                lowerResult.Status = stError;
            }
        });
        const TResult upperResult = engine.Slots[0].Api->Recognize(
            upper, job.Resolution, job.SingleColumn, job.CancelRequested);
        second.join();
        result = Joined(upperResult, lowerResult, cut, blocks);
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
    if (!FDropEngine) {
        FDropEngine = new QTimer(this);
        FDropEngine->setSingleShot(true);
        connect(FDropEngine, &QTimer::timeout, this, &TRtOcr::DropEngine);
    }
    FDropEngine->start(FEngineKeepTime);
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

void TRtOcr::DropEngine()
{
    if (FJob || !FEngine)
        return;
    if (FWorker.joinable())
        FWorker.join();
    // Freeing a model takes a while; the next recognition waits for it.
    FWorker = std::thread([engine = std::move(FEngine)]() mutable {
        engine.reset();
        // The engine's buffers were freed into the worker threads' heaps,
        // which keep them otherwise.
        malloc_trim(0);
    });
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
