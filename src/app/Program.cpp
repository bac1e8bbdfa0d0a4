#include "app/Program.h"

#include "app/Main.h"
#include "app/ProgramFileWatch.h"
#include "capture/web/WebEngine.h"
#include "platform/Instance.h"
#include "platform/Notifications.h"
#include "platform/Platform.h"
#include "platform/Session.h"
#include "services/Translate.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(SignalPipe[1], &byte, 1);
}

// SIGTERM (the session ending, a service manager) takes the quit path on the
// user-interface thread; the handler itself only wakes it.
void WatchTermination(TFrmVorantu& window)
{
    if (pipe(SignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = read(SignalPipe[0], &byte, 1);
        window.Quit();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int HandleCommand(TFrmVorantu& window, const TCommandRequest& request)
{
    switch (request.Kind) {
    case TCommandRequest::TKind::User:
        if (!window.Tray())
            return 0;
        if (request.Param == 1)
            window.ShowMainWindow();
        else if (request.Param == 2)
            window.Quit();
        return 0;
    case TCommandRequest::TKind::QueryEndSession:
        window.Quit();
        return 1;
    case TCommandRequest::TKind::CopyData: {
        if (request.Param != 1)
            return 0;
        // The text ends at its first NUL, as a C string would.
        QByteArray text = request.Payload;
        const qsizetype nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError || !json.isObject())
            return 0;
        const QJsonValue command = json.object().value(QLatin1String("command"));
        if (!command.isString())
            return 0;
        if (command.toString() == QLatin1String("about")) {
            window.LblCopyrightClick();
            return 1;
        }
        if (command.toString() == QLatin1String("capture")) {
            window.Start();
            return 1;
        }
        return 0;
    }
    case TCommandRequest::TKind::Invalid:
        break;
    }
    return 0;
}

int RunProgram(int argc, char* argv[])
{
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool start = first == QLatin1String("/start");
    const bool install = first == QLatin1String("/inst");
    const bool uninstall = first == QLatin1String("/uninst");

    QString error;
    const std::optional<QString> folder = RuntimeFolder(&error);
    if (!folder) {
        std::fprintf(stderr, "vorantu: %s\n", qPrintable(error));
        return 0;
    }

    if (uninstall) {
        // The reply comes only once the instance's handler returns, which a
        // box it shows (a recording still running) can delay: the request is
        // out after a short wait, and the whole wait stays near one second.
        SendCommand(*folder, QByteArrayLiteral("WM_USER 2\n"), 100);
        for (int i = 0; i < 9 && TInstanceLock::IsHeld(*folder); ++i)
            QThread::msleep(100);
        return 0;
    }

    TInstanceLock lock;
    if (!lock.TryAcquire(*folder)) {
        if (!start)
            SendCommand(*folder, QByteArrayLiteral("WM_USER 1\n"), 5000);
        return 0;
    }

    switch (ChooseQtPlatform(argc, argv)) {
    case TQtPlatformChoice::AsIs:
        break;
    case TQtPlatformChoice::Xcb:
        qputenv("QT_QPA_PLATFORM", "xcb");
        break;
    case TQtPlatformChoice::NoXWayland:
        std::fprintf(stderr, "vorantu: this Wayland session has no XWayland (DISPLAY is not set); "
                             "Vorantu's capture windows need it. Enable XWayland in the desktop's "
                             "settings, or set QT_QPA_PLATFORM to run anyway.\n");
        return 1;
    }

    PrepareWebEngine();
    QApplication::setApplicationName(QStringLiteral("TFrmVorantu"));
    QApplication::setOrganizationName(QStringLiteral("Dastrane"));
    QApplication::setDesktopFileName(QStringLiteral("vorantu"));
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString());
    QApplication::setQuitOnLastWindowClosed(false);
    (void)CurrentLanguage(); // the table loads before any window exists

    // Declared before the platform, which keeps a way to it for as long as
    // it lives.
    TNotifications notices;
    TPlatform platform = LoadPlatform([&notices](TPlatformNotice notice, const QString& detail) {
        QString text;
        switch (notice) {
        case TPlatformNotice::ScreenFallback:
            text = Translate(QStringLiteral("데스크톱 포털로 화면을 읽을 수 없어 X11 프로그램의 "
                                            "창만 캡처합니다(나머지는 검게 나옵니다)."));
            break;
        case TPlatformNotice::PickWindow:
            text = Translate(QStringLiteral("이 데스크톱은 어느 창이 활성인지 알려 주지 않습니다. "
                                            "캡처할 부분을 직접 고르세요."));
            break;
        case TPlatformNotice::PickFailed:
            text =
                Translate(QStringLiteral("이 데스크톱은 어느 창이 활성인지 알려 주지 않고 포털로 "
                                         "고를 수도 없어 캡처하지 않았습니다."));
            break;
        }
        std::fprintf(stderr, "vorantu: %s\n", qPrintable(text));
        if (!detail.isEmpty())
            std::fprintf(stderr, "vorantu: (%s)\n", qPrintable(detail));
        notices.Show(QStringLiteral("Vorantu"), text);
    });
    TFrmVorantu window(platform, install);

    TCommandServer server(
        [&window](const TCommandRequest& request) { return HandleCommand(window, request); });
    if (!server.Listen(*folder))
        std::fprintf(stderr, "vorantu: cannot listen for commands in %s\n", qPrintable(*folder));

    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.Quit(); });
    WatchTermination(window);
    // Removing the package quits the instance, as "/uninst" did, rather than
    // leaving it running on deleted files.
    TProgramFileWatch programFile(QCoreApplication::applicationFilePath(),
                                  [&window] { window.Quit(); });

    // Hidden without a tray, the program would run with no trace on screen.
    if (!start || !QSystemTrayIcon::isSystemTrayAvailable())
        window.ShowMainWindow();
    app.exec();
    return 0;
}
