#include "output/Upload.h"

#include "output/Save.h"
#include "platform/NativeWindow.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Text.h"
#include "services/Translate.h"
#include "services/Wait.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScreen>
#include <QToolButton>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <limits>
#include <mutex>

namespace {

const QByteArray UploaderAgent = "Vorantu Uploader";
const QByteArray SuccessMarker = "\"status\":\"success\"";

// The latest progress report of the worker, handed to the user-interface
// thread. Only the latest matters, so at most one hand-over is queued.
class TLatestProgress
{
public:
    // True when no hand-over is queued yet and the caller must queue one.
    bool Store(qint64 position, qint64 total)
    {
        std::lock_guard locker(FLock);
        FPosition = position;
        FTotal = total;
        FHasReport = true;
        if (FQueued)
            return false;
        FQueued = true;
        return true;
    }

    // The latest report, if one came since the last call.
    std::optional<std::pair<qint64, qint64>> Take()
    {
        std::lock_guard locker(FLock);
        FQueued = false;
        if (!FHasReport)
            return std::nullopt;
        FHasReport = false;
        return std::make_pair(FPosition, FTotal);
    }

private:
    std::mutex FLock; // guards every field
    qint64 FPosition = 0;
    qint64 FTotal = 0;
    bool FHasReport = false;
    bool FQueued = false;
};

// Sees the application's quit request (every quit path ends in one) while
// an upload runs, so the transfer can be abandoned at once.
class TQuitWatch : public QObject
{
public:
    explicit TQuitWatch(std::function<void()> onQuit) : FOnQuit(std::move(onQuit))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
            FOnQuit();
        return false;
    }

private:
    std::function<void()> FOnQuit;
};

QByteArray Hex8(quint32 value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(8, '0');
}

} // namespace

TProgressForm::TProgressForm(const QString& text)
{
    FForm = std::make_unique<QWidget>(
        nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                     Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    FForm->setObjectName(QStringLiteral("TProgressForm"));
    FForm->setAttribute(Qt::WA_ShowWithoutActivating);
    FForm->setWindowOpacity(140 / 255.0);

    FLabel = new QLabel(FForm.get());
    FGauge = new QProgressBar(FForm.get());
    FGauge->setObjectName(QStringLiteral("Gauge"));
    FGauge->setTextVisible(false);
    FGauge->setRange(0, 100);
    FGauge->setValue(0);
    FGauge->setStyleSheet(QStringLiteral("QProgressBar { background: rgb(64, 0, 0); border: none; }"
                                         "QProgressBar::chunk { background: rgb(255, 0, 0); }"));

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    const QRect available = screen ? WorkArea(screen) : screenRect;
    if (available.bottom() < screenRect.bottom())
        FRect = QRect(QPoint(screenRect.left(), available.bottom() + 1), screenRect.bottomRight());
    const QRect placement = Placement(screenRect, available);
    FForm->setGeometry(placement);
    FGauge->setGeometry(0, 0, placement.width(), placement.height());

    FLabel->setObjectName(QStringLiteral("Label"));
    FLabel->setTextFormat(Qt::PlainText);
    FLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    FLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont font = FLabel->font();
    font.setPixelSize(12);
    FLabel->setFont(font);
    QPalette white = FLabel->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    FLabel->setPalette(white);
    FLabel->setGeometry(0, 8, placement.width(), placement.height() - 8);
    FLabel->setText(text);
    FLabel->raise();

    FForm->show();

    FCancel = std::make_unique<QToolButton>();
    FCancel->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus);
    FCancel->setAttribute(Qt::WA_ShowWithoutActivating);
    FCancel->setObjectName(QStringLiteral("BtnCancel"));
    FCancel->setText(QStringLiteral("\u2715"));
    FCancel->setAutoRaise(true);
    FCancel->setGeometry(placement.right() + 1 - Height, placement.top(), Height, Height);
    FCancel->show();
}

TProgressForm::~TProgressForm() = default;

QWidget* TProgressForm::CancelButton() const
{
    return FCancel.get();
}

void TProgressForm::SetOnCancel(std::function<void()> handler)
{
    QObject::connect(FCancel.get(), &QToolButton::clicked, FCancel.get(),
                     [handler = std::move(handler)] { handler(); });
}

QRect TProgressForm::Placement(const QRect& screen, const QRect& available)
{
    QRect rect(screen.left(), screen.top() + screen.height() - Height, screen.width(), Height);
    // A panel along the bottom edge shows as a work area that ends above the
    // screen's bottom; one that takes more than the lower half is no bottom
    // panel.
    const int panelHeight = screen.bottom() - available.bottom();
    const int panelTop = available.bottom() + 1 - screen.top();
    if (panelHeight > 0 && panelTop > screen.height() / 2 && available.right() >= screen.right())
        rect.translate(0, -panelHeight);
    return rect;
}

void TProgressForm::SetProgress(qint64 position, qint64 total)
{
    // The gauge counts in int; very large bodies are shown scaled.
    int shift = 0;
    while ((total >> shift) > std::numeric_limits<int>::max())
        ++shift;
    FGauge->setMaximum(int(qMax<qint64>(1, total >> shift)));
    FGauge->setValue(int(qBound<qint64>(0, position >> shift, total >> shift)));
}

QByteArray NewBoundary()
{
    QRandomGenerator* random = QRandomGenerator::global();
    return "-------Embt-Boundary--" + Hex8(random->bounded(0x7FFFFFFFu)) +
           Hex8(random->bounded(0x7FFFFFFFu));
}

std::optional<TUploadRequest> BuildUploadRequest(const QByteArray& png, const QString& host,
                                                 const QByteArray& boundary)
{
    const QString trimmed = host.trimmed();
    const QUrl parsed(QStringLiteral("http://") + trimmed, QUrl::StrictMode);
    if (trimmed.isEmpty() || !parsed.isValid() || parsed.host().isEmpty() ||
        !parsed.userInfo().isEmpty() || !parsed.path().isEmpty() || parsed.hasQuery() ||
        parsed.hasFragment() || parsed.port() == 0)
        return std::nullopt;
    QByteArray name = parsed.host(QUrl::FullyEncoded).toLatin1();
    if (name.contains(':'))
        name = '[' + name + ']';
    const QByteArray authority = name + ':' + QByteArray::number(parsed.port(80));

    TUploadRequest request;
    request.Url = "http://" + authority + "/image";
    request.Boundary = boundary;
    request.Headers = {
        {"Host", authority},
        {"Content-Type", "multipart/form-data; boundary=" + boundary},
    };
    QByteArray& body = request.Body;
    body.reserve(png.size() + 256);
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"vorantu.png\"\r\n";
    body += "Content-Type: image/png\r\n";
    body += "\r\n";
    body += png;
    body += "\r\n";
    body += "--" + boundary + "--\r\n";
    return request;
}

QString SendUpload(const TUploadRequest& upload, const TUploadProgress& progress,
                   const THttpLimits& limits, const std::function<bool()>& cancelled)
{
    THttpRequest request;
    request.Url = upload.Url;
    request.UserAgent = UploaderAgent;
    request.Headers = upload.Headers;
    request.Post = true;
    request.Body = upload.Body;
    request.BlockBytes = 1024;
    request.Progress = progress;
    request.Cancelled = cancelled;
    request.Version = THttpVersion::Http10;
    request.Schemes = THttpSchemes::HttpOnly;
    request.Limits = limits;

    const THttpReply reply = HttpRequest(request);
    if (!reply.Received || reply.Status != 200 || !reply.Body.contains(SuccessMarker))
        return {};
    try {
        return JsonUnescape(TextBetween(QString::fromUtf8(reply.Body), QStringLiteral("url\":\""),
                                        QStringLiteral("\"")));
    } catch (const EConvertError&) {
        return {};
    }
}

QString UploadImage(const QImage& bitmap, const QString& host, const TUploadProgress& progress,
                    const THttpLimits& limits, const std::function<bool()>& cancelled)
{
    try {
        // The PNG writer of the file destinations: an upload carries the
        // bytes a PNG file would.
        const QByteArray png = BitmapToPNGBytes(bitmap);
        const std::optional<TUploadRequest> request = BuildUploadRequest(png, host);
        if (!request)
            return {};
        return SendUpload(*request, progress, limits, cancelled);
    } catch (...) {
        // Every failure ends the same way: no link, and the caller's box.
        return {};
    }
}

THttpLimits UploadLimits()
{
    static const THttpLimits limits = [] {
        THttpLimits chosen;
        bool ok = false;
        const int seconds = qEnvironmentVariableIntValue("VORANTU_UPLOAD_SECONDS", &ok);
        if (ok && seconds > 0)
            chosen.TotalTime = std::chrono::seconds(seconds);
        return chosen;
    }();
    return limits;
}

QString CaptureUpload(const QImage& bitmap, QWidget* owner, const THttpLimits& limits)
{
    const QString host = ReadSetting(TConfig(ProgramConfigPath), Setting::UploadHost);
    TProgressForm progress(Translate(QStringLiteral("업로드 중입니다.")));

    auto latest = std::make_shared<TLatestProgress>();
    QWidget* form = progress.Form();
    TProgressForm* target = &progress;
    const TUploadProgress report = [latest, form, target](qint64 position, qint64 total) {
        if (!latest->Store(position, total))
            return;
        // Dropped by Qt when the form is gone, and the form goes only with
        // `target`.
        QMetaObject::invokeMethod(
            form,
            [latest, target] {
                if (const auto last = latest->Take())
                    target->SetProgress(last->first, last->second);
            },
            Qt::QueuedConnection);
    };

    // Shared with the worker; Wait returns only after the worker has ended.
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    progress.SetOnCancel([cancelled] { cancelled->store(true); });
    const TQuitWatch quitWatch([cancelled] { cancelled->store(true); });
    QString url;
    Wait([&] {
        url = UploadImage(bitmap, host, report, limits, [cancelled] { return cancelled->load(); });
    });
    if (cancelled->load())
        return {};
    if (const auto last = latest->Take())
        progress.SetProgress(last->first, last->second);

    if (ShellOpenServerAddress(url))
        return url;
    // A link that is not a web address is no usable result either.
    const QString caption =
        owner ? owner->windowTitle() : QGuiApplication::applicationDisplayName();
    ShowMessageBox(caption, Translate(QStringLiteral("이미지 업로드를 실패하였습니다.")),
                   TBoxIcon::Error);
    return {};
}
