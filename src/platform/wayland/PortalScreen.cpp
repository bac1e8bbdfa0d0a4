#include "platform/wayland/PortalScreen.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUrl>
#include <unistd.h>

namespace {

const QString ScreenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");

// A file the portal left in a temporary folder, owned by this user: nobody
// else will read it, and a screenshot must not linger world-readable there.
// (The wlroots back end always writes the same /tmp/out.png, which another
// user's file there would block.) Files elsewhere are the desktop's.
bool PlainlyTemporary(const QFileInfo& file)
{
    const QString folder = file.canonicalPath();
    const bool temporary = folder == QDir(QDir::tempPath()).canonicalPath() ||
                           folder == QLatin1String("/tmp") || folder == QLatin1String("/var/tmp");
    return temporary && file.ownerId() == uint(getuid());
}

// The screenshot a successful request names, read at once: the wlroots
// back end writes every screenshot to one fixed path, which the next request
// overwrites.
std::optional<QImage> ReadScreenshot(const TPortalResult& result, QString& error)
{
    const QUrl uri(result.Results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        error =
            QStringLiteral("the desktop portal gave no screenshot file (%1)").arg(uri.toString());
        return std::nullopt;
    }
    const QString path = uri.toLocalFile();
    QImage picture(path);
    const QFileInfo file(path);
    if (file.exists() && PlainlyTemporary(file))
        QFile::remove(path);
    if (picture.isNull()) {
        error = QStringLiteral("the screenshot the desktop portal wrote to %1 cannot be read")
                    .arg(path);
        return std::nullopt;
    }
    if (picture.format() != QImage::Format_RGB32)
        picture = picture.convertToFormat(QImage::Format_RGB32);
    return picture;
}

} // namespace

std::optional<QImage> PickPortalPicture(QString& error, bool& cancelled)
{
    const TPortalResult result =
        TPortalRequest::Call(ScreenshotInterface, QStringLiteral("Screenshot"), {QString()},
                             {{QStringLiteral("interactive"), true}}, TPortalScreen::PickTimeoutMs);
    cancelled = result.Outcome == TPortalOutcome::Cancelled;
    if (!result.Ok()) {
        error = result.Error;
        return std::nullopt;
    }
    return ReadScreenshot(result, error);
}

QList<TPicturePlacement> PlacePortalPicture(const QList<QRect>& monitors, const QSize& picture)
{
    QRect bounds;
    for (const QRect& monitor : monitors)
        bounds |= monitor;
    if (bounds.isEmpty() || picture.isEmpty())
        return {};
    const qreal scaleX = qreal(picture.width()) / bounds.width();
    const qreal scaleY = qreal(picture.height()) / bounds.height();
    QList<TPicturePlacement> placements;
    for (const QRect& monitor : monitors) {
        if (monitor.isEmpty())
            continue;
        const QPointF at = monitor.topLeft() - bounds.topLeft();
        placements.append({monitor, QRectF(at.x() * scaleX, at.y() * scaleY,
                                           monitor.width() * scaleX, monitor.height() * scaleY)});
    }
    return placements;
}

void PaintPortalPicture(const QImage& screenshot, const QList<TPicturePlacement>& placements,
                        const QRect& rect, QImage& target)
{
    QRegion shown;
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const TPicturePlacement& placement : placements) {
        const QRect part = placement.Root & rect;
        if (part.isEmpty())
            continue;
        const qreal scaleX = placement.Picture.width() / placement.Root.width();
        const qreal scaleY = placement.Picture.height() / placement.Root.height();
        const QRectF source(placement.Picture.x() + (part.x() - placement.Root.x()) * scaleX,
                            placement.Picture.y() + (part.y() - placement.Root.y()) * scaleY,
                            part.width() * scaleX, part.height() * scaleY);
        painter.drawImage(QRectF(part.translated(-rect.topLeft())), screenshot, source);
        shown |= part;
    }
    painter.end();
    BlackenOutside(target, rect, shown);
    // RGB32 pixels drawn onto an ARGB32 target keep their 0xFF, but the
    // contract promises it for every pixel.
    if (target.format() == QImage::Format_ARGB32) {
        for (int y = 0; y < qMin(rect.height(), target.height()); ++y) {
            auto* row = reinterpret_cast<QRgb*>(target.scanLine(y));
            for (int x = 0; x < qMin(rect.width(), target.width()); ++x)
                row[x] |= 0xFF000000u;
        }
    }
}

TPortalScreen::TPortalScreen(std::unique_ptr<TScreen> x11, std::function<void(const QString&)> tell)
    : FX11(std::move(x11)), FTell(std::move(tell))
{}

TPortalScreen::~TPortalScreen()
{
    delete FRequest;
}

QList<QRect> TPortalScreen::Monitors() const
{
    return FX11->Monitors();
}

bool TPortalScreen::Grab(const QRect& rect, QImage& target)
{
    const std::optional<QImage> screenshot = Take();
    if (!screenshot)
        return FX11->Grab(rect, target);
    PaintPortalPicture(*screenshot, PlacePortalPicture(Monitors(), screenshot->size()), rect,
                       target);
    return true;
}

QPoint TPortalScreen::CursorPosition() const
{
    return FX11->CursorPosition();
}

std::optional<TCursorImage> TPortalScreen::Cursor() const
{
    return FX11->Cursor();
}

std::optional<QRgb> TPortalScreen::Pixel(const QPoint& position)
{
    const bool fresh =
        !FPicture.isNull() && FPictureAge.isValid() && FPictureAge.elapsed() < PixelReuseMs;
    if (!fresh && !Take())
        return FX11->Pixel(position);
    QImage pixel(1, 1, QImage::Format_RGB32);
    const QRect one(position, QSize(1, 1));
    const QList<TPicturePlacement> placements = PlacePortalPicture(Monitors(), FPicture.size());
    for (const TPicturePlacement& placement : placements) {
        if (placement.Root.contains(position)) {
            PaintPortalPicture(FPicture, {placement}, one, pixel);
            return pixel.pixel(0, 0) | 0xFF000000u;
        }
    }
    return std::nullopt;
}

std::optional<QImage> TPortalScreen::Take()
{
    if (FUnavailable)
        return std::nullopt;
    if (!FRequest) {
        FRequest = new TPortalRequest;
        // Connected before any waiter, so every waiter finds the answer read.
        QObject::connect(FRequest, &TPortalRequest::Finished, FRequest,
                         [this](const TPortalResult& result) { Answered(result); });
        FRequest->Start(ScreenshotInterface, QStringLiteral("Screenshot"), {QString()},
                        {{QStringLiteral("interactive"), false}}, RequestTimeoutMs);
    }
    // A call from inside this wait (a timer, a command on the socket) waits
    // for the same request: two at once would race for the one file the
    // wlroots back end writes. User input waits until the picture is there.
    QEventLoop loop;
    QObject::connect(FRequest, &TPortalRequest::Finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return FAnswer;
}

void TPortalScreen::Answered(const TPortalResult& result)
{
    FRequest->deleteLater();
    FRequest = nullptr;
    FAnswer.reset();
    if (!result.Ok()) {
        // A missing portal does not come back during a session; a refusal,
        // a cancel or a timeout (a user slow to answer the desktop's
        // question) may be different next time.
        FUnavailable = result.Outcome == TPortalOutcome::NoService ||
                       result.Outcome == TPortalOutcome::NoInterface;
        GiveUp(result.Error);
        return;
    }
    QString error;
    const std::optional<QImage> picture = ReadScreenshot(result, error);
    if (!picture) {
        GiveUp(error);
        return;
    }
    FPicture = *picture;
    FPictureAge.start();
    FAnswer = picture;
}

void TPortalScreen::GiveUp(const QString& error)
{
    qWarning("vorantu: %s", qPrintable(error));
    if (FTold)
        return;
    FTold = true;
    if (FTell)
        FTell(error);
}
