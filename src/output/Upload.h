#pragma once

#include "services/Http.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QToolButton;
class QWidget;

// The thin bar across the bottom of the primary screen while an upload runs:
// translucent, above every window, letting clicks through to what lies
// below, and sitting directly above a panel docked at the bottom. A small
// cancel button of its own (it cannot be part of a bar that lets clicks
// through) sits at the bar's right end. Exists from construction to
// destruction. User-interface thread only.
class TProgressForm
{
public:
    explicit TProgressForm(const QString& text);
    ~TProgressForm();
    TProgressForm(const TProgressForm&) = delete;
    TProgressForm& operator=(const TProgressForm&) = delete;

    // The bar's maximum becomes `total`, its position `position`.
    void SetProgress(qint64 position, qint64 total);

    QWidget* Form() const { return FForm.get(); }
    // The cancel button's window ("BtnCancel").
    QWidget* CancelButton() const;
    // Runs when the cancel button is clicked.
    void SetOnCancel(std::function<void()> handler);

    static constexpr int Height = 30;

    // Where the window goes on a screen of `screen` whose work area is
    // `available`: the full width, `Height` pixels high at the bottom, moved
    // up by the height of a panel reserved along the bottom edge.
    static QRect Placement(const QRect& screen, const QRect& available);

private:
    std::unique_ptr<QWidget> FForm;
    QProgressBar* FGauge = nullptr; // owned by FForm
    QLabel* FLabel = nullptr;       // owned by FForm
    std::unique_ptr<QToolButton> FCancel;
    QRect FRect; // the bottom panel, empty when there is none
};

using TUploadProgress = TBodyProgress;

// One upload request, built in memory before any connection is made.
struct TUploadRequest
{
    QByteArray Url;
    QByteArray Boundary;
    QList<QPair<QByteArray, QByteArray>> Headers; // Host, Content-Type
    QByteArray Body;
};

// "-------Embt-Boundary--" and two random 31-bit values in upper-case hex.
QByteArray NewBoundary();

// The multipart form holding `png` as the field "file" ("vorantu.png") for
// the image host `host` ("name" or "name:port"; port 80 when none is given).
// Empty when `host` is not a host name with an optional port.
std::optional<TUploadRequest> BuildUploadRequest(const QByteArray& png, const QString& host,
                                                 const QByteArray& boundary = NewBoundary());

// Sends the request (HTTP/1.0, the body in 1,024-byte blocks with a progress
// report before each) and returns the link of the reply, or an empty string
// for anything but a status 200 reply holding the success marker, or when
// `cancelled` (asked at least once a second) says so. Blocks: call on a
// worker thread.
QString SendUpload(const TUploadRequest& request, const TUploadProgress& progress,
                   const THttpLimits& limits = {}, const std::function<bool()>& cancelled = {});

// Encodes `bitmap` as PNG, uploads it to `host` and returns the link (empty
// on any failure). Never throws. Worker thread.
QString UploadImage(const QImage& bitmap, const QString& host, const TUploadProgress& progress,
                    const THttpLimits& limits = {}, const std::function<bool()>& cancelled = {});

// The limits of an upload: THttpLimits' defaults, with the whole exchange
// bounded by VORANTU_UPLOAD_SECONDS when that names a positive number of
// seconds (read once, at the first upload).
THttpLimits UploadLimits();

// Uploads one capture to the host of the "upload_host" setting while the
// progress window shows and the user interface keeps running, then opens
// the returned link (only an http or https address) or shows the failure
// box. Returns the link opened, empty after a failure. `owner` lends its
// caption to the box. The upload ends early, without the box, when the
// progress window's cancel button is clicked or the application is asked to
// quit, so no quit path waits on a slow service. User-interface thread;
// re-entrant like any Wait.
QString CaptureUpload(const QImage& bitmap, QWidget* owner,
                      const THttpLimits& limits = UploadLimits());
