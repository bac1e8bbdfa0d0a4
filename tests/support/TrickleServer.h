#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A loopback service that takes the upload and answers a byte every 200 ms:
// never slow enough for the stall rule, never done. Stops when the client
// leaves, and after 20 seconds in any case.
class TTrickleServer
{
public:
    TTrickleServer()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FListen, 4) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TTrickleServer()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        ::close(FListen);
    }

    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }
    // True once a client has connected, and once it has gone.
    bool ClientCame() const { return FClientCame; }
    bool ClientLeft() const { return FClientLeft; }

private:
    void Serve()
    {
        QDeadlineTimer deadline(20000);
        pollfd listen{FListen, POLLIN, 0};
        while (!FStop && !deadline.hasExpired() && ::poll(&listen, 1, 50) == 0) {
        }
        const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            return;
        FClientCame = true;
        const QByteArray reply =
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + QByteArray(1000, 'x');
        for (qsizetype sent = 0; !FStop && !deadline.hasExpired() && sent < reply.size();) {
            char buffer[65536];
            while (::recv(client, buffer, sizeof buffer, 0) > 0) {
            }
            if (::send(client, reply.constData() + sent, 1, MSG_NOSIGNAL) != 1)
                break;
            ++sent;
            pollfd peer{client, POLLRDHUP, 0};
            if (::poll(&peer, 1, 200) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                break;
        }
        FClientLeft = true;
        ::close(client);
    }

    int FListen = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStop = false;
    std::atomic<bool> FClientCame = false;
    std::atomic<bool> FClientLeft = false;
    std::thread FThread;
};
