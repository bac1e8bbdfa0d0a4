// Uploads against the real vorantu-service and a scripted loopback server
// that answers what the real one never would. Links are handed to a recorder
// instead of a browser; failure boxes are answered by a timer.

#include "Desktop.h"
#include "NetTestSupport.h"
#include "TestEnvironment.h"
#include "TrickleServer.h"
#include "output/Upload.h"
#include "platform/NativeWindow.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

using namespace std::chrono_literals;

namespace {

const QString FailureText = QStringLiteral("이미지 업로드를 실패하였습니다.");

THttpLimits FastLimits()
{
    THttpLimits limits;
    limits.ConnectTimeout = 2000ms;
    limits.StallTime = 1s;
    return limits;
}

QImage TestPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, random.bounded(256)));
    }
    return image;
}

void SetUploadHost(const QString& host)
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::UploadHost, host);
}

QWidget* FindTopLevel(const QString& name)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name)
            return widget;
    }
    return nullptr;
}

QByteArray HeadLine(const QByteArray& head, const QByteArray& name)
{
    for (const QByteArray& line : head.split('\n')) {
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.trimmed();
    }
    return {};
}

// Where the X server has the window: Qt's own record of a frameless tool
// window's position can lag behind the window manager's reparenting.
QRect RootGeometry(QWidget* widget)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return {};
    const auto window = xcb_window_t(widget->winId());
    xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, root->root, 0, 0), nullptr);
    xcb_get_geometry_reply_t* size =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    QRect rect;
    if (origin && size)
        rect = QRect(origin->dst_x, origin->dst_y, size->width, size->height);
    free(origin);
    free(size);
    return rect;
}

// Keeps the application's quit events from reaching it, once installed;
// filters installed later (the code under test's) still see them first.
class TQuitSwallower : public QObject
{
public:
    TQuitSwallower() { qApp->installEventFilter(this); }
    bool Swallowed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != qApp || event->type() != QEvent::Quit)
            return false;
        Swallowed = true;
        return true;
    }
};

// A panel docked along the bottom of the primary screen, reserving its
// height as a strut the way desktop panels do.
class TBottomPanel
{
public:
    TBottomPanel(const QRect& screen, int height)
    {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        FConnection = x11 ? x11->connection() : nullptr;
        if (!FConnection)
            return;
        xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data;
        FWindow = xcb_generate_id(FConnection);
        xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, FWindow, root->root,
                          int16_t(screen.left()), int16_t(screen.bottom() + 1 - height),
                          uint16_t(screen.width()), uint16_t(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, root->root_visual, 0, nullptr);
        const xcb_atom_t dock = Atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, FWindow,
                            Atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &dock);
        const quint32 strut[12] = {0,
                                   0,
                                   0,
                                   quint32(height),
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   quint32(screen.left()),
                                   quint32(screen.right())};
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, FWindow,
                            Atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, FWindow, Atom("_NET_WM_STRUT"),
                            XCB_ATOM_CARDINAL, 32, 4, strut);
        xcb_map_window(FConnection, FWindow);
        xcb_flush(FConnection);
    }
    ~TBottomPanel()
    {
        if (FConnection && FWindow) {
            xcb_destroy_window(FConnection, FWindow);
            xcb_flush(FConnection);
        }
    }
    bool IsValid() const { return FConnection && FWindow; }

private:
    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            FConnection, xcb_intern_atom(FConnection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    }

    xcb_connection_t* FConnection = nullptr;
    xcb_window_t FWindow = 0;
};

} // namespace

class TTestUpload : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;
    std::unique_ptr<QWidget> FOwner;

private slots:
    void initTestCase()
    {
        KeepRequestsLocal();
        QVERIFY(FDir.isValid());
        FOwner = std::make_unique<QWidget>();
        FOwner->setWindowTitle(QStringLiteral("Vorantu"));
    }

    void cleanupTestCase() { FOwner.reset(); }

    void cleanup() { QVERIFY(!FindTopLevel(QStringLiteral("TProgressForm"))); }

    void placement_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("expected");
        const QRect full(0, 0, 1920, 1080);
        QTest::newRow("panel at the bottom")
            << full << QRect(0, 0, 1920, 1040) << QRect(0, 1010, 1920, 30);
        QTest::newRow("no panel") << full << full << QRect(0, 1050, 1920, 30);
        QTest::newRow("panel at the top")
            << full << QRect(0, 40, 1920, 1040) << QRect(0, 1050, 1920, 30);
        QTest::newRow("panel at the left")
            << full << QRect(48, 0, 1872, 1080) << QRect(0, 1050, 1920, 30);
        QTest::newRow("panels left and bottom")
            << full << QRect(48, 0, 1872, 1040) << QRect(0, 1010, 1920, 30);
        QTest::newRow("bottom reservation over half the screen")
            << full << QRect(0, 0, 1920, 500) << QRect(0, 1050, 1920, 30);
        QTest::newRow("primary screen on the right")
            << QRect(1920, 0, 1280, 1024) << QRect(1920, 0, 1280, 1000)
            << QRect(1920, 970, 1280, 30);
    }

    void placement()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QRect, expected);
        QCOMPARE(TProgressForm::Placement(screen, available), expected);
    }

    // The test desktop's tray is docked along the bottom of the primary
    // monitor before the program starts, on two monitors, where Qt keeps
    // no work area of its own: the bar still sits directly above it.
    void progressFormAboveThePanelDockedAtStart()
    {
        if (qEnvironmentVariableIsEmpty("VORANTU_TEST_DESKTOP"))
            QSKIP("needs the test desktop");
        QCOMPARE(QGuiApplication::screens().size(), 2);
        QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(WorkArea(screen), QRect(0, 0, 1920, 1056));
        TProgressForm progress(QStringLiteral("업로드 중입니다."));
        QVERIFY(QTest::qWaitForWindowExposed(progress.Form()));
        QTRY_COMPARE(RootGeometry(progress.Form()), QRect(0, 1026, 1920, 30));
    }

    // The window where the window manager really puts it, above a 40-pixel
    // panel docked at the bottom, translucent and letting clicks through.
    void progressFormOnDesktop()
    {
        if (qEnvironmentVariableIsEmpty("VORANTU_TEST_DESKTOP"))
            QSKIP("needs the test desktop");
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect geometry = screen->geometry();
        QCOMPARE(geometry.height(), 1080);
        {
            TBottomPanel panel(geometry, 40);
            QVERIFY(panel.IsValid());
            QTRY_COMPARE_WITH_TIMEOUT(screen->availableGeometry().bottom(), 1039, 5000);
            TProgressForm progress(QStringLiteral("업로드 중입니다."));
            QWidget* form = progress.Form();
            QVERIFY(QTest::qWaitForWindowExposed(form));
            QTRY_COMPARE(RootGeometry(form), QRect(geometry.left(), 1010, geometry.width(), 30));
            // Still there once the window manager has had its say.
            QVERIFY(TestDesktop::WindowManagerRoundTrip());
            TestDesktop::Settle();
            QCOMPARE(RootGeometry(form), QRect(geometry.left(), 1010, geometry.width(), 30));
            QVERIFY(form->windowFlags().testFlag(Qt::WindowTransparentForInput));
            QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QCOMPARE(qRound(form->windowOpacity() * 255), 140);
            auto* label = form->findChild<QLabel*>(QStringLiteral("Label"));
            QVERIFY(label);
            QCOMPARE(label->text(), QStringLiteral("업로드 중입니다."));
            QCOMPARE(label->geometry().top(), 8);
            progress.SetProgress(1024, 4096);
            auto* gauge = form->findChild<QProgressBar*>(QStringLiteral("Gauge"));
            QCOMPARE(gauge->maximum(), 4096);
            QCOMPARE(gauge->value(), 1024);
        }
        QTRY_VERIFY_WITH_TIMEOUT(screen->availableGeometry().bottom() > 1039, 5000);
    }

    void buildRequest_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("authority");
        QTest::newRow("name") << "img.dastrane.example" << QByteArray("img.dastrane.example:80");
        QTest::newRow("name and port") << "127.0.0.1:8080" << QByteArray("127.0.0.1:8080");
        QTest::newRow("port 80 given") << "img.test:80" << QByteArray("img.test:80");
        QTest::newRow("blanks around") << "  img.test  " << QByteArray("img.test:80");
        QTest::newRow("IPv6") << "[::1]:9000" << QByteArray("[::1]:9000");
        QTest::newRow("IPv6 without port") << "[::1]" << QByteArray("[::1]:80");
        QTest::newRow("path") << "img.test/upload" << QByteArray();
        QTest::newRow("user") << "me@img.test" << QByteArray();
        QTest::newRow("scheme") << "http://img.test" << QByteArray();
        QTest::newRow("port 0") << "img.test:0" << QByteArray();
        QTest::newRow("port too large") << "img.test:70000" << QByteArray();
        QTest::newRow("line break") << "img.test\r\nX-Evil: 1" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }

    void buildRequest()
    {
        QFETCH(QString, host);
        QFETCH(QByteArray, authority);
        const std::optional<TUploadRequest> request = BuildUploadRequest("PNG", host);
        QCOMPARE(request.has_value(), !authority.isEmpty());
        if (!request)
            return;
        QCOMPARE(request->Url, "http://" + authority + "/image");
        QCOMPARE(request->Headers.value(0), qMakePair(QByteArray("Host"), authority));
    }

    // The request byte for byte, and the progress reports before each
    // 1,024-byte block of a 2,500-byte body.
    void requestBytes()
    {
        const QByteArray reply =
            "{\"status\":\"success\",\"url\":\"http:\\/\\/img.test\\/i\\/abc.png\"}";
        TLoopbackServer server({{TLoopbackServer::TAction::Reply, RawReply(200, reply)}});
        QVERIFY(server.Port() != 0);

        const QByteArray boundary = NewBoundary();
        static const QRegularExpression boundaryForm(
            QStringLiteral("^-------Embt-Boundary--[0-9A-F]{16}$"));
        QVERIFY2(boundaryForm.match(QString::fromLatin1(boundary)).hasMatch(),
                 boundary.constData());
        QVERIFY(NewBoundary() != boundary);

        const qsizetype overhead = BuildUploadRequest({}, server.Host(), boundary)->Body.size();
        const QByteArray png(2500 - overhead, 'P');
        const std::optional<TUploadRequest> request =
            BuildUploadRequest(png, server.Host(), boundary);
        QVERIFY(request);
        QCOMPARE(request->Body.size(), 2500);
        QCOMPARE(request->Body, "--" + boundary + "\r\n" +
                                    "Content-Disposition: form-data; name=\"file\"; "
                                    "filename=\"vorantu.png\"\r\n" +
                                    "Content-Type: image/png\r\n" + "\r\n" + png + "\r\n" + "--" +
                                    boundary + "--\r\n");

        QList<QPair<qint64, qint64>> reports;
        const QString link = SendUpload(
            *request,
            [&](qint64 position, qint64 total) {
                reports.append({position, total});
            },
            FastLimits());
        QCOMPARE(link, QStringLiteral("http://img.test/i/abc.png"));
        QCOMPARE(reports, (QList<QPair<qint64, qint64>>{
                              {0, 2500}, {1024, 2500}, {2048, 2500}, {2500, 2500}}));

        QCOMPARE(server.Requests().size(), 1);
        const QByteArray raw = server.Requests().first();
        const qsizetype headEnd = raw.indexOf("\r\n\r\n");
        QVERIFY(headEnd > 0);
        const QByteArray head = raw.left(headEnd + 2);
        QVERIFY(head.startsWith("POST /image HTTP/1.0\r\n"));
        QCOMPARE(HeadLine(head, "Host"), "Host: " + server.Host().toLatin1());
        QCOMPARE(head.count("\nHost:"), 1);
        QCOMPARE(HeadLine(head, "Content-Type"),
                 "Content-Type: multipart/form-data; boundary=" + boundary);
        QCOMPARE(HeadLine(head, "Content-Length"), QByteArray("Content-Length: 2500"));
        QCOMPARE(HeadLine(head, "User-Agent"), QByteArray("User-Agent: Vorantu Uploader"));
        QCOMPARE(raw.mid(headEnd + 4), request->Body);
    }

    // A capture goes to the real service: the progress window shows its
    // caption and ends at (total, total), the link is handed over while the
    // window is still up, and the same pixels come back from the link.
    void uploadToService()
    {
        TServiceProcess service;
        QVERIFY(
            service.Start({QStringLiteral("--storage"), FDir.filePath(QStringLiteral("storage")),
                           QStringLiteral("--log"), FDir.filePath(QStringLiteral("log"))}));
        SetUploadHost(service.Host());
        const QImage picture = TestPicture(320, 200);

        TOpenedUrls urls;
        QString caption;
        bool visible = false;
        int maximum = -1, value = -1;
        urls.OnOpen = [&](const QUrl&) {
            QWidget* form = FindTopLevel(QStringLiteral("TProgressForm"));
            if (!form)
                return;
            visible = form->isVisible();
            caption = form->findChild<QLabel*>(QStringLiteral("Label"))->text();
            const auto* gauge = form->findChild<QProgressBar*>(QStringLiteral("Gauge"));
            maximum = gauge->maximum();
            value = gauge->value();
        };
        TBoxAnswers boxes(QMessageBox::Ok);
        const QString link = CaptureUpload(picture, FOwner.get(), FastLimits());

        QVERIFY(boxes.Texts.isEmpty());
        static const QRegularExpression linkForm(
            QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/i/[0-9a-f]{32}\\.png$"));
        QVERIFY2(linkForm.match(link).hasMatch(), qPrintable(link));
        QCOMPARE(urls.Urls, QList<QUrl>{QUrl(link)});
        QVERIFY(visible);
        QCOMPARE(caption, Translate(QStringLiteral("업로드 중입니다.")));

        const QString name = QUrl(link).fileName();
        QFile stored(FDir.filePath(QStringLiteral("storage/") + name));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const qint64 pngSize = stored.size();
        const qint64 overhead = BuildUploadRequest({}, service.Host())->Body.size();
        QCOMPARE(maximum, int(pngSize + overhead));
        QCOMPARE(value, maximum);

        THttpRequest get;
        get.Url = link.toUtf8();
        get.Limits = FastLimits();
        const THttpReply image = HttpRequest(get);
        QVERIFY2(image.Received, qPrintable(image.Error));
        QCOMPARE(image.Status, 200L);
        QCOMPARE(QImage::fromData(image.Body).convertToFormat(QImage::Format_RGB32), picture);
    }

    // What a service answers decides: a status 200 reply with the success
    // marker and a web link is opened; anything else shows the failure box
    // and opens nothing.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("opened");
        const QByteArray success = "{\"status\":\"success\",\"url\":\"";
        QTest::newRow("escaped slashes")
            << RawReply(200, success + "http:\\/\\/img.test\\/i\\/a.png\"}")
            << QStringLiteral("http://img.test/i/a.png");
        QTest::newRow("upper-case link marker")
            << RawReply(200, "{\"status\":\"success\",\"URL\":\"https:\\/\\/img.test\\/b\"}")
            << QStringLiteral("https://img.test/b");
        QTest::newRow("no success marker")
            << RawReply(200, "{\"status\":\"error\",\"url\":\"http:\\/\\/img.test\\/c\"}")
            << QString();
        QTest::newRow("status 500")
            << RawReply(500, success + "http:\\/\\/img.test\\/d\"}") << QString();
        QTest::newRow("script link")
            << RawReply(200, success + "javascript:alert(1)\"}") << QString();
        QTest::newRow("file link")
            << RawReply(200, success + "file:\\/\\/\\/etc\\/passwd\"}") << QString();
        QTest::newRow("bad escape")
            << RawReply(200, success + "http:\\/\\/img.test\\/\\u12\"}") << QString();
        QTest::newRow("empty link") << RawReply(200, success + "\"}") << QString();
        QTest::newRow("oversized reply") << RawReply(200, success + "http:\\/\\/img.test\\/e\"}" +
                                                              QByteArray(MaxReplyBytes, ' '))
                                         << QString();
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n") << QString();
    }

    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, opened);
        TLoopbackServer server({{TLoopbackServer::TAction::Reply, reply}});
        QVERIFY(server.Port() != 0);
        SetUploadHost(server.Host());

        TOpenedUrls urls;
        TBoxAnswers boxes(QMessageBox::Ok);
        const QString link = CaptureUpload(TestPicture(64, 48), FOwner.get(), FastLimits());
        QCOMPARE(link, opened);
        QCOMPARE(server.Connections(), 1);
        if (opened.isEmpty()) {
            QVERIFY(urls.Urls.isEmpty());
            QCOMPARE(boxes.Texts, QStringList{Translate(FailureText)});
            QCOMPARE(boxes.Titles, QStringList{QStringLiteral("Vorantu")});
        } else {
            QCOMPARE(urls.Urls, QList<QUrl>{QUrl(opened)});
            QVERIFY(boxes.Texts.isEmpty());
        }
    }

    // Services that cannot be reached or never answer end in the failure box
    // within the time-outs, and the user interface keeps running meanwhile.
    // A service that trickles its reply for ever: the overall limit ends the
    // upload in the failure box; the cancel button and a quit request end it
    // at once, without the box, whatever the limit.
    void trickle_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("overall limit") << "limit";
        QTest::newRow("cancel button") << "cancel";
        QTest::newRow("quit request") << "quit";
    }

    void trickle()
    {
        QFETCH(QString, ending);
        TTrickleServer server;
        SetUploadHost(server.Host());
        THttpLimits limits = FastLimits();
        limits.TotalTime = ending == "limit" ? 1500ms : 60000ms;

        TOpenedUrls urls;
        TBoxAnswers boxes(QMessageBox::Ok);
        TQuitSwallower swallower;
        QTimer ender;
        ender.setSingleShot(true);
        connect(&ender, &QTimer::timeout, [&] {
            if (ending == "cancel") {
                auto* button = qobject_cast<QToolButton*>(FindTopLevel("BtnCancel"));
                QVERIFY(button && button->isVisible());
                QTest::mouseClick(button, Qt::LeftButton);
            } else if (ending == "quit") {
                // What QCoreApplication::quit() sends while the program's
                // event loop runs (this test runs none, so quit() would not).
                // The swallower keeps the rest of the test's application from
                // quitting too.
                QEvent quit(QEvent::Quit);
                QCoreApplication::sendEvent(qApp, &quit);
                QVERIFY(!quit.isAccepted() || swallower.Swallowed);
            }
        });
        ender.start(700);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CaptureUpload(TestPicture(64, 48), FOwner.get(), limits), QString());
        const qint64 elapsed = timer.elapsed();
        qInfo("%s: the upload ended after %lld ms", qPrintable(ending), elapsed);
        QVERIFY(urls.Urls.isEmpty());
        if (ending == "limit") {
            QVERIFY2(elapsed >= 1400 && elapsed < 5000, qPrintable(QString::number(elapsed)));
            QCOMPARE(boxes.Texts, QStringList{Translate(FailureText)});
        } else {
            QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
            QVERIFY(boxes.Texts.isEmpty());
        }
        QTRY_VERIFY(server.ClientLeft());
        QVERIFY(!FindTopLevel("BtnCancel"));
    }

    void uploadLimitFromTheEnvironment()
    {
        // Read once: the first upload of this run fixed it, from the
        // environment the test harness gave.
        const int seconds = qEnvironmentVariableIntValue("VORANTU_UPLOAD_SECONDS");
        QCOMPARE(UploadLimits().TotalTime,
                 seconds > 0 ? std::chrono::milliseconds(seconds * 1000) : THttpLimits().TotalTime);
        QCOMPARE(THttpLimits().TotalTime, std::chrono::milliseconds(120000));
    }

    void unreachable_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("refused") << 0;
        QTest::newRow("accepts and stalls") << 1;
        QTest::newRow("closes at once") << 2;
        QTest::newRow("not a host name") << 3;
        QTest::newRow("the default host") << 4;
    }

    void unreachable()
    {
        QFETCH(int, kind);
        using TAction = TLoopbackServer::TAction;
        TLoopbackServer server({{kind == 1 ? TAction::Stall : TAction::Close, {}}});
        QVERIFY(server.Port() != 0);
        switch (kind) {
        case 0:
            SetUploadHost(QStringLiteral("127.0.0.1:%1").arg(RefusingPort()));
            break;
        case 3:
            SetUploadHost(server.Host() + QStringLiteral("/image?x=1"));
            break;
        case 4:
            SetUploadHost(Setting::UploadHost.Default());
            break;
        default:
            SetUploadHost(server.Host());
            break;
        }

        TOpenedUrls urls;
        TBoxAnswers boxes(QMessageBox::Ok);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CaptureUpload(TestPicture(64, 48), FOwner.get(), FastLimits()), QString());
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed < 8000, qPrintable(QString::number(elapsed)));
        QVERIFY(urls.Urls.isEmpty());
        QCOMPARE(boxes.Texts, QStringList{Translate(FailureText)});
        QCOMPARE(server.Connections(), kind == 1 || kind == 2 ? 1 : 0);
        if (kind == 1) {
            // About a second of silence before giving up, with the event
            // loop turning all along.
            QVERIFY2(elapsed >= 900, qPrintable(QString::number(elapsed)));
            QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        }
    }
};

VORANTU_TEST_MAIN(TTestUpload)
#include "tst_Upload.moc"
