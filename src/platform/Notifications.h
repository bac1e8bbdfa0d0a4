#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QThread;

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus).
//
// Nothing here waits: Show() hands the request to the bus and returns, and
// the answer arrives later on the user-interface thread. Without a session
// bus, with one that does not answer within ConnectTimeoutMs, or with nobody
// owning the service's name, a notification is dropped without a word: it is
// feedback, never the only way a result reaches the user. The bus is
// contacted on the first Show(), not at start-up, and off the user-interface
// thread (connecting waits for the bus's greeting, which a wedged bus never
// sends); notifications shown meanwhile wait for the connection.
class TNotifications : public QObject
{
    Q_OBJECT
public:
    struct TAction
    {
        QString Label;
        std::function<void()> Run;
    };

    explicit TNotifications(QObject* parent = nullptr);
    ~TNotifications() override;

    // `body` is plain text (escaped here where the service reads markup).
    // `picture`, when not null, becomes the notification's image, scaled
    // down. The first action is also what a click on the notification does.
    void Show(const QString& summary, const QString& body, const QImage& picture = {},
              const QList<TAction>& actions = {});

signals:
    // The service showed a notification under this id.
    void Shown(uint id);
    // The request did not reach a service; `error` says why.
    void Failed(const QString& error);

private slots:
    void OnActionInvoked(uint id, const QString& key);
    void OnNotificationClosed(uint id, uint reason);

private:
    struct TRequest
    {
        QString Summary;
        QString Body;
        QImage Picture;
        QList<TAction> Actions;
    };
    void StartConnecting();
    void Connected(bool connected);
    void Send(const TRequest& request);
    void FailWaiting(const QString& error);

    enum class TState
    {
        Unknown,
        Connecting,
        Connected,
        Unavailable
    };
    TState FState = TState::Unknown;
    bool FMarkup = true; // until the service says otherwise, as most do
    QString FConnectionName;
    QThread* FConnecting = nullptr;
    QTimer FConnectDeadline;
    // Shown while the bus was being connected; at most MaxWaiting.
    QList<TRequest> FWaiting;
    // Actions of notifications still on screen, by their service id.
    QHash<uint, QList<TAction>> FActions;
    QList<uint> FOrder;

public:
    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int MaxWaiting = 16;
};
