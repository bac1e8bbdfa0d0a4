// Runs the real vorantu-service on a loopback port and talks HTTP to it over
// plain sockets, so every byte of a request is the test's own choice.

#include "TestEnvironment.h"
#include "services/Text.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct THttpReply
{
    int Status = 0; // 0: no status line came back
    QList<QPair<QByteArray, QByteArray>> Headers;
    QByteArray Body;

    QByteArray Header(const QByteArray& name) const
    {
        for (const auto& [key, value] : Headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

// A connected loopback socket, closed with the object.
class TSocket
{
public:
    // `from` picks another loopback address as the source, so one test can
    // act as several clients (127.0.0.0/8 is all loopback).
    explicit TSocket(quint16 port, quint32 from = INADDR_LOOPBACK)
    {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FFd >= 0 && from != INADDR_LOOPBACK) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            source.sin_addr.s_addr = htonl(from);
            if (::bind(FFd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
                ::close(FFd);
                FFd = -1;
            }
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (FFd >= 0 &&
            ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(FFd);
            FFd = -1;
        }
    }
    ~TSocket()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }

    // Sends what the peer accepts; a peer that answers early and closes
    // stops the sending, as it would stop a real client.
    void Send(const QByteArray& data)
    {
        qsizetype sent = 0;
        while (FFd >= 0 && sent < data.size()) {
            const ssize_t n =
                ::send(FFd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    }

    void CloseSending()
    {
        if (FFd >= 0)
            ::shutdown(FFd, SHUT_WR);
    }

    // Everything until the peer closes, or until the deadline.
    QByteArray ReadAll(int timeoutMs)
    {
        QByteArray data;
        QDeadlineTimer deadline(timeoutMs);
        while (FFd >= 0 && !deadline.hasExpired()) {
            pollfd entry{FFd, POLLIN, 0};
            if (::poll(&entry, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                break;
            char buffer[65536];
            const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            data.append(buffer, n);
        }
        return data;
    }

private:
    int FFd = -1;
};

THttpReply ParseReply(const QByteArray& raw)
{
    THttpReply reply;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return reply;
    const QList<QByteArray> lines = raw.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/1."))
        return reply;
    reply.Status = statusLine[1].toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.Headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    reply.Body = raw.mid(headEnd + 4);
    return reply;
}

THttpReply Exchange(quint16 port, const QByteArray& request, int timeoutMs = 10000)
{
    TSocket socket(port);
    if (!socket.IsOpen())
        return {};
    socket.Send(request);
    return ParseReply(socket.ReadAll(timeoutMs));
}

// An HTTP/1.0 request: the service answers and closes, as with Vorantu's
// upload. `headers` are whole lines without CR LF.
QByteArray Request(const QByteArray& method, const QByteArray& target,
                   const QList<QByteArray>& headers, const QByteArray& body = {})
{
    QByteArray request = method + ' ' + target + " HTTP/1.0\r\n";
    for (const QByteArray& header : headers)
        request += header + "\r\n";
    if (!body.isEmpty() || method == "POST")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return request + "\r\n" + body;
}

QByteArray TestPng(int width = 64, int height = 48, bool noisy = false)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, noisy ? random.generate() : qRgba(x * 4, y * 5, 128, 255 - x));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray PngChunk(const QByteArray& type, const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : type + data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    QByteArray chunk;
    QDataStream out(&chunk, QIODevice::WriteOnly);
    out << quint32(data.size());
    out.writeRawData(type.constData(), int(type.size()));
    out.writeRawData(data.constData(), int(data.size()));
    out << crc;
    return chunk;
}

// A picture whose header promises `width` x `height` pixels of 16-bit RGBA
// and whose data are zeros that inflate to far more than they take.
QByteArray InflatingPng(quint32 width, quint32 height)
{
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << width << height << quint8(16) << quint8(6) << quint8(0) << quint8(0) << quint8(0);
    const QByteArray zeros = qCompress(QByteArray(8 * 1024 * 1024, '\0'), 9).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", zeros) +
           PngChunk("IEND", {});
}

// The form exactly as Vorantu writes it.
const QByteArray Boundary = "-------Embt-Boundary--1A2B3C4D5E6F7081";

QByteArray FormPart(const QByteArray& file, const QByteArray& fieldName = "file",
                    const QByteArray& boundary = Boundary)
{
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" + fieldName +
           "\"; filename=\"vorantu.png\"\r\n" + "Content-Type: image/png\r\n\r\n" + file + "\r\n";
}

QByteArray FormBody(const QByteArray& file, const QByteArray& fieldName = "file",
                    const QByteArray& boundary = Boundary)
{
    return FormPart(file, fieldName, boundary) + "--" + boundary + "--\r\n";
}

QByteArray UploadRequest(const QByteArray& host, const QByteArray& body,
                         const QByteArray& boundary = Boundary)
{
    return Request("POST", "/image",
                   {"Host: " + host, "Content-Type: multipart/form-data; boundary=" + boundary,
                    "User-Agent: Vorantu Uploader"},
                   body);
}

QString ServiceProgram()
{
    return QStringLiteral(VORANTU_SERVICE_PROGRAM);
}

// One running vorantu-service; stopped (and checked for a clean end) with
// the object.
class TServiceProcess
{
public:
    // Starts the service on a free loopback port and waits for it to listen.
    bool Start(const QStringList& arguments)
    {
        FProcess.setProgram(ServiceProgram());
        FProcess.setArguments(
            QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + arguments);
        FProcess.start();
        if (!FProcess.waitForStarted(5000))
            return false;
        static const QRegularExpression listening(
            QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && FProcess.state() == QProcess::Running) {
            FProcess.waitForReadyRead(100);
            FErrors += FProcess.readAllStandardError();
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(FErrors));
            if (match.hasMatch()) {
                FPort = quint16(match.captured(1).toUInt());
                return true;
            }
        }
        return false;
    }

    // SIGTERM, then the exit code (-1 for a crash or a hang).
    int Stop()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
        ::kill(pid_t(FProcess.processId()), SIGTERM);
        if (!FProcess.waitForFinished(10000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
            return -1;
        }
        FErrors += FProcess.readAllStandardError();
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }

    ~TServiceProcess() { Stop(); }

    quint16 Port() const { return FPort; }
    bool IsRunning() const { return FProcess.state() == QProcess::Running; }
    QByteArray Host() const { return "127.0.0.1:" + QByteArray::number(FPort); }
    QByteArray Errors()
    {
        FErrors += FProcess.readAllStandardError();
        return FErrors;
    }

private:
    QProcess FProcess;
    quint16 FPort = 0;
    QByteArray FErrors;
};

QStringList StoredFiles(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QJsonObject LastLogEntry(const QString& logFile)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object();
}

// The link the way Vorantu reads it from the reply.
QString ClientLink(const QByteArray& reply)
{
    const QString text = QString::fromUtf8(reply);
    if (!text.contains(QLatin1String("\"status\":\"success\"")))
        return {};
    return JsonUnescape(TextBetween(text, QStringLiteral("url\":\""), QStringLiteral("\"")));
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

const char* const StartupConfig = "{\n"
                                  "  \"latest\": \"0.2.0.0\",\n"
                                  "  \"update\": \"https://downloads.test/vorantu/0.2.0.0\",\n"
                                  "  \"notify\": \"http://news.test/notice?id=1&lang=ko\",\n"
                                  "  \"info\": {\n"
                                  "    \"style\": \"note\",\n"
                                  "    \"text\": \"새 버전 {안정} \\\"추천\\\" C:\\\\temp\\\\\",\n"
                                  "    \"flag\": \"stayontop\",\n"
                                  "    \"url\": \"https://downloads.test/notes\"\n"
                                  "  }\n"
                                  "}";

} // namespace

class TTestService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QString FStorage;
    QString FConfig;
    QString FLog;
    std::unique_ptr<TServiceProcess> FService;

    QString Path(const QString& name) const { return FDir.filePath(name); }

    QList<QByteArray> StartupHeaders(const QByteArray& version, const QByteArray& id) const
    {
        return {
            "Host: " + FService->Host(), "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)",
            "User-Version: " + version,  "User-Language: ko",
            "User-Debug: false",         "User-Union: " + id};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FStorage = Path(QStringLiteral("storage"));
        FConfig = Path(QStringLiteral("config.json"));
        FLog = Path(QStringLiteral("requests.log"));
        QVERIFY(WriteFile(FConfig, StartupConfig));
        FService = std::make_unique<TServiceProcess>();
        QVERIFY2(FService->Start({QStringLiteral("--storage"), FStorage, QStringLiteral("--config"),
                                  FConfig, QStringLiteral("--log"), FLog}),
                 FService->Errors().constData());
    }

    void cleanupTestCase() { QCOMPARE(FService->Stop(), 0); }

    void uploadAndFetch()
    {
        const QByteArray png = TestPng();
        const THttpReply reply =
            Exchange(FService->Port(), UploadRequest(FService->Host(), FormBody(png)));
        QCOMPARE(reply.Status, 200);
        QCOMPARE(reply.Header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        const QRegularExpression exact(
            QStringLiteral("^\\{\"status\":\"success\",\"url\":\"http:\\\\/\\\\/127\\.0\\.0\\.1:%1"
                           "\\\\/i\\\\/([0-9a-f]{32})\\.png\"\\}$")
                .arg(FService->Port()));
        const QRegularExpressionMatch match = exact.match(QString::fromLatin1(reply.Body));
        QVERIFY2(match.hasMatch(), reply.Body.constData());

        const QUrl link(ClientLink(reply.Body));
        QCOMPARE(link.host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(link.port(), int(FService->Port()));
        const THttpReply image = Exchange(FService->Port(), Request("GET", link.path().toLatin1(),
                                                                    {"Host: " + FService->Host()}));
        QCOMPARE(image.Status, 200);
        QCOMPARE(image.Header("Content-Type"), QByteArray("image/png"));
        QCOMPARE(image.Body, png);

        QFile stored(FStorage + QLatin1Char('/') + match.captured(1) + QStringLiteral(".png"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), png);

        const QJsonObject entry = LastLogEntry(FLog);
        QCOMPARE(entry.value("path").toString(), link.path());
        QCOMPARE(entry.value("status").toInt(), 200);

        // A second upload of the same picture gets a name of its own.
        const THttpReply again =
            Exchange(FService->Port(), UploadRequest(FService->Host(), FormBody(png)));
        QCOMPARE(again.Status, 200);
        QVERIFY(!ClientLink(again.Body).isEmpty());
        QVERIFY(ClientLink(again.Body) != link.toString());
    }

    void bytesAfterThePictureAreNotStored()
    {
        const QByteArray png = TestPng();
        const THttpReply reply =
            Exchange(FService->Port(),
                     UploadRequest(FService->Host(), FormBody(png + "<script>alert(1)</script>")));
        QCOMPARE(reply.Status, 200);
        const THttpReply image = Exchange(
            FService->Port(), Request("GET", QUrl(ClientLink(reply.Body)).path().toLatin1(),
                                      {"Host: " + FService->Host()}));
        QCOMPARE(image.Body, png);
    }

    void pictureTooLargeIsRefusedFromItsHeader()
    {
        // Eight at once, as a crowd of attackers would send them, beside an
        // ordinary page.
        const QByteArray bomb =
            UploadRequest(FService->Host(), FormBody(InflatingPng(16384, 16384)));
        std::vector<std::unique_ptr<TSocket>> bombs;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 8; ++i) {
            bombs.push_back(std::make_unique<TSocket>(FService->Port()));
            bombs.back()->Send(bomb);
        }
        const THttpReply page =
            Exchange(FService->Port(), Request("GET", "/vorantu", {"Host: " + FService->Host()}));
        QCOMPARE(page.Status, 200);
        for (const auto& socket : bombs)
            QCOMPARE(ParseReply(socket->ReadAll(5000)).Status, 415);
        qInfo("eight inflating pictures refused and a page served: %lld ms", timer.elapsed());
    }

    void uploadWithCurl()
    {
        const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
        if (curl.isEmpty())
            QSKIP("curl is not installed");
        // Large enough for curl to ask "100-continue" and for the body to
        // arrive in many pieces.
        const QByteArray png = TestPng(800, 700, true);
        QVERIFY(png.size() > 1024 * 1024);
        const QString file = Path(QStringLiteral("noise.png"));
        QVERIFY(WriteFile(file, png));

        QProcess upload;
        upload.start(
            curl, {QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("30"),
                   QStringLiteral("-F"),
                   QStringLiteral("file=@%1;filename=vorantu.png;type=image/png").arg(file),
                   QStringLiteral("http://%1/image").arg(QString::fromLatin1(FService->Host()))});
        QVERIFY(upload.waitForFinished(40000));
        const QByteArray reply = upload.readAllStandardOutput();
        QCOMPARE(upload.exitCode(), 0);
        const QString link = ClientLink(reply);
        QVERIFY2(!link.isEmpty(), reply.constData());

        const QString fetched = Path(QStringLiteral("fetched.png"));
        QProcess fetch;
        fetch.start(curl,
                    {QStringLiteral("-sS"), QStringLiteral("--fail"), QStringLiteral("--max-time"),
                     QStringLiteral("30"), QStringLiteral("-o"), fetched, link});
        QVERIFY(fetch.waitForFinished(40000));
        QCOMPARE(fetch.exitCode(), 0);
        QFile back(fetched);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QVERIFY(back.readAll() == png);
    }

    void uploadRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QByteArray host = "127.0.0.1:" + QByteArray::number(FService->Port());
        const QByteArray png = TestPng();
        QByteArray damaged = png;
        damaged[png.size() / 2] = char(damaged[png.size() / 2] ^ 0x5A);
        const QByteArray form = FormBody(png);

        QTest::newRow("picture that inflates to 2 GiB")
            << UploadRequest(host, FormBody(InflatingPng(16384, 16384))) << 415 << "too large";
        QTest::newRow("text file")
            << UploadRequest(host, FormBody("hello, not a picture")) << 415 << "not a PNG";
        QTest::newRow("damaged PNG")
            << UploadRequest(host, FormBody(damaged)) << 415 << "not a valid PNG";
        QTest::newRow("cut-off PNG")
            << UploadRequest(host, FormBody(png.left(png.size() - 20))) << 415 << "not a valid PNG";
        QTest::newRow("PNG signature only")
            << UploadRequest(host, FormBody(png.left(8))) << 415 << "not a valid PNG";
        QTest::newRow("form without closing boundary")
            << UploadRequest(host, form.left(form.size() - 30)) << 400 << "cut off";
        QTest::newRow("form ending in its boundary")
            << UploadRequest(host, form.left(form.size() - 4)) << 400 << "cut off";
        QTest::newRow("no file field")
            << UploadRequest(host, FormBody(png, "picture")) << 400 << "no \\\"file\\\"";
        QTest::newRow("two files")
            << UploadRequest(host, FormPart(png) + FormPart(png) + "--" + Boundary + "--\r\n")
            << 400 << "more than one";
        QTest::newRow("other boundary in the body")
            << UploadRequest(host, FormBody(png, "file", "XYZ")) << 400 << "no boundary";
        QTest::newRow("empty body") << UploadRequest(host, QByteArray()) << 400 << "no boundary";
        QTest::newRow("not a form")
            << Request("POST", "/image", {"Host: " + host, "Content-Type: image/png"}, png) << 400
            << "not a multipart";
        QTest::newRow("no boundary parameter")
            << Request("POST", "/image", {"Host: " + host, "Content-Type: multipart/form-data"},
                       form)
            << 400 << "no usable boundary";
        QTest::newRow("no Host header")
            << Request("POST", "/image",
                       {"Content-Type: multipart/form-data; boundary=" + Boundary}, form)
            << 400 << "Host header is missing";
        QTest::newRow("Host with quotation mark")
            << UploadRequest("x\",\"url\":\"http://evil", form) << 400 << "not a host name";
        QTest::newRow("Host with slash")
            << UploadRequest("evil.test/steal?", form) << 400 << "not a host name";
        QTest::newRow("Host with backslash")
            << UploadRequest("evil.test\\", form) << 400 << "not a host name";
        QTest::newRow("Host with bad port")
            << UploadRequest("evil.test:80x", form) << 400 << "not a host name";
        QTest::newRow("two Host headers")
            << Request("POST", "/image",
                       {"Host: " + host, "Host: evil.test",
                        "Content-Type: multipart/form-data; boundary=" + Boundary},
                       form)
            << 400 << "more than one Host";
    }

    void uploadRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QString, message);

        const QStringList before = StoredFiles(FStorage);
        const THttpReply reply = Exchange(FService->Port(), request);
        QCOMPARE(reply.Status, status);
        QVERIFY2(reply.Body.startsWith("{\"status\":\"error\",\"message\":\""),
                 reply.Body.constData());
        QVERIFY2(QString::fromUtf8(reply.Body).contains(message), reply.Body.constData());
        QVERIFY(ClientLink(reply.Body).isEmpty());
        // Nothing stored, not even a temporary file left behind.
        QCOMPARE(StoredFiles(FStorage), before);
    }

    void oversizedBody()
    {
        TServiceProcess small;
        const QString storage = Path(QStringLiteral("small"));
        QVERIFY(small.Start({QStringLiteral("--storage"), storage, QStringLiteral("--max-body"),
                             QStringLiteral("3000"), QStringLiteral("--log"),
                             Path(QStringLiteral("small.log"))}));

        // Refused from the headers alone: the test never sends the body.
        const QByteArray png = TestPng(8, 8);
        const QByteArray head = "POST /image HTTP/1.0\r\nHost: " + small.Host() +
                                "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                                "\r\nContent-Length: 3001\r\n\r\n";
        {
            TSocket socket(small.Port());
            socket.Send(head);
            const THttpReply reply = ParseReply(socket.ReadAll(5000));
            QCOMPARE(reply.Status, 413);
            QVERIFY(reply.Body.contains("larger than 3000 bytes"));
        }

        // A body of exactly the limit is accepted.
        const QByteArray form = FormBody(png);
        QVERIFY(form.size() < 3000);
        // A preamble before the first boundary fills the body up.
        const QByteArray body = QByteArray(3000 - form.size() - 2, 'p') + "\r\n" + form;
        QCOMPARE(body.size(), 3000);
        const THttpReply exact = Exchange(small.Port(), UploadRequest(small.Host(), body));
        QCOMPARE(exact.Status, 200);

        // A chunked body is refused with the service's own answer before any
        // chunk line is read, also one whose chunk line the library would
        // have refused with a page of its own.
        for (const QByteArray& firstChunk :
             {"400\r\n" + QByteArray(0x400, 'x') + "\r\n",
              "5;" + QByteArray(70000, 'e') + "\r\n--b--\r\n0\r\n\r\n"}) {
            TSocket socket(small.Port());
            socket.Send("POST /image HTTP/1.1\r\nHost: " + small.Host() +
                        "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                        "\r\nTransfer-Encoding: chunked\r\n\r\n" + firstChunk);
            const THttpReply reply = ParseReply(socket.ReadAll(5000));
            QCOMPARE(reply.Status, 411);
            QVERIFY2(reply.Body.contains("Content-Length"), reply.Body.constData());
        }
        QCOMPARE(Exchange(small.Port(), UploadRequest(small.Host(), FormBody(png))).Status, 200);
        QCOMPARE(StoredFiles(storage).filter(QStringLiteral(".png")).size(), 2);

        // The default limit is 32 MiB.
        TSocket socket(FService->Port());
        socket.Send("POST /image HTTP/1.0\r\nHost: " + FService->Host() +
                    "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                    "\r\nContent-Length: 33554433\r\n\r\n");
        QCOMPARE(ParseReply(socket.ReadAll(5000)).Status, 413);
        QCOMPARE(small.Stop(), 0);
    }

    void uploadsInFlightAreBounded()
    {
        TServiceProcess small;
        QVERIFY(small.Start({QStringLiteral("--storage"), Path(QStringLiteral("budget")),
                             QStringLiteral("--max-body"), QStringLiteral("3000"),
                             QStringLiteral("--log"), Path(QStringLiteral("budget.log"))}));
        const QByteArray head = "POST /image HTTP/1.0\r\nHost: " + small.Host() +
                                "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                                "\r\nContent-Length: 3000\r\n\r\n";
        const QByteArray good = UploadRequest(small.Host(), FormBody(TestPng(8, 8)));
        {
            // Uploads that declare the largest body and send it a byte at a
            // time hold only what they sent: the next upload goes through.
            std::vector<std::unique_ptr<TSocket>> trickling;
            for (int i = 0; i < 6; ++i) {
                trickling.push_back(std::make_unique<TSocket>(small.Port()));
                trickling.back()->Send(head + "-");
            }
            QCOMPARE(Exchange(small.Port(), good).Status, 200);
        }
        {
            // Four nearly whole bodies use up all the memory the service sets
            // aside; the fifth upload is refused, and its client reads the
            // refusal instead of a reset connection.
            std::vector<std::unique_ptr<TSocket>> held;
            for (int i = 0; i < 4; ++i) {
                held.push_back(std::make_unique<TSocket>(small.Port()));
                held.back()->Send(head + QByteArray(2990, 'p'));
                QCOMPARE(ParseReply(held.back()->ReadAll(200)).Status, 0);
            }
            const THttpReply refused = Exchange(small.Port(), good);
            QCOMPARE(refused.Status, 503);
            QVERIFY(refused.Body.contains("too many uploads"));
        }
        // Their connections are gone; the memory is free again.
        QDeadlineTimer deadline(5000);
        int status = 0;
        while (status != 200 && !deadline.hasExpired()) {
            status = Exchange(small.Port(), good).Status;
            if (status != 200)
                QTest::qWait(50);
        }
        QCOMPARE(status, 200);
        QCOMPARE(small.Stop(), 0);
    }

    void slowClientsDoNotStallOthers()
    {
        TServiceProcess service;
        QVERIFY(service.Start({QStringLiteral("--storage"), Path(QStringLiteral("slow")),
                               QStringLiteral("--log"), Path(QStringLiteral("slow.log"))}));
        const QByteArray host = service.Host();
        const QByteArray uploadHead =
            "POST /image HTTP/1.0\r\nHost: " + host +
            "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
            "\r\nContent-Length: 33554432\r\n\r\n";
        std::vector<std::unique_ptr<TSocket>> slow;
        // Four uploads of the largest size, each from an address of its own,
        // that will never finish.
        for (quint32 i = 0; i < 4; ++i) {
            slow.push_back(std::make_unique<TSocket>(service.Port(), INADDR_LOOPBACK + 10 + i));
            QVERIFY(slow.back()->IsOpen());
            slow.back()->Send(uploadHead + "--");
        }
        // Three hundred half-sent requests from one address.
        for (int i = 0; i < 300; ++i) {
            slow.push_back(std::make_unique<TSocket>(service.Port(), INADDR_LOOPBACK + 2));
            slow.back()->Send("GET /vorantu HTTP/1.0\r\nX-Slow: ");
        }

        QElapsedTimer timer;
        timer.start();
        const THttpReply page =
            Exchange(service.Port(), Request("GET", "/vorantu", {"Host: " + host}), 1000);
        QCOMPARE(page.Status, 200);
        const THttpReply upload =
            Exchange(service.Port(), UploadRequest(host, FormBody(TestPng())), 1000);
        QCOMPARE(upload.Status, 200);
        qInfo("a page and an upload beside 304 slow clients: %lld ms", timer.elapsed());
        QCOMPARE(service.Stop(), 0);
    }

    void tricklingUploadIsCut()
    {
        TServiceProcess service;
        QVERIFY(service.Start({QStringLiteral("--storage"), Path(QStringLiteral("cut")),
                               QStringLiteral("--request-timeout"), QStringLiteral("1"),
                               QStringLiteral("--log"), Path(QStringLiteral("cut.log"))}));
        TSocket socket(service.Port());
        socket.Send("POST /image HTTP/1.0\r\nHost: " + service.Host() +
                    "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                    "\r\nContent-Length: 1000\r\n\r\n");
        // A byte every 100 ms keeps the idle timer from ever running out.
        QElapsedTimer timer;
        timer.start();
        bool closed = false;
        while (!closed && timer.elapsed() < 5000) {
            socket.Send("x");
            pollfd entry{socket.Fd(), POLLIN, 0};
            closed = ::poll(&entry, 1, 100) > 0;
        }
        QVERIFY(closed);
        QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()).constData());
        QCOMPARE(service.Stop(), 0);
    }

    void differingContentLengthsEndTheConnection()
    {
        // The body, as a proxy that reads the last length would forward it,
        // hides a second request.
        const QByteArray smuggled =
            "GET /vorantu HTTP/1.1\r\nHost: " + FService->Host() + "\r\n\r\n";
        TSocket socket(FService->Port());
        socket.Send("POST /image HTTP/1.1\r\nHost: " + FService->Host() +
                    "\r\nContent-Type: multipart/form-data; boundary=" + Boundary +
                    "\r\nContent-Length: 0\r\nContent-Length: " +
                    QByteArray::number(smuggled.size()) + "\r\n\r\n" + smuggled);
        const QByteArray answer = socket.ReadAll(5000);
        const THttpReply reply = ParseReply(answer);
        QCOMPARE(reply.Status, 400);
        QVERIFY(reply.Body.contains("Content-Length"));
        QCOMPARE(answer.count("HTTP/1."), 1);

        // The same length twice says nothing two ways; it is served.
        const QByteArray body = FormBody(TestPng(8, 8));
        const THttpReply same = Exchange(
            FService->Port(), Request("POST", "/image",
                                      {"Host: " + FService->Host(),
                                       "Content-Type: multipart/form-data; boundary=" + Boundary,
                                       "Content-Length: " + QByteArray::number(body.size())},
                                      body));
        QCOMPARE(same.Status, 200);
    }

    void fetchRefused_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");

        // A file beside the pictures, and a link with a picture's name that
        // points out of the folder: neither may be served.
        QVERIFY(WriteFile(FStorage + QStringLiteral("/planted.txt"), "secret"));
        QVERIFY(WriteFile(Path(QStringLiteral("outside.png")), TestPng()));
        const QString linkName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
        QFile::remove(FStorage + QLatin1Char('/') + linkName);
        QVERIFY(QFile::link(Path(QStringLiteral("outside.png")),
                            FStorage + QLatin1Char('/') + linkName));

        const QByteArray name = "00112233445566778899aabbccddeeff.png";
        QTest::newRow("dot-dot") << QByteArray("GET") << QByteArray("/i/../holds.json") << 404;
        QTest::newRow("dot-dot to a file outside")
            << QByteArray("GET") << QByteArray("/i/../../outside.png") << 404;
        QTest::newRow("encoded slash")
            << QByteArray("GET") << QByteArray("/i/..%2Fholds.json") << 404;
        QTest::newRow("encoded dots and slash")
            << QByteArray("GET") << QByteArray("/i/%2e%2e%2f%2e%2e%2foutside.png") << 404;
        QTest::newRow("encoded backslash")
            << QByteArray("GET") << QByteArray("/i/..%5Cplanted.txt") << 404;
        QTest::newRow("absolute path in name")
            << QByteArray("GET") << QByteArray("/i//etc/passwd") << 404;
        QTest::newRow("file beside the pictures")
            << QByteArray("GET") << QByteArray("/i/planted.txt") << 404;
        QTest::newRow("hold list") << QByteArray("GET") << QByteArray("/i/holds.json") << 404;
        QTest::newRow("link out of the folder")
            << QByteArray("GET") << "/i/" + linkName.toLatin1() << 404;
        QTest::newRow("unknown picture") << QByteArray("GET") << "/i/" + name << 404;
        QTest::newRow("upper-case name") << QByteArray("GET") << "/i/" + name.toUpper() << 404;
        QTest::newRow("trailing slash") << QByteArray("GET") << "/i/" + name + "/" << 404;
        QTest::newRow("short name") << QByteArray("GET") << "/i/" + name.mid(1) << 404;
        QTest::newRow("storage root") << QByteArray("GET") << QByteArray("/i/") << 404;
        QTest::newRow("unknown page") << QByteArray("GET") << QByteArray("/admin") << 404;
        QTest::newRow("root") << QByteArray("GET") << QByteArray("/") << 404;
        QTest::newRow("upload by GET") << QByteArray("GET") << QByteArray("/image") << 405;
        QTest::newRow("page by POST") << QByteArray("POST") << QByteArray("/vorantu") << 405;
        QTest::newRow("picture by DELETE") << QByteArray("DELETE") << "/i/" + name << 405;
        QTest::newRow("start-up by PUT") << QByteArray("PUT") << QByteArray("/api.init.php") << 405;
    }

    void fetchRefused()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        const THttpReply reply =
            Exchange(FService->Port(), Request(method, target, {"Host: " + FService->Host()}));
        QCOMPARE(reply.Status, status);
        QVERIFY(reply.Body.startsWith("{\"status\":\"error\""));
        QVERIFY(!reply.Body.contains("secret"));
        QVERIFY(!reply.Body.contains("\x89PNG"));
    }

    void startupReply()
    {
        const THttpReply reply =
            Exchange(FService->Port(),
                     Request("GET", "/api.init.php",
                             StartupHeaders("0.1.0.0", "0123456789ABCDEF2501021A2B3C4D5E")));
        QCOMPARE(reply.Status, 200);

        // Read as Vorantu reads it: markers, not a JSON parser.
        const QString text = QString::fromUtf8(reply.Body);
        const auto value = [](const QString& source, const QString& marker) {
            return JsonUnescape(TextBetween(source, marker, QStringLiteral("\"")));
        };
        QCOMPARE(value(text, "\"update\":\""),
                 QStringLiteral("https://downloads.test/vorantu/0.2.0.0"));
        QCOMPARE(value(text, "\"notify\":\""),
                 QStringLiteral("http://news.test/notice?id=1&lang=ko"));
        const QString info = TextBetween(text, QStringLiteral("\"info\":{"), QStringLiteral("}"));
        QCOMPARE(value(info, "\"style\":\""), QStringLiteral("note"));
        QCOMPARE(value(info, "\"text\":\""), QStringLiteral("새 버전 {안정} \"추천\" C:\\temp\\"));
        QCOMPARE(value(info, "\"flag\":\""), QStringLiteral("stayontop"));
        QCOMPARE(value(info, "\"url\":\""), QStringLiteral("https://downloads.test/notes"));

        // And it is still JSON any other reader understands.
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(reply.Body, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(object.value("info").toObject().value("text").toString(),
                 QStringLiteral("새 버전 {안정} \"추천\" C:\\temp\\"));

        // The log holds the headers as they arrived, in their order.
        const QJsonObject entry = LastLogEntry(FLog);
        QCOMPARE(entry.value("path").toString(), QStringLiteral("/api.init.php"));
        QStringList userHeaders;
        for (const QJsonValue& pair : entry.value("headers").toArray()) {
            const QString name = pair.toArray().at(0).toString();
            if (name.startsWith(QLatin1String("User-")))
                userHeaders << name + QLatin1Char('=') + pair.toArray().at(1).toString();
        }
        QCOMPARE(userHeaders,
                 (QStringList{"User-Agent=Mozilla/5.0 (Windows NT 10.0; Win64; x64)",
                              "User-Version=0.1.0.0", "User-Language=ko", "User-Debug=false",
                              "User-Union=0123456789ABCDEF2501021A2B3C4D5E"}));
    }

    void startupOffer_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<bool>("offered");

        const QByteArray latest = "{\"latest\":\"0.2.0.0\",\"update\":\"http://u.test/"
                                  "\",\"info\":{\"style\":\"hold\",\"text\":\"t\"}}";
        QTest::newRow("older version") << latest << QByteArray("0.1.9.9") << true;
        QTest::newRow("older, three parts") << latest << QByteArray("0.1.5") << true;
        QTest::newRow("same version") << latest << QByteArray("0.2.0.0") << false;
        QTest::newRow("newer version") << latest << QByteArray("0.10.0.0") << false;
        QTest::newRow("unreadable version") << latest << QByteArray("abc") << true;
        QTest::newRow("no newest version named")
            << QByteArray("{\"update\":\"http://u.test/\"}") << QByteArray("9.9.9.9") << true;
        QTest::newRow("no update address")
            << QByteArray("{\"latest\":\"0.2.0.0\"}") << QByteArray("0.1.0.0") << false;
        QTest::newRow("configuration broken since start")
            << QByteArray("{\"update\": ") << QByteArray("0.1.0.0") << false;
    }

    void startupOffer()
    {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, version);
        QFETCH(bool, offered);

        // The file is read for every request, so edits need no restart.
        QVERIFY(WriteFile(FConfig, config));
        const THttpReply reply =
            Exchange(FService->Port(),
                     Request("GET", "/api.init.php", StartupHeaders(version, "OFFER-TEST")));
        QVERIFY(WriteFile(FConfig, StartupConfig));
        QCOMPARE(reply.Status, 200);
        const QString text = QString::fromUtf8(reply.Body);
        const QString update =
            TextBetween(text, QStringLiteral("\"update\":\""), QStringLiteral("\""));
        QCOMPARE(update.isEmpty(), !offered);
        // The info object travels with an offer only.
        const QString info = TextBetween(text, QStringLiteral("\"info\":{"), QStringLiteral("}"));
        QCOMPARE(TextBetween(info, QStringLiteral("\"style\":\""), QStringLiteral("\"")).isEmpty(),
                 !offered || !config.contains("style"));
    }

    void hold()
    {
        const QString storage = Path(QStringLiteral("hold-storage"));
        const QString config = Path(QStringLiteral("hold.json"));
        QVERIFY(WriteFile(config, "{\"latest\":\"0.2.0.0\",\"update\":\"http://u.test/0.2\"}"));
        const QStringList arguments{QStringLiteral("--storage"), storage,
                                    QStringLiteral("--config"),  config,
                                    QStringLiteral("--log"),     Path(QStringLiteral("hold.log"))};
        auto service = std::make_unique<TServiceProcess>();
        QVERIFY(service->Start(arguments));

        const auto offered = [&](const QByteArray& id) {
            const THttpReply reply =
                Exchange(service->Port(),
                         Request("GET", "/api.init.php",
                                 {"Host: " + service->Host(), "User-Version: 0.1.0.0",
                                  "User-Language: en", "User-Debug: false", "User-Union: " + id}));
            return !TextBetween(QString::fromUtf8(reply.Body), QStringLiteral("\"update\":\""),
                                QStringLiteral("\""))
                        .isEmpty();
        };
        const auto sendHold = [&] {
            return Exchange(service->Port(),
                            Request("GET", "/api.init.php",
                                    {"Host: " + service->Host(), "User-Version: 0.1.0.0",
                                     "User-Command: hold"}));
        };

        QVERIFY(offered("INSTALL-A"));
        const THttpReply held = sendHold();
        QCOMPARE(held.Status, 200);
        QCOMPARE(held.Body, QByteArray("{\"status\":\"success\"}"));
        QVERIFY(!offered("INSTALL-A"));
        QVERIFY(offered("INSTALL-B"));

        // Holds outlive a restart.
        QCOMPARE(service->Stop(), 0);
        service = std::make_unique<TServiceProcess>();
        QVERIFY(service->Start(arguments));
        QVERIFY(!offered("INSTALL-A"));

        // A new release is offered again.
        QVERIFY(WriteFile(config, "{\"latest\":\"0.3.0.0\",\"update\":\"http://u.test/0.3\"}"));
        QVERIFY(offered("INSTALL-A"));

        const THttpReply unknown = Exchange(
            service->Port(),
            Request("GET", "/api.init.php", {"Host: " + service->Host(), "User-Command: delete"}));
        QCOMPARE(unknown.Status, 400);
        QCOMPARE(service->Stop(), 0);
    }

    void pages_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        QTest::newRow("product page, older version")
            << QByteArray("/vorantu?v=0.1.0.0")
            << QStringList{"Vorantu", "Your version: <strong>0.1.0.0</strong>",
                           "href=\"https://downloads.test/vorantu/0.2.0.0\""}
            << QStringList{"up to date"};
        QTest::newRow("product page, newest version")
            << QByteArray("/vorantu?v=0.2.0.0") << QStringList{"up to date"}
            << QStringList{"Download the newest"};
        QTest::newRow("product page, script in the version")
            << QByteArray("/vorantu?v=%3Cscript%3Ealert(1)%3C/script%3E") << QStringList{"Vorantu"}
            << QStringList{"<script", "alert(1)", "Your version"};
        QTest::newRow("product page without version")
            << QByteArray("/vorantu") << QStringList{"Vorantu"} << QStringList{"Your version"};
        QTest::newRow("help for ffmpeg")
            << QByteArray("/help?app=vorantu&msg=ffmpegnotfound")
            << QStringList{"ffmpeg was not found", "apt install ffmpeg"} << QStringList{"libwebp"};
        QTest::newRow("help for libwebp")
            << QByteArray("/help?app=vorantu&msg=webpnotfound")
            << QStringList{"libwebp.so.7 was not found", "apt install libwebp7"}
            << QStringList{"ffmpeg"};
        QTest::newRow("help without a known reason")
            << QByteArray("/help?app=vorantu&msg=%3Cb%3E")
            << QStringList{"msg=ffmpegnotfound", "msg=webpnotfound"} << QStringList{"<b>"};
    }

    void pages()
    {
        QFETCH(QByteArray, target);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const THttpReply reply =
            Exchange(FService->Port(), Request("GET", target, {"Host: " + FService->Host()}));
        QCOMPARE(reply.Status, 200);
        QCOMPARE(reply.Header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        const QString page = QString::fromUtf8(reply.Body);
        QVERIFY(page.startsWith(QLatin1String("<!DOCTYPE html>")));
        for (const QString& text : present)
            QVERIFY2(page.contains(text), qPrintable(text));
        for (const QString& text : absent)
            QVERIFY2(!page.contains(text), qPrintable(text));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said");

        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QStringList{
                                     "--listen ADDRESS:PORT", "--storage DIR", "--config FILE",
                                     "--max-body BYTES",      "--log FILE",    "upload_host",
                                     "service_url",           "Vorantu.conf"};
        QTest::newRow("unknown option")
            << QStringList{"--port", "80"} << 2 << QStringList{"unknown option \"--port\""};
        QTest::newRow("listen without port")
            << QStringList{"--listen", "127.0.0.1"} << 2 << QStringList{"ADDRESS:PORT"};
        QTest::newRow("listen on a name") << QStringList{"--listen=example.test:80"} << 2
                                          << QStringList{"not an IPv4 or IPv6 address"};
        QTest::newRow("zero body limit")
            << QStringList{"--max-body", "0"} << 2 << QStringList{"--max-body"};
        QTest::newRow("missing value")
            << QStringList{"--storage"} << 2 << QStringList{"--storage needs a value"};
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        QProcess process;
        process.start(ServiceProgram(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QString output =
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        for (const QString& text : said)
            QVERIFY2(output.contains(text), qPrintable(output));
    }

    void startRefused()
    {
        // A configuration that does not load, and a port that is taken.
        const QString broken = Path(QStringLiteral("broken.json"));
        QVERIFY(WriteFile(broken, "{\"update\":\"file:///etc/passwd\"}"));
        QProcess process;
        process.start(ServiceProgram(), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                         QStringLiteral("--storage"), Path(QStringLiteral("x")),
                                         QStringLiteral("--config"), broken});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray complaint = process.readAllStandardError();
        QVERIFY2(complaint.contains("must be an http or https address"), complaint.constData());

        process.start(ServiceProgram(), {QStringLiteral("--listen"),
                                         QStringLiteral("127.0.0.1:%1").arg(FService->Port()),
                                         QStringLiteral("--storage"), Path(QStringLiteral("x"))});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray said = process.readAllStandardError();
        QVERIFY2(said.contains("cannot listen"), said.constData());
    }

    void hostileInput()
    {
        const quint16 port = FService->Port();
        const QByteArray host = FService->Host();
        const QByteArray good = UploadRequest(host, FormBody(TestPng(16, 16)));

        // Hand-made requests that break the protocol in known ways.
        QList<QByteArray> requests{
            QByteArray(),
            QByteArray("\r\n\r\n"),
            QByteArray("GET\r\n\r\n"),
            QByteArray("GET / HTTP/9.9\r\n\r\n"),
            QByteArray("GET /vorantu HTTP/1.1\r\n\r\n"), // no Host in HTTP/1.1
            QByteArrayLiteral("G\0T / HTTP/1.0\r\n\r\n"),
            QByteArrayLiteral("GET /\0/i HTTP/1.0\r\n\r\n"),
            "GET /" + QByteArray(100000, 'a') + " HTTP/1.0\r\n\r\n",
            "GET / HTTP/1.0\r\nX: " + QByteArray(100000, 'b') + "\r\n\r\n",
            "GET / HTTP/1.0\r\n" + QByteArray("X: y\r\n").repeated(5000) + "\r\n",
            QByteArray("GET / HTTP/1.0\r\nNoColon\r\n\r\n"),
            QByteArray("GET / HTTP/1.0\r\n: empty name\r\n\r\n"),
            QByteArray("GET / HTTP/1.0\r\n folded: line\r\n\r\n"),
            "POST /image HTTP/1.0\r\nHost: " + host + "\r\nContent-Length: -5\r\n\r\n",
            "POST /image HTTP/1.0\r\nHost: " + host +
                "\r\nContent-Length: 99999999999999999999999\r\n\r\n",
            "POST /image HTTP/1.0\r\nHost: " + host +
                "\r\nContent-Length: 10\r\nContent-Length: 20\r\n\r\n0123456789",
            "POST /image HTTP/1.1\r\nHost: " + host +
                "\r\nContent-Type: multipart/form-data; boundary=b\r\nTransfer-Encoding: "
                "chunked\r\n\r\nZZZ\r\nxx\r\n",
            "POST /image HTTP/1.1\r\nHost: " + host +
                "\r\nContent-Type: multipart/form-data; boundary=b\r\nTransfer-Encoding: "
                "chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n",
            "POST /image HTTP/1.1\r\nHost: " + host +
                "\r\nContent-Type: multipart/form-data; boundary=b\r\nTransfer-Encoding: "
                "chunked\r\n\r\n5\r\n--b--\r\n0\r\n\r\n",
            "POST /image HTTP/1.0\r\nHost: " + host +
                "\r\nContent-Type: multipart/form-data; boundary=\"unterminated\r\nContent-Length: "
                "4\r\n\r\nabcd",
            "POST /image HTTP/1.0\r\nHost: " + host +
                "\r\nContent-Type: multipart/form-data; boundary=" + QByteArray(300, 'q') +
                "\r\nContent-Length: 4\r\n\r\nabcd",
            UploadRequest(host, "--" + Boundary + "\r\n" + QByteArray("X: y\r\n").repeated(4000) +
                                    "\r\n\r\n--" + Boundary + "--\r\n"),
            UploadRequest(host, "--" + Boundary + "--\r\n"),
            UploadRequest(host, "--" + Boundary + "\r\n\r\n\r\n--" + Boundary + "--"),
            UploadRequest(host, "--" + Boundary),
            UploadRequest(host,
                          "--" + Boundary +
                              "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a\\"),
            UploadRequest(host, FormBody("\x89PNG\r\n\x1a\n" + QByteArray(64, '\0'))),
            UploadRequest(
                host, FormBody("\x89PNG\r\n\x1a\n" +
                               QByteArray::fromHex("0000000d49484452ffffffffffffffff0806000000"))),
            "GET /api.init.php HTTP/1.0\r\nUser-Union: " + QByteArray(8000, 'U') + "\r\n\r\n",
            "GET /api.init.php HTTP/1.0\r\nUser-Version: 65536.-1.x\r\n\r\n",
            "GET /help?msg=%ZZ&&=&%00 HTTP/1.0\r\n\r\n",
            "GET /vorantu?v=%FF%FE HTTP/1.0\r\n\r\n",
            good.left(good.size() / 2),
        };
        for (const QByteArray& request : std::as_const(requests)) {
            TSocket socket(port);
            QVERIFY(socket.IsOpen());
            socket.Send(request);
            socket.CloseSending();
            const QByteArray answer = socket.ReadAll(5000);
            QVERIFY2(!answer.contains("\"status\":\"success\""), request.left(80).constData());
        }

        // A thousand damaged copies of good requests, from a fixed seed so a
        // failure can be replayed.
        QRandomGenerator random(20240611);
        const QList<QByteArray> seeds{
            good, Request("GET", "/api.init.php", StartupHeaders("0.1.0.0", "X")),
            Request("GET", "/vorantu?v=1.2.3.4", {"Host: " + host})};
        for (int i = 0; i < 1000; ++i) {
            QByteArray request = seeds[random.bounded(int(seeds.size()))];
            switch (random.bounded(6)) {
            case 0: // cut off anywhere
                request.truncate(random.bounded(int(request.size())));
                break;
            case 1: // a few flipped bytes
                for (int n = random.bounded(1, 9); n > 0; --n) {
                    const int at = random.bounded(int(request.size()));
                    request[at] = char(request[at] ^ (1 << random.bounded(8)));
                }
                break;
            case 2: { // random bytes inserted
                QByteArray noise(random.bounded(1, 64), '\0');
                for (char& c : noise)
                    c = char(random.bounded(256));
                request.insert(random.bounded(int(request.size())), noise);
                break;
            }
            case 3: // a length that does not match the body
                request.replace(QByteArray("Content-Length: "),
                                "Content-Length: " + QByteArray::number(random.bounded(100000)) +
                                    "0");
                request.replace(QByteArray(" HTTP/1.0\r\n"),
                                " HTTP/1.0\r\nContent-Length: " +
                                    QByteArray::number(random.bounded(100000)) + "\r\n");
                break;
            case 4: // a header line repeated many times
                request.insert(request.indexOf("\r\n") + 2,
                               QByteArray("Host: a\r\n").repeated(random.bounded(1, 400)));
                break;
            default: { // pure noise
                QByteArray noise(random.bounded(1, 4096), '\0');
                for (char& c : noise)
                    c = char(random.bounded(256));
                request = noise;
            }
            }
            TSocket socket(port);
            QVERIFY(socket.IsOpen());
            socket.Send(request);
            socket.CloseSending();
            socket.ReadAll(5000);
        }

        QVERIFY(FService->IsRunning());
        const THttpReply reply = Exchange(port, good);
        QCOMPARE(reply.Status, 200);
        QVERIFY(!ClientLink(reply.Body).isEmpty());

        // Every log line is still one whole JSON object.
        QFile log(FLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        int lines = 0;
        for (const QByteArray& line : log.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            ++lines;
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.left(200).constData());
        }
        QVERIFY(lines > 100);
    }
};

VORANTU_TEST_MAIN(TTestService)
#include "tst_Service.moc"
