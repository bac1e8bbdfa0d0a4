#pragma once

#include "platform/ScreenStream.h"

#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <memory>

class TPipeWireStream;
class TPortalRequest;
struct TPortalResult;

// A monitor's stream through the desktop portal's ScreenCast interface and
// PipeWire: a session asked for one monitor (the desktop may let the user
// pick it, and remembers the choice through the restore token), its PipeWire
// node consumed by the plugin vorantu-pipewire, which is loaded on the first
// Open. Destroying the object closes the session, which ends the cast.
class TPortalScreenCast : public TScreenStream
{
    Q_OBJECT
public:
    // `restoreToken`: what the portal gave last time, empty for none.
    explicit TPortalScreenCast(QString restoreToken = {}, QObject* parent = nullptr);
    ~TPortalScreenCast() override;

    void Open(bool cursor) override;
    QRect Bounds() const override { return FBounds; }
    QImage Latest(quint64* serial = nullptr) const override;

    // The cursor mode asked for (1 hidden, 2 embedded), once Open has run.
    uint CursorMode() const { return FCursorMode; }
    // Called with the portal's new restore token when it gives one, so the
    // next session can skip the user's choice.
    std::function<void(const QString& token)> OnRestoreToken;

    // The plugin files tried, in order.
    static QStringList PluginCandidates();

private slots:
    void OnSessionClosed();

private:
    enum class TStep
    {
        Idle,
        CreateSession,
        SelectSources,
        Start,
        Streaming,
        Over,
    };

    void Ask(TStep step, const QString& method, const QVariantList& arguments,
             const QVariantMap& options, int timeoutMs);
    void Answered(const TPortalResult& result);
    void SelectSources();
    void StartCast();
    void Connect(const QVariantMap& results);
    void Fail(const QString& message);
    void Poll();

    QString FRestoreToken;
    bool FCursor = false;
    uint FCursorMode = 1;
    uint FVersion = 0;
    TStep FStep = TStep::Idle;
    // The request waiting for the portal's answer, if any.
    TPortalRequest* FRequest = nullptr;
    QString FSession;
    QRect FBounds;
    QTimer FPoll;
    // The PipeWire remote the portal opened for this session; -1 for none.
    int FRemote = -1;
    std::unique_ptr<TPipeWireStream> FStream;
};

// A stream for the running program: the restore token read from and stored
// in the settings.
std::unique_ptr<TScreenStream> CreatePortalScreenCast();
