#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

// Text recognition of a picture on the Tesseract engine, behind plain records
// so that nothing outside this library sees the engine.
//
// The records live in the namespace RtOcr: the main window has a status type
// of its own that would clash with this module's TStatus.
namespace RtOcr {

// One recognition language: an installed trained-data file of the engine.
// Every field is fixed text (English display name), so a language read in one
// run equals the same language read in another.
struct TLanguage
{
    QString DisplayName; // "Korean", "Chinese (Simplified)"
    QString LanguageTag; // BCP 47: "ko", "zh-Hans"
    QString NativeName;  // "한국어", "简体中文"
    QString Script;      // ISO 15924: "Kore", "Hans"

    bool operator==(const TLanguage&) const = default;
};
using TLanguages = QList<TLanguage>;

enum TStatus
{
    stCompleted = 0,
    stCanceled = 1,
    stError = 2
};

// In pixels of the recognised rectangle: (0, 0) is its top-left corner.
struct TSRect
{
    float X = 0;
    float Y = 0;
    float Width = 0;
    float Height = 0;
};

struct TWord
{
    QString Text;
    TSRect Rect;
};
using TWords = QList<TWord>;

struct TLine
{
    QString Text; // the line's words, separated as the engine separates them
    TWords Words;
};
using TLines = QList<TLine>;

struct TResult
{
    TStatus Status = stCompleted;
    TLines Lines;         // in reading order; a line always has at least one word
    QString Text;         // the lines joined with line feeds
    double TextAngle = 0; // degrees clockwise from level; 0 when no text was found
    QString Error;        // why a recognition ended in stError, when known
};

// A recognition could not be started: the message says why.
class ERtOcrError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    explicit ERtOcrError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

class TRtOcr;

using TCompletedEvent =
    std::function<void(TRtOcr* sender, const TResult& result, void* customData)>;
using TCompletionProc = std::function<void(const TResult& result)>;

// One recognition at a time. The engine works on a worker thread; the
// completion is delivered on the thread the component lives on (the
// user-interface thread), through the event loop, never from inside
// Recognize. The component is idle again before the completion runs, so a
// handler may start the next recognition. A handler that throws is logged and
// otherwise ignored: the completion runs from the event loop, where nothing
// could take the exception.
//
// The engine's model for a language is loaded on the worker the first time
// that language is recognised and kept for the next recognition in it, for
// EngineKeepTime.
//
// Everything here is for the thread the component lives on, except
// AvailableLanguages and MaxImageDimension, which any thread may call.
class TRtOcr : public QObject
{
    Q_OBJECT

public:
    explicit TRtOcr(QObject* owner = nullptr);
    // Cancels a running recognition and waits for the engine to stop; its
    // completion is then never delivered.
    ~TRtOcr() override;

    const QImage& Picture() const { return FPicture; }
    // Keeps a copy; a running recognition goes on with the picture it started with.
    void SetPicture(const QImage& picture);

    const TCompletedEvent& OnCompleted() const { return FOnCompleted; }
    void SetOnCompleted(TCompletedEvent handler) { FOnCompleted = std::move(handler); }

    // The installed trained data of the engine (TessdataFolder()), without
    // the orientation ("osd") and equation ("equ") data, sorted by display
    // name. Empty when there is none.
    static TLanguages AvailableLanguages();
    // The largest width or height the engine accepts.
    static int MaxImageDimension();
    // TESSDATA_PREFIX when it names an existing folder (as for the engine's own
    // tools), else the folder the engine's data is installed in.
    static QString TessdataFolder();
    // The engine lives in a plugin loaded on the first recognition: its file
    // name and the places it is looked for, in order (beside the program, in
    // the install folder relative to it, ../lib/vorantu by default, then, for
    // programs inside the build tree, where this build put it). Without it
    // every recognition completes with stError.
    static QString EnginePluginName();
    static QStringList EnginePluginCandidates();

    // Starts recognising the rectangle (left, top)-(right, bottom) of
    // Picture(), right and bottom exclusive; all four 0 means the whole
    // picture. The result goes to OnCompleted with `customData`, or, in the
    // second form, to `completion` instead. Raises ERtOcrError, checked in
    // this order: "Recognition already started", "Language not available"
    // (unless every field equals one of AvailableLanguages()), "Incorrect
    // Left value", "Incorrect Top value", "Incorrect Right value",
    // "Incorrect Bottom value" (also when the rectangle is empty), "Image too
    // large" (wider or taller than MaxImageDimension()).
    void Recognize(const TLanguage& language, void* customData, int left = 0, int top = 0,
                   int right = 0, int bottom = 0);
    void Recognize(const TLanguage& language, TCompletionProc completion, int left = 0, int top = 0,
                   int right = 0, int bottom = 0);

    // Asks the running recognition to stop; it then completes with
    // stCanceled (or stCompleted when the engine had already finished).
    // Nothing when idle.
    void Cancel();
    // Cancels the running recognition and waits until the engine has stopped
    // (at most the rest of a model load, of the page layout or of the current word). The
    // completion still follows through the event loop. Nothing when idle.
    void Close();

    bool Busy() const { return FJob != nullptr; }

    // The engines and their models stay loaded for this long after a
    // recognition, for the next one; then they are dropped and their memory
    // returned to the system (a full screen leaves a hundred megabytes and
    // more behind), off this thread. Loading them again takes a few hundred
    // milliseconds at most. 0 drops them at once.
    int EngineKeepTime() const { return FEngineKeepTime; }
    void SetEngineKeepTime(int milliseconds) { FEngineKeepTime = milliseconds; }
    bool EngineLoaded() const { return FEngine != nullptr; }

private:
    struct TEngine;
    struct TJob;

    void Start(const TLanguage& language, void* customData, TCompletionProc completion, int left,
               int top, int right, int bottom);
    // Runs on the worker. Never throws: whatever goes wrong is an stError result.
    static TResult Run(TJob& job, TEngine& engine) noexcept;
    void Complete(const std::shared_ptr<TJob>& job, const TResult& result);
    void DropEngine();

    QImage FPicture;
    TCompletedEvent FOnCompleted;
    // The running recognition; empty when idle. Only this component's thread
    // sets and clears it; the worker reads only what the job carries.
    std::shared_ptr<TJob> FJob;
    // The loaded model. While a recognition runs only the worker uses it;
    // this component's thread touches it only when no worker runs.
    std::unique_ptr<TEngine> FEngine;
    std::thread FWorker;
    int FEngineKeepTime = 60000;
    QTimer* FDropEngine = nullptr;
};

} // namespace RtOcr

using RtOcr::TRtOcr;
