#include "TestEnvironment.h"
#include "platform/Instance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <future>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TCommandRequest::TKind)

namespace {

QByteArray LongRequest(qsizetype size)
{
    QByteArray request("WM_COPYDATA 1\n");
    request.append(size - request.size(), 'x');
    return request;
}

// Runs SendCommand on a thread of its own while the test's event loop serves it.
std::future<std::optional<int>> SendAsync(const QString& folder, const QByteArray& request,
                                          int timeoutMs = 10000)
{
    return std::async(std::launch::async, [=] { return SendCommand(folder, request, timeoutMs); });
}

bool Readable(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

// A client socket connected to the command socket in `folder`, or -1.
int Connect(const QString& folder)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(folder + "/TFrmVorantu").constData(),
             sizeof address.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Ready(const std::future<std::optional<int>>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

class TTestInstance : public QObject
{
    Q_OBJECT
private:
    QString FFolder;
    QList<TCommandRequest> FSeen;

    int Handle(const TCommandRequest& request)
    {
        FSeen.append(request);
        return request.Kind == TCommandRequest::TKind::User ? 0 : 1;
    }

private slots:
    void init()
    {
        QString error;
        const std::optional<QString> folder = RuntimeFolder(&error);
        QVERIFY2(folder, qPrintable(error));
        FFolder = *folder;
        FSeen.clear();
    }

    void RuntimeFolderIsPrivate()
    {
        QCOMPARE(FFolder, qEnvironmentVariable("XDG_RUNTIME_DIR") + "/vorantu");
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(FFolder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0700u);
        QCOMPARE(info.st_uid, ::geteuid());
    }

    void RuntimeFolderRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("open to others") << "chmod 0755";
        QTest::newRow("open to the group") << "chmod 0770";
        QTest::newRow("another owner") << "chown nobody";
        QTest::newRow("a symbolic link") << "symlink";
    }
    void RuntimeFolderRefused()
    {
        QFETCH(QString, change);
        const QByteArray path = QFile::encodeName(FFolder);
        if (change == "chown nobody") {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder away");
            QVERIFY(::chown(path.constData(), 65534, 65534) == 0);
        } else if (change == "symlink") {
            QTemporaryDir elsewhere;
            QVERIFY(::chmod(QFile::encodeName(elsewhere.path()).constData(), 0700) == 0);
            QVERIFY(QDir(FFolder).removeRecursively());
            QVERIFY(QFile::link(elsewhere.path(), FFolder));
            QString error;
            QVERIFY(!RuntimeFolder(&error));
            QVERIFY(QFile::remove(FFolder));
            return;
        } else {
            QVERIFY(::chmod(path.constData(), change.endsWith("755") ? 0755 : 0770) == 0);
        }
        QString error;
        QVERIFY(!RuntimeFolder(&error));
        QVERIFY2(error.contains(FFolder), qPrintable(error));
        QVERIFY(::chown(path.constData(), ::geteuid(), ::getegid()) == 0);
        QVERIFY(::chmod(path.constData(), 0700) == 0);
        QVERIFY(RuntimeFolder());
    }

    void LockIsExclusiveAndDiesWithItsHolder()
    {
        if (QStandardPaths::findExecutable("flock").isEmpty())
            QSKIP("flock(1) is missing");
        QVERIFY(!TInstanceLock::IsHeld(FFolder));
        QProcess holder;
        // --no-fork: the process we kill is the one holding the lock.
        holder.start("flock", {"--no-fork", FFolder + "/VorantuMutex", "sleep", "30"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(TInstanceLock::IsHeld(FFolder));
        {
            TInstanceLock lock;
            QVERIFY(!lock.TryAcquire(FFolder));
        }
        holder.kill();
        QVERIFY(holder.waitForFinished());
        QVERIFY(!TInstanceLock::IsHeld(FFolder));

        TInstanceLock lock;
        QVERIFY(lock.TryAcquire(FFolder));
        QVERIFY(TInstanceLock::IsHeld(FFolder));
        // A probe must not make the holder's lock look free to a second taker.
        TInstanceLock second;
        QVERIFY(!second.TryAcquire(FFolder));
        QCOMPARE(QProcess::execute("flock", {"--nonblock", FFolder + "/VorantuMutex", "true"}), 1);
    }

    void ParseRequest_data()
    {
        using K = TCommandRequest::TKind;
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<K>("kind");
        QTest::addColumn<quint64>("param");
        QTest::addColumn<QByteArray>("payload");

        QTest::newRow("show") << QByteArray("WM_USER 1\n") << K::User << 1ull << QByteArray();
        QTest::newRow("quit") << QByteArray("WM_USER 2\n") << K::User << 2ull << QByteArray();
        QTest::newRow("leading zeros")
            << QByteArray("WM_USER 007\n") << K::User << 7ull << QByteArray();
        QTest::newRow("largest") << QByteArray("WM_USER 18446744073709551615\n") << K::User
                                 << 18446744073709551615ull << QByteArray();
        QTest::newRow("copy data")
            << QByteArray("WM_COPYDATA 1\n{\"command\":\"capture\"}") << K::CopyData << 1ull
            << QByteArray("{\"command\":\"capture\"}");
        QTest::newRow("empty payload")
            << QByteArray("WM_COPYDATA 3\n") << K::CopyData << 3ull << QByteArray();
        QTest::newRow("payload with lines")
            << QByteArray("WM_COPYDATA 1\n{\n}\n") << K::CopyData << 1ull << QByteArray("{\n}\n");
        QTest::newRow("end of session")
            << QByteArray("WM_QUERYENDSESSION\n") << K::QueryEndSession << 0ull << QByteArray();
        QTest::newRow("at the limit") << LongRequest(MaxCommandRequestBytes) << K::CopyData << 1ull
                                      << LongRequest(MaxCommandRequestBytes).sliced(14);

        const QList<QByteArray> invalid{"",
                                        "\n",
                                        "WM_USER 1",
                                        "WM_USER 1\r\n",
                                        "WM_USER  1\n",
                                        "WM_USER 1 \n",
                                        " WM_USER 1\n",
                                        "WM_USER +1\n",
                                        "WM_USER -1\n",
                                        "WM_USER 0x1\n",
                                        "WM_USER \n",
                                        "WM_USER\n",
                                        "WM_USER 1\nx",
                                        "wm_user 1\n",
                                        "WM_USER 18446744073709551616\n",
                                        "WM_USER\t1\n",
                                        "WM_COPYDATA 1",
                                        "WM_COPYDATA -1\n{}",
                                        "WM_COPYDATA\n{}",
                                        "WM_COPYDATA 1 \n{}",
                                        "WM_COPYDATA 1\r\n{}",
                                        "WM_QUERYENDSESSION",
                                        "WM_QUERYENDSESSION 1\n",
                                        "WM_QUERYENDSESSION\nx",
                                        "WM_QUERYENDSESSION\r\n",
                                        "WM_CLOSE 1\n",
                                        QByteArray("WM_USER 1\0\n", 11),
                                        QByteArray("WM_USER\0 1\n", 11),
                                        LongRequest(MaxCommandRequestBytes + 1)};
        for (const QByteArray& request : invalid)
            QTest::newRow(request.isEmpty() ? "empty"
                                            : request.left(40).toPercentEncoding().constData())
                << request << K::Invalid << 0ull << QByteArray();
    }
    void ParseRequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(TCommandRequest::TKind, kind);
        QFETCH(quint64, param);
        QFETCH(QByteArray, payload);
        const TCommandRequest parsed = ParseCommandRequest(request);
        QCOMPARE(parsed.Kind, kind);
        QCOMPARE(parsed.Param, param);
        QCOMPARE(parsed.Payload, payload);
    }

    void RoundTrip_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("reply");
        QTest::addColumn<bool>("handled");
        QTest::newRow("user") << QByteArray("WM_USER 1\n") << 0 << true;
        QTest::newRow("copy data")
            << QByteArray("WM_COPYDATA 1\n{\"command\":\"capture\"}") << 1 << true;
        QTest::newRow("end of session") << QByteArray("WM_QUERYENDSESSION\n") << 1 << true;
        QTest::newRow("garbage") << QByteArray("hello") << 0 << false;
        QTest::newRow("empty") << QByteArray() << 0 << false;
        QTest::newRow("at the limit") << LongRequest(MaxCommandRequestBytes) << 1 << true;
        QTest::newRow("over-long") << LongRequest(200000) << 0 << false;
    }
    void RoundTrip()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, reply);
        QFETCH(bool, handled);
        TCommandServer server([this](const TCommandRequest& r) { return Handle(r); });
        QVERIFY(server.Listen(FFolder));
        auto answer = SendAsync(FFolder, request);
        QTRY_VERIFY(Ready(answer));
        QCOMPARE(answer.get(), std::optional<int>(reply));
        QCOMPARE(FSeen.size(), handled ? 1 : 0);
        if (handled)
            QCOMPARE(FSeen.first().Payload, ParseCommandRequest(request).Payload);
    }

    void SocketLifecycle()
    {
        const QString socket = FFolder + "/TFrmVorantu";
        QCOMPARE(SendCommand(FFolder, "WM_USER 1\n"), std::nullopt);
        {
            // A file left by a killed instance: refused like a missing window.
            QVERIFY(QFile(socket).open(QIODevice::WriteOnly));
            QCOMPARE(SendCommand(FFolder, "WM_USER 1\n"), std::nullopt);
            TCommandServer server([this](const TCommandRequest& r) { return Handle(r); });
            QVERIFY(server.Listen(FFolder));
            QVERIFY((QFileInfo(socket).permissions() & (QFile::ReadGroup | QFile::WriteGroup |
                                                        QFile::ReadOther | QFile::WriteOther)) ==
                    0);
            auto answer = SendAsync(FFolder, "WM_QUERYENDSESSION\n");
            QTRY_VERIFY(Ready(answer));
            QCOMPARE(answer.get(), std::optional<int>(1));
        }
        QVERIFY(!QFile::exists(socket));
        QCOMPARE(SendCommand(FFolder, "WM_USER 1\n"), std::nullopt);
    }

    void HandlersNestAndConnectionsAreIndependent()
    {
        QStringList order;
        QEventLoop* waiting = nullptr;
        std::atomic<bool> firstRunning = false;
        TCommandServer server([&](const TCommandRequest& r) {
            order << QStringLiteral("begin %1").arg(r.Param);
            if (r.Param == 10) {
                // A modal dialog in the handler: other requests are served meanwhile.
                QEventLoop loop;
                waiting = &loop;
                firstRunning = true;
                loop.exec();
                waiting = nullptr;
            } else if (waiting) {
                waiting->quit();
            }
            order << QStringLiteral("end %1").arg(r.Param);
            return int(r.Param);
        });
        QVERIFY(server.Listen(FFolder));
        // A client that never finishes its request must not hold anyone up.
        server.SetReadTimeoutMs(300);
        const int stalled = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(FFolder + "/TFrmVorantu").constData(),
                 sizeof address.sun_path);
        QCOMPARE(::connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::write(stalled, "WM_USER 1\n", 10), 10);

        auto first = SendAsync(FFolder, "WM_COPYDATA 10\n{}");
        auto second = std::async(std::launch::async, [&] {
            while (!firstRunning)
                QThread::msleep(5);
            return SendCommand(FFolder, "WM_COPYDATA 11\n{}", 10000);
        });
        QTRY_VERIFY(Ready(second) && Ready(first));
        QCOMPARE(second.get(), std::optional<int>(11));
        QCOMPARE(first.get(), std::optional<int>(10));
        QCOMPARE(order, (QStringList{"begin 10", "begin 11", "end 11", "end 10"}));

        // The stalled client is answered 0 and dropped once its time is up.
        char reply[8] = {};
        QTRY_VERIFY(Readable(stalled));
        QCOMPARE(::read(stalled, reply, sizeof reply), 2);
        QCOMPARE(QByteArray(reply), QByteArray("0\n"));
        QTRY_VERIFY(Readable(stalled));
        QCOMPARE(::read(stalled, reply, sizeof reply), 0);
        ::close(stalled);
        QCOMPARE(order.size(), 4);
    }

    void CrowdOfClientsIsRefusedNotFatal()
    {
        TCommandServer server([this](const TCommandRequest& r) { return Handle(r); });
        QVERIFY(server.Listen(FFolder));
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
        QCOMPARE(limit.rlim_cur, limit.rlim_max);

        // More silent clients than the server serves at once: the rest are
        // told 0 at once instead of holding a descriptor each.
        std::vector<int> clients;
        const auto closeClients = qScopeGuard([&] {
            for (int fd : clients)
                ::close(fd);
        });
        for (int i = 0; i < 1100; ++i) {
            const int fd = Connect(FFolder);
            QVERIFY(fd >= 0);
            clients.push_back(fd);
        }
        QTRY_VERIFY_WITH_TIMEOUT(Readable(clients.back()), 10000);
        int refused = 0;
        for (int fd : clients) {
            char reply[4] = {};
            if (Readable(fd) && ::read(fd, reply, sizeof reply) == 2 && QByteArray(reply) == "0\n")
                ++refused;
        }
        QCOMPARE(refused, 1100 - TCommandServer::MaxClients);
        for (int fd : clients)
            ::close(fd);
        clients.clear();

        // Once the server has seen the served ones go, a request is heard.
        std::optional<int> reply;
        QDeadlineTimer deadline(5000);
        while (reply != 1 && !deadline.hasExpired()) {
            auto answer = SendAsync(FFolder, "WM_QUERYENDSESSION\n");
            QTRY_VERIFY(Ready(answer));
            reply = answer.get();
            QVERIFY(reply.has_value());
        }
        QCOMPARE(reply, std::optional<int>(1));
    }

    void OutOfDescriptorsIsSurvived()
    {
        TCommandServer server([this](const TCommandRequest& r) { return Handle(r); });
        QVERIFY(server.Listen(FFolder));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size() + 16);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);

        // Clients until this process, server and all, has no descriptor left:
        // the server cannot accept the last ones.
        std::vector<int> clients;
        for (int fd; (fd = Connect(FFolder)) >= 0 && clients.size() < 100;)
            clients.push_back(fd);
        QVERIFY(clients.size() < 100);
        QTest::qWait(300);
        for (int fd : clients)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);

        QVERIFY(QFileInfo::exists(FFolder + "/TFrmVorantu"));
        auto answer = SendAsync(FFolder, "WM_QUERYENDSESSION\n");
        QTRY_VERIFY(Ready(answer));
        QCOMPARE(answer.get(), std::optional<int>(1));
    }

    void RemovedSocketFileIsMadeAgain()
    {
        TCommandServer server([this](const TCommandRequest& r) { return Handle(r); });
        QVERIFY(server.Listen(FFolder));
        QVERIFY(QFile::remove(FFolder + "/TFrmVorantu"));
        QTRY_VERIFY(QFileInfo::exists(FFolder + "/TFrmVorantu"));
        auto answer = SendAsync(FFolder, "WM_QUERYENDSESSION\n");
        QTRY_VERIFY(Ready(answer));
        QCOMPARE(answer.get(), std::optional<int>(1));
    }

    void SenderGivesUpAfterItsTimeout()
    {
        TCommandServer server([](const TCommandRequest&) {
            QTest::qWait(600);
            return 1;
        });
        QVERIFY(server.Listen(FFolder));
        auto answer = SendAsync(FFolder, "WM_QUERYENDSESSION\n", 100);
        QTRY_VERIFY(Ready(answer));
        QCOMPARE(answer.get(), std::nullopt);
    }
};

VORANTU_TEST_MAIN(TTestInstance)
#include "tst_Instance.moc"
