#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>

// A throw-away HTTP server on 127.0.0.1 that serves fixed pages and records
// every request it gets. One request per connection; anything not served
// is answered 404.
class TPageServer : public QObject
{
    Q_OBJECT
public:
    struct TRequest
    {
        QByteArray Path;
        QByteArray UserAgent;
    };

    TPageServer();

    // Serves `body` at `path` ("/name") as HTML.
    void Serve(const QByteArray& path, const QByteArray& body);

    QString Address(const QByteArray& path) const;
    const QList<TRequest>& Requests() const { return FRequests; }
    bool WasRequested(const QByteArray& path) const;

private:
    void Answer(class QTcpSocket* socket);

    QTcpServer FServer;
    QHash<QByteArray, QByteArray> FPages;
    QList<TRequest> FRequests;
};
