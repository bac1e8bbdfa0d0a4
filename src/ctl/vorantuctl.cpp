#include "Version.h"
#include "platform/Instance.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

// Exit codes scripts and key bindings can tell apart.
namespace {

enum TExit : int
{
    ExitDone = 0,       // the instance answered and did what was asked
    ExitNoInstance = 1, // nothing runs, or it did not answer in time
    ExitUsage = 2,
    ExitRefused = 3, // it answered but did not run the command or did not quit
};

const char Usage[] =
    "Usage: vorantuctl [--timeout SECONDS] COMMAND\n"
    "Commands the running Vorantu through its command socket.\n"
    "\n"
    "Commands:\n"
    "  capture   capture exactly as the global hot key does, with the area and\n"
    "            destination chosen in Vorantu's main window\n"
    "  about     open the product page\n"
    "  show      bring the main window forward\n"
    "  quit      end Vorantu (it stays while a recording runs)\n"
    "\n"
    "Options:\n"
    "  --timeout SECONDS  give up when Vorantu has not answered by then; without\n"
    "                     it capture and about wait for as long as the capture\n"
    "                     takes (a dragged rectangle waits for the user), show\n"
    "                     waits 10 seconds and quit 5\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 done, 1 Vorantu is not running or did not answer,\n"
    "2 wrong usage, 3 Vorantu answered but refused.\n"
    "\n"
    "Bind \"vorantuctl capture\" to a key in the desktop's keyboard settings when\n"
    "the desktop keeps Print Screen for itself.\n";

int Fail(TExit code, const QString& message)
{
    std::fprintf(stderr, "vorantuctl: %s\n", qPrintable(message));
    return code;
}

int NotAnswered(const QString& folder, int timeoutMs)
{
    if (TInstanceLock::IsHeld(folder))
        return Fail(
            ExitNoInstance,
            QStringLiteral("Vorantu runs but did not answer within %1 s.").arg(timeoutMs / 1000.0));
    return Fail(ExitNoInstance,
                QStringLiteral("Vorantu is not running. Start it first (for example "
                               "\"vorantu /start\" to start it in the tray)."));
}

std::optional<int> ParseSeconds(const char* text)
{
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds > 0) || seconds > 86400)
        return std::nullopt;
    return int(seconds * 1000);
}

} // namespace

int main(int argc, char* argv[])
{
    std::optional<int> timeoutMs;
    const char* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(Usage, stdout);
            return ExitDone;
        }
        if (argument == "--version") {
            std::printf("vorantuctl %s\n", VORANTU_VERSION);
            return ExitDone;
        }
        if (argument == "--timeout") {
            if (i + 1 >= argc || !(timeoutMs = ParseSeconds(argv[++i])))
                return Fail(ExitUsage, QStringLiteral("--timeout needs a number of seconds "
                                                      "above 0 (see --help)."));
            continue;
        }
        if (command || argument.starts_with('-'))
            return Fail(ExitUsage, QStringLiteral("unexpected \"%1\" (see --help).")
                                       .arg(QString::fromLocal8Bit(argv[i])));
        command = argv[i];
    }
    if (!command) {
        std::fputs(Usage, stderr);
        return ExitUsage;
    }

    const std::string_view name = command;
    QByteArray request;
    int defaultTimeoutMs = -1;
    if (name == "capture" || name == "about") {
        request = "WM_COPYDATA 1\n{\"command\":\"" + QByteArray(command) + "\"}";
    } else if (name == "show") {
        request = "WM_USER 1\n";
        defaultTimeoutMs = 10000;
    } else if (name == "quit") {
        request = "WM_USER 2\n";
        defaultTimeoutMs = 5000;
    } else {
        return Fail(ExitUsage, QStringLiteral("unknown command \"%1\"; the commands are "
                                              "capture, about, show and quit.")
                                   .arg(QString::fromLocal8Bit(command)));
    }
    const int waitMs = timeoutMs.value_or(defaultTimeoutMs);

    QString error;
    const std::optional<QString> folder = RuntimeFolder(&error);
    if (!folder)
        return Fail(ExitNoInstance, error);

    const QDeadlineTimer deadline(waitMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(waitMs));
    const std::optional<int> reply = SendCommand(*folder, request, waitMs);
    if (!reply)
        return NotAnswered(*folder, waitMs);

    if (name == "quit") {
        // The instance answers before it closes, and may refuse to close
        // while it records: its end is the lock going away.
        while (TInstanceLock::IsHeld(*folder)) {
            if (deadline.hasExpired())
                return Fail(ExitRefused,
                            QStringLiteral("Vorantu is still running (a recording keeps it "
                                           "open; stop the recording first)."));
            QThread::msleep(50);
        }
        return ExitDone;
    }
    if (name == "show")
        return ExitDone; // the window message's answer carries nothing
    if (*reply != 1)
        return Fail(
            ExitRefused,
            QStringLiteral("Vorantu did not run \"%1\".").arg(QString::fromLatin1(command)));
    return ExitDone;
}
