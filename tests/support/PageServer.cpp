#include "PageServer.h"

#include <QTcpSocket>

TPageServer::TPageServer()
{
    FServer.listen(QHostAddress::LocalHost);
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Answer(socket); });
        }
    });
}

void TPageServer::Serve(const QByteArray& path, const QByteArray& body)
{
    FPages.insert(path, body);
}

QString TPageServer::Address(const QByteArray& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(FServer.serverPort())
        .arg(QString::fromLatin1(path));
}

bool TPageServer::WasRequested(const QByteArray& path) const
{
    for (const TRequest& request : FRequests) {
        if (request.Path == path)
            return true;
    }
    return false;
}

void TPageServer::Answer(QTcpSocket* socket)
{
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("head", head);
        return;
    }
    head.truncate(end);
    const QList<QByteArray> lines = head.split('\n');
    TRequest request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.Path = first.value(1);
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "user-agent")
            request.UserAgent = line.mid(colon + 1).trimmed();
    }
    FRequests.append(request);

    const auto page = FPages.constFind(request.Path);
    const QByteArray body = page != FPages.constEnd() ? *page : QByteArray("not found");
    QByteArray reply =
        page != FPages.constEnd() ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
    reply += "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n";
    reply += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(reply + body);
    socket->disconnectFromHost();
}
