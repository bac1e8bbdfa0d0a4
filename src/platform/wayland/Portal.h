#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class QDBusMessage;
class QTimer;

// How a portal request ended.
enum class TPortalOutcome
{
    Success,     // Response 0: Results hold the answer
    NoService,   // no portal on the session bus (or no session bus)
    NoInterface, // the portal lacks the interface or the method
    Refused,     // the call itself failed (access denied, bad arguments, ...)
    Cancelled,   // Response 1: the user dismissed the request
    Failed,      // Response 2 (or any other): the back end gave up
    TimedOut     // no Response within the caller's limit
};

struct TPortalResult
{
    TPortalOutcome Outcome = TPortalOutcome::Failed;
    QVariantMap Results;
    // What went wrong, in words for the user or a log; empty on Success.
    QString Error;

    bool Ok() const { return Outcome == TPortalOutcome::Success; }
};

// One request to an org.freedesktop.portal interface whose answer comes as a
// Request.Response signal (Screenshot, ScreenCast's CreateSession,
// SelectSources, Start, ...). The answer's path is predicted from this
// connection's unique name and a fresh handle_token and subscribed to before
// the call, so a fast back end cannot answer before anyone listens. The
// object must stay alive (and so connected) until Finished: the portal
// closes the requests of a client that leaves the bus.
class TPortalRequest : public QObject
{
    Q_OBJECT

public:
    explicit TPortalRequest(QObject* parent = nullptr);
    ~TPortalRequest() override;

    // Calls `method` of `interface` on the portal with `arguments` followed by
    // `options` (every portal method that answers through a Request takes its
    // options last); a handle_token is added to `options`. Finished comes
    // exactly once, never from inside Start. One request per object.
    void Start(const QString& interface, const QString& method, const QVariantList& arguments,
               QVariantMap options, int timeoutMs);

    // Start, then wait for Finished with the event loop running (paint,
    // timers, sockets go on), at most `timeoutMs`. For callers whose own
    // interface is synchronous.
    static TPortalResult Call(const QString& interface, const QString& method,
                              const QVariantList& arguments, const QVariantMap& options,
                              int timeoutMs);

    // Whether the portal on the session bus has `interface`, by its
    // "version" property; false without a portal. Costs one round trip.
    static bool HasInterface(const QString& interface);

    // The answer to reading the property `name` of the portal's `interface`
    // (a reply carrying the value as a variant, or an error), waiting at
    // most `timeoutMs`.
    static QDBusMessage Property(const QString& interface, const QString& name, int timeoutMs);

signals:
    void Finished(const TPortalResult& result);

private slots:
    void OnResponse(uint response, const QVariantMap& results);

private:
    bool Subscribe(const QString& path);
    void Unsubscribe();
    void Finish(TPortalResult result);

    QString FPath;
    QString FMethod;
    QTimer* FTimer = nullptr;
    bool FStarted = false;
    bool FDone = false;
};

Q_DECLARE_METATYPE(TPortalResult)
